// The fast path's BT.601 coefficients: the scalar path's 16.16 constants
// divided by 8 and rounded, so that a luma or chroma value scaled by 8 fits a
// signed 16-bit multiply whose high half is the term.
#pragma once

namespace pixel_kernels {

inline constexpr int kFastLumaOffset = 16;
inline constexpr int kFastLuma = 9539;     // 1.164
inline constexpr int kFastUBlue = 16525;   // 2.017
inline constexpr int kFastUGreen = -3209;  // -0.392
inline constexpr int kFastVGreen = -6660;  // -0.813
inline constexpr int kFastVRed = 13075;    // 1.596

}  // namespace pixel_kernels

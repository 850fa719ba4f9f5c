// The message a video window receives when its first picture is about to arrive.
#pragma once

#include "plat/types.h"

namespace kalo::video {

// Posted (wParam 0, lParam 0) before a window's first successful paint, and
// again with every frame while painting into it keeps failing. What the host
// does with it is up to the host.
inline constexpr plat::UINT WM_FIRST_FRAME = plat::WM_USER + 9876;  // 10900
static_assert(WM_FIRST_FRAME == 10900);

}  // namespace kalo::video

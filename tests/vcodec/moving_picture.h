// A moving test picture for the codec's tests, benchmarks and seed corpus.
#pragma once

#include <cstdint>
#include <vector>

namespace vcodec_test {

// Frame `t` of a scene that pans and carries a moving square: 32-bit pixels,
// rows bottom-up, brighter red towards the bottom of the picture, so that a
// picture turned upside down is far from the original.
std::vector<std::uint8_t> MovingPicture(int width, int height, int t);

// PSNR in dB over the blue, green and red bytes of two pictures of the same
// size; the fourth byte is ignored.
double Psnr(const std::vector<std::uint8_t>& a, const std::uint8_t* b, int width, int height);

}  // namespace vcodec_test

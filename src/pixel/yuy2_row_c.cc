// The fast path's arithmetic, one pixel pair at a time, in the 16-bit lane
// semantics of the vector kernels: products keep their high 16 bits (floored),
// sums saturate to 16 bits, and each channel saturates to 0..255 at the end.
#include <algorithm>

#include "pixel/yuy2_fast_constants.h"
#include "pixel/yuy2_row.h"

namespace pixel_kernels {
namespace {

int MulHi(int x, int c) {
  return (x * c) >> 16;
}

int AddSat16(int a, int b) {
  return std::clamp(a + b, -32768, 32767);
}

std::uint32_t PackPixel(int luma, int blue, int green, int red) {
  const auto channel = [luma](int term) {
    return static_cast<std::uint32_t>(std::clamp(AddSat16(luma, term), 0, 255));
  };
  return 0xFF000000u | channel(red) << 16 | channel(green) << 8 | channel(blue);
}

}  // namespace

void Yuy2ToArgbRow_C(const std::uint8_t* src, std::uint32_t* dst, int width) {
  for (int i = 0; i + 1 < width; i += 2, src += 4) {
    const int y0 = std::max(src[0] - kFastLumaOffset, 0) * 8;
    const int y1 = std::max(src[2] - kFastLumaOffset, 0) * 8;
    const int u = (src[1] - 128) * 8;
    const int v = (src[3] - 128) * 8;
    const int blue = MulHi(u, kFastUBlue);
    const int green = AddSat16(MulHi(u, kFastUGreen), MulHi(v, kFastVGreen));
    const int red = MulHi(v, kFastVRed);
    dst[i] = PackPixel(MulHi(y0, kFastLuma), blue, green, red);
    dst[i + 1] = PackPixel(MulHi(y1, kFastLuma), blue, green, red);
  }
}

}  // namespace pixel_kernels

#include "moving_picture.h"

#include <cmath>
#include <cstddef>

namespace vcodec_test {

std::vector<std::uint8_t> MovingPicture(int width, int height, int t) {
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) * height * 4);
  const int side = width / 8;
  const int sx = (t * 3) % (width - side);
  const int sy = (t * 2) % (height - side);
  for (int row = 0; row < height; ++row) {
    const int y = height - 1 - row;  // from the top
    std::uint8_t* p = bgra.data() + static_cast<std::size_t>(row) * width * 4;
    for (int x = 0; x < width; ++x, p += 4) {
      const double u = x + 2.0 * t;
      const double v = y + 1.0 * t;
      p[0] = static_cast<std::uint8_t>(128 + 90 * std::sin(u * 0.04));
      p[1] = static_cast<std::uint8_t>(128 + 90 * std::sin((u + v) * 0.025));
      p[2] = static_cast<std::uint8_t>(20 + 200 * y / height);
      p[3] = 0;
      if (x >= sx && x < sx + side && y >= sy && y < sy + side) {
        p[0] = 40;
        p[1] = 200;
      }
    }
  }
  return bgra;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::uint8_t* b, int width, int height) {
  double sum = 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height * 4; ++i) {
    const double d = i % 4 == 3 ? 0.0 : static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  const double mse = sum / (static_cast<double>(width) * height * 3);
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace vcodec_test

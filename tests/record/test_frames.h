// Frames whose every pixel differs with its place and frame number, so that a
// frame out of place, a row upside down or a shifted byte shows.
#pragma once

#include <cstdint>
#include <string>

inline char TestChannel(int x, int y, int n, int c) {
  return static_cast<char>(c == 0 ? x * 7 + n : c == 1 ? y * 11 + 2 * n : x * y + 3 * n);
}

// Frame n as capture hands it over (32-bit, rows bottom-up) when `bytes` is 4,
// or as a player shows it (24-bit, rows top-down) when `bytes` is 3.
inline std::string TestFrame(int width, int height, int n, int bytes = 4) {
  std::string frame;
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      const int y = bytes == 4 ? row : height - 1 - row;
      frame += {TestChannel(x, y, n, 0), TestChannel(x, y, n, 1), TestChannel(x, y, n, 2)};
      frame.append(bytes - 3, '\xA5');
    }
  }
  return frame;
}

inline const std::uint8_t* Pixels(const std::string& frame) {
  return reinterpret_cast<const std::uint8_t*>(frame.data());
}

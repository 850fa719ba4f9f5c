// Frames whose every pixel differs with its place and its frame number, so
// that a frame out of place, a row upside down or a shifted byte shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline std::uint8_t TestChannel(int x, int y, int n, int c) {
  const int values[3] = {x * 7 + n, y * 11 + 2 * n, x * y + 3 * n};
  return static_cast<std::uint8_t>(values[c]);
}

// Frame n as capture hands it over: 32-bit, rows bottom-up.
inline std::vector<std::uint8_t> TestFrame(int width, int height, int n) {
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height * 4, 0xA5);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        frame[(static_cast<std::size_t>(y) * width + x) * 4 + c] = TestChannel(x, y, n, c);
      }
    }
  }
  return frame;
}

// Frame n as a player shows it: 24-bit, rows top-down, no padding.
inline std::string ShownFrame(int width, int height, int n) {
  std::string shown;
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        shown.push_back(static_cast<char>(TestChannel(x, height - 1 - row, n, c)));
      }
    }
  }
  return shown;
}

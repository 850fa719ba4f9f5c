// The virtual camera's capture-time stamp: the wall-clock milliseconds of a
// picture written into its top as 44 black or white blocks, big and flat
// enough that an MPEG-4 encoder at low bit rates keeps them readable, so a
// host can read the time back from the window that shows the picture.
#pragma once

#include <cstdint>

namespace capture_stamp {

// Set (to anything) in the environment of a process whose virtual camera
// should stamp its pictures.
inline constexpr char kEnvironmentVariable[] = "VC_VIRTUAL_CAMERA_STAMP";

// The picture is cut into kColumns x kRows blocks; bit i sits in column
// i % kColumns of row i / kColumns, counted from the top left.
inline constexpr int kColumns = 22;
inline constexpr int kRows = 18;
inline constexpr int kBits = 44;

struct Block {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

inline Block BlockOf(int bit, int picture_width, int picture_height) {
  const int column = bit % kColumns;
  const int row = bit / kColumns;
  Block b;
  b.x = column * picture_width / kColumns;
  b.y = row * picture_height / kRows;
  b.width = (column + 1) * picture_width / kColumns - b.x;
  b.height = (row + 1) * picture_height / kRows - b.y;
  return b;
}

// Four marker bits, the 32 low bits of the time, and a check byte, so that a
// picture without a stamp (or one half painted) reads as none.
inline std::uint8_t CheckByte(std::uint32_t ms) {
  return static_cast<std::uint8_t>((ms ^ (ms >> 8) ^ (ms >> 16) ^ (ms >> 24)) ^ 0x5Au);
}

inline std::uint64_t StampBits(std::uint32_t ms) {
  return 0xAull | (static_cast<std::uint64_t>(ms) << 4) |
         (static_cast<std::uint64_t>(CheckByte(ms)) << 36);
}

inline bool ReadStampBits(std::uint64_t bits, std::uint32_t* ms) {
  const auto time = static_cast<std::uint32_t>(bits >> 4);
  if ((bits & 0xFu) != 0xAu || ((bits >> 36) & 0xFFu) != CheckByte(time))
    return false;
  *ms = time;
  return true;
}

}  // namespace capture_stamp

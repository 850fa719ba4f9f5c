// The byte layout of the AVI files we record: one uncompressed video stream
// of 24-bit bottom-up rows, played at 7 frames a second.
//
//   RIFF 'AVI '
//     LIST 'hdrl'  avih, LIST 'strl' (strh 'vids', strf BITMAPINFOHEADER)
//     LIST 'movi'  one '00db' chunk per frame
//     idx1         written when the file is completed
//
// Time runs in 1/70 s ticks and frames lie ten ticks apart. The stream says so
// with rate 70 and scale 10, one chunk per frame: empty filler chunks for the
// ticks in between would say the same, but players then take the stream for
// 70 frames a second and repeat every picture ten times.
// Every frame has the same size, so each chunk's place follows from its frame
// number and the index needs no bookkeeping while recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace avi {

inline constexpr std::uint32_t kRate = 70;           // ticks per second
inline constexpr std::uint32_t kTicksPerFrame = 10;  // the stream's scale
inline constexpr std::int32_t kFramesPerSecond = kRate / kTicksPerFrame;

// Everything from the start of the file up to and including the 'movi' tag.
inline constexpr std::size_t kHeaderBytes = 224;
inline constexpr std::size_t kChunkHeaderBytes = 8;
inline constexpr std::size_t kIndexEntryBytes = 16;
inline constexpr std::uint32_t kKeyFrameFlag = 0x10;  // AVIIF_KEYFRAME

// Bytes of one 24-bit row, padded to four bytes as a DIB requires.
constexpr std::size_t RowBytes(std::int32_t width) {
  return (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
}
constexpr std::size_t ImageBytes(std::int32_t width, std::int32_t height) {
  return RowBytes(width) * static_cast<std::size_t>(height);
}
// What one frame adds to the 'movi' list.
constexpr std::size_t FrameRecordBytes(std::size_t image_bytes) {
  return kChunkHeaderBytes + image_bytes;
}
// The whole file after `frames` frames, with or without its index.
constexpr std::uint64_t FileBytes(std::uint64_t frames, std::size_t image_bytes, bool indexed) {
  const std::uint64_t body = kHeaderBytes + frames * FrameRecordBytes(image_bytes);
  return indexed ? body + kChunkHeaderBytes + frames * kIndexEntryBytes : body;
}

// What the headers say about the file as it stands on disk.
struct HeaderState {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t frames = 0;
  bool indexed = false;  // an idx1 follows the 'movi' list
};

// Fills the header block for `state`; sizes and counts describe exactly
// FileBytes(state.frames, ImageBytes(width, height), state.indexed) bytes.
void FillHeaders(const HeaderState& state, std::span<std::uint8_t, kHeaderBytes> out);

// The '00db' chunk header of a frame's image.
void FillImageChunkHeader(std::size_t image_bytes, std::uint8_t* out);

// The 'idx1' chunk header for `frames` frames.
void FillIndexHeader(std::uint32_t frames, std::span<std::uint8_t, kChunkHeaderBytes> out);
// The index entry of frame number `frame`, a key frame; its offset counts
// from the 'movi' tag.
void FillIndexEntry(std::uint32_t frame, std::size_t image_bytes,
                    std::span<std::uint8_t, kIndexEntryBytes> out);

}  // namespace avi

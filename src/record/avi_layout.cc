#include "record/avi_layout.h"

namespace avi {
namespace {

constexpr std::uint32_t kHasIndexFlag = 0x10;  // AVIF_HASINDEX
constexpr std::uint32_t kMainHeaderBytes = 56;
constexpr std::uint32_t kStreamHeaderBytes = 56;
constexpr std::uint32_t kBitmapHeaderBytes = 40;
// Offsets of the list tags whose sizes are fixed, and of the 'movi' list.
constexpr std::size_t kHdrlTag = 20;
constexpr std::size_t kStrlTag = 96;
constexpr std::size_t kMoviList = 212;

// Little-endian writes in file order.
class Cursor {
 public:
  explicit Cursor(std::uint8_t* at) : at_(at) {}
  Cursor& Tag(const char (&tag)[5]) {
    for (int i = 0; i < 4; ++i) {
      *at_++ = static_cast<std::uint8_t>(tag[i]);
    }
    return *this;
  }
  Cursor& U32(std::uint64_t value) {
    for (int i = 0; i < 4; ++i) {
      *at_++ = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return *this;
  }
  Cursor& U16(std::uint32_t value) {
    *at_++ = static_cast<std::uint8_t>(value);
    *at_++ = static_cast<std::uint8_t>(value >> 8);
    return *this;
  }
  Cursor& Zeros(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      *at_++ = 0;
    }
    return *this;
  }
  std::uint8_t* at() const { return at_; }

 private:
  std::uint8_t* at_;
};

}  // namespace

void FillHeaders(const HeaderState& state, std::span<std::uint8_t, kHeaderBytes> out) {
  const std::size_t image = ImageBytes(state.width, state.height);
  const std::uint64_t file = FileBytes(state.frames, image, state.indexed);
  const auto width = static_cast<std::uint32_t>(state.width);
  const auto height = static_cast<std::uint32_t>(state.height);

  Cursor c(out.data());
  c.Tag("RIFF").U32(file - kChunkHeaderBytes).Tag("AVI ");
  c.Tag("LIST").U32(kMoviList - kHdrlTag).Tag("hdrl");
  c.Tag("avih").U32(kMainHeaderBytes);
  c.U32(1000000 * kTicksPerFrame / kRate);         // microseconds per frame
  c.U32(std::uint64_t{image} * kFramesPerSecond);  // most bytes per second
  c.U32(0);                                        // padding granularity
  c.U32(state.indexed ? kHasIndexFlag : 0);
  c.U32(state.frames);  // total frames
  c.U32(0);             // initial frames
  c.U32(1);             // streams
  c.U32(image);         // suggested buffer size
  c.U32(width).U32(height).Zeros(16);

  c.Tag("LIST").U32(kMoviList - kStrlTag).Tag("strl");
  c.Tag("strh").U32(kStreamHeaderBytes);
  c.Tag("vids").U32(0);                     // no handler: uncompressed
  c.U32(0).U16(0).U16(0).U32(0);            // flags, priority, language, initial frames
  c.U32(kTicksPerFrame).U32(kRate).U32(0);  // scale, rate, start
  c.U32(state.frames);                      // length, in frames
  c.U32(image);                             // suggested buffer size
  c.U32(0).U32(0);                          // quality, sample size (0: one sample per chunk)
  c.U16(0).U16(0).U16(width).U16(height);   // frame rectangle

  c.Tag("strf").U32(kBitmapHeaderBytes);
  c.U32(kBitmapHeaderBytes).U32(width).U32(height);  // positive height: bottom-up
  c.U16(1).U16(24).U32(0);                           // planes, bits, BI_RGB
  c.Zeros(20);  // image size (0 is allowed for BI_RGB), resolution, colours

  const std::uint64_t movi =
      file - kMoviList - kChunkHeaderBytes -
      (state.indexed ? kChunkHeaderBytes + state.frames * kIndexEntryBytes : 0);
  c.Tag("LIST").U32(movi).Tag("movi");
}

void FillImageChunkHeader(std::size_t image_bytes, std::uint8_t* out) {
  Cursor(out).Tag("00db").U32(image_bytes);
}

void FillIndexHeader(std::uint32_t frames, std::span<std::uint8_t, kChunkHeaderBytes> out) {
  Cursor(out.data()).Tag("idx1").U32(std::uint64_t{frames} * kIndexEntryBytes);
}

void FillIndexEntry(std::uint32_t frame, std::size_t image_bytes,
                    std::span<std::uint8_t, kIndexEntryBytes> out) {
  // The chunk's header is where the offset points; the 'movi' tag's four
  // bytes come first.
  const std::uint64_t offset = 4 + std::uint64_t{frame} * FrameRecordBytes(image_bytes);
  Cursor(out.data()).Tag("00db").U32(kKeyFrameFlag).U32(offset).U32(image_bytes);
}

}  // namespace avi

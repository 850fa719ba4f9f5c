#include "record/avi_file.h"

#include <algorithm>
#include <array>
#include <limits>
#include <new>

#include "external/picture_limits.h"
#include "record/pack_bgr_rows.h"

CAVIFile::CAVIFile(const std::string& path, std::int32_t width, std::int32_t height,
                   std::int32_t seconds_limit)
    : file_name_(path), width_(width), height_(height), seconds_limit_(seconds_limit) {}

CAVIFile::~CAVIFile() {
  if (!file_.IsOpen()) {
    return;
  }
  // Without room for the index the file still ends whole after its frames.
  const bool indexed = WriteIndex();
  if (!indexed) {
    file_.TruncateTo(avi::FileBytes(frame_count_, image_bytes_, false));
  }
  WriteHeaders(indexed);
  file_.Close();
}

void CAVIFile::LowerFileSizeLimit(std::uint64_t bytes) {
  if (frame_count_ == 0) {
    max_file_bytes_ = std::min(bytes, kMaxFileBytes);
  }
}

bool CAVIFile::CreateFile() {
  if (!PictureSizeAllowed(width_, height_)) {
    return false;
  }
  image_bytes_ = avi::ImageBytes(width_, height_);
  if (avi::FileBytes(1, image_bytes_, true) > max_file_bytes_) {
    return false;
  }
  const std::size_t record = avi::FrameRecordBytes(image_bytes_);
  try {
    frame_record_ = std::make_unique_for_overwrite<std::uint8_t[]>(record);
  } catch (const std::bad_alloc&) {
    return false;
  }
  avi::FillImageChunkHeader(image_bytes_, frame_record_.get());

  if (!file_.Create(file_name_)) {
    return false;
  }
  std::array<std::uint8_t, avi::kHeaderBytes> headers;
  avi::FillHeaders({width_, height_, 0, false}, headers);
  if (!file_.Append(headers)) {
    file_.Discard(file_name_);
    return false;
  }
  return true;
}

bool CAVIFile::WriteHeaders(bool indexed) {
  std::array<std::uint8_t, avi::kHeaderBytes> headers;
  avi::FillHeaders({width_, height_, static_cast<std::uint32_t>(frame_count_), indexed}, headers);
  return file_.Patch(0, headers);
}

bool CAVIFile::WriteIndex() {
  const auto frames = static_cast<std::uint32_t>(frame_count_);
  std::array<std::uint8_t, avi::kChunkHeaderBytes> header;
  avi::FillIndexHeader(frames, header);
  if (!file_.Append(header)) {
    return false;
  }
  // The entries follow from the frame numbers; they go out in blocks.
  constexpr std::uint32_t kFramesPerBlock = 256;
  std::array<std::uint8_t, kFramesPerBlock * avi::kIndexEntryBytes> block;
  for (std::uint32_t first = 0; first < frames; first += kFramesPerBlock) {
    const std::uint32_t count = std::min(kFramesPerBlock, frames - first);
    for (std::uint32_t i = 0; i < count; ++i) {
      avi::FillIndexEntry(first + i, image_bytes_,
                          std::span<std::uint8_t, avi::kIndexEntryBytes>(
                              block.data() + i * avi::kIndexEntryBytes, avi::kIndexEntryBytes));
    }
    if (!file_.Append(std::span(block.data(), count * avi::kIndexEntryBytes))) {
      return false;
    }
  }
  return true;
}

void CAVIFile::TellOwner(std::int32_t seconds_left) {
  told_zero_ = seconds_left == 0;
  if (owner_ != nullptr) {
    owner_->OnRecordSecondsLeft(seconds_left);
  }
}

bool CAVIFile::Finish() {
  ok_ = false;
  return false;
}

bool CAVIFile::Fail() {
  failed_ = true;
  return Finish();
}

bool CAVIFile::WriteFrame(const std::uint8_t* pixels, std::int32_t width, std::int32_t height) {
  if (!ok_) {
    return false;
  }
  // Another size ends the recording through the owner, which destroys us;
  // the frames so far stay a complete file.
  if ((width_ >= 0 && width != width_) || (height_ >= 0 && height != height_) ||
      pixels == nullptr) {
    return false;
  }
  width_ = width;
  height_ = height;
  if (frame_count_ == 0 && !CreateFile()) {
    return Fail();
  }

  std::uint8_t* image = frame_record_.get() + avi::kChunkHeaderBytes;
  PackBgrRows(pixels, width_, height_, image, avi::RowBytes(width_));
  if (!file_.Append(std::span(frame_record_.get(), avi::FrameRecordBytes(image_bytes_)))) {
    if (frame_count_ == 0) {
      // Nothing was recorded, so nothing is left behind.
      file_.Discard(file_name_);
    }
    return Fail();
  }

  frame_count_ += 1;
  const std::int32_t seconds = frame_count_ / avi::kFramesPerSecond;
  if (seconds > seconds_written_) {
    seconds_written_ = seconds;
    // From here a killed process still leaves every whole second playable.
    if (!WriteHeaders(false)) {
      return Fail();
    }
    const std::int64_t left = std::int64_t{seconds_limit_} - seconds_written_;
    TellOwner(static_cast<std::int32_t>(
        std::max<std::int64_t>(left, std::numeric_limits<std::int32_t>::min())));
  }
  if (frame_count_ >= std::int64_t{seconds_limit_} * avi::kFramesPerSecond) {
    return Finish();
  }
  if (avi::FileBytes(frame_count_ + 1, image_bytes_, true) > max_file_bytes_) {
    // The file is full: the recording ends as if its seconds were used up.
    if (!told_zero_) {
      TellOwner(0);
    }
    return Finish();
  }
  return true;
}

// Records 32-bit camera frames into an uncompressed AVI file that plays at 7
// frames a second (record/avi_layout.h has the file's layout).
//
// Use, on one thread (there is no lock):
//   auto avi = std::make_unique<CAVIFile>(path, width, height, seconds);
//   avi->SetOwner(owner);                 // hears the seconds left
//   while (avi->WriteFrame(pixels, width, height)) { ... next frame ... }
//   avi->ClearOwner();
//   avi.reset();                          // completes the file
//
// A false from WriteFrame ends the recording: the owner detaches and destroys
// the writer. The file is created by the first frame, so a writer destroyed
// before any frame leaves no file; an existing file at the path is replaced.
//
// The file is playable at every moment that counts:
// - After every whole second (7 frames) the headers are rewritten to tell the
//   frames written so far, so a process killed mid-recording leaves a file that
//   plays up to its last whole second.
// - A failed write (disk full, an I/O error) cuts the torn frame off and ends
//   the recording; the file keeps every frame before it.
// - A file never grows past kMaxFileBytes (1 GiB, the classic limit of an AVI
//   without the OpenDML extension; every size field stays far from
//   overflowing): the recording ends as if its seconds were used up, and the
//   owner is told 0.
// - The destructor appends the index and makes the headers final. When the
//   index does not fit on the disk, the file is completed without it; players
//   read such a file by scanning it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "record/append_file.h"
#include "record/avi_layout.h"
#include "record/record_owner.h"

class CAVIFile {
 public:
  static constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;

  // A recording of `seconds_limit` seconds (7 frames each) of width x height
  // frames. A negative width or height takes the size of the first frame.
  // Touches no file.
  CAVIFile(const std::string& path, std::int32_t width, std::int32_t height,
           std::int32_t seconds_limit);
  CAVIFile(const CAVIFile&) = delete;
  CAVIFile& operator=(const CAVIFile&) = delete;
  // Completes the file on disk (index, final headers) and closes it.
  virtual ~CAVIFile();

  // Appends one frame: `pixels` holds width x height 32-bit pixels (blue,
  // green, red, x), rows bottom-up, stride 4 x width. True while the recording
  // goes on. False ends it: the seconds are used up (this frame was the last
  // one written), the frame's size is not the recording's (not written), the
  // file cannot be created or written, or the file is full.
  virtual bool WriteFrame(const std::uint8_t* pixels, std::int32_t width, std::int32_t height);
  // True while frames are accepted.
  virtual bool IsOpen() const { return ok_; }

  // The owner is not owned; it must outlive the writer or be cleared first.
  void SetOwner(RecordOwner* owner) { owner_ = owner; }
  void ClearOwner() { owner_ = nullptr; }

  // A smaller ceiling than kMaxFileBytes, for tests of a full file; takes
  // effect before the first frame.
  void LowerFileSizeLimit(std::uint64_t bytes);

  std::int32_t frame_count() const { return frame_count_; }
  // True once the file could not be created or written (a full disk, an I/O
  // error); a recording that used up its seconds or its room has not failed.
  bool failed() const { return failed_; }

 private:
  bool CreateFile();
  bool WriteHeaders(bool indexed);
  bool WriteIndex();
  void TellOwner(std::int32_t seconds_left);
  // Ends the recording; `false` for WriteFrame to return.
  bool Finish();
  // Ends it for a file that cannot be made or written.
  bool Fail();

  std::string file_name_;
  std::int32_t width_;
  std::int32_t height_;
  std::size_t image_bytes_ = 0;  // one frame's padded 24-bit rows
  AppendFile file_;              // open from the first frame on
  std::int32_t seconds_limit_;
  std::int32_t frame_count_ = 0;
  std::int32_t seconds_written_ = 0;
  bool ok_ = true;
  bool told_zero_ = false;
  bool failed_ = false;
  std::uint64_t max_file_bytes_ = kMaxFileBytes;
  // One frame's chunk as it goes to disk, made once at the first frame and
  // reused for every frame.
  std::unique_ptr<std::uint8_t[]> frame_record_;
  RecordOwner* owner_ = nullptr;
};

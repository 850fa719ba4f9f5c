// A file written at its end and patched in place, whose every append either
// lands whole or leaves the file as it was.
#pragma once

#include <cstdint>
#include <span>
#include <string>

class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  ~AppendFile();

  // Creates `path`, or empties the file that is there. False when it cannot.
  bool Create(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  // Writes at the end. On a failure (disk full, file too large, I/O error) the
  // part that did land is cut off again and false is returned.
  bool Append(std::span<const std::uint8_t> bytes);
  // Overwrites bytes that are already in the file; false on a failure.
  bool Patch(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  // Cuts the file back to `size` bytes (no longer than it is).
  bool TruncateTo(std::uint64_t size);
  std::uint64_t size() const { return size_; }
  // Closes the file; when it is a regular file, removes it from `path` too.
  void Discard(const std::string& path);
  void Close();

 private:
  bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);

  int fd_ = -1;
  std::uint64_t size_ = 0;  // bytes this writer has put in the file
};

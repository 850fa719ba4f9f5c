#include "record/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

AppendFile::~AppendFile() {
  Close();
}

bool AppendFile::Create(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  size_ = 0;
  return fd_ >= 0;
}

bool AppendFile::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  if (fd_ < 0) {
    return false;
  }
  while (!bytes.empty()) {
    const ssize_t done = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) {
      continue;
    }
    if (done <= 0) {
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(done));
    offset += static_cast<std::uint64_t>(done);
  }
  return true;
}

bool AppendFile::Append(std::span<const std::uint8_t> bytes) {
  if (!WriteAt(size_, bytes)) {
    // A short write leaves a torn piece; readers must never see it.
    TruncateTo(size_);
    return false;
  }
  size_ += bytes.size();
  return true;
}

bool AppendFile::Patch(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  return offset + bytes.size() <= size_ && WriteAt(offset, bytes);
}

bool AppendFile::TruncateTo(std::uint64_t size) {
  if (fd_ < 0 || size > size_) {
    return false;
  }
  int result;
  do {
    result = ::ftruncate(fd_, static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    size_ = size;
  }
  return result == 0;
}

void AppendFile::Discard(const std::string& path) {
  struct stat st {};
  // Only what we created as a plain file goes; a path such as /dev/full stays.
  const bool regular = fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
  Close();
  if (regular) {
    ::unlink(path.c_str());
  }
}

void AppendFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

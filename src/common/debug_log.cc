#include "common/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace COMM {

debug_log g_debug_log;

namespace {

constexpr std::size_t kMessageBuffer = 2048;  // at most 2047 characters of message
constexpr std::size_t kPieceBuffer = 256;     // each piece of the prefix
constexpr std::size_t kPrefixPieces = 6;
constexpr std::size_t kPathBuffer = 4096;
constexpr char kLineEnd[] = "\r\n";

// Writes everything unless the descriptor fails; the log ignores failures.
void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

// The text after the last '/' or '\\' of a source path.
const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\')
      base = p + 1;
  }
  return base;
}

// Builds one line in a fixed buffer, without allocating. Each piece of the
// prefix is formatted into a 256-character buffer of its own first, so a
// piece that does not fit is cut on its own.
class LineBuilder {
 public:
  LineBuilder(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  __attribute__((format(printf, 2, 3))) void Piece(const char* format, ...) {
    char piece[kPieceBuffer];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (n > 0)
      Append(piece, std::min(static_cast<std::size_t>(n), sizeof piece - 1));
  }
  void Append(const char* text, std::size_t size) {
    size = std::min(size, capacity_ - size_);
    std::memcpy(buffer_ + size_, text, size);
    size_ += size;
  }
  std::size_t size() const { return size_; }

 private:
  char* buffer_;
  std::size_t capacity_;
  std::size_t size_ = 0;
};

void AppendPrefix(LineBuilder& line, std::uint32_t flags, const char* file, int source_line,
                  int error) {
  if (flags & (kLogDate | kLogTime | kLogMilliStamp)) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    const int year = local.tm_year + 1900;
    const int month = local.tm_mon + 1;
    if (flags & kLogMilliStamp) {
      line.Piece("[%04d-%02d-%02d %02d:%02d:%02d:%03d]", year, month, local.tm_mday, local.tm_hour,
                 local.tm_min, local.tm_sec, static_cast<int>(now.tv_nsec / 1000000));
    } else {
      line.Append("[", 1);
      if (flags & kLogDate)
        line.Piece("%04d-%02d-%02d", year, month, local.tm_mday);
      if (flags & kLogTime) {
        if (flags & kLogDate)
          line.Append(" ", 1);
        line.Piece("%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
      }
      line.Append("]", 1);
    }
  }
  if (flags & kLogFile)
    line.Piece(" file:%s", BaseName(file));
  if (flags & kLogLine)
    line.Piece(" line: %d", source_line);
  line.Append(")", 1);
  if (flags & kLogErrnoText) {
    char text[kPieceBuffer];
    // The GNU strerror_r: returns the text, which need not be in `text`.
    const char* description = strerror_r(error, text, sizeof text);
    line.Piece(" {%d:%s}%s", error, description, kLineEnd);
  } else if (flags & kLogErrno) {
    line.Piece(" {%d}%s", error, kLineEnd);
  }
  line.Append("<<<<", 4);
}

int OpenForAppending(const char* path) {
  return ::open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
}

}  // namespace

void debug_log::set_flags(std::uint32_t flags) {
  if (flags & kLogDescriptor)
    return;
  flags_ |= flags;
}

void debug_log::clear_flags(std::uint32_t flags) {
  if (flags & kLogDescriptor)
    return;
  flags_ &= ~flags;
}

void debug_log::set_name(const char* name) {
  if (name)
    name_ = name;
}

const char* debug_log::get_dir() {
  if (flags_ & kLogDescriptor)
    return nullptr;
  return dir_.c_str();
}

void debug_log::set_dir(const char* dir) {
  if (!dir)
    return;
  dir_ = dir;
  flags_ &= ~kLogDescriptor;
}

void debug_log::set_fd(std::int32_t fd) {
  if (fd < 0)
    return;
  flags_ |= kLogDescriptor;
  dir_.clear();
  name_.clear();
  fd_ = fd;
}

std::int32_t debug_log::get_fd() {
  return (flags_ & kLogDescriptor) ? fd_ : -1;
}

void debug_log::log(std::uint32_t level, const char* file, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vlog(level, file, line, format, args);
  va_end(args);
}

bool debug_log::BuildPath(char* path, std::size_t capacity) const {
  if (name_.empty())
    return false;
  const int n = dir_.empty()
                    ? std::snprintf(path, capacity, "%s.txt", name_.c_str())
                    : std::snprintf(path, capacity, "%s/%s.txt", dir_.c_str(), name_.c_str());
  // A cut path would name some other file: better no line at all.
  return n > 0 && static_cast<std::size_t>(n) < capacity;
}

int debug_log::OpenFile(char* path, std::size_t capacity, std::uint64_t* size) const {
  if (!BuildPath(path, capacity))
    return -1;
  const int fd = OpenForAppending(path);
  struct stat info {};
  *size = fd >= 0 && ::fstat(fd, &info) == 0 && info.st_size > 0
              ? static_cast<std::uint64_t>(info.st_size)
              : 0;
  return fd;
}

debug_log::~debug_log() {
  const std::lock_guard<std::mutex> lock(mutex_);
  FlushRepeats();
}

void debug_log::set_max_size(std::uint64_t bytes) {
  const std::lock_guard<std::mutex> lock(mutex_);
  max_size_ = bytes;
}

std::uint64_t debug_log::max_size() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return max_size_;
}

void debug_log::vlog(std::uint32_t level, const char* file, int line, const char* format,
                     va_list args) {
  if (level > this->level() || !file || !format)
    return;
  const int error = errno;  // the caller's, before anything here changes it
  char message[kMessageBuffer];
  const int n = std::vsnprintf(message, sizeof message, format, args);
  const std::size_t length = n > 0 ? std::min(static_cast<std::size_t>(n), sizeof message - 1) : 0;
  const char* base = BaseName(file);

  const std::lock_guard<std::mutex> lock(mutex_);
  // The same place and text as the record before, written often enough:
  // counted, not written.
  const bool same = have_last_ && last_line_ == line && last_length_ == length &&
                    std::strncmp(last_file_, base, sizeof last_file_ - 1) == 0 &&
                    std::memcmp(last_message_, message, length) == 0;
  if (same && written_ >= kLogRepeatsWritten) {
    if (++repeats_ >= kLogRepeatFlush)
      FlushRepeats();
    errno = error;
    return;
  }
  if (same) {
    ++written_;
  } else {
    FlushRepeats();
    have_last_ = true;
    written_ = 1;
    std::snprintf(last_file_, sizeof last_file_, "%s", base);
    last_line_ = line;
    std::memcpy(last_message_, message, length);
    last_length_ = length;
  }

  char text[kPrefixPieces * kPieceBuffer + kMessageBuffer + sizeof kLineEnd];
  LineBuilder builder(text, sizeof text);
  AppendPrefix(builder, flags_, file, line, error);
  builder.Append(message, length);
  builder.Append(kLineEnd, sizeof kLineEnd - 1);
  Emit(text, builder.size());
  errno = error;
}

void debug_log::FlushRepeats() {
  if (repeats_ == 0)
    return;
  char text[kPrefixPieces * kPieceBuffer + kMessageBuffer + sizeof kLineEnd];
  LineBuilder builder(text, sizeof text);
  AppendPrefix(builder, flags_, last_file_, last_line_, 0);
  builder.Piece("last message repeated %u times", repeats_);
  builder.Append(kLineEnd, sizeof kLineEnd - 1);
  repeats_ = 0;
  Emit(text, builder.size());
}

// One write for the whole line, so that lines of concurrent writers stay whole.
void debug_log::Emit(const char* text, std::size_t size) {
  if (flags_ & kLogDescriptor) {
    if (fd_ >= 0)
      WriteAll(fd_, text, size);
    return;
  }
  char path[kPathBuffer];
  std::uint64_t file_size = 0;
  int fd = OpenFile(path, sizeof path, &file_size);
  if (fd < 0)
    return;
  if (max_size_ > 0 && file_size > 0 && file_size + size > max_size_) {
    // One rotation: the file becomes ".1", replacing the one before.
    ::close(fd);
    char old_path[kPathBuffer + 2];
    std::snprintf(old_path, sizeof old_path, "%s.1", path);
    if (::rename(path, old_path) != 0)
      return;  // a log that cannot rotate stops at its cap
    fd = OpenForAppending(path);
    if (fd < 0)
      return;
  }
  WriteAll(fd, text, size);
  ::close(fd);
}

void debug_log::trim(std::uint64_t limit) {
  if (flags_ & kLogDescriptor)
    return;
  char path[kPathBuffer];
  std::uint64_t file_size = 0;
  int fd = OpenFile(path, sizeof path, &file_size);
  if (fd < 0)
    return;
  const bool oversized = file_size >= limit;
  ::close(fd);
  if (!oversized)
    return;
  fd = ::open(path, O_RDWR | O_TRUNC | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd >= 0)
    ::close(fd);
}

std::uint64_t LogMaxSizeFromEnvironment() {
  const char* text = std::getenv(kLogMaxSizeVariable);
  if (text == nullptr || *text < '0' || *text > '9')
    return kLogDefaultMaxSize;
  char* end = nullptr;
  errno = 0;
  const unsigned long long bytes = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0')
    return kLogDefaultMaxSize;
  return bytes;
}

std::string MakeLogDirectory(const std::string& executable_path) {
  if (executable_path.empty())
    return {};
  const auto slash = executable_path.find_last_of('/');
  // Without any directory part the executable lies in the current directory.
  std::string dir =
      slash == std::string::npos ? std::string("logs") : executable_path.substr(0, slash) + "/logs";
  ::mkdir(dir.c_str(), 0777);  // one level; an existing directory is fine
  return dir;
}

}  // namespace COMM

// The module's diagnostic log: one object per module that appends one line
// per message to a text file, or writes it to an open descriptor.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>

namespace COMM {

// What a line's prefix holds, and the descriptor mode.
inline constexpr std::uint32_t kLogDate = 1;          // "%04d-%02d-%02d"
inline constexpr std::uint32_t kLogTime = 2;          // "%02d:%02d:%02d"
inline constexpr std::uint32_t kLogMilliStamp = 4;    // date, time and milliseconds; wins over 1, 2
inline constexpr std::uint32_t kLogFile = 8;          // " file:<base name>"
inline constexpr std::uint32_t kLogLine = 16;         // " line: <n>"
inline constexpr std::uint32_t kLogErrno = 32;        // " {errno}\r\n"
inline constexpr std::uint32_t kLogErrnoText = 64;    // " {errno:text}\r\n"; wins over 32
inline constexpr std::uint32_t kLogDescriptor = 256;  // write to the descriptor, not the file
inline constexpr std::uint32_t kLogDefaultFlags = kLogDate | kLogTime | kLogFile | kLogLine;

// A log file this large or larger is emptied when the manager starts.
inline constexpr std::uint64_t kLogTrimSize = 1000000;
// The running cap: a file that would grow past it becomes "<name>.txt.1"
// (the one before is dropped) and a new file starts.
inline constexpr std::uint64_t kLogDefaultMaxSize = 16u << 20;
// Read by the manager's start: the cap in bytes, as a decimal number.
inline constexpr char kLogMaxSizeVariable[] = "VIDEOCONF_LOG_MAX_BYTES";
// A record repeated in a row is written this often; the repeats after that
// are only counted.
inline constexpr std::uint32_t kLogRepeatsWritten = 2;
// Counted repeats are written as a line of their own at this count, even
// before another record comes.
inline constexpr std::uint32_t kLogRepeatFlush = 10000;

// Bound by slot position.
class idebug_log {
 public:
  virtual ~idebug_log() = default;
  virtual const char* interface_id() = 0;
  // Neither can change the descriptor mode: a set containing 256 is ignored.
  virtual void set_flags(std::uint32_t flags) = 0;
  virtual void clear_flags(std::uint32_t flags) = 0;
  // Messages of this level or lower (more important) are written; 0 writes nothing.
  virtual void set_level(std::uint32_t level) = 0;
  virtual std::uint32_t get_level() = 0;
  // The file's base name, without ".txt"; nothing is written while it is empty.
  virtual void set_name(const char* name) = 0;
  // Null in descriptor mode.
  virtual const char* get_dir() = 0;
  // Also ends the descriptor mode.
  virtual void set_dir(const char* dir) = 0;
  // A descriptor of 0 or more starts the descriptor mode and forgets the
  // directory and name; a negative one changes nothing.
  virtual void set_fd(std::int32_t fd) = 0;
  // -1 outside the descriptor mode.
  virtual std::int32_t get_fd() = 0;
  // One line: prefix, message cut to 2047 characters, "\r\n".
  __attribute__((format(printf, 5, 6))) virtual void log(std::uint32_t level, const char* file,
                                                         int line, const char* format, ...) = 0;
  __attribute__((format(printf, 5, 0))) virtual void vlog(std::uint32_t level, const char* file,
                                                          int line, const char* format,
                                                          va_list args) = 0;

 protected:
  idebug_log() = default;
  idebug_log(const idebug_log&) = default;
  idebug_log& operator=(const idebug_log&) = default;
};

// Keeps no file open and buffers nothing: each message opens the file, writes
// its line and closes it again. Every failure drops the message silently.
// Bounded: the file rotates once at the cap (so the log takes at most twice
// the cap on disk, a line more when a single line is longer than the cap),
// and a record that repeats the one before (same source place and text) more
// than kLogRepeatsWritten times in a row is not written again but counted,
// the count written as "last message repeated N times" before the next other
// record. Writers are serialised.
class debug_log final : public virtual idebug_log {
 public:
  debug_log() = default;
  // Writes the count of a record still being repeated.
  ~debug_log() override;
  debug_log(const debug_log&) = delete;
  debug_log& operator=(const debug_log&) = delete;

  const char* interface_id() override { return "ICT:COMM/debug_log:1.0"; }
  void set_flags(std::uint32_t flags) override;
  void clear_flags(std::uint32_t flags) override;
  void set_level(std::uint32_t level) override { level_.store(level, std::memory_order_relaxed); }
  std::uint32_t get_level() override { return level(); }
  void set_name(const char* name) override;
  const char* get_dir() override;
  void set_dir(const char* dir) override;
  void set_fd(std::int32_t fd) override;
  std::int32_t get_fd() override;
  __attribute__((format(printf, 5, 6))) void log(std::uint32_t level, const char* file, int line,
                                                 const char* format, ...) override;
  __attribute__((format(printf, 5, 0))) void vlog(std::uint32_t level, const char* file, int line,
                                                  const char* format, va_list args) override;

  // The cheap test every call site makes before formatting anything.
  std::uint32_t level() const { return level_.load(std::memory_order_relaxed); }
  std::uint32_t flags() const { return flags_; }

  // Empties the log file when it holds `limit` bytes or more; creates it when
  // missing. Nothing happens while no file path can be built.
  void trim(std::uint64_t limit = kLogTrimSize);

  // The size at which the file rotates; 0: no cap.
  void set_max_size(std::uint64_t bytes);
  std::uint64_t max_size() const;

 private:
  // "<dir>/<name>.txt", or "<name>.txt" without a directory, into `path`;
  // false without a name or when the path does not fit.
  bool BuildPath(char* path, std::size_t capacity) const;
  // Builds the path into `path` and opens the file for appending; its size
  // so far in `*size`. -1 when there is no path or the file cannot be opened.
  int OpenFile(char* path, std::size_t capacity, std::uint64_t* size) const;
  // Writes one whole line to the descriptor or the file, rotating the file
  // first when the line would take it past the cap.
  void Emit(const char* text, std::size_t size);
  // Writes "last message repeated N times" for the record last written, when
  // it was repeated since.
  void FlushRepeats();

  std::uint32_t flags_ = kLogDefaultFlags;
  std::atomic<std::uint32_t> level_{0};
  std::string dir_;
  std::string name_;
  std::int32_t fd_ = -1;

  // Guards what follows (std::mutex carries no capability for clang's analysis).
  mutable std::mutex mutex_;
  std::uint64_t max_size_ = kLogDefaultMaxSize;
  // The record last written: its source base name, line and message; and
  // how often it came again since.
  char last_file_[256] = {};
  int last_line_ = 0;
  char last_message_[2048] = {};
  std::size_t last_length_ = 0;
  bool have_last_ = false;
  std::uint32_t written_ = 0;  // times the record was written in a row
  std::uint32_t repeats_ = 0;  // times it came since, not written
};

// The module's one log, built with the defaults when the module is loaded.
extern debug_log g_debug_log;

// The cap the environment asks for (kLogMaxSizeVariable, bytes; 0 for none),
// or kLogDefaultMaxSize when it is unset or not a number.
std::uint64_t LogMaxSizeFromEnvironment();

// The directory "logs" beside the executable at `executable_path`, created
// when it is missing (one level only; a failure is ignored, and the messages
// are then dropped). Empty when the path is empty.
std::string MakeLogDirectory(const std::string& executable_path);

}  // namespace COMM

// Writes one record when `message_level` passes the log's level; otherwise the
// arguments are not even evaluated.
#define DEBUG_LOG(message_level, ...)                                              \
  do {                                                                             \
    const std::uint32_t vc_log_level_ = static_cast<std::uint32_t>(message_level); \
    if (vc_log_level_ <= ::COMM::g_debug_log.level())                              \
      ::COMM::g_debug_log.log(vc_log_level_, __FILE__, __LINE__, __VA_ARGS__);     \
  } while (false)

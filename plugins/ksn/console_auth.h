// The console key: who may ask the peers' diagnostic registry over NATS, and
// how requests and replies carry it.
//
// A request is signed (a MAC over the subject it goes to, the subject its
// reply goes to, a time stamp and its text), so a peer can tell an operator
// from anyone else on the server. A reply is sealed for the operator (AEAD,
// bound to the request it answers), since it may name conferences: someone
// without the key can neither read it nor pass a reply of their own as it.
//
//   request  "ksc1" | time (ms since 1970, 8 bytes big-endian) | text | MAC (32)
//   reply    "ksr1" | nonce (24) | sealed text
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ksn {

inline constexpr std::size_t kConsoleTagBytes = 32;
using ConsoleTag = std::array<unsigned char, kConsoleTagBytes>;

struct SignedRequest {
  std::int64_t time_ms = 0;
  std::string text;
  ConsoleTag tag{};
};

class ConsoleAuth {
 public:
  // `setting` as KSN_CONSOLE_KEY holds it: a value starting with '/' or '.'
  // is the path of a file holding the key, anything else the key itself.
  // Null with `error` set when the file cannot be read or the key is too
  // short; null with `error` empty when the setting is empty (no console).
  static std::unique_ptr<ConsoleAuth> Load(const std::string& setting, std::string* error);
  ~ConsoleAuth();
  ConsoleAuth(const ConsoleAuth&) = delete;
  ConsoleAuth& operator=(const ConsoleAuth&) = delete;

  std::string SignRequest(const std::string& subject, const std::string& reply_to,
                          std::int64_t time_ms, const std::string& text, ConsoleTag* tag) const;
  // False for anything not signed with this key for this subject and reply subject.
  bool OpenRequest(const std::string& subject, const std::string& reply_to, const char* data,
                   std::size_t length, SignedRequest* request) const;

  std::string SealReply(const ConsoleTag& request, const std::string& text) const;
  // False for anything not sealed with this key in answer to `request`.
  bool OpenReply(const ConsoleTag& request, const char* data, std::size_t length,
                 std::string* text) const;

 private:
  ConsoleAuth() = default;

  std::array<unsigned char, 32> request_key_{};
  std::array<unsigned char, 32> reply_key_{};
};

// Milliseconds since 1970 by the wall clock, the time stamp of requests.
std::int64_t ConsoleNowMs();

}  // namespace ksn

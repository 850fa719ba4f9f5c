#include "console_auth.h"

#include <sodium.h>

#include <chrono>
#include <cstring>
#include <fstream>

namespace ksn {
namespace {

static_assert(crypto_auth_BYTES == kConsoleTagBytes);
static_assert(crypto_auth_KEYBYTES == 32 && crypto_aead_xchacha20poly1305_ietf_KEYBYTES == 32);

constexpr char kRequestMagic[] = "ksc1";
constexpr char kReplyMagic[] = "ksr1";
constexpr std::size_t kMagicBytes = 4;
constexpr std::size_t kStampBytes = 8;
constexpr std::size_t kNonceBytes = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
// Long enough that nobody guesses it; an operator makes one with `openssl rand -hex 32`.
constexpr std::size_t kMinKeyLength = 16;
constexpr std::size_t kMaxKeyFile = 4096;

enum KeyId : std::uint64_t { kRequestKey = 1, kReplyKey = 2 };
constexpr char kKdfContext[crypto_kdf_CONTEXTBYTES + 1] = "ksn-cons";

// What the MAC covers: where the request goes and where its reply goes, each
// with its length, then the stamp and the text as they travel.
std::string MacInput(const std::string& subject, const std::string& reply_to,
                     const char* stamp_and_text, std::size_t length) {
  std::string input;
  for (const std::string* part : {&subject, &reply_to}) {
    const std::uint32_t size = static_cast<std::uint32_t>(part->size());
    for (int shift = 24; shift >= 0; shift -= 8)
      input.push_back(static_cast<char>(size >> shift));
    input += *part;
  }
  input.append(kRequestMagic, kMagicBytes);
  input.append(stamp_and_text, length);
  return input;
}

std::array<unsigned char, kMagicBytes + kConsoleTagBytes> ReplyAd(const ConsoleTag& request) {
  std::array<unsigned char, kMagicBytes + kConsoleTagBytes> ad{};
  std::memcpy(ad.data(), kReplyMagic, kMagicBytes);
  std::memcpy(ad.data() + kMagicBytes, request.data(), request.size());
  return ad;
}

void TrimEnd(std::string* text) {
  while (!text->empty() && (text->back() == '\n' || text->back() == '\r' || text->back() == ' ' ||
                            text->back() == '\t'))
    text->pop_back();
}

}  // namespace

std::unique_ptr<ConsoleAuth> ConsoleAuth::Load(const std::string& setting, std::string* error) {
  error->clear();
  if (setting.empty())
    return nullptr;
  if (sodium_init() < 0) {
    *error = "libsodium could not start";
    return nullptr;
  }
  std::string key = setting;
  if (setting[0] == '/' || setting[0] == '.') {
    std::ifstream file(setting, std::ios::binary);
    if (!file) {
      *error = "cannot read the console key file '" + setting + "' (KSN_CONSOLE_KEY)";
      return nullptr;
    }
    // A key is short; whatever else the path names (a device, a log) is not read whole.
    key.assign(kMaxKeyFile, '\0');
    file.read(key.data(), static_cast<std::streamsize>(key.size()));
    key.resize(static_cast<std::size_t>(file.gcount()));
    TrimEnd(&key);
  }
  if (key.size() < kMinKeyLength) {
    sodium_memzero(key.data(), key.size());
    *error = "the console key (KSN_CONSOLE_KEY) is too short: at least " +
             std::to_string(kMinKeyLength) + " characters; make one with 'openssl rand -hex 32'";
    return nullptr;
  }
  // The key as typed is hashed into a master key first, so any length works;
  // the request and reply keys come from it, each for its one use.
  unsigned char master[crypto_kdf_KEYBYTES];
  unsigned char personal[crypto_generichash_blake2b_PERSONALBYTES] = "ksn console key";
  crypto_generichash_blake2b_salt_personal(master, sizeof master,
                                           reinterpret_cast<const unsigned char*>(key.data()),
                                           key.size(), nullptr, 0, nullptr, personal);
  sodium_memzero(key.data(), key.size());
  std::unique_ptr<ConsoleAuth> auth(new ConsoleAuth());
  crypto_kdf_derive_from_key(auth->request_key_.data(), auth->request_key_.size(), kRequestKey,
                             kKdfContext, master);
  crypto_kdf_derive_from_key(auth->reply_key_.data(), auth->reply_key_.size(), kReplyKey,
                             kKdfContext, master);
  sodium_memzero(master, sizeof master);
  return auth;
}

ConsoleAuth::~ConsoleAuth() {
  sodium_memzero(request_key_.data(), request_key_.size());
  sodium_memzero(reply_key_.data(), reply_key_.size());
}

std::string ConsoleAuth::SignRequest(const std::string& subject, const std::string& reply_to,
                                     std::int64_t time_ms, const std::string& text,
                                     ConsoleTag* tag) const {
  std::string body;
  const auto stamp = static_cast<std::uint64_t>(time_ms);
  for (int shift = 56; shift >= 0; shift -= 8)
    body.push_back(static_cast<char>(stamp >> shift));
  body += text;
  const std::string input = MacInput(subject, reply_to, body.data(), body.size());
  crypto_auth(tag->data(), reinterpret_cast<const unsigned char*>(input.data()), input.size(),
              request_key_.data());
  std::string wire(kRequestMagic, kMagicBytes);
  wire += body;
  wire.append(reinterpret_cast<const char*>(tag->data()), tag->size());
  return wire;
}

bool ConsoleAuth::OpenRequest(const std::string& subject, const std::string& reply_to,
                              const char* data, std::size_t length, SignedRequest* request) const {
  if (!data || length < kMagicBytes + kStampBytes + kConsoleTagBytes ||
      std::memcmp(data, kRequestMagic, kMagicBytes) != 0)
    return false;
  const char* body = data + kMagicBytes;
  const std::size_t body_length = length - kMagicBytes - kConsoleTagBytes;
  const auto* tag = reinterpret_cast<const unsigned char*>(body + body_length);
  const std::string input = MacInput(subject, reply_to, body, body_length);
  if (crypto_auth_verify(tag, reinterpret_cast<const unsigned char*>(input.data()), input.size(),
                         request_key_.data()) != 0)
    return false;
  std::uint64_t stamp = 0;
  for (std::size_t i = 0; i < kStampBytes; ++i)
    stamp = stamp << 8 | static_cast<unsigned char>(body[i]);
  request->time_ms = static_cast<std::int64_t>(stamp);
  request->text.assign(body + kStampBytes, body_length - kStampBytes);
  std::memcpy(request->tag.data(), tag, kConsoleTagBytes);
  return true;
}

// Several peers seal under one key with no counter they could share: the
// nonces are random, which XChaCha20's 192 bits make safe.
std::string ConsoleAuth::SealReply(const ConsoleTag& request, const std::string& text) const {
  const auto ad = ReplyAd(request);
  std::string wire(
      kMagicBytes + kNonceBytes + text.size() + crypto_aead_xchacha20poly1305_ietf_ABYTES, '\0');
  auto* out = reinterpret_cast<unsigned char*>(wire.data());
  std::memcpy(out, kReplyMagic, kMagicBytes);
  randombytes_buf(out + kMagicBytes, kNonceBytes);
  unsigned long long sealed = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt(
      out + kMagicBytes + kNonceBytes, &sealed, reinterpret_cast<const unsigned char*>(text.data()),
      text.size(), ad.data(), ad.size(), nullptr, out + kMagicBytes, reply_key_.data());
  return wire;
}

bool ConsoleAuth::OpenReply(const ConsoleTag& request, const char* data, std::size_t length,
                            std::string* text) const {
  const std::size_t overhead =
      kMagicBytes + kNonceBytes + crypto_aead_xchacha20poly1305_ietf_ABYTES;
  if (!data || length < overhead || std::memcmp(data, kReplyMagic, kMagicBytes) != 0)
    return false;
  const auto ad = ReplyAd(request);
  const auto* in = reinterpret_cast<const unsigned char*>(data);
  std::string plain(length - overhead, '\0');
  unsigned long long opened = 0;
  if (crypto_aead_xchacha20poly1305_ietf_decrypt(
          reinterpret_cast<unsigned char*>(plain.data()), &opened, nullptr,
          in + kMagicBytes + kNonceBytes, length - kMagicBytes - kNonceBytes, ad.data(), ad.size(),
          in + kMagicBytes, reply_key_.data()) != 0)
    return false;
  plain.resize(opened);
  *text = std::move(plain);
  return true;
}

std::int64_t ConsoleNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace ksn

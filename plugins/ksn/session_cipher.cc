#include "session_cipher.h"

#include <sodium.h>

#include <cstring>

#include "conference_keys.h"

namespace ksn {
namespace {

static_assert(crypto_kx_PUBLICKEYBYTES == kPublicKeySize);
static_assert(crypto_kx_SESSIONKEYBYTES == crypto_aead_chacha20poly1305_ietf_KEYBYTES);
static_assert(crypto_aead_chacha20poly1305_ietf_ABYTES == kSealTagSize);

// The nonce is the counter; each direction has its own key, so a counter is
// never used twice under one key.
void NonceOf(std::uint64_t counter, unsigned char* nonce) {
  for (std::size_t i = 0; i < crypto_aead_chacha20poly1305_ietf_NPUBBYTES; ++i)
    nonce[i] = i < 8 ? static_cast<unsigned char>(counter >> (8 * i)) : 0;
}

}  // namespace

bool ReplayWindow::Fresh(std::uint64_t counter) const {
  if (counter == 0)
    return false;
  if (counter > highest_)
    return true;
  const std::uint64_t back = highest_ - counter;
  return back < kWindow && !(seen_[back / 64] >> (back % 64) & 1);
}

std::uint64_t ReplayWindow::Accept(std::uint64_t counter) {
  if (counter <= highest_) {
    const std::uint64_t back = highest_ - counter;
    seen_[back / 64] |= std::uint64_t{1} << (back % 64);
    return 0;
  }
  const std::uint64_t shift = counter - highest_;
  const std::uint64_t skipped = shift - 1;
  highest_ = counter;
  constexpr std::size_t kWords = kWindow / 64;
  if (shift >= kWindow) {
    for (auto& word : seen_)
      word = 0;
  } else {
    // Shift the whole bitmap towards older counters by `shift` bits.
    const std::size_t words = shift / 64;
    const unsigned bits = shift % 64;
    for (std::size_t i = kWords; i-- > 0;) {
      std::uint64_t value = i >= words ? seen_[i - words] << bits : 0;
      if (bits && i >= words + 1)
        value |= seen_[i - words - 1] >> (64 - bits);
      seen_[i] = value;
    }
  }
  seen_[0] |= 1;
  return skipped;
}

SessionCipher::SessionCipher() {
  SodiumReady();
  crypto_kx_keypair(public_key_.data(), secret_key_);
}

SessionCipher::SessionCipher(const unsigned char* rx, const unsigned char* tx) : agreed_(true) {
  sodium_memzero(secret_key_, sizeof secret_key_);
  std::memcpy(rx_, rx, sizeof rx_);
  std::memcpy(tx_, tx, sizeof tx_);
}

void SessionCipher::Renew() {
  sodium_memzero(rx_, sizeof rx_);
  sodium_memzero(tx_, sizeof tx_);
  crypto_kx_keypair(public_key_.data(), secret_key_);
  agreed_ = false;
  sent_ = 0;
  window_ = ReplayWindow();
}

SessionCipher::~SessionCipher() {
  sodium_memzero(secret_key_, sizeof secret_key_);
  sodium_memzero(rx_, sizeof rx_);
  sodium_memzero(tx_, sizeof tx_);
}

bool SessionCipher::Agree(const PublicKey& partner, bool lower) {
  if (agreed_)
    return true;
  const int failed = lower ? crypto_kx_client_session_keys(rx_, tx_, public_key_.data(),
                                                           secret_key_, partner.data())
                           : crypto_kx_server_session_keys(rx_, tx_, public_key_.data(),
                                                           secret_key_, partner.data());
  // Forward secrecy: once the keys exist, nothing can make them again.
  sodium_memzero(secret_key_, sizeof secret_key_);
  agreed_ = failed == 0;
  return agreed_;
}

void SessionCipher::Seal(FrameKind inner, unsigned char* frame, std::size_t length) {
  const std::uint64_t counter = ++sent_;
  WriteSealedHeader(counter, frame);
  unsigned char nonce[crypto_aead_chacha20poly1305_ietf_NPUBBYTES];
  NonceOf(counter, nonce);
  unsigned char* const body = frame + kSealedHeaderSize + kSealTagSize;
  body[0] = static_cast<unsigned char>(inner);
  crypto_aead_chacha20poly1305_ietf_encrypt_detached(body, frame + kSealedHeaderSize, nullptr, body,
                                                     length + 1, frame, kSealedHeaderSize, nullptr,
                                                     nonce, tx_);
}

SessionCipher::Opened SessionCipher::Open(unsigned char* frame, std::size_t length,
                                          FrameKind* inner, std::uint64_t* skipped) {
  std::uint64_t counter = 0;
  if (!agreed_ || !ReadSealedHeader(frame, length, &counter))
    return Opened::kUnopened;
  unsigned char nonce[crypto_aead_chacha20poly1305_ietf_NPUBBYTES];
  NonceOf(counter, nonce);
  unsigned char* const body = frame + kSealedHeaderSize + kSealTagSize;
  // Checks the tag before it writes anything.
  if (crypto_aead_chacha20poly1305_ietf_decrypt_detached(
          body, nullptr, body, length - kSealedHeaderSize - kSealTagSize, frame + kSealedHeaderSize,
          frame, kSealedHeaderSize, nonce, rx_) != 0)
    return Opened::kUnopened;
  // Only what opened counts as a replay: forgeries are told apart.
  if (!window_.Fresh(counter))
    return Opened::kReplayed;
  const auto kind = static_cast<FrameKind>(body[0]);
  if (kind != FrameKind::kData && kind != FrameKind::kHeartbeat && kind != FrameKind::kBye)
    return Opened::kUnopened;
  *inner = kind;
  *skipped = window_.Accept(counter);
  return Opened::kOk;
}

}  // namespace ksn

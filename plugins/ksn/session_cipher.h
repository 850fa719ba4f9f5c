// The keys of one session: an ephemeral key pair for its pairing, then one
// AEAD key per direction agreed from both pairs, with a counter nonce for
// what we send and a replay window for what we receive.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire_frame.h"

namespace ksn {

// Which of the last kWindow counters have been seen; counters only move it
// once their message opened.
class ReplayWindow {
 public:
  static constexpr std::uint64_t kWindow = 128;

  // True when `counter` is new and not too old to tell.
  bool Fresh(std::uint64_t counter) const;
  // Marks it seen; returns how many counters it skipped (0 for a late one).
  std::uint64_t Accept(std::uint64_t counter);

 private:
  std::uint64_t highest_ = 0;
  std::uint64_t seen_[kWindow / 64] = {};  // bit i: highest_ - i was seen
};

class SessionCipher {
 public:
  // A fresh key pair.
  SessionCipher();
  // Keys agreed elsewhere, for the fuzzers and benchmarks that replay one
  // session many times over.
  SessionCipher(const unsigned char* rx, const unsigned char* tx);
  ~SessionCipher();
  SessionCipher(const SessionCipher&) = delete;
  SessionCipher& operator=(const SessionCipher&) = delete;

  const PublicKey& public_key() const { return public_key_; }

  // Agrees the two keys with the partner's public key; `lower` says this
  // side has the lower session id. The secret key is wiped either way. False
  // for a key that gives no usable secret.
  bool Agree(const PublicKey& partner, bool lower);
  bool agreed() const { return agreed_; }
  // Wipes the agreed keys and makes a fresh pair, for pairing again: no key
  // or counter of the old pairing is ever used again.
  void Renew();

  // `frame` holds kSealedOverhead bytes and then `length` payload bytes:
  // writes the header, the inner kind and the tag, and encrypts in place.
  void Seal(FrameKind inner, unsigned char* frame, std::size_t length);

  enum class Opened { kOk, kUnopened, kReplayed };
  // Checks and decrypts `frame` in place; on kOk the payload starts at
  // kSealedOverhead and *inner is its kind, and *skipped says how many
  // counters were passed over. On any other outcome nothing changed.
  Opened Open(unsigned char* frame, std::size_t length, FrameKind* inner, std::uint64_t* skipped);

 private:
  PublicKey public_key_{};
  unsigned char secret_key_[32];
  unsigned char rx_[32];
  unsigned char tx_[32];
  bool agreed_ = false;
  std::uint64_t sent_ = 0;
  ReplayWindow window_;
};

}  // namespace ksn

// What a conference id becomes on the bus: a subject and a pairing key, both
// one-way functions of it, so that nobody who was not told the id can find
// the conference, read its name or take part in its pairing.
#pragma once

#include <cstddef>
#include <string>

#include "wire_frame.h"

namespace ksn {

// Conference ids longer than this are refused.
inline constexpr std::size_t kMaxHandleLength = 256;

// libsodium, initialised once per process; false if it cannot be.
bool SodiumReady();

class ConferenceKeys {
 public:
  explicit ConferenceKeys(const std::string& cid);
  ~ConferenceKeys();
  ConferenceKeys(const ConferenceKeys&) = delete;
  ConferenceKeys& operator=(const ConferenceKeys&) = delete;

  // ksn.c.<32 hex>: where the conference's members say HELLO.
  const std::string& subject() const { return subject_; }

  // The MAC of a pairing message: its signed part, the addressee's public key
  // (zeros for a broadcast) and the sender's reply address.
  void Sign(const unsigned char* signed_part, const PublicKey& to_key, const char* address,
            unsigned char* mac) const;
  // Constant-time check of the same.
  bool Verify(const unsigned char* signed_part, const PublicKey& to_key, const char* address,
              const unsigned char* mac) const;

 private:
  std::string subject_;
  unsigned char pairing_key_[32];
};

}  // namespace ksn

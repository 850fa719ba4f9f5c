#include "conference_keys.h"

#include <sodium.h>

#include <cstring>

namespace ksn {
namespace {

// Fixed domain for the conference id's master key, so that the same id used
// elsewhere never yields these keys.
constexpr char kMasterDomain[] = "videoconf ksn conference id v2";
constexpr char kContext[crypto_kdf_CONTEXTBYTES + 1] = "ksnconf2";
constexpr std::uint64_t kSubjectKeyId = 1;
constexpr std::uint64_t kPairingKeyId = 2;
constexpr std::size_t kSubjectBytes = 16;

static_assert(crypto_auth_hmacsha512256_BYTES == kMacSize);

void Mac(const unsigned char* key, const unsigned char* signed_part, const PublicKey& to_key,
         const char* address, unsigned char* mac) {
  crypto_auth_hmacsha512256_state state;
  crypto_auth_hmacsha512256_init(&state, key, 32);
  crypto_auth_hmacsha512256_update(&state, signed_part, kPairingSignedSize);
  crypto_auth_hmacsha512256_update(&state, to_key.data(), to_key.size());
  if (address)
    crypto_auth_hmacsha512256_update(&state, reinterpret_cast<const unsigned char*>(address),
                                     std::strlen(address));
  crypto_auth_hmacsha512256_final(&state, mac);
  sodium_memzero(&state, sizeof state);
}

}  // namespace

bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

ConferenceKeys::ConferenceKeys(const std::string& cid) {
  SodiumReady();
  unsigned char master[crypto_kdf_KEYBYTES];
  crypto_generichash(master, sizeof master, reinterpret_cast<const unsigned char*>(cid.data()),
                     cid.size(), reinterpret_cast<const unsigned char*>(kMasterDomain),
                     sizeof kMasterDomain - 1);
  unsigned char token[kSubjectBytes];
  crypto_kdf_derive_from_key(token, sizeof token, kSubjectKeyId, kContext, master);
  crypto_kdf_derive_from_key(pairing_key_, sizeof pairing_key_, kPairingKeyId, kContext, master);
  sodium_memzero(master, sizeof master);
  char hex[2 * kSubjectBytes + 1];
  sodium_bin2hex(hex, sizeof hex, token, sizeof token);
  subject_ = std::string("ksn.c.") + hex;
}

ConferenceKeys::~ConferenceKeys() {
  sodium_memzero(pairing_key_, sizeof pairing_key_);
}

void ConferenceKeys::Sign(const unsigned char* signed_part, const PublicKey& to_key,
                          const char* address, unsigned char* mac) const {
  Mac(pairing_key_, signed_part, to_key, address, mac);
}

bool ConferenceKeys::Verify(const unsigned char* signed_part, const PublicKey& to_key,
                            const char* address, const unsigned char* mac) const {
  unsigned char expected[kMacSize];
  Mac(pairing_key_, signed_part, to_key, address, expected);
  return crypto_verify_32(expected, mac) == 0;
}

}  // namespace ksn

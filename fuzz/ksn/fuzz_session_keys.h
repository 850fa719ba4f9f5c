// One conference and one agreed session, the same on every run: what the
// fuzzers and their seed generator share, so that the seeds open.
#pragma once

#include <sodium.h>

#include <algorithm>

#include "conference_keys.h"
#include "session_cipher.h"

namespace ksn_fuzz {

inline constexpr char kConference[] = "5f0c1e2d-3a4b-4c5d-8e6f-708192a3b4c5";
inline constexpr char kReply[] = "ksn.s.00112233445566778899aabbccddeeff";

// The two directions of one session between members A (lower id) and B.
struct SessionKeys {
  SessionKeys() {
    ksn::SodiumReady();
    unsigned char seed[crypto_kx_SEEDBYTES] = {1};
    crypto_kx_seed_keypair(a_pk, a_sk, seed);
    seed[0] = 2;
    crypto_kx_seed_keypair(b_pk, b_sk, seed);
    // Fixed seeds give valid keys; these cannot fail.
    if (crypto_kx_client_session_keys(a_rx, a_tx, a_pk, a_sk, b_pk) != 0 ||
        crypto_kx_server_session_keys(b_rx, b_tx, b_pk, b_sk, a_pk) != 0)
      __builtin_trap();
  }
  ksn::PublicKey b_key() const {
    ksn::PublicKey key;
    std::copy(b_pk, b_pk + sizeof b_pk, key.begin());
    return key;
  }
  unsigned char a_pk[32], a_sk[32], b_pk[32], b_sk[32];
  unsigned char a_rx[32], a_tx[32], b_rx[32], b_tx[32];
};

}  // namespace ksn_fuzz

// How two members of a conference find each other, and how one learns that
// the other is gone. Pure: frames in, frames to send and events out.
//
// Waiting members broadcast HELLO. Of two waiting members the one with the
// lower id proposes, the other accepts; a proposer that is asked by a third
// answers BUSY, so pairs never cross. A paired member answers FULL to anyone
// else, beats every heartbeat period, and gives up on a partner silent for
// longer than the silence limit.
//
// A member that lost its connection starts over with a fresh key (Restart)
// and says HELLO again. Its partner takes a HELLO or PROPOSE from it that
// carries a key never seen from it before as that new start, and pairs
// again; keys it has left behind are ignored, so a replayed old HELLO does
// nothing.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "wire_frame.h"

namespace ksn {

using SteadyTime = std::chrono::steady_clock::time_point;

enum class Phase { kWaiting, kProposing, kPaired, kRefused, kClosed };

enum class PairingEvent { kNone, kConnected, kRefused, kClosedByPeer, kSilent };

// A frame to publish: to the conference subject when `address` is empty.
// `to_key` is the addressee's public key (zeros for a broadcast).
struct Outgoing {
  FrameKind kind;
  std::uint64_t to;
  std::string address;
  PublicKey to_key{};
};

struct PairingTiming {
  std::chrono::milliseconds hello{1000};
  std::chrono::milliseconds proposal{2000};
  std::chrono::milliseconds heartbeat{1000};
  std::chrono::milliseconds silence{3500};
};

class SessionPairing {
 public:
  SessionPairing(std::uint64_t self, const PairingTiming& timing, SteadyTime now);

  // The first HELLO, sent when the session opens.
  Outgoing Hello(SteadyTime now);
  // An authentic control frame (not DATA or HEARTBEAT) from someone on the
  // conference. `reply` is the sender's address. Sets *foreign when the frame came from
  // nobody this member deals with.
  PairingEvent OnFrame(const FrameHeader& frame, const char* reply, SteadyTime now,
                       std::vector<Outgoing>* out, bool* foreign);
  // DATA or HEARTBEAT: true when it is the partner's (it then counts as a sign of life).
  bool AcceptFromPartner(std::uint64_t from, SteadyTime now);
  PairingEvent OnTick(SteadyTime now, std::vector<Outgoing>* out);
  // Ends the session; says BYE to a partner or to the member being asked.
  void Close(std::vector<Outgoing>* out);
  // Back to waiting after a lost connection, the partner's key retired; the
  // caller renews its own key and says HELLO. Also done by OnFrame when the
  // partner has started over.
  void Restart(SteadyTime now);
  // Counts the restarts: the caller renews its key whenever it moves.
  std::uint32_t generation() const { return generation_; }

  Phase phase() const { return phase_; }
  std::uint64_t self() const { return self_; }
  std::uint64_t partner() const { return partner_; }
  const std::string& partner_address() const { return partner_address_; }
  const PublicKey& partner_key() const { return partner_key_; }

 private:
  void Pair(const FrameHeader& frame, const std::string& address, SteadyTime now);
  bool Retired(const PublicKey& key) const;

  std::uint64_t self_;
  PairingTiming timing_;
  Phase phase_ = Phase::kWaiting;
  std::uint64_t partner_ = 0;  // the partner, or the member asked while proposing
  std::string partner_address_;
  PublicKey partner_key_{};
  SteadyTime phase_since_;
  SteadyTime last_hello_;
  SteadyTime last_heard_;
  SteadyTime last_beat_;
  std::uint32_t generation_ = 0;
  std::array<PublicKey, 8> retired_{};  // keys of partners we started over from
  std::size_t retired_next_ = 0;
};

}  // namespace ksn

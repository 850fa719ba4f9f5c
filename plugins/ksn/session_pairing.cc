#include "session_pairing.h"

namespace ksn {

SessionPairing::SessionPairing(std::uint64_t self, const PairingTiming& timing, SteadyTime now)
    : self_(self),
      timing_(timing),
      phase_since_(now),
      last_hello_(now),
      last_heard_(now),
      last_beat_(now) {}

Outgoing SessionPairing::Hello(SteadyTime now) {
  last_hello_ = now;
  return {FrameKind::kHello, 0, "", {}};
}

void SessionPairing::Pair(const FrameHeader& frame, const std::string& address, SteadyTime now) {
  phase_ = Phase::kPaired;
  partner_ = frame.from;
  partner_address_ = address;
  partner_key_ = frame.key;
  phase_since_ = last_heard_ = last_beat_ = now;
}

PairingEvent SessionPairing::OnFrame(const FrameHeader& frame, const char* reply, SteadyTime now,
                                     std::vector<Outgoing>* out, bool* foreign) {
  *foreign = false;
  const std::uint64_t from = frame.from;
  // Broadcasts are for everyone; anything else must be addressed to us.
  if (from == self_ || (frame.kind != FrameKind::kHello && frame.to != self_)) {
    *foreign = frame.to != self_ || phase_ == Phase::kPaired;
    return PairingEvent::kNone;
  }
  // Every answer goes to the sender's address; one that is not an address
  // of this protocol gets no answer and no say.
  if (!IsSessionAddress(reply)) {
    *foreign = true;
    return PairingEvent::kNone;
  }
  // A key we have left behind is someone replaying the past.
  if (frame.key != partner_key_ && Retired(frame.key)) {
    *foreign = true;
    return PairingEvent::kNone;
  }
  // The partner lost its connection and started over with a fresh key.
  if (phase_ == Phase::kPaired && from == partner_ && frame.key != partner_key_ &&
      (frame.kind == FrameKind::kHello || frame.kind == FrameKind::kPropose))
    Restart(now);
  const std::string address = reply;
  const bool from_partner = partner_ == from && phase_ != Phase::kWaiting;
  switch (phase_) {
    case Phase::kWaiting:
      switch (frame.kind) {
        case FrameKind::kHello:
          if (self_ < from) {
            out->push_back({FrameKind::kPropose, from, address, frame.key});
            phase_ = Phase::kProposing;
            partner_ = from;
            partner_address_ = address;
            partner_key_ = frame.key;
            phase_since_ = now;
          } else if (frame.to == 0) {
            // Tell a newcomer about us at once, so that it proposes.
            out->push_back({FrameKind::kHello, from, address, frame.key});
          }
          return PairingEvent::kNone;
        case FrameKind::kPropose:
          out->push_back({FrameKind::kAccept, from, address, frame.key});
          Pair(frame, address, now);
          return PairingEvent::kConnected;
        case FrameKind::kAccept:
          // Our proposal timed out, but the other side took it: so be it.
          Pair(frame, address, now);
          return PairingEvent::kConnected;
        case FrameKind::kFull:
          phase_ = Phase::kRefused;
          return PairingEvent::kRefused;
        default:
          return PairingEvent::kNone;
      }
    case Phase::kProposing:
      switch (frame.kind) {
        case FrameKind::kPropose:
          if (!from_partner)
            out->push_back({FrameKind::kBusy, from, address, frame.key});
          return PairingEvent::kNone;
        case FrameKind::kAccept:
          if (from_partner) {
            Pair(frame, address, now);
            return PairingEvent::kConnected;
          }
          out->push_back({FrameKind::kBye, from, address, frame.key});
          return PairingEvent::kNone;
        case FrameKind::kBusy:
        case FrameKind::kBye:
          if (from_partner)
            phase_ = Phase::kWaiting;
          return PairingEvent::kNone;
        case FrameKind::kFull:
          if (from_partner) {
            phase_ = Phase::kRefused;
            return PairingEvent::kRefused;
          }
          return PairingEvent::kNone;
        default:
          return PairingEvent::kNone;
      }
    case Phase::kPaired:
      if (from_partner) {
        last_heard_ = now;
        if (frame.kind == FrameKind::kBye) {
          phase_ = Phase::kClosed;
          return PairingEvent::kClosedByPeer;
        }
        if (frame.kind == FrameKind::kPropose)
          out->push_back({FrameKind::kAccept, from, address, frame.key});
        return PairingEvent::kNone;
      }
      if (frame.kind == FrameKind::kHello || frame.kind == FrameKind::kPropose)
        out->push_back({FrameKind::kFull, from, address, frame.key});
      else if (frame.kind == FrameKind::kAccept)
        out->push_back({FrameKind::kBye, from, address, frame.key});
      else
        *foreign = true;
      return PairingEvent::kNone;
    case Phase::kRefused:
    case Phase::kClosed:
      return PairingEvent::kNone;
  }
  return PairingEvent::kNone;
}

bool SessionPairing::AcceptFromPartner(std::uint64_t from, SteadyTime now) {
  if (phase_ != Phase::kPaired || from != partner_)
    return false;
  last_heard_ = now;
  return true;
}

PairingEvent SessionPairing::OnTick(SteadyTime now, std::vector<Outgoing>* out) {
  switch (phase_) {
    case Phase::kProposing:
      if (now - phase_since_ < timing_.proposal)
        return PairingEvent::kNone;
      phase_ = Phase::kWaiting;
      [[fallthrough]];
    case Phase::kWaiting:
      if (now - last_hello_ >= timing_.hello)
        out->push_back(Hello(now));
      return PairingEvent::kNone;
    case Phase::kPaired:
      if (now - last_heard_ > timing_.silence) {
        phase_ = Phase::kClosed;
        return PairingEvent::kSilent;
      }
      if (now - last_beat_ >= timing_.heartbeat) {
        last_beat_ = now;
        out->push_back({FrameKind::kHeartbeat, partner_, partner_address_, partner_key_});
      }
      return PairingEvent::kNone;
    case Phase::kRefused:
    case Phase::kClosed:
      return PairingEvent::kNone;
  }
  return PairingEvent::kNone;
}

void SessionPairing::Close(std::vector<Outgoing>* out) {
  if (phase_ == Phase::kPaired || phase_ == Phase::kProposing)
    out->push_back({FrameKind::kBye, partner_, partner_address_, partner_key_});
  phase_ = Phase::kClosed;
}

void SessionPairing::Restart(SteadyTime now) {
  if (partner_key_ != PublicKey{}) {
    retired_[retired_next_] = partner_key_;
    retired_next_ = (retired_next_ + 1) % retired_.size();
  }
  ++generation_;
  phase_ = Phase::kWaiting;
  partner_ = 0;
  partner_address_.clear();
  partner_key_ = {};
  phase_since_ = last_heard_ = last_beat_ = now;
}

bool SessionPairing::Retired(const PublicKey& key) const {
  for (const PublicKey& old : retired_) {
    if (old != PublicKey{} && old == key)
      return true;
  }
  return false;
}

}  // namespace ksn

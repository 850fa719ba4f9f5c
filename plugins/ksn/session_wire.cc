// What the sessions say on the bus and what they take from it: every
// message is proved (signed by a member of the conference, or sealed by the
// partner) before the pairing or the reader sees it.
#include <utility>

#include "conference_sessions.h"
#include "ksn_errors.h"
#include "ksn_log.h"
#include "wire_frame.h"

namespace ksn {

// Heartbeats and the BYE to a partner travel sealed; the rest of the pairing
// is signed with the conference's key.
void ConferenceSessions::Queue(Session& session, const std::vector<Outgoing>& frames) {
  for (const Outgoing& out : frames) {
    const bool sealed = session.cipher.agreed() && out.to == session.pairing.partner() &&
                        (out.kind == FrameKind::kHeartbeat || out.kind == FrameKind::kBye);
    std::string bytes(sealed ? kSealedOverhead : kPairingFrameSize, '\0');
    auto* raw = reinterpret_cast<unsigned char*>(bytes.data());
    if (sealed) {
      session.cipher.Seal(out.kind, raw, 0);
    } else {
      WritePairingFrame({out.kind, session.id, out.to, session.cipher.public_key()}, raw);
      session.keys.Sign(raw, out.to_key, session.address.c_str(), raw + kPairingSignedSize);
    }
    outbox_.push_back({out.address.empty() ? session.keys.subject() : out.address, session.address,
                       std::move(bytes)});
  }
}

void ConferenceSessions::Publish(std::vector<Publication> frames) {
  for (const Publication& frame : frames)
    link_.Publish(frame.subject, frame.reply, frame.bytes);
}

void ConferenceSessions::ApplyEvent(Session& session, PairingEvent event) {
  switch (event) {
    case PairingEvent::kNone:
      return;
    case PairingEvent::kConnected:
      if (!session.cipher.Agree(session.pairing.partner_key(),
                                session.id < session.pairing.partner())) {
        // Only a member who knows the conference could have sent such a key.
        Log("the other member's key gives no shared secret; closing the session");
        std::vector<Outgoing> ignored;
        session.pairing.Close(&ignored);
        AddNotice(session, {Notice::kClose, kClosedByPeer, kClosedByPeerText});
        return;
      }
      session.rejoining = false;
      // The host was told once; a pairing again after a lost connection is
      // only a gap in the stream to it.
      if (session.told_connected) {
        Log("paired again with the other member");
        return;
      }
      session.told_connected = true;
      AddNotice(session, {Notice::kConnect, 0, ""});
      return;
    case PairingEvent::kRefused:
      Log("%s", kSessionFullText);
      AddNotice(session, {Notice::kConnect, kSessionFull, kSessionFullText});
      AddNotice(session, {Notice::kClose, kSessionFull, kSessionFullText});
      return;
    case PairingEvent::kClosedByPeer:
      AddNotice(session, {Notice::kClose, kClosedByPeer, kClosedByPeerText});
      return;
    case PairingEvent::kSilent:
      AddNotice(session, {Notice::kClose, kPeerSilent, kPeerSilentText});
      return;
  }
}

// The caller publishes what this queues before it lets go of the lock: a
// Send that sees the session paired must not overtake the ACCEPT that paired it.
void ConferenceSessions::HandleControl(Session& session, const FrameHeader& frame,
                                       const char* reply) {
  std::vector<Outgoing> frames;
  bool foreign = false;
  const std::uint32_t generation = session.pairing.generation();
  const PairingEvent event =
      session.pairing.OnFrame(frame, reply, std::chrono::steady_clock::now(), &frames, &foreign);
  if (foreign)
    ++session.foreign;
  // The partner started over: our answer goes out under a fresh key.
  if (session.pairing.generation() != generation) {
    session.cipher.Renew();
    if (!session.rejoining) {
      session.rejoining = true;
      session.rejoin_by =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(settings_.grace_ms);
    }
  }
  Queue(session, frames);
  ApplyEvent(session, event);
}

void ConferenceSessions::CountUnopened(Session& session) {
  std::uint64_t count = 0;
  if (session.CountUnopened(std::chrono::steady_clock::now(), &count))
    Log("dropped %llu message(s) that were not signed or sealed for a session",
        static_cast<unsigned long long>(count));
}

void ConferenceSessions::TakeLegacy(Session& session) {
  CountUnopened(session);
  if (session.legacy_noticed)
    return;
  session.legacy_noticed = true;
  Log("%s", kOldFramingText);
  if (session.pairing.phase() != Phase::kPaired)
    AddNotice(session, {Notice::kConnect, kOldFraming, kOldFramingText});
}

bool ConferenceSessions::TakePairing(Session& session, natsMsg* msg) {
  const auto* data = reinterpret_cast<const unsigned char*>(natsMsg_GetData(msg));
  FrameHeader frame;
  if (!ReadPairingFrame(data, natsMsg_GetDataLength(msg), &frame))
    return false;
  // Broadcasts are signed for everyone, the rest for the addressee's key.
  const PublicKey to_key = frame.to == 0 ? PublicKey{} : session.cipher.public_key();
  if (!session.keys.Verify(data, to_key, natsMsg_GetReply(msg), data + kPairingSignedSize))
    return false;
  if (frame.from != session.id)  // our own HELLO comes back to us
    HandleControl(session, frame, natsMsg_GetReply(msg));
  return true;
}

bool ConferenceSessions::TakeSealed(Session& session, natsMsg* msg) {
  // The message is ours until it is destroyed: it is opened where it lies.
  auto* data = reinterpret_cast<unsigned char*>(const_cast<char*>(natsMsg_GetData(msg)));
  FrameKind inner = FrameKind::kData;
  std::uint64_t skipped = 0;
  switch (session.cipher.Open(data, natsMsg_GetDataLength(msg), &inner, &skipped)) {
    case SessionCipher::Opened::kUnopened:
      CountUnopened(session);
      return true;
    case SessionCipher::Opened::kReplayed:
      ++session.replayed;
      return true;
    case SessionCipher::Opened::kOk:
      break;
  }
  const std::uint64_t partner = session.pairing.partner();
  if (!session.pairing.AcceptFromPartner(partner, std::chrono::steady_clock::now())) {
    ++session.foreign;  // sealed by the partner of a session that has ended
    return true;
  }
  session.lost += skipped;
  if (inner == FrameKind::kData) {
    if (session.inbound.Push(msg, kSealedOverhead))
      AddNotice(session, {Notice::kRecv, 0, ""});
    return false;
  }
  if (inner == FrameKind::kBye) {
    FrameHeader bye{FrameKind::kBye, partner, session.id, session.pairing.partner_key()};
    HandleControl(session, bye, session.pairing.partner_address().c_str());
  }
  return true;
}

void ConferenceSessions::OnConferenceMessage(natsConnection*, natsSubscription*, natsMsg* msg,
                                             void* closure) {
  auto* self = static_cast<ConferenceSessions*>(closure);
  {
    MutexLock lock(self->mutex_);
    const auto it = self->by_subject_.find(natsMsg_GetSubject(msg));
    if (it != self->by_subject_.end()) {
      Session& session = *it->second;
      const Framing framing = FramingOf(natsMsg_GetData(msg), natsMsg_GetDataLength(msg));
      if (framing == Framing::kLegacy)
        self->TakeLegacy(session);
      // Only HELLO belongs on the conference subject.
      else if (natsMsg_GetDataLength(msg) < 2 ||
               natsMsg_GetData(msg)[1] != static_cast<char>(FrameKind::kHello) ||
               !self->TakePairing(session, msg))
        self->CountUnopened(session);
      std::vector<Publication> out;
      out.swap(self->outbox_);
      self->Publish(std::move(out));
    }
    self->Spend(msg);
  }
}

void ConferenceSessions::OnSessionMessage(natsConnection*, natsSubscription*, natsMsg* msg,
                                          void* closure) {
  auto* self = static_cast<ConferenceSessions*>(closure);
  bool destroy = true;
  {
    MutexLock lock(self->mutex_);
    const auto it = self->by_address_.find(natsMsg_GetSubject(msg));
    if (it != self->by_address_.end()) {
      Session& session = *it->second;
      const char* data = natsMsg_GetData(msg);
      const int length = natsMsg_GetDataLength(msg);
      const Framing framing = FramingOf(data, length);
      if (framing == Framing::kLegacy)
        self->TakeLegacy(session);
      else if (framing == Framing::kCurrent && data[1] == static_cast<char>(FrameKind::kSealed))
        destroy = self->TakeSealed(session, msg);
      else if (!self->TakePairing(session, msg))
        self->CountUnopened(session);
      // What the pairing answered goes out before the lock is let go: a Send
      // that sees the session paired must not overtake the ACCEPT that paired it.
      std::vector<Publication> out;
      out.swap(self->outbox_);
      self->Publish(std::move(out));
    }
    if (destroy)
      self->Spend(msg);
  }
}

}  // namespace ksn

#include "conference_sessions.h"

#include <climits>
#include <cstring>
#include <utility>

#include "external/ksn_exception.h"
#include "ksn_errors.h"
#include "ksn_log.h"
#include "wire_frame.h"

namespace ksn {
namespace {

[[noreturn]] void Throw(std::int32_t code, const char* text) {
  throw KSN::exception(text, code);
}

PairingTiming TimingOf(const KsnSettings& settings) {
  PairingTiming timing;
  timing.heartbeat = std::chrono::milliseconds(settings.heartbeat_ms);
  timing.silence = std::chrono::milliseconds(settings.silence_ms);
  return timing;
}

}  // namespace

ConferenceSessions::ConferenceSessions(const KsnSettings& settings, NatsLink& link,
                                       WakeWindows& wakes)
    : settings_(settings), timing_(TimingOf(settings)), link_(link), wakes_(wakes) {}

ConferenceSessions::~ConferenceSessions() = default;

// ------------------------------------------------------------ the host's calls

std::shared_ptr<ConferenceSession> ConferenceSessions::Find(const std::string& handle) {
  const auto it = by_handle_.find(handle);
  if (it == by_handle_.end())
    Throw(kUnknownHandle, "unknown session handle");
  return it->second;
}

void ConferenceSessions::Forget(Session& session) {
  by_handle_.erase(session.handle);
  by_subject_.erase(session.keys.subject());
  by_address_.erase(session.address);
  session.removed = true;
}

void ConferenceSessions::Open(const std::string& handle, KSN::ksnNotify* sink, plat::HWND window) {
  std::shared_ptr<Session> session;
  {
    MutexLock lock(mutex_);
    if (stopping_)
      Throw(kNotReady, "not connected to the NATS server");
    if (by_handle_.count(handle))
      Throw(kHandleInUse, "session handle already open");
    session = std::make_shared<Session>(handle, RandomId(), window, sink, settings_, timing_);
    by_handle_[handle] = session;
    by_subject_[session->keys.subject()] = session;
    by_address_[session->address] = session;
  }
  natsSubscription* sub =
      link_.Subscribe(session->keys.subject(), &ConferenceSessions::OnConferenceMessage, this);
  natsSubscription* inbox =
      sub ? link_.Subscribe(session->address, &ConferenceSessions::OnSessionMessage, this)
          : nullptr;
  std::vector<Publication> hello;
  {
    MutexLock lock(mutex_);
    if (!inbox) {
      Forget(*session);
      lock.unlock();
      if (sub) {
        natsSubscription_Unsubscribe(sub);
        natsSubscription_Destroy(sub);
      }
      Throw(kSubscribeFailed, "subscription failed");
    }
    session->subscription = sub;
    session->inbox = inbox;
    Queue(*session, {session->pairing.Hello(std::chrono::steady_clock::now())});
    hello.swap(outbox_);
  }
  Publish(std::move(hello));
}

void ConferenceSessions::Close(const std::string& handle) {
  std::shared_ptr<Session> session;
  natsSubscription* subs[2] = {};
  SinkRef sink;
  std::vector<Publication> bye;
  {
    MutexLock lock(mutex_);
    session = Find(handle);
    Forget(*session);
    std::vector<Outgoing> frames;
    session->pairing.Close(&frames);
    Queue(*session, frames);
    bye.swap(outbox_);
    subs[0] = std::exchange(session->subscription, nullptr);
    subs[1] = std::exchange(session->inbox, nullptr);
    sink = std::move(session->sink);
    session->inbound.Clear();
    session->notices.clear();
  }
  Publish(std::move(bye));
  for (natsSubscription* sub : subs) {
    if (sub) {
      natsSubscription_Unsubscribe(sub);
      natsSubscription_Destroy(sub);
    }
  }
}

bool ConferenceSessions::IsConnected(const std::string& handle) {
  MutexLock lock(mutex_);
  return Find(handle)->pairing.phase() == Phase::kPaired;
}

std::int32_t ConferenceSessions::Send(const std::string& handle, const void* data,
                                      std::uint32_t length) {
  if (!data && length)
    Throw(kBadArgument, "bad argument");
  natsConnection* nc = link_.connection();
  // Live video is not kept for a connection that may come back: while there
  // is none, the message is refused. (cnats is asked outside our lock.)
  const bool online = nc && natsConnection_Status(nc) == NATS_CONN_STATUS_CONNECTED;
  const std::int64_t room = online ? natsConnection_GetMaxPayload(nc) : 0;
  // Sends come from the session's own thread; one buffer per thread serves them all.
  thread_local std::vector<unsigned char> buffer;
  std::string address;
  {
    MutexLock lock(mutex_);
    Session& session = *Find(handle);
    if (session.pairing.phase() != Phase::kPaired || !session.cipher.agreed() || !online)
      return -1;
    if (static_cast<std::int64_t>(length) + static_cast<std::int64_t>(kSealedOverhead) > room)
      Throw(kTooLarge, "message too large");
    buffer.resize(kSealedOverhead + length);
    if (length)
      std::memcpy(buffer.data() + kSealedOverhead, data, length);
    // Sealed under the lock: the counter and the key belong to the session.
    session.cipher.Seal(FrameKind::kData, buffer.data(), length);
    address = session.pairing.partner_address();
  }
  if (natsConnection_Publish(nc, address.c_str(), buffer.data(), static_cast<int>(buffer.size())) !=
      NATS_OK)
    return -1;
  return static_cast<std::int32_t>(length);
}

std::int32_t ConferenceSessions::Recv(const std::string& handle, void* buffer,
                                      std::uint32_t capacity) {
  if (!buffer && capacity)
    Throw(kBadArgument, "bad argument");
  MutexLock lock(mutex_);
  Session& session = *Find(handle);
  const std::size_t room = capacity > INT32_MAX ? INT32_MAX : capacity;
  return static_cast<std::int32_t>(session.inbound.Read(buffer, room));
}

SessionStats ConferenceSessions::Stats(const std::string& handle) {
  MutexLock lock(mutex_);
  return Find(handle)->Stats();
}

std::string ConferenceSessions::Describe() {
  std::string text;
  MutexLock lock(mutex_);
  for (const auto& [handle, session] : by_handle_)
    text += session->Describe() + "\r\n";
  return text;
}

// ------------------------------------------------------------ notices

void ConferenceSessions::AddNotice(Session& session, Notice notice) {
  if (session.AddNotice(std::move(notice)))
    wakes_.Wake(session.window);
}

// The sink may close the session (or others) from inside any notification,
// so each one checks again that its session is still open.
void ConferenceSessions::Deliver(plat::HWND window) {
  std::vector<std::pair<std::shared_ptr<Session>, std::vector<Notice>>> waiting;
  {
    MutexLock lock(mutex_);
    for (auto& [handle, session] : by_handle_) {
      if (session->window == window && !session->notices.empty())
        waiting.emplace_back(session, session->TakeNotices());
    }
  }
  for (const auto& [session, notices] : waiting) {
    for (const Notice& notice : notices) {
      SinkRef sink;
      {
        MutexLock lock(mutex_);
        if (session->removed)
          break;
        sink = ShareSink(session->sink.get());
      }
      if (sink)
        NotifySink(sink.get(), session->handle, notice);
    }
  }
}

// ------------------------------------------------------------ the protocol

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
  const PairingEvent event =
      session.pairing.OnFrame(frame, reply, std::chrono::steady_clock::now(), &frames, &foreign);
  if (foreign)
    ++session.foreign;
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
  }
  natsMsg_Destroy(msg);
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
  }
  if (destroy)
    natsMsg_Destroy(msg);
}

// ------------------------------------------------------------ time and the connection

void ConferenceSessions::Tick(std::chrono::steady_clock::time_point now, bool online) {
  std::vector<Publication> out;
  {
    MutexLock lock(mutex_);
    for (auto& [handle, session] : by_handle_) {
      if (online) {
        std::vector<Outgoing> frames;
        const PairingEvent event = session->pairing.OnTick(now, &frames);
        Queue(*session, frames);
        ApplyEvent(*session, event);
      }
      // Wakes that found a full queue are tried again.
      if (!session->notices.empty())
        wakes_.Wake(session->window);
      std::uint64_t count = 0;
      if (session->SummaryDue(now, &count))
        Log("dropped %llu message(s) that were not signed or sealed for a session",
            static_cast<unsigned long long>(count));
    }
    out.swap(outbox_);
  }
  Publish(std::move(out));
}

// Every session rides on the connection; none survives it.
void ConferenceSessions::OnConnectionLost() {
  MutexLock lock(mutex_);
  if (stopping_)
    return;
  Log("lost the connection to the NATS server; closing %zu session(s)", by_handle_.size());
  for (auto& [handle, session] : by_handle_) {
    const Phase phase = session->pairing.phase();
    if (phase == Phase::kClosed || phase == Phase::kRefused)
      continue;
    std::vector<Outgoing> ignored;  // nobody to say BYE to without a connection
    session->pairing.Close(&ignored);
    AddNotice(*session, {Notice::kClose, kConnectionLost, kConnectionLostText});
  }
}

std::vector<natsSubscription*> ConferenceSessions::Stop() {
  std::vector<natsSubscription*> subscriptions;
  std::vector<Publication> byes;
  {
    MutexLock lock(mutex_);
    stopping_ = true;
    for (auto& [handle, session] : by_handle_) {
      std::vector<Outgoing> frames;
      session->pairing.Close(&frames);
      Queue(*session, frames);
      session->removed = true;
      session->inbound.Clear();
      for (natsSubscription** sub : {&session->subscription, &session->inbox}) {
        if (*sub)
          subscriptions.push_back(std::exchange(*sub, nullptr));
      }
      stopped_.push_back(session);
    }
    by_handle_.clear();
    by_subject_.clear();
    by_address_.clear();
    byes.swap(outbox_);
  }
  Publish(std::move(byes));
  return subscriptions;
}

void ConferenceSessions::ReleaseSinks() {
  std::vector<std::shared_ptr<Session>> stopped;
  {
    MutexLock lock(mutex_);
    stopped.swap(stopped_);
  }
  for (const auto& session : stopped)
    session->sink.reset();
}

}  // namespace ksn

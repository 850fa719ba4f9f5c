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

ConferenceSessions::ConferenceSessions(const KsnSettings& settings, std::uint64_t member,
                                       NatsLink& link, WakeWindows& wakes)
    : settings_(settings),
      timing_(TimingOf(settings)),
      member_(member),
      link_(link),
      wakes_(wakes) {}

ConferenceSessions::~ConferenceSessions() = default;

NatsLink::Standing ConferenceSessions::MemberSubscription() {
  return {MemberAddressWildcard(member_), &ConferenceSessions::OnMemberMessage, this};
}

// ------------------------------------------------------------ the host's calls

std::shared_ptr<ConferenceSession> ConferenceSessions::Find(const std::string& handle) {
  const auto it = by_handle_.find(handle);
  if (it == by_handle_.end())
    Throw(kUnknownHandle, "unknown session handle");
  return it->second;
}

void ConferenceSessions::Forget(Session& session) {
  by_handle_.erase(session.handle);
  by_id_.erase(session.id);
  by_subject_.erase(session.subject);
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
    session =
        std::make_shared<Session>(handle, member_, RandomId(), window, sink, settings_, timing_);
    by_handle_[handle] = session;
    by_id_[session->id] = session;
    by_subject_[session->subject] = session;
  }
  natsSubscription* sub =
      link_.Subscribe(session->subject, &ConferenceSessions::OnConferenceMessage, this);
  std::vector<Publication> hello;
  {
    MutexLock lock(mutex_);
    if (!sub) {
      Forget(*session);
      Throw(kSubscribeFailed, "subscription failed");
    }
    session->subscription = sub;
    Queue(*session, {session->pairing.Hello(std::chrono::steady_clock::now())});
    hello.swap(outbox_);
  }
  Publish(std::move(hello));
}

void ConferenceSessions::Close(const std::string& handle) {
  std::shared_ptr<Session> session;
  natsSubscription* sub = nullptr;
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
    sub = std::exchange(session->subscription, nullptr);
    sink = std::move(session->sink);
    session->inbound.Clear();
    session->notices.clear();
  }
  Publish(std::move(bye));
  if (sub) {
    natsSubscription_Unsubscribe(sub);
    natsSubscription_Destroy(sub);
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
  std::string address;
  FrameHeader header;
  header.kind = FrameKind::kData;
  {
    MutexLock lock(mutex_);
    Session& session = *Find(handle);
    if (session.pairing.phase() != Phase::kPaired || !online)
      return -1;
    if (static_cast<std::int64_t>(length) + static_cast<std::int64_t>(kFrameHeaderSize) > room)
      Throw(kTooLarge, "message too large");
    header.from = session.id;
    header.to = session.pairing.partner();
    header.seq = ++session.send_seq;
    address = session.pairing.partner_address();
  }
  // Sends come from the session's own thread; one buffer per thread serves them all.
  thread_local std::vector<unsigned char> buffer;
  buffer.resize(kFrameHeaderSize + length);
  WriteFrameHeader(header, buffer.data());
  if (length)
    std::memcpy(buffer.data() + kFrameHeaderSize, data, length);
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

void ConferenceSessions::Queue(const Session& session, const std::vector<Outgoing>& frames) {
  for (const Outgoing& out : frames) {
    FrameHeader header;
    header.kind = out.kind;
    header.from = session.id;
    header.to = out.to;
    std::string bytes(kFrameHeaderSize, '\0');
    WriteFrameHeader(header, reinterpret_cast<unsigned char*>(bytes.data()));
    outbox_.push_back(
        {out.address.empty() ? session.subject : out.address, session.address, std::move(bytes)});
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
      AddNotice(session, {Notice::kConnect, 0, ""});
      return;
    case PairingEvent::kRefused:
      AddNotice(session, {Notice::kConnect, kSessionFull, kSessionFullText});
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

void ConferenceSessions::OnConferenceMessage(natsConnection*, natsSubscription*, natsMsg* msg,
                                             void* closure) {
  auto* self = static_cast<ConferenceSessions*>(closure);
  {
    MutexLock lock(self->mutex_);
    const auto it = self->by_subject_.find(natsMsg_GetSubject(msg));
    if (it != self->by_subject_.end()) {
      Session& session = *it->second;
      FrameHeader frame;
      // Only HELLO belongs on the conference subject; the rest is someone else's noise.
      if (ReadFrameHeader(natsMsg_GetData(msg), natsMsg_GetDataLength(msg), &frame) &&
          frame.kind == FrameKind::kHello)
        self->HandleControl(session, frame, natsMsg_GetReply(msg));
      else if (frame.from != session.id)
        ++session.foreign;
      std::vector<Publication> out;
      out.swap(self->outbox_);
      self->Publish(std::move(out));
    }
  }
  natsMsg_Destroy(msg);
}

void ConferenceSessions::OnMemberMessage(natsConnection*, natsSubscription*, natsMsg* msg,
                                         void* closure) {
  auto* self = static_cast<ConferenceSessions*>(closure);
  FrameHeader frame;
  if (!ReadFrameHeader(natsMsg_GetData(msg), natsMsg_GetDataLength(msg), &frame)) {
    natsMsg_Destroy(msg);
    return;
  }
  {
    MutexLock lock(self->mutex_);
    const auto it = self->by_id_.find(frame.to);
    if (it == self->by_id_.end()) {
      natsMsg_Destroy(msg);
      return;
    }
    Session& session = *it->second;
    const auto now = std::chrono::steady_clock::now();
    if (frame.kind == FrameKind::kData) {
      // Numbers only go up: anything at or below the last one is a replay.
      if (!session.pairing.AcceptFromPartner(frame.from, now) || frame.seq <= session.recv_seq) {
        ++session.foreign;
        natsMsg_Destroy(msg);
        return;
      }
      session.lost += frame.seq - session.recv_seq - 1;
      session.recv_seq = frame.seq;
      if (session.inbound.Push(msg, kFrameHeaderSize))
        self->AddNotice(session, {Notice::kRecv, 0, ""});
      return;
    }
    if (frame.kind == FrameKind::kHeartbeat) {
      if (!session.pairing.AcceptFromPartner(frame.from, now))
        ++session.foreign;
    } else {
      self->HandleControl(session, frame, natsMsg_GetReply(msg));
      std::vector<Publication> out;
      out.swap(self->outbox_);
      self->Publish(std::move(out));
    }
  }
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
      if (session->subscription)
        subscriptions.push_back(std::exchange(session->subscription, nullptr));
      stopped_.push_back(session);
    }
    by_handle_.clear();
    by_id_.clear();
    by_subject_.clear();
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

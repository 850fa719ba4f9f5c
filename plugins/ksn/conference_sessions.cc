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

// Messages kept before they are destroyed together (or at the next tick).
constexpr std::size_t kSpentBatch = 32;

PairingTiming TimingOf(const KsnSettings& settings) {
  PairingTiming timing;
  timing.heartbeat = std::chrono::milliseconds(settings.heartbeat_ms);
  timing.silence = std::chrono::milliseconds(settings.silence_ms);
  return timing;
}

}  // namespace

ConferenceSessions::ConferenceSessions(const KsnSettings& settings, NatsLink& link,
                                       WakeWindows& wakes)
    : settings_(settings), timing_(TimingOf(settings)), link_(link), wakes_(wakes) {
  MutexLock lock(mutex_);
  spent_.reserve(kSpentBatch * 2);
}

ConferenceSessions::~ConferenceSessions() {
  MutexLock lock(mutex_);
  DestroySpent(true);
}

void ConferenceSessions::DestroySpent(bool all) {
  if (spent_.size() < (all ? 1 : kSpentBatch))
    return;
  for (natsMsg* msg : spent_)
    natsMsg_Destroy(msg);
  spent_.clear();
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
      if (sub)
        link_.Drop(sub);
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
    if (sub)
      link_.Drop(sub);
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
    // The test hook: sealed, so the partner sees the gap in the counters, but never sent.
    if (settings_.drop_every > 0 && ++session.data_sent % settings_.drop_every == 0)
      return static_cast<std::int32_t>(length);
  }
  if (!link_.Send(nc, address, buffer.data(), static_cast<int>(buffer.size())))
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
  const std::size_t read = session.inbound.Read(buffer, room, &spent_);
  DestroySpent(false);
  return static_cast<std::int32_t>(read);
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

// ------------------------------------------------------------ time and the connection

void ConferenceSessions::Tick(std::chrono::steady_clock::time_point now, bool online) {
  std::vector<Publication> out;
  {
    MutexLock lock(mutex_);
    // Until cnats has told us it is back, the sessions are not yet rejoined.
    online = online && !offline_;
    for (auto& [handle, session] : by_handle_) {
      if (online) {
        std::vector<Outgoing> frames;
        const PairingEvent event = session->pairing.OnTick(now, &frames);
        Queue(*session, frames);
        ApplyEvent(*session, event);
      }
      if (session->rejoining && now >= session->rejoin_by)
        EndRejoin(*session, online);
      // Wakes that found a full queue are tried again.
      if (!session->notices.empty())
        wakes_.Wake(session->window);
      std::uint64_t count = 0;
      if (session->SummaryDue(now, &count))
        Log("dropped %llu message(s) that were not signed or sealed for a session",
            static_cast<unsigned long long>(count));
    }
    out.swap(outbox_);
    DestroySpent(true);
  }
  Publish(std::move(out));
}

void ConferenceSessions::Rejoin(Session& session, SteadyTime now) {
  session.pairing.Restart(now);
  session.cipher.Renew();
  Queue(session, {session.pairing.Hello(now)});
}

// Pairing again clears `rejoining`: a session still marked is closed, even
// one that looks paired because its connection never came back to say otherwise.
void ConferenceSessions::EndRejoin(Session& session, bool online) {
  session.rejoining = false;
  const Phase phase = session.pairing.phase();
  if (phase == Phase::kClosed || phase == Phase::kRefused)
    return;
  std::vector<Outgoing> frames;
  session.pairing.Close(&frames);
  if (online)
    Queue(session, frames);
  const char* text = online ? kPartnerGoneText : kConnectionLostText;
  Log("%s; closing a session", text);
  AddNotice(session, {Notice::kClose, online ? kPeerSilent : kConnectionLost, text});
}

// Every session rides on the connection: each is held for the grace period
// and closed only if it has not paired again by then.
void ConferenceSessions::OnConnectionLost() {
  const auto now = std::chrono::steady_clock::now();
  MutexLock lock(mutex_);
  if (stopping_ || offline_)
    return;
  offline_ = true;
  Log("lost the connection to the NATS server; holding %zu session(s) for %d ms", by_handle_.size(),
      settings_.grace_ms);
  for (auto& [handle, session] : by_handle_) {
    const Phase phase = session->pairing.phase();
    if (phase == Phase::kClosed || phase == Phase::kRefused)
      continue;
    if (!session->rejoining) {
      session->rejoining = true;
      session->rejoin_by = now + std::chrono::milliseconds(settings_.grace_ms);
    }
    session->generation_at_loss = session->pairing.generation();
  }
}

void ConferenceSessions::OnConnectionBack() {
  const auto now = std::chrono::steady_clock::now();
  std::vector<Publication> hello;
  {
    MutexLock lock(mutex_);
    if (stopping_ || !offline_)
      return;
    offline_ = false;
    Log("back on the NATS server; pairing %zu session(s) again", by_handle_.size());
    for (auto& [handle, session] : by_handle_) {
      const Phase phase = session->pairing.phase();
      if (phase == Phase::kClosed || phase == Phase::kRefused)
        continue;
      // One that never paired just goes on waiting.
      if (!session->told_connected)
        session->rejoining = false;
      // A partner that got here first has started the pairing over already.
      if (session->pairing.generation() == session->generation_at_loss)
        Rejoin(*session, now);
    }
    hello.swap(outbox_);
  }
  Publish(std::move(hello));
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

#include "ksn_core.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "external/ksn_exception.h"
#include "inbound_queue.h"
#include "ksn_errors.h"
#include "nats_connection_options.h"
#include "plat/message.h"
#include "wire_frame.h"

namespace ksn {
namespace {

constexpr auto kTickPeriod = std::chrono::milliseconds(100);
constexpr auto kReconnectPause = std::chrono::seconds(1);
constexpr auto kShutdownWait = std::chrono::seconds(5);
// Requests waiting for threads that do not pump are refused past this.
constexpr std::size_t kMaxPendingCalls = 256;

void Log(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "ksn: %s\n", line);
}

std::string StatusText(natsStatus status) {
  std::string text = natsStatus_GetText(status);
  const char* detail = nats_GetLastError(nullptr);
  if (detail && *detail && !std::strstr(detail, text.c_str()))
    text += std::string(" (") + detail + ")";
  return text;
}

[[noreturn]] void Throw(std::int32_t code, const char* text) {
  throw KSN::exception(text, code);
}

PairingTiming TimingOf(const KsnSettings& settings) {
  PairingTiming timing;
  timing.heartbeat = std::chrono::milliseconds(settings.heartbeat_ms);
  timing.silence = std::chrono::milliseconds(settings.silence_ms);
  return timing;
}

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

// The library's counted reference on a session's sink.
struct ReleaseSink {
  void operator()(KSN::ksnNotify* sink) const { sink->Release(); }
};
using SinkRef = std::unique_ptr<KSN::ksnNotify, ReleaseSink>;

SinkRef ShareSink(KSN::ksnNotify* sink) {
  if (sink)
    sink->AddRef();
  return SinkRef(sink);
}

}  // namespace

struct KsnCore::Session {
  Session(const std::string& h, std::uint64_t member, std::uint64_t session_id, plat::HWND w,
          KSN::ksnNotify* notify, const KsnSettings& settings, const PairingTiming& timing)
      : handle(h),
        subject(ConferenceSubject(h)),
        id(session_id),
        address(SessionAddress(member, session_id)),
        pairing(session_id, timing, std::chrono::steady_clock::now()),
        window(w),
        sink(ShareSink(notify)),
        inbound(settings.max_queued_bytes) {}

  const std::string handle;
  const std::string subject;
  const std::uint64_t id;
  const std::string address;
  SessionPairing pairing;
  const plat::HWND window;
  SinkRef sink;
  natsSubscription* subscription = nullptr;
  InboundQueue inbound;
  std::deque<Notice> notices;
  bool recv_noticed = false;
  bool removed = false;
  std::uint64_t send_seq = 0;
  std::uint64_t recv_seq = 0;
  std::uint64_t foreign = 0;
  std::uint64_t lost = 0;
};

KsnCore::KsnCore(const KsnSettings& settings)
    : settings_(settings), timing_(TimingOf(settings)), member_(RandomId()) {}

KsnCore::~KsnCore() = default;

void KsnCore::Start() {
  connector_ = std::thread([this] { ConnectLoop(); });
  ticker_ = std::thread([this] { TickLoop(); });
}

// ---------------------------------------------------------------- connection

// The first connection is made here, retried until it holds; from then on
// cnats reconnects by itself whenever the server goes away.
void KsnCore::ConnectLoop() {
  std::string error;
  NatsOptionsPtr options = MakeNatsOptions(settings_, &error);
  if (!options) {
    Log("cannot use the NATS settings: %s", error.c_str());
    return;
  }
  natsOptions_SetDisconnectedCB(options.get(), &KsnCore::OnDisconnected, this);
  natsOptions_SetReconnectedCB(options.get(), &KsnCore::OnReconnected, this);
  natsOptions_SetClosedCB(options.get(), &KsnCore::OnClosed, this);
  natsOptions_SetErrorHandler(options.get(), &KsnCore::OnError, this);
  std::string servers;
  for (const std::string& server : settings_.servers)
    servers += (servers.empty() ? "" : ",") + server;

  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    natsConnection* nc = nullptr;
    const natsStatus status = natsConnection_Connect(&nc, options.get());
    const std::string text = StatusText(status);
    lock.lock();
    if (status == NATS_OK) {
      nc_ = nc;
      connected_ = true;
      lock.unlock();
      natsSubscription* subs[] = {
          Subscribe(MemberAddressWildcard(member_), &KsnCore::OnMemberMessage),
          Subscribe(kRegistryListSubject, &KsnCore::OnListRequest),
          Subscribe(RegistrySubject(member_), &KsnCore::OnRegistryRequest)};
      lock.lock();
      for (natsSubscription* sub : subs) {
        if (sub)
          own_subscriptions_.push_back(sub);
      }
      subscribed_ = own_subscriptions_.size() == 3;
      if (!subscribed_)
        Log("cannot subscribe at %s", servers.c_str());
      SetConnected(connected_);
      return;
    }
    if (text != last_error_) {
      last_error_ = text;
      const bool refused = status == NATS_CONNECTION_AUTH_FAILED ||
                           text.find("uthorization") != std::string::npos ||
                           text.find("uthentication") != std::string::npos;
      if (refused)
        Log("the NATS server refused the login at %s: %s", servers.c_str(), text.c_str());
      else
        Log("cannot connect to %s: %s; trying again", servers.c_str(), text.c_str());
    }
    changed_.wait_for(lock, kReconnectPause, [this] { return stopping_; });
  }
}

natsSubscription* KsnCore::Subscribe(const std::string& subject, natsMsgHandler handler) {
  natsSubscription* sub = nullptr;
  if (natsConnection_Subscribe(&sub, nc_.load(), subject.c_str(), handler, this) != NATS_OK)
    return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (natsSubscription_SetOnCompleteCB(sub, &KsnCore::OnSubscriptionDone, this) == NATS_OK)
    ++live_subscriptions_;
  return sub;
}

void KsnCore::SetConnected(bool connected) {
  connected_ = connected;
  ready_ = connected_ && subscribed_ && !closed_;
}

void KsnCore::OnReconnected(natsConnection*, void* closure) {
  auto* self = static_cast<KsnCore*>(closure);
  std::lock_guard<std::mutex> lock(self->mutex_);
  self->SetConnected(true);
  self->last_error_.clear();
}

// Every session rides on the connection; none survives it.
void KsnCore::OnDisconnected(natsConnection*, void* closure) {
  auto* self = static_cast<KsnCore*>(closure);
  std::lock_guard<std::mutex> lock(self->mutex_);
  self->SetConnected(false);
  if (self->stopping_)
    return;
  Log("lost the connection to the NATS server; closing %zu session(s)", self->by_handle_.size());
  for (auto& [handle, session] : self->by_handle_) {
    const Phase phase = session->pairing.phase();
    if (phase == Phase::kClosed || phase == Phase::kRefused)
      continue;
    std::vector<Outgoing> ignored;  // nobody to say BYE to without a connection
    session->pairing.Close(&ignored);
    self->AddNotice(*session, {Notice::kClose, kConnectionLost, kConnectionLostText});
  }
}

void KsnCore::OnClosed(natsConnection* nc, void* closure) {
  auto* self = static_cast<KsnCore*>(closure);
  std::lock_guard<std::mutex> lock(self->mutex_);
  self->closed_ = true;
  self->SetConnected(false);
  if (!self->stopping_) {
    const char* text = nullptr;
    natsConnection_GetLastError(nc, &text);
    Log("the NATS connection closed for good: %s", text && *text ? text : "no reason given");
  }
  self->changed_.notify_all();
}

void KsnCore::OnError(natsConnection* nc, natsSubscription*, natsStatus status, void* closure) {
  auto* self = static_cast<KsnCore*>(closure);
  std::lock_guard<std::mutex> lock(self->mutex_);
  const char* detail = nullptr;
  natsConnection_GetLastError(nc, &detail);
  std::string text = natsStatus_GetText(status);
  if (detail && *detail)
    text += std::string(": ") + detail;
  if (text != self->last_error_ && !self->stopping_) {
    self->last_error_ = text;
    if (status == NATS_CONNECTION_AUTH_FAILED || status == NATS_NOT_PERMITTED)
      Log("the NATS server refused the login: %s", text.c_str());
    else
      Log("NATS error: %s", text.c_str());
  }
}

void KsnCore::OnSubscriptionDone(void* closure) {
  auto* self = static_cast<KsnCore*>(closure);
  std::lock_guard<std::mutex> lock(self->mutex_);
  --self->live_subscriptions_;
  self->changed_.notify_all();
}

// ------------------------------------------------------------------ shutdown

void KsnCore::Shutdown() {
  std::vector<std::shared_ptr<Session>> sessions;
  std::vector<plat::HWND> windows;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_)
      return;
    stopping_ = true;
    changed_.notify_all();
  }
  if (connector_.joinable())
    connector_.join();
  if (ticker_.joinable())
    ticker_.join();
  std::vector<Publication> byes;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [handle, session] : by_handle_) {
      std::vector<Outgoing> frames;
      session->pairing.Close(&frames);
      Queue(*session, frames);
      session->removed = true;
      session->inbound.Clear();
      sessions.push_back(session);
    }
    by_handle_.clear();
    by_id_.clear();
    by_subject_.clear();
    objects_.clear();
    calls_.clear();
    for (const auto& [thread, window] : windows_)
      windows.push_back(window);
    windows_.clear();
    wake_posted_.clear();
    byes.swap(outbox_);
  }
  Publish(std::move(byes));
  natsConnection* nc = nc_.load();
  if (nc) {
    if (natsConnection_Status(nc) == NATS_CONN_STATUS_CONNECTED)
      natsConnection_FlushTimeout(nc, 500);
    natsConnection_Close(nc);
    std::unique_lock<std::mutex> lock(mutex_);
    const bool quiet = changed_.wait_for(lock, kShutdownWait,
                                         [this] { return closed_ && live_subscriptions_ == 0; });
    if (quiet) {
      lock.unlock();
      for (const auto& session : sessions) {
        if (session->subscription)
          natsSubscription_Destroy(session->subscription);
      }
      for (natsSubscription* sub : own_subscriptions_)
        natsSubscription_Destroy(sub);
      natsConnection_Destroy(nc);
    } else {
      // cnats may still call us: better to keep this object for good than
      // to let it call into freed memory.
      Log("the NATS client did not stop in time; keeping its connection");
      keep_alive_ = shared_from_this();
    }
  }
  for (plat::HWND window : windows)
    ReleaseWakeWindow(window);
  for (const auto& session : sessions)
    session->sink.reset();
}

// ------------------------------------------------------------- owner threads

plat::HWND KsnCore::WindowForThisThread() {
  const plat::DWORD thread = plat::GetCurrentThreadId();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = windows_.find(thread);
    if (it != windows_.end())
      return it->second;
  }
  const plat::HWND window = CreateWakeWindow(weak_from_this());
  if (!window)
    return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  windows_[thread] = window;
  wake_posted_[window] = false;
  return window;
}

void KsnCore::Wake(plat::HWND window) {
  auto it = wake_posted_.find(window);
  if (it == wake_posted_.end() || it->second)
    return;
  // A full queue is tried again by the ticker.
  it->second = PostWake(window);
}

void KsnCore::AddNotice(Session& session, Notice notice) {
  if (notice.kind == Notice::kRecv) {
    if (session.recv_noticed)
      return;
    session.recv_noticed = true;
  }
  session.notices.push_back(std::move(notice));
  Wake(session.window);
}

void KsnCore::OnWake(plat::HWND window) {
  std::vector<std::pair<std::shared_ptr<Session>, Notice>> notices;
  std::vector<PendingCall> calls;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto posted = wake_posted_.find(window);
    if (posted != wake_posted_.end())
      posted->second = false;
    for (auto& [handle, session] : by_handle_) {
      if (session->window != window)
        continue;
      for (Notice& notice : session->notices) {
        if (notice.kind == Notice::kRecv)
          session->recv_noticed = false;
        notices.emplace_back(session, std::move(notice));
      }
      session->notices.clear();
    }
    for (auto it = calls_.begin(); it != calls_.end();) {
      if (it->window == window) {
        calls.push_back(std::move(*it));
        it = calls_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& [session, notice] : notices)
    Deliver(session, notice);
  for (const PendingCall& call : calls)
    RunCall(call);
}

// The sink may close the session (or others) from inside any notification,
// so each one checks again that its session is still open.
void KsnCore::Deliver(const std::shared_ptr<Session>& session, const Notice& notice) {
  SinkRef sink;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (session->removed)
      return;
    sink = ShareSink(session->sink.get());
  }
  if (!sink)
    return;
  try {
    switch (notice.kind) {
      case Notice::kConnect:
        sink->notifyConnect(notice.code, notice.text.c_str(), session->handle);
        break;
      case Notice::kRecv:
        sink->notifyRecv(session->handle);
        break;
      case Notice::kClose:
        sink->notifyClose(notice.code, notice.text.c_str(), session->handle);
        break;
    }
  } catch (const std::exception& e) {
    Log("a notification for %s threw: %s", session->handle.c_str(), e.what());
  } catch (...) {
    Log("a notification for %s threw", session->handle.c_str());
  }
}

// ------------------------------------------------------------------ sessions

std::shared_ptr<KsnCore::Session> KsnCore::Find(const std::string& handle) {
  const auto it = by_handle_.find(handle);
  if (it == by_handle_.end())
    Throw(kUnknownHandle, "unknown session handle");
  return it->second;
}

void KsnCore::OpenSession(const std::string& handle, KSN::ksnNotify* sink) {
  if (handle.empty() || handle.size() > kMaxHandleLength || !sink)
    Throw(kBadArgument, "bad argument");
  if (!IsReady())
    Throw(kNotReady, "not connected to the NATS server");
  const plat::HWND window = WindowForThisThread();
  if (!window)
    Throw(kNoWindow, "cannot reach the calling thread");
  std::shared_ptr<Session> session;
  {
    std::lock_guard<std::mutex> lock(mutex_);
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
  natsSubscription* sub = Subscribe(session->subject, &KsnCore::OnConferenceMessage);
  std::vector<Publication> hello;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!sub) {
      by_handle_.erase(handle);
      by_id_.erase(session->id);
      by_subject_.erase(session->subject);
      session->removed = true;
      Throw(kSubscribeFailed, "subscription failed");
    }
    session->subscription = sub;
    Queue(*session, {session->pairing.Hello(std::chrono::steady_clock::now())});
    hello.swap(outbox_);
  }
  Publish(std::move(hello));
}

void KsnCore::CloseSession(const std::string& handle) {
  std::shared_ptr<Session> session;
  natsSubscription* sub = nullptr;
  SinkRef sink;
  std::vector<Publication> bye;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session = Find(handle);
    by_handle_.erase(handle);
    by_id_.erase(session->id);
    by_subject_.erase(session->subject);
    session->removed = true;
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

bool KsnCore::IsConnected(const std::string& handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Find(handle)->pairing.phase() == Phase::kPaired;
}

std::int32_t KsnCore::Send(const std::string& handle, const void* data, std::uint32_t length) {
  if (!data && length)
    Throw(kBadArgument, "bad argument");
  natsConnection* nc = nc_.load();
  // Live video is not kept for a connection that may come back: while there
  // is none, the message is refused. (cnats is asked outside our lock.)
  const bool online = nc && natsConnection_Status(nc) == NATS_CONN_STATUS_CONNECTED;
  const std::int64_t room = online ? natsConnection_GetMaxPayload(nc) : 0;
  std::string address;
  FrameHeader header;
  header.kind = FrameKind::kData;
  {
    std::lock_guard<std::mutex> lock(mutex_);
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

std::int32_t KsnCore::Recv(const std::string& handle, void* buffer, std::uint32_t capacity) {
  if (!buffer && capacity)
    Throw(kBadArgument, "bad argument");
  std::lock_guard<std::mutex> lock(mutex_);
  Session& session = *Find(handle);
  const std::size_t room = capacity > INT32_MAX ? INT32_MAX : capacity;
  return static_cast<std::int32_t>(session.inbound.Read(buffer, room));
}

SessionStats KsnCore::Stats(const std::string& handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Session& session = *Find(handle);
  return {session.inbound.dropped(), session.foreign, session.lost};
}

// -------------------------------------------------------------- the protocol

void KsnCore::Queue(const Session& session, const std::vector<Outgoing>& frames) {
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

void KsnCore::Publish(std::vector<Publication> frames) {
  natsConnection* nc = nc_.load();
  if (!nc)
    return;
  for (const Publication& frame : frames)
    natsConnection_PublishRequest(nc, frame.subject.c_str(), frame.reply.c_str(),
                                  frame.bytes.data(), static_cast<int>(frame.bytes.size()));
}

void KsnCore::ApplyEvent(Session& session, PairingEvent event) {
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
void KsnCore::HandleControl(Session& session, const FrameHeader& frame, const char* reply) {
  std::vector<Outgoing> frames;
  bool foreign = false;
  const PairingEvent event =
      session.pairing.OnFrame(frame, reply, std::chrono::steady_clock::now(), &frames, &foreign);
  if (foreign)
    ++session.foreign;
  Queue(session, frames);
  ApplyEvent(session, event);
}

void KsnCore::OnConferenceMessage(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
  auto* self = static_cast<KsnCore*>(closure);
  std::vector<Publication> out;
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
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
      out.swap(self->outbox_);
      self->Publish(std::move(out));
    }
  }
  natsMsg_Destroy(msg);
}

void KsnCore::OnMemberMessage(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
  auto* self = static_cast<KsnCore*>(closure);
  std::vector<Publication> out;
  FrameHeader frame;
  if (!ReadFrameHeader(natsMsg_GetData(msg), natsMsg_GetDataLength(msg), &frame)) {
    natsMsg_Destroy(msg);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
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
      out.swap(self->outbox_);
      self->Publish(std::move(out));
    }
  }
  natsMsg_Destroy(msg);
}

void KsnCore::TickLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!changed_.wait_for(lock, kTickPeriod, [this] { return stopping_; })) {
    const auto now = std::chrono::steady_clock::now();
    if (ready_) {
      for (auto& [handle, session] : by_handle_) {
        std::vector<Outgoing> frames;
        const PairingEvent event = session->pairing.OnTick(now, &frames);
        Queue(*session, frames);
        ApplyEvent(*session, event);
      }
    }
    // Wakes that found a full queue are tried again.
    for (auto& [handle, session] : by_handle_) {
      if (!session->notices.empty())
        Wake(session->window);
    }
    for (const PendingCall& call : calls_)
      Wake(call.window);
    std::vector<Publication> out;
    out.swap(outbox_);
    lock.unlock();
    Publish(std::move(out));
    lock.lock();
  }
}

// ------------------------------------------------------------------ registry

void KsnCore::RegisterObject(const char* path, ksn::object* object) {
  if (!path || !*path || !object)
    return;
  const plat::HWND window = WindowForThisThread();
  if (!window) {
    Log("cannot register %s: no window on this thread", path);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  objects_[path] = {object, window};
}

void KsnCore::UnregisterObject(const char* path) {
  if (!path)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  objects_.erase(path);
}

void KsnCore::Reply(const std::string& subject, const RegistryReply& reply) {
  natsConnection* nc = nc_.load();
  const std::string text = FormatReply(reply);
  if (nc && !subject.empty())
    natsConnection_Publish(nc, subject.c_str(), text.data(), static_cast<int>(text.size()));
}

void KsnCore::OnListRequest(natsConnection* nc, natsSubscription*, natsMsg* msg, void* closure) {
  auto* self = static_cast<KsnCore*>(closure);
  PeerListing listing;
  listing.member = HexId(self->member_);
  listing.host = HostName();
  listing.pid = static_cast<long>(getpid());
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    for (const auto& [path, object] : self->objects_)
      listing.objects.push_back(path);
  }
  listing.objects.push_back(kControlObjectPath);
  const std::string text = FormatListing(listing);
  if (natsMsg_GetReply(msg))
    natsConnection_Publish(nc, natsMsg_GetReply(msg), text.data(), static_cast<int>(text.size()));
  natsMsg_Destroy(msg);
}

// The object is called on its own thread: the request waits there.
void KsnCore::OnRegistryRequest(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
  auto* self = static_cast<KsnCore*>(closure);
  PendingCall call;
  call.reply_to = natsMsg_GetReply(msg) ? natsMsg_GetReply(msg) : "";
  const bool readable = ParseRequest(
      natsMsg_GetData(msg), static_cast<std::size_t>(natsMsg_GetDataLength(msg)), &call.request);
  natsMsg_Destroy(msg);
  if (!readable) {
    self->Reply(call.reply_to, {false, kBadRequest, "unreadable request"});
    return;
  }
  if (call.request.path == kControlObjectPath) {
    self->Reply(call.reply_to, self->AnswerForControl(call.request));
    return;
  }
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    const auto it = self->objects_.find(call.request.path);
    if (it != self->objects_.end() && self->calls_.size() < kMaxPendingCalls) {
      call.window = it->second.window;
      self->calls_.push_back(call);
      self->Wake(call.window);
      return;
    }
  }
  self->Reply(call.reply_to,
              {false, kUnknownObject,
               "no object at " + call.request.path + " (or too many requests waiting for it)"});
}

// The library's own object holds no host code, so it answers at once.
RegistryReply KsnCore::AnswerForControl(const RegistryRequest& request) {
  if (request.is_set || request.key != "sessions")
    return {false, KSN::kUnsupportedCode, "unsupported"};
  static constexpr const char* kPhases[] = {"waiting", "proposing", "paired", "refused", "closed"};
  std::string text;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [handle, session] : by_handle_) {
    text += handle + " " + kPhases[static_cast<int>(session->pairing.phase())] +
            " dropped_full=" + std::to_string(session->inbound.dropped()) +
            " dropped_foreign=" + std::to_string(session->foreign) +
            " lost=" + std::to_string(session->lost) + "\r\n";
  }
  return {true, 0, text};
}

void KsnCore::RunCall(const PendingCall& call) {
  ksn::object* object = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = objects_.find(call.request.path);
    if (it != objects_.end() && it->second.window == call.window)
      object = it->second.object;
  }
  RegistryReply reply{false, kUnknownObject, "no object at " + call.request.path};
  if (object) {
    try {
      if (call.request.is_set) {
        object->Set(call.request.key.c_str(), call.request.value);
        reply = {true, 0, ""};
      } else {
        reply = {true, 0, object->Get(call.request.key.c_str())};
      }
    } catch (const KSN::exception& e) {
      reply = {false, e.error_code, e.what()};
    } catch (const std::exception& e) {
      reply = {false, kObjectFailed, e.what()};
    } catch (...) {
      reply = {false, kObjectFailed, "unknown failure"};
    }
  }
  Reply(call.reply_to, reply);
}

}  // namespace ksn

#include "ksn_core.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "conference_keys.h"
#include "external/ksn_exception.h"
#include "ksn_errors.h"
#include "ksn_log.h"
#include "wire_frame.h"

namespace ksn {
namespace {

// Heartbeats are the finest thing the ticker times (silence, HELLOs and
// grace periods are coarser): twice a heartbeat period is enough.
std::chrono::milliseconds TickPeriodOf(const KsnSettings& settings) {
  return std::chrono::milliseconds(std::max(10, settings.heartbeat_ms / 2));
}

std::unique_ptr<ConsoleDoor> OpenConsole(const KsnSettings& settings) {
  std::string error;
  std::unique_ptr<ConsoleDoor> door = ConsoleDoor::Open(settings, &error);
  if (!error.empty())
    Log("%s; the console stays off the bus", error.c_str());
  return door;
}

}  // namespace

KsnCore::KsnCore(const KsnSettings& settings)
    : member_((SodiumReady(), RandomId())),
      tick_period_(TickPeriodOf(settings)),
      link_(settings, &sessions_),
      sessions_(settings, link_, wakes_),
      registry_(
          member_, link_, wakes_,
          [this](const RegistryRequest& request) -> RegistryReply {
            // The library's own object holds no host code, so it answers at once.
            if (request.is_set || request.key != "sessions")
              return {false, KSN::kUnsupportedCode, "unsupported"};
            return {true, 0, sessions_.Describe()};
          },
          OpenConsole(settings)) {}

KsnCore::~KsnCore() = default;

void KsnCore::Start() {
  link_.Start(registry_.Subscriptions());
  ticker_ = std::thread([this] { TickLoop(); });
}

void KsnCore::TickLoop() {
  MutexLock lock(mutex_);
  while (
      !changed_.wait_for(lock, tick_period_, [this]() VC_REQUIRES(mutex_) { return stopping_; })) {
    lock.unlock();
    sessions_.Tick(std::chrono::steady_clock::now(), link_.ready());
    registry_.RetryWakes();
    lock.lock();
  }
}

void KsnCore::Shutdown() {
  {
    MutexLock lock(mutex_);
    if (stopping_)
      return;
    stopping_ = true;
    changed_.notify_all();
  }
  link_.StopConnecting();
  if (ticker_.joinable())
    ticker_.join();
  const std::vector<natsSubscription*> subscriptions = sessions_.Stop();
  registry_.Clear();
  const std::vector<plat::HWND> windows = wakes_.TakeAll();
  // cnats may still call us: better to keep this object for good than to
  // let it call into freed memory.
  if (!link_.Close(subscriptions))
    keep_alive_ = shared_from_this();
  for (plat::HWND window : windows)
    ReleaseWakeWindow(window);
  sessions_.ReleaseSinks();
}

bool KsnCore::IsReady() {
  if (link_.ready())
    return true;
  // The host asks because it needs the network: from now on it hears why
  // there is none.
  link_.ReportFailures();
  return link_.ready();
}

void KsnCore::OpenSession(const std::string& handle, KSN::ksnNotify* sink) {
  if (handle.empty() || handle.size() > kMaxHandleLength || !sink)
    throw KSN::exception("bad argument", kBadArgument);
  if (!IsReady())
    throw KSN::exception("not connected to the NATS server", kNotReady);
  const plat::HWND window = wakes_.ForThisThread(weak_from_this());
  if (!window)
    throw KSN::exception("cannot reach the calling thread", kNoWindow);
  sessions_.Open(handle, sink, window);
}

void KsnCore::RegisterObject(const char* path, ksn::object* object) {
  if (!path || !*path || !object)
    return;
  const plat::HWND window = wakes_.ForThisThread(weak_from_this());
  if (!window) {
    Log("cannot register %s: no window on this thread", path);
    return;
  }
  registry_.Register(path, object, window);
}

void KsnCore::UnregisterObject(const char* path) {
  if (path)
    registry_.Unregister(path);
}

void KsnCore::OnWake(plat::HWND window) {
  wakes_.Woken(window);
  sessions_.Deliver(window);
  registry_.RunCalls(window);
}

}  // namespace ksn

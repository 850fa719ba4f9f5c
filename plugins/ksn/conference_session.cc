#include "conference_session.h"

#include <chrono>
#include <exception>
#include <utility>

#include "ksn_log.h"
#include "wire_frame.h"

namespace ksn {

SinkRef ShareSink(KSN::ksnNotify* sink) {
  if (sink)
    sink->AddRef();
  return SinkRef(sink);
}

ConferenceSession::ConferenceSession(const std::string& h, std::uint64_t session_id, plat::HWND w,
                                     KSN::ksnNotify* notify, const KsnSettings& settings,
                                     const PairingTiming& timing)
    : handle(h),
      keys(h),
      id(session_id),
      address(NewSessionAddress()),
      pairing(session_id, timing, std::chrono::steady_clock::now()),
      window(w),
      sink(ShareSink(notify)),
      inbound(settings.max_queued_bytes) {}

bool ConferenceSession::AddNotice(Notice notice) {
  if (notice.kind == Notice::kRecv) {
    if (recv_noticed)
      return false;
    recv_noticed = true;
  }
  notices.push_back(std::move(notice));
  return true;
}

std::vector<Notice> ConferenceSession::TakeNotices() {
  recv_noticed = false;
  std::vector<Notice> taken;
  taken.swap(notices);
  return taken;
}

std::string ConferenceSession::Describe() const {
  static constexpr const char* kPhases[] = {"waiting", "proposing", "paired", "refused", "closed"};
  return handle + " " + kPhases[static_cast<int>(pairing.phase())] +
         " dropped_full=" + std::to_string(inbound.dropped()) +
         " dropped_foreign=" + std::to_string(foreign) + " lost=" + std::to_string(lost) +
         " dropped_unopened=" + std::to_string(unopened) +
         " dropped_replayed=" + std::to_string(replayed);
}

bool ConferenceSession::CountUnopened(SteadyTime now, std::uint64_t* count) {
  ++unopened;
  ++unopened_unlogged;
  return SummaryDue(now, count);
}

bool ConferenceSession::SummaryDue(SteadyTime now, std::uint64_t* count) {
  if (unopened_unlogged == 0 || now - unopened_logged < std::chrono::seconds(1))
    return false;
  *count = std::exchange(unopened_unlogged, 0);
  unopened_logged = now;
  return true;
}

void NotifySink(KSN::ksnNotify* sink, const std::string& handle, const Notice& notice) {
  try {
    switch (notice.kind) {
      case Notice::kConnect:
        sink->notifyConnect(notice.code, notice.text.c_str(), handle);
        break;
      case Notice::kRecv:
        sink->notifyRecv(handle);
        break;
      case Notice::kClose:
        sink->notifyClose(notice.code, notice.text.c_str(), handle);
        break;
    }
  } catch (const std::exception& e) {
    Log("a notification for %s threw: %s", handle.c_str(), e.what());
  } catch (...) {
    Log("a notification for %s threw", handle.c_str());
  }
}

}  // namespace ksn

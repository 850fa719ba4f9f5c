// One session's state: its names on the bus, its pairing, what waits for its
// owner thread and what it has dropped. Not locked: the session table keeps
// every session under its own lock.
#pragma once

#include <nats/nats.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "external/ksn_notify.h"
#include "inbound_queue.h"
#include "ksn_settings.h"
#include "plat/types.h"
#include "session_pairing.h"

namespace ksn {

// What a session has thrown away, for operators and tests.
struct SessionStats {
  std::uint64_t dropped_full = 0;     // whole messages dropped: the owner did not keep up
  std::uint64_t dropped_foreign = 0;  // frames from someone other than the partner
  std::uint64_t lost_in_transit = 0;  // gaps in the partner's numbering
};

// The library's counted reference on a session's sink.
struct ReleaseSink {
  void operator()(KSN::ksnNotify* sink) const { sink->Release(); }
};
using SinkRef = std::unique_ptr<KSN::ksnNotify, ReleaseSink>;
SinkRef ShareSink(KSN::ksnNotify* sink);

// A notification waiting for the session's owner thread.
struct Notice {
  enum Kind { kConnect, kRecv, kClose } kind;
  std::uint32_t code;
  std::string text;
};

struct ConferenceSession {
  ConferenceSession(const std::string& handle, std::uint64_t member, std::uint64_t id,
                    plat::HWND window, KSN::ksnNotify* sink, const KsnSettings& settings,
                    const PairingTiming& timing);

  // Queues `notice` (one data notice at a time); true when the owner needs waking.
  bool AddNotice(Notice notice);
  // Hands everything queued to the caller, in order.
  std::vector<Notice> TakeNotices();
  SessionStats Stats() const { return {inbound.dropped(), foreign, lost}; }
  // "<handle> <phase> dropped_full=.. dropped_foreign=.. lost=..".
  std::string Describe() const;

  const std::string handle;
  const std::string subject;
  const std::uint64_t id;
  const std::string address;
  SessionPairing pairing;
  const plat::HWND window;
  SinkRef sink;
  natsSubscription* subscription = nullptr;
  InboundQueue inbound;
  std::vector<Notice> notices;
  bool recv_noticed = false;
  bool removed = false;
  std::uint64_t send_seq = 0;
  std::uint64_t recv_seq = 0;
  std::uint64_t foreign = 0;
  std::uint64_t lost = 0;
};

// Calls the sink; whatever it throws is logged, never passed on.
void NotifySink(KSN::ksnNotify* sink, const std::string& handle, const Notice& notice);

}  // namespace ksn

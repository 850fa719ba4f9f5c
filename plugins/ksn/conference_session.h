// One session's state: its names on the bus, its pairing, what waits for its
// owner thread and what it has dropped. Not locked: the session table keeps
// every session under its own lock.
#pragma once

#include <nats/nats.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "conference_keys.h"
#include "external/ksn_notify.h"
#include "inbound_queue.h"
#include "ksn_settings.h"
#include "plat/types.h"
#include "session_cipher.h"
#include "session_pairing.h"

namespace ksn {

// What a session has thrown away, for operators and tests.
struct SessionStats {
  std::uint64_t dropped_full = 0;      // whole messages dropped: the owner did not keep up
  std::uint64_t dropped_foreign = 0;   // authentic frames from someone other than the partner
  std::uint64_t lost_in_transit = 0;   // gaps in the partner's numbering
  std::uint64_t dropped_unopened = 0;  // messages that were not sealed or signed for this session
  std::uint64_t dropped_replayed = 0;  // sealed messages that opened but had been seen before
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
  ConferenceSession(const std::string& handle, std::uint64_t id, plat::HWND window,
                    KSN::ksnNotify* sink, const KsnSettings& settings, const PairingTiming& timing);

  // Queues `notice` (one data notice at a time); true when the owner needs waking.
  bool AddNotice(Notice notice);
  // Hands everything queued to the caller, in order.
  std::vector<Notice> TakeNotices();
  SessionStats Stats() const { return {inbound.dropped(), foreign, lost, unopened, replayed}; }
  // "<handle> <phase> dropped_full=.. dropped_foreign=.. lost=.. dropped_unopened=..
  // dropped_replayed=..".
  std::string Describe() const;
  // Counts a message that did not open; true when a summary is due (at most
  // once a second), with the count since the last one in *count.
  bool CountUnopened(SteadyTime now, std::uint64_t* count);
  // A summary still owed for drops of the last second.
  bool SummaryDue(SteadyTime now, std::uint64_t* count);

  const std::string handle;
  const ConferenceKeys keys;
  const std::uint64_t id;
  const std::string address;  // our inbox: random, tied to nothing
  SessionPairing pairing;
  SessionCipher cipher;
  const plat::HWND window;
  SinkRef sink;
  natsSubscription* subscription = nullptr;  // the conference subject
  natsSubscription* inbox = nullptr;         // our address
  InboundQueue inbound;
  std::vector<Notice> notices;
  bool recv_noticed = false;
  bool removed = false;
  bool legacy_noticed = false;
  bool told_connected = false;  // the sink heard notifyConnect(0): pairing again is silent
  // Set while the connection or the partner is gone: closed unless paired again by then.
  bool rejoining = false;
  SteadyTime rejoin_by{};
  std::uint32_t generation_at_loss = 0;
  std::uint64_t data_sent = 0;  // for the loss hook of tests
  std::uint64_t foreign = 0;
  std::uint64_t lost = 0;
  std::uint64_t unopened = 0;
  std::uint64_t replayed = 0;
  std::uint64_t unopened_unlogged = 0;
  SteadyTime unopened_logged{};
};

// Calls the sink; whatever it throws is logged, never passed on.
void NotifySink(KSN::ksnNotify* sink, const std::string& handle, const Notice& notice);

}  // namespace ksn

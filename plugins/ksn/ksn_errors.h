// The codes this library reports: as KSN::exception error codes from the
// session calls, and as the code of notifyConnect and notifyClose.
#pragma once

#include <cstdint>

namespace ksn {

// notifyConnect / notifyClose codes (0 in notifyConnect: connected).
enum SessionCode : std::uint32_t {
  kSessionFull = 1,   // notifyConnect: two members already hold the handle
  kClosedByPeer = 2,  // notifyClose: the other member closed the session
  kPeerSilent = 3,    // notifyClose: no sign of the other member for a while
  kConnectionLost =
      4,  // notifyClose: the connection to the NATS server broke for longer than the grace period
  kOldFraming = 5,  // notifyConnect: a member on the framing before sealing was refused
};

// kSessionFull comes as notifyConnect and then notifyClose, so that the host
// stops waiting at once.
inline constexpr char kSessionFullText[] = "the conference already has two members";
inline constexpr char kOldFramingText[] =
    "refused a member on an older framing (version 1): both members need this version";
inline constexpr char kClosedByPeerText[] = "closed by the other member";
inline constexpr char kPeerSilentText[] = "the other member went silent";
inline constexpr char kConnectionLostText[] =
    "connection to the NATS server lost for longer than the grace period";
inline constexpr char kPartnerGoneText[] =
    "the other member did not come back within the grace period";

// KSN::exception codes thrown by OpenSession, CloseSession, Send, Recv and
// IsConnected. 5013 (unsupported) is the diagnostic objects' own.
enum ExceptionCode : std::int32_t {
  kUnknownHandle = 4001,    // "unknown session handle": no open session by that handle
  kHandleInUse = 4002,      // "session handle already open": OpenSession twice on one control
  kNotReady = 4003,         // "not connected to the NATS server": OpenSession while not ready
  kBadArgument = 4004,      // "bad argument": empty or over-long handle, null sink or buffer
  kTooLarge = 4005,         // "message too large": Send past the server's payload limit
  kNoWindow = 4006,         // "cannot reach the calling thread": its notify window failed
  kSubscribeFailed = 4007,  // "subscription failed": the server connection refused it
};

// Error codes of registry replies (beside the objects' own KSN::exception codes).
enum RegistryCode : std::int32_t {
  kUnknownObject = 4010,  // no object registered at the path
  kBadRequest = 4011,     // the request text could not be read
  kObjectFailed = 4012,   // the object threw something other than KSN::exception
};

}  // namespace ksn

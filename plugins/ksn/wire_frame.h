// What members of a conference say to each other over NATS: a fixed header
// before each message, and the subjects they say it on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ksn {

enum class FrameKind : std::uint8_t {
  kHello = 1,      // broadcast: a member waits for a partner (reply = its address)
  kPropose = 2,    // the lower id asks a waiting member to pair
  kAccept = 3,     // the pair is made
  kBusy = 4,       // asked while asking someone else: try again later
  kFull = 5,       // the conference already has its two members
  kBye = 6,        // the sender closed its end
  kHeartbeat = 7,  // a paired member is alive
  kData = 8,       // one Send, whole; seq counts from 1 per direction
};

// Little-endian: 'K', kind, version (u16), from, to, seq (u64 each).
inline constexpr std::size_t kFrameHeaderSize = 28;
inline constexpr std::uint16_t kFrameVersion = 1;

struct FrameHeader {
  FrameKind kind = FrameKind::kHello;
  std::uint64_t from = 0;  // the sender's session id
  std::uint64_t to = 0;    // the addressee's session id, 0 for broadcasts
  std::uint64_t seq = 0;
};

void WriteFrameHeader(const FrameHeader& header, unsigned char* out);
// False for anything that is not a header of this version with a known kind.
bool ReadFrameHeader(const void* data, std::size_t length, FrameHeader* header);

// Handles become one subject token: letters, digits, '-' and '_' stay, every
// other byte is written %XX. Handles longer than this are refused.
inline constexpr std::size_t kMaxHandleLength = 256;
std::string ConferenceSubject(const std::string& handle);

// A member's sessions are addressed at ksn.d.<member>.<session>; the member
// subscribes once to ksn.d.<member>.*.
std::string MemberAddressWildcard(std::uint64_t member);
std::string SessionAddress(std::uint64_t member, std::uint64_t session);
// Addresses that peers hand us must look like ours before we publish to them.
bool IsSessionAddress(const char* subject);

// The diagnostic registry: ksn.r.list asks every member; ksn.r.<member> one.
inline constexpr char kRegistryListSubject[] = "ksn.r.list";
std::string RegistrySubject(std::uint64_t member);

std::string HexId(std::uint64_t id);
// A random, non-zero id.
std::uint64_t RandomId();

}  // namespace ksn

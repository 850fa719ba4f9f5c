// What members of a conference say to each other over NATS, and the
// subjects they say it on. Version 2: pairing messages carry an ephemeral
// public key and a MAC made with a key only the conference's members hold;
// everything after pairing travels sealed.
//
// Pairing message, 84 bytes, little-endian:
//   'K', kind, version (u16), from (u64), to (u64), key (32), mac (32)
// Sealed message, 29 bytes and the payload:
//   'K', kSealed, version (u16), counter (u64), tag (16), then encrypted:
//   inner kind (1), payload
#pragma once

#include <array>
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
  kBye = 6,        // the sender closed its end (sealed once paired)
  kHeartbeat = 7,  // sealed only: a paired member is alive
  kData = 8,       // sealed only: one Send, whole
  kSealed = 9,     // the envelope of the three above
};

inline constexpr std::uint16_t kFrameVersion = 2;
// The framing before sealing: a 28-byte header of kind, ids and sequence.
inline constexpr std::uint16_t kLegacyFrameVersion = 1;
inline constexpr std::size_t kLegacyHeaderSize = 28;

inline constexpr std::size_t kPublicKeySize = 32;
inline constexpr std::size_t kMacSize = 32;
using PublicKey = std::array<unsigned char, kPublicKeySize>;

inline constexpr std::size_t kPairingFrameSize = 84;
// The part of a pairing message its MAC covers (all but the MAC).
inline constexpr std::size_t kPairingSignedSize = kPairingFrameSize - kMacSize;

struct FrameHeader {
  FrameKind kind = FrameKind::kHello;
  std::uint64_t from = 0;  // the sender's session id
  std::uint64_t to = 0;    // the addressee's session id, 0 for broadcasts
  PublicKey key{};         // the sender's ephemeral public key
};

// Writes the first kPairingSignedSize bytes; the MAC follows them.
void WritePairingFrame(const FrameHeader& header, unsigned char* out);
// False for anything but a whole pairing message of this version.
bool ReadPairingFrame(const void* data, std::size_t length, FrameHeader* header);

inline constexpr std::size_t kSealedHeaderSize = 12;
inline constexpr std::size_t kSealTagSize = 16;
// Header, tag and inner kind: where the payload starts.
inline constexpr std::size_t kSealedOverhead = kSealedHeaderSize + kSealTagSize + 1;

void WriteSealedHeader(std::uint64_t counter, unsigned char* out);
// False for anything but a sealed message of this version with room for its tag and kind.
bool ReadSealedHeader(const void* data, std::size_t length, std::uint64_t* counter);

// Which framing a message says it is in: a member that still speaks the old
// one is told apart from noise.
enum class Framing { kCurrent, kLegacy, kUnknown };
Framing FramingOf(const void* data, std::size_t length);

// Each session is addressed at ksn.s.<32 hex>, random and tied to nothing.
std::string NewSessionAddress();
// Addresses that peers hand us must look like ours before we publish to them.
bool IsSessionAddress(const char* subject);

// The diagnostic registry: ksn.r.list asks every member; ksn.r.<member> one.
inline constexpr char kRegistryListSubject[] = "ksn.r.list";
std::string RegistrySubject(std::uint64_t member);

std::string HexId(std::uint64_t id);
// A random, non-zero id.
std::uint64_t RandomId();

}  // namespace ksn

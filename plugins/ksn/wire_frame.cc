#include "wire_frame.h"

#include <sodium.h>

#include <cstring>

namespace ksn {
namespace {

constexpr char kAddressPrefix[] = "ksn.s.";
constexpr std::size_t kAddressPrefixSize = sizeof kAddressPrefix - 1;
constexpr std::size_t kAddressRandomBytes = 16;

void PutLE(std::uint64_t value, int bytes, unsigned char* out) {
  for (int i = 0; i < bytes; ++i)
    out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint64_t GetLE(const unsigned char* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i)
    value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
  return value;
}

bool IsLowerHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

void WritePairingFrame(const FrameHeader& header, unsigned char* out) {
  out[0] = 'K';
  out[1] = static_cast<unsigned char>(header.kind);
  PutLE(kFrameVersion, 2, out + 2);
  PutLE(header.from, 8, out + 4);
  PutLE(header.to, 8, out + 12);
  std::memcpy(out + 20, header.key.data(), kPublicKeySize);
}

bool ReadPairingFrame(const void* data, std::size_t length, FrameHeader* header) {
  if (!data || length != kPairingFrameSize)
    return false;
  const auto* in = static_cast<const unsigned char*>(data);
  if (in[0] != 'K' || GetLE(in + 2, 2) != kFrameVersion)
    return false;
  if (in[1] < static_cast<unsigned char>(FrameKind::kHello) ||
      in[1] > static_cast<unsigned char>(FrameKind::kBye))
    return false;
  header->kind = static_cast<FrameKind>(in[1]);
  header->from = GetLE(in + 4, 8);
  header->to = GetLE(in + 12, 8);
  std::memcpy(header->key.data(), in + 20, kPublicKeySize);
  return header->from != 0;
}

void WriteSealedHeader(std::uint64_t counter, unsigned char* out) {
  out[0] = 'K';
  out[1] = static_cast<unsigned char>(FrameKind::kSealed);
  PutLE(kFrameVersion, 2, out + 2);
  PutLE(counter, 8, out + 4);
}

bool ReadSealedHeader(const void* data, std::size_t length, std::uint64_t* counter) {
  if (!data || length < kSealedOverhead)
    return false;
  const auto* in = static_cast<const unsigned char*>(data);
  if (in[0] != 'K' || in[1] != static_cast<unsigned char>(FrameKind::kSealed) ||
      GetLE(in + 2, 2) != kFrameVersion)
    return false;
  *counter = GetLE(in + 4, 8);
  return true;
}

Framing FramingOf(const void* data, std::size_t length) {
  if (!data || length < 4 || static_cast<const unsigned char*>(data)[0] != 'K')
    return Framing::kUnknown;
  const std::uint64_t version = GetLE(static_cast<const unsigned char*>(data) + 2, 2);
  if (version == kFrameVersion)
    return Framing::kCurrent;
  if (version == kLegacyFrameVersion && length >= kLegacyHeaderSize)
    return Framing::kLegacy;
  return Framing::kUnknown;
}

std::string NewSessionAddress() {
  unsigned char random[kAddressRandomBytes];
  randombytes_buf(random, sizeof random);
  char hex[2 * kAddressRandomBytes + 1];
  sodium_bin2hex(hex, sizeof hex, random, sizeof random);
  return kAddressPrefix + std::string(hex);
}

bool IsSessionAddress(const char* subject) {
  if (!subject || std::strlen(subject) != kAddressPrefixSize + 2 * kAddressRandomBytes ||
      std::strncmp(subject, kAddressPrefix, kAddressPrefixSize) != 0)
    return false;
  for (std::size_t i = kAddressPrefixSize; subject[i]; ++i) {
    if (!IsLowerHex(subject[i]))
      return false;
  }
  return true;
}

std::string HexId(std::uint64_t id) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, id >>= 4)
    text[i] = kHex[id & 15];
  return text;
}

std::uint64_t RandomId() {
  std::uint64_t id = 0;
  while (id == 0)
    randombytes_buf(&id, sizeof id);
  return id;
}

std::string RegistrySubject(std::uint64_t member) {
  return "ksn.r." + HexId(member);
}

}  // namespace ksn

#include "wire_frame.h"

#include <cstring>
#include <random>

namespace ksn {
namespace {

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

bool IsTokenChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

}  // namespace

void WriteFrameHeader(const FrameHeader& header, unsigned char* out) {
  out[0] = 'K';
  out[1] = static_cast<unsigned char>(header.kind);
  PutLE(kFrameVersion, 2, out + 2);
  PutLE(header.from, 8, out + 4);
  PutLE(header.to, 8, out + 12);
  PutLE(header.seq, 8, out + 20);
}

bool ReadFrameHeader(const void* data, std::size_t length, FrameHeader* header) {
  if (!data || length < kFrameHeaderSize)
    return false;
  const auto* in = static_cast<const unsigned char*>(data);
  if (in[0] != 'K' || GetLE(in + 2, 2) != kFrameVersion)
    return false;
  if (in[1] < static_cast<unsigned char>(FrameKind::kHello) ||
      in[1] > static_cast<unsigned char>(FrameKind::kData))
    return false;
  header->kind = static_cast<FrameKind>(in[1]);
  header->from = GetLE(in + 4, 8);
  header->to = GetLE(in + 12, 8);
  header->seq = GetLE(in + 20, 8);
  return header->from != 0;
}

std::string ConferenceSubject(const std::string& handle) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string subject = "ksn.c.";
  for (const char ch : handle) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsTokenChar(c)) {
      subject += ch;
    } else {
      subject += '%';
      subject += kHex[c >> 4];
      subject += kHex[c & 15];
    }
  }
  return subject;
}

std::string HexId(std::uint64_t id) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, id >>= 4)
    text[i] = kHex[id & 15];
  return text;
}

std::uint64_t RandomId() {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  std::uint64_t id = 0;
  while (id == 0)
    id = engine();
  return id;
}

std::string MemberAddressWildcard(std::uint64_t member) {
  return "ksn.d." + HexId(member) + ".*";
}

std::string SessionAddress(std::uint64_t member, std::uint64_t session) {
  return "ksn.d." + HexId(member) + "." + HexId(session);
}

bool IsSessionAddress(const char* subject) {
  // "ksn.d." + 16 hex + "." + 16 hex
  if (!subject || std::strlen(subject) != 6 + 16 + 1 + 16 || std::strncmp(subject, "ksn.d.", 6))
    return false;
  for (int i = 6; i < 39; ++i) {
    const char c = subject[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    if (i == 22 ? c != '.' : !hex)
      return false;
  }
  return true;
}

std::string RegistrySubject(std::uint64_t member) {
  return "ksn.r." + HexId(member);
}

}  // namespace ksn

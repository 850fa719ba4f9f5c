// The sealed messages of one session as the partner sends them, delivered
// as the bus might: in order, late, twice, lost or with a byte flipped. What
// opens must be what was sealed, and each message opens at most once.
//
// Input: records of [op, kind, u16, payload...]; op 0 seals a payload of
// u16 bytes and delivers it, 2 seals one and loses it; 1 delivers earlier
// message u16 again, 3 delivers it with byte u16 flipped (no payload).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "fuzz_session_keys.h"
#include "wire_frame.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Sent {
  Bytes sealed;
  Bytes payload;
  std::uint8_t kind;
};

struct Receiver {
  explicit Receiver(ksn::SessionCipher& c) : cipher(c) {}
  ksn::SessionCipher& cipher;
  std::set<std::uint64_t> opened;

  void Deliver(Bytes message, const Sent& sent) {
    ksn::FrameKind inner;
    std::uint64_t skipped = 0, counter = 0;
    ksn::ReadSealedHeader(message.data(), message.size(), &counter);
    if (cipher.Open(message.data(), message.size(), &inner, &skipped) !=
        ksn::SessionCipher::Opened::kOk)
      return;
    if (static_cast<std::uint8_t>(inner) != sent.kind || !opened.insert(counter).second ||
        !std::equal(message.begin() + ksn::kSealedOverhead, message.end(), sent.payload.begin(),
                    sent.payload.end()))
      __builtin_trap();  // opened twice, or into something else than was sealed
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ksn_fuzz::SessionKeys keys;
  ksn::SessionCipher a(keys.a_rx, keys.a_tx);
  ksn::SessionCipher b(keys.b_rx, keys.b_tx);
  Receiver receiver(b);
  std::vector<Sent> sent;
  for (std::size_t at = 0; at + 4 <= size;) {
    const std::uint8_t op = data[at] % 4, kind = data[at + 1];
    std::size_t length = data[at + 2] | (data[at + 3] << 8);
    at += 4;
    if (op == 1 || op == 3) {
      if (sent.empty())
        continue;
      const Sent& earlier = sent[length % sent.size()];
      Bytes copy = earlier.sealed;
      if (op == 3)
        copy[length % copy.size()] ^= static_cast<unsigned char>(1 + kind % 255);
      receiver.Deliver(copy, earlier);
      continue;
    }
    length = std::min(length, size - at);
    Sent next{Bytes(ksn::kSealedOverhead + length), Bytes(data + at, data + at + length), kind};
    at += length;
    std::copy(next.payload.begin(), next.payload.end(), next.sealed.begin() + ksn::kSealedOverhead);
    a.Seal(static_cast<ksn::FrameKind>(kind), next.sealed.data(), length);
    sent.push_back(std::move(next));
    if (op == 0)
      receiver.Deliver(sent.back().sealed, sent.back());
  }
  return 0;
}

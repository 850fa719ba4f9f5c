// Everything a member does with a message before it knows who sent it: the
// framing, the pairing message and its MAC, the sealed envelope and its
// opening. A pairing message that parses also runs through the pairing, as
// it would from a member who knows the conference.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_session_keys.h"
#include "session_pairing.h"
#include "wire_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ksn_fuzz::SessionKeys keys;
  static const ksn::ConferenceKeys conference(ksn_fuzz::kConference);
  std::vector<unsigned char> message(data, data + size);
  ksn::FramingOf(message.data(), size);

  ksn::FrameHeader frame;
  if (ksn::ReadPairingFrame(message.data(), size, &frame)) {
    const ksn::PublicKey to_key = frame.to == 0 ? ksn::PublicKey{} : keys.b_key();
    conference.Verify(message.data(), to_key, ksn_fuzz::kReply,
                      message.data() + ksn::kPairingSignedSize);
    const auto now = std::chrono::steady_clock::now();
    for (const std::uint64_t self : {frame.to, frame.from + 1, std::uint64_t{7}}) {
      ksn::SessionPairing pairing(self, {}, now);
      std::vector<ksn::Outgoing> out;
      bool foreign = false;
      // Twice: the second finds the phase the first left.
      pairing.OnFrame(frame, ksn_fuzz::kReply, now, &out, &foreign);
      pairing.OnFrame(frame, ksn_fuzz::kReply, now, &out, &foreign);
      pairing.OnTick(now + std::chrono::seconds(5), &out);
      pairing.Close(&out);
    }
  }

  // Opening works in place: the second try gets a fresh copy.
  std::vector<unsigned char> again(data, data + size);
  ksn::SessionCipher b(keys.b_rx, keys.b_tx);
  ksn::FrameKind inner;
  std::uint64_t skipped = 0;
  if (b.Open(message.data(), size, &inner, &skipped) == ksn::SessionCipher::Opened::kOk &&
      b.Open(again.data(), size, &inner, &skipped) != ksn::SessionCipher::Opened::kReplayed)
    __builtin_trap();  // the same message taken twice
  return 0;
}

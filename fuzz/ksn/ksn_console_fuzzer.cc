// The console's bytes from the bus: a request as it arrives, before its MAC
// is checked; the same bytes as the text of a signed request, as a peer
// parses it once admitted; and as a reply, sealed or not, as the operator's
// client opens, parses and prints it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "console_auth.h"
#include "console_gate.h"
#include "registry_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::string error;
  static const auto auth = ksn::ConsoleAuth::Load("the console key of the fuzzer", &error);
  static ksn::ConsoleGate gate;
  const char* bytes = reinterpret_cast<const char*>(data);
  const std::string input(bytes, size);

  ksn::SignedRequest request;
  if (auth->OpenRequest("ksn.r.list", "_INBOX.x", bytes, size, &request))
    __builtin_trap();  // nobody without the key makes a valid MAC
  ksn::ConsoleTag tag;
  const std::string wire = auth->SignRequest("ksn.r.1", "_INBOX.x", 5, input, &tag);
  if (!auth->OpenRequest("ksn.r.1", "_INBOX.x", wire.data(), wire.size(), &request) ||
      request.text != input ||
      auth->OpenRequest("ksn.r.2", "_INBOX.x", wire.data(), wire.size(), &request))
    __builtin_trap();
  gate.Admit(request.tag, request.time_ms, 5 + static_cast<std::int64_t>(size));
  ksn::RegistryRequest parsed;
  ksn::ParseRequest(request.text.data(), request.text.size(), &parsed);

  std::string text;
  auth->OpenReply(tag, bytes, size, &text);
  const std::string sealed = auth->SealReply(tag, input);
  if (!auth->OpenReply(tag, sealed.data(), sealed.size(), &text) || text != input)
    __builtin_trap();
  ksn::ParseReply(text.data(), text.size());
  ksn::PeerListing listing;
  ksn::ParseListing(text.data(), text.size(), &listing);
  for (const char c : ksn::PrintableText(text)) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') || c == 0x7f)
      __builtin_trap();  // a control character reached the terminal
  }
  return 0;
}

// The other member, in a process of its own, through the real library:
//   ksn_test_peer <library> <handle> hold          pairs and waits to be killed or closed
//   ksn_test_peer <library> <handle> receive <n>   checks n numbered packets, acking every 64
// It reports on stdout: "connected", "refused <code>", "ok <n>", "bad <index>",
// "closed <code>".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "external/ksn_control.h"
#include "plat/module.h"
#include "recording_sink.h"
#include "test_packets.h"

int main(int argc, char** argv) {
  if (argc < 4)
    return 2;
  const std::string handle = argv[2];
  const std::string mode = argv[3];
  const std::uint32_t expected = argc > 4 ? static_cast<std::uint32_t>(std::atoi(argv[4])) : 0;
  const plat::HMODULE library = plat::LoadLibrary(argv[1]);
  const auto create = reinterpret_cast<KSNCreateFunc>(
      library ? plat::GetProcAddress(library, kKSNCreateExport) : nullptr);
  KSNControl* control = create ? create() : nullptr;
  if (!control || !ksn_test::PumpUntil([&] { return control->IsReady(); }, 10000)) {
    std::printf("not ready\n");
    return 1;
  }
  ksn_test::RecordingSink* sink = ksn_test::RecordingSink::Create(control);
  control->OpenSession(handle, 2, sink, 0);
  ksn_test::PumpUntil([&] { return !sink->connects.empty() || !sink->closes.empty(); }, 20000);
  if (sink->connects.empty() || sink->connects[0] != 0) {
    std::printf("refused %u\n", sink->connects.empty() ? 0u : sink->connects[0]);
    return 1;
  }
  std::printf("connected\n");
  std::fflush(stdout);
  std::uint32_t next = 0, whole = 0, acked = 0;
  bool bad = false;
  // A member on its own never outlives a test's timeout.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (sink->closes.empty() && std::chrono::steady_clock::now() < until) {
    const int calls = sink->recv_calls;
    ksn_test::PumpUntil([&] { return sink->recv_calls != calls || !sink->closes.empty(); }, 100);
    if (mode != "receive" || bad)
      continue;
    if (!ksn_test::TakePackets(&sink->received, &next, false, &whole)) {
      std::printf("bad %u\n", next);
      std::fflush(stdout);
      bad = true;
    } else if (next / 64 != acked / 64 || next == expected) {
      acked = next;
      control->Send(handle, &acked, sizeof acked);
      if (next == expected) {
        std::printf("ok %u\n", next);
        std::fflush(stdout);
      }
    }
  }
  if (sink->closes.empty()) {
    std::printf("no close within its deadline\n");
    return 1;
  }
  std::printf("closed %u\n", sink->closes[0]);
  control->CloseSession(handle);
  sink->Release();
  control->Release();
  return 0;
}

// The receiving process of the benchmark.
//   ksn_bench_peer ksn <library> <handle>   through the peer-network library
//   ksn_bench_peer raw <subject>            plain cnats, same connection options
// KSN_NATS_URL names the server. Answers each probe with its one-way latency
// and the end marker with the number of bulk packets seen. Prints "ready".
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_frame.h"
#include "external/ksn_control.h"
#include "external/ksn_notify.h"
#include "ksn_settings.h"
#include "nats_connection_options.h"
#include "plat/message.h"
#include "plat/module.h"

namespace {

std::int64_t g_bulk = 0;

// Cuts the byte stream into packets and answers those that need it.
class Responder final : public KSN::ksnNotify {
 public:
  // One reference, the caller's.
  static Responder* Create(KSNControl* control) { return new Responder(control); }
  void notifyReserved1(std::uint32_t, std::uint32_t) override {}
  void notifyReserved2(std::uint32_t, std::uint32_t) override {}
  void notifyExtendMessage(const std::string&, std::uint32_t) override {}
  void notifyConnect(std::uint32_t code, const char*, const std::string&) override {
    connected = code == 0;
  }
  void notifyReserved5(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                       std::uint32_t, std::uint32_t) override {}
  void notifyClose(std::uint32_t, const char*, const std::string&) override { closed = true; }
  void notifyRecv(const std::string& handle) override {
    char chunk[32000];
    std::int32_t n;
    while ((n = control_->Recv(handle, chunk, sizeof chunk)) > 0)
      stream_.append(chunk, static_cast<std::size_t>(n));
    while (stream_.size() >= ksn_bench::kHeader) {
      std::uint32_t size, kind;
      std::memcpy(&size, stream_.data(), 4);
      std::memcpy(&kind, stream_.data() + 4, 4);
      if (stream_.size() < size)
        break;
      if (kind == ksn_bench::kBulk) {
        ++g_bulk;
      } else {
        const std::int64_t answer = ksn_bench::Answer(stream_.data(), g_bulk);
        control_->Send(handle, &answer, sizeof answer);
      }
      stream_.erase(0, size);
    }
  }
  void notifyReserved8(std::uint32_t) override {}

  bool connected = false;
  bool closed = false;

 private:
  explicit Responder(KSNControl* control) : control_(control) {}
  KSNControl* control_;
  std::string stream_;
};

void Pump(int ms) {
  plat::MSG msg;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE))
    plat::DispatchMessage(&msg);
  pollfd pfd{plat::GetQueueFd(), POLLIN, 0};
  poll(&pfd, 1, ms);
}

int RunKsn(const char* library_path, const std::string& handle) {
  const plat::HMODULE library = plat::LoadLibrary(library_path);
  const auto create = reinterpret_cast<KSNCreateFunc>(
      library ? plat::GetProcAddress(library, kKSNCreateExport) : nullptr);
  KSNControl* control = create ? create() : nullptr;
  if (!control)
    return 1;
  while (!control->IsReady())
    Pump(10);
  Responder* responder = Responder::Create(control);
  control->OpenSession(handle, 2, responder, 0);
  std::printf("ready\n");
  std::fflush(stdout);
  while (!responder->closed)
    Pump(100);
  control->CloseSession(handle);
  responder->Release();
  control->Release();
  return 0;
}

void OnRaw(natsConnection* nc, natsSubscription*, natsMsg* msg, void*) {
  const char* data = natsMsg_GetData(msg);
  std::uint32_t kind;
  std::memcpy(&kind, data + 4, 4);
  if (kind == ksn_bench::kBulk) {
    ++g_bulk;
  } else if (natsMsg_GetReply(msg)) {
    const std::int64_t answer = ksn_bench::Answer(data, g_bulk);
    natsConnection_Publish(nc, natsMsg_GetReply(msg), &answer, sizeof answer);
  }
  natsMsg_Destroy(msg);
}

int RunRaw(const std::string& subject) {
  std::string error;
  ksn::NatsOptionsPtr options = ksn::MakeNatsOptions(ksn::KsnSettings::FromEnvironment(), &error);
  natsConnection* nc = nullptr;
  natsSubscription* sub = nullptr;
  if (!options || natsConnection_Connect(&nc, options.get()) != NATS_OK ||
      natsConnection_Subscribe(&sub, nc, subject.c_str(), OnRaw, nullptr) != NATS_OK)
    return 1;
  natsConnection_Flush(nc);
  std::printf("ready\n");
  std::fflush(stdout);
  // Runs until the benchmark kills it.
  for (;;)
    pause();
  natsSubscription_Destroy(sub);
  natsConnection_Destroy(nc);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "ksn")
    return RunKsn(argv[2], argv[3]);
  if (argc >= 3 && std::string(argv[1]) == "raw")
    return RunRaw(argv[2]);
  return 2;
}

// A session's notification sink for tests: records what arrives and drains
// the bytes as the conference session does (32000 at a time).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "external/ksn_control.h"
#include "external/ksn_notify.h"
#include "plat/message.h"
#include "support/pump.h"

namespace ksn_test {

class RecordingSink final : public KSN::ksnNotify {
 public:
  // One reference, the caller's.
  static RecordingSink* Create(KSNControl* control) { return new RecordingSink(control); }

  void notifyReserved1(std::uint32_t, std::uint32_t) override {}
  void notifyReserved2(std::uint32_t, std::uint32_t) override {}
  void notifyExtendMessage(const std::string&, std::uint32_t) override {}
  void notifyConnect(std::uint32_t code, const char* error, const std::string&) override {
    connects.push_back(code);
    last_text = error ? error : "";
    threads.push_back(plat::GetCurrentThreadId());
  }
  void notifyReserved5(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                       std::uint32_t, std::uint32_t) override {}
  void notifyClose(std::uint32_t code, const char* error, const std::string&) override {
    closes.push_back(code);
    last_text = error ? error : "";
    threads.push_back(plat::GetCurrentThreadId());
  }
  void notifyRecv(const std::string& handle) override {
    ++recv_calls;
    threads.push_back(plat::GetCurrentThreadId());
    char chunk[32000];
    std::int32_t n;
    while ((n = control_->Recv(handle, chunk, sizeof chunk)) > 0)
      received.append(chunk, static_cast<std::size_t>(n));
  }
  void notifyReserved8(std::uint32_t) override {}

  std::vector<std::uint32_t> connects;
  std::vector<std::uint32_t> closes;
  std::string last_text;
  std::string received;
  int recv_calls = 0;
  std::vector<plat::DWORD> threads;

 private:
  explicit RecordingSink(KSNControl* control) : control_(control) {}
  KSNControl* control_;
};

using vc_test::PumpUntil;

}  // namespace ksn_test

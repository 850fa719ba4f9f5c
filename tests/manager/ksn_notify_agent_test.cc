#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "external/ksn_notify.h"

namespace {

// Stands for a session: writes down each notification it receives.
struct Recorder {
  void notifyReserved1(std::uint32_t a, std::uint32_t b) { Add("r1", a + b); }
  void notifyReserved2(std::uint32_t a, std::uint32_t b) { Add("r2", a + b); }
  void notifyExtendMessage(const std::string& type, std::uint32_t word) {
    Add("ext " + type, word);
  }
  void notifyConnect(std::uint32_t code, const char* error, const std::string& handle) {
    Add("connect " + handle + " " + error, code);
  }
  void notifyReserved5(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                       std::uint32_t e, std::uint32_t f, std::uint32_t g) {
    Add("r5", a + b + c + d + e + f + g);
  }
  void notifyClose(std::uint32_t code, const char* error, const std::string& handle) {
    Add("close " + handle + " " + error, code);
  }
  void notifyRecv(const std::string& handle) { Add("recv " + handle, 0); }
  void notifyReserved8(std::uint32_t a) { Add("r8", a); }

  void Add(const std::string& what, std::uint32_t value) {
    calls.push_back(what + "=" + std::to_string(value));
  }
  std::vector<std::string> calls;
};

void NotifyAll(KSN::ksnNotify* sink) {
  sink->notifyReserved1(1, 2);
  sink->notifyReserved2(3, 4);
  sink->notifyExtendMessage("type", 5);
  sink->notifyConnect(0, "ok", "cid");
  sink->notifyReserved5(1, 1, 1, 1, 1, 1, 1);
  sink->notifyClose(9, "gone", "cid");
  sink->notifyRecv("cid");
  sink->notifyReserved8(8);
}

TEST(KsnNotifyAgentTest, ForwardsEverySlotToItsTarget) {
  Recorder target;
  auto* agent = new KSN::ksnNotifyAgent<Recorder>(&target);
  NotifyAll(agent);
  EXPECT_EQ(target.calls,
            (std::vector<std::string>{"r1=3", "r2=7", "ext type=5", "connect cid ok=0", "r5=7",
                                      "close cid gone=9", "recv cid=0", "r8=8"}));
  agent->Release();
}

TEST(KsnNotifyAgentTest, DetachedAgentForwardsNothingAndLivesOnItsCount) {
  Recorder target;
  auto* agent = new KSN::ksnNotifyAgent<Recorder>(&target);
  agent->AddRef();  // the library's reference
  agent->Detach();
  agent->Release();
  EXPECT_EQ(agent->ref_count(), 1);
  NotifyAll(agent);
  EXPECT_TRUE(target.calls.empty());
  agent->Release();
}

}  // namespace

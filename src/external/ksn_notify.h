// The notification sink a session hands to the peer-network library, and the
// adapter that forwards its calls to the session.
#pragma once

#include <cstdint>
#include <string>

#include "common/ref_count.h"

namespace KSN {

// Bound by slot position: the destructor (from RefCount), then these eight.
// The library holds counted references to the sink.
class ksnNotify : public COMM::RefCount {
 public:
  virtual void notifyReserved1(std::uint32_t, std::uint32_t) = 0;
  virtual void notifyReserved2(std::uint32_t, std::uint32_t) = 0;
  virtual void notifyExtendMessage(const std::string& type, std::uint32_t) = 0;
  // code 0: the session is connected; otherwise `error` says why not.
  virtual void notifyConnect(std::uint32_t code, const char* error, const std::string& handle) = 0;
  virtual void notifyReserved5(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                               std::uint32_t, std::uint32_t, std::uint32_t) = 0;
  virtual void notifyClose(std::uint32_t code, const char* error, const std::string& handle) = 0;
  // Bytes wait to be read with KSNControl::Recv.
  virtual void notifyRecv(const std::string& handle) = 0;
  virtual void notifyReserved8(std::uint32_t) = 0;
};

// Forwards each notification to a target that it does not keep alive, and
// drops them once the target is detached.
template <typename T>
class ksnNotifyAgent final : public ksnNotify {
 public:
  explicit ksnNotifyAgent(T* target) : target_(target) {}

  // The target is going away: later notifications go nowhere.
  void Detach() { target_ = nullptr; }

  void notifyReserved1(std::uint32_t a, std::uint32_t b) override {
    if (target_)
      target_->notifyReserved1(a, b);
  }
  void notifyReserved2(std::uint32_t a, std::uint32_t b) override {
    if (target_)
      target_->notifyReserved2(a, b);
  }
  void notifyExtendMessage(const std::string& type, std::uint32_t word) override {
    if (target_)
      target_->notifyExtendMessage(type, word);
  }
  void notifyConnect(std::uint32_t code, const char* error, const std::string& handle) override {
    if (target_)
      target_->notifyConnect(code, error, handle);
  }
  void notifyReserved5(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                       std::uint32_t e, std::uint32_t f, std::uint32_t g) override {
    if (target_)
      target_->notifyReserved5(a, b, c, d, e, f, g);
  }
  void notifyClose(std::uint32_t code, const char* error, const std::string& handle) override {
    if (target_)
      target_->notifyClose(code, error, handle);
  }
  void notifyRecv(const std::string& handle) override {
    if (target_)
      target_->notifyRecv(handle);
  }
  void notifyReserved8(std::uint32_t a) override {
    if (target_)
      target_->notifyReserved8(a);
  }

 private:
  ~ksnNotifyAgent() override = default;

  T* target_;
};

}  // namespace KSN

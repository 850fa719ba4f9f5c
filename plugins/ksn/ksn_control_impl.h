// The control object the host gets from iksnCreate.
#pragma once

#include <memory>

#include "external/ksn_control.h"
#include "ksn_core.h"
#include "ksn_settings.h"

namespace ksn {

class KsnControlImpl final : public KSNControl {
 public:
  // A new control with one reference for the caller; it starts connecting
  // at once, in the background.
  static KsnControlImpl* Create(const KsnSettings& settings);

  void OpenSession(const std::string& handle, std::int32_t type, KSN::ksnNotify* sink,
                   std::int32_t flags) override;
  void CloseSession(const std::string& handle) override;
  std::int32_t Send(const std::string& handle, const void* data, std::uint32_t length) override;
  std::int32_t Recv(const std::string& handle, void* buffer, std::uint32_t capacity) override;
  bool IsReady() override;
  bool IsConnected(const std::string& handle) override;
  void RegisterObject(const char* path, ksn::object* object) override;
  void UnregisterObject(const char* path) override;

  KsnCore& core() { return *core_; }

 private:
  explicit KsnControlImpl(const KsnSettings& settings);
  ~KsnControlImpl() override;

  std::shared_ptr<KsnCore> core_;
};

}  // namespace ksn

#include "ksn_control_impl.h"

namespace ksn {

KsnControlImpl* KsnControlImpl::Create(const KsnSettings& settings) {
  return new KsnControlImpl(settings);
}

KsnControlImpl::KsnControlImpl(const KsnSettings& settings)
    : core_(std::make_shared<KsnCore>(settings)) {
  core_->Start();
}

KsnControlImpl::~KsnControlImpl() {
  core_->Shutdown();
}

// OpenSession's type (2) and flags (0) come from the host's interface; sessions
// over NATS have one kind only, so both are ignored.
void KsnControlImpl::OpenSession(const std::string& handle, std::int32_t, KSN::ksnNotify* sink,
                                 std::int32_t) {
  core_->OpenSession(handle, sink);
}

void KsnControlImpl::CloseSession(const std::string& handle) {
  core_->CloseSession(handle);
}

std::int32_t KsnControlImpl::Send(const std::string& handle, const void* data,
                                  std::uint32_t length) {
  return core_->Send(handle, data, length);
}

std::int32_t KsnControlImpl::Recv(const std::string& handle, void* buffer, std::uint32_t capacity) {
  return core_->Recv(handle, buffer, capacity);
}

bool KsnControlImpl::IsReady() {
  return core_->IsReady();
}

bool KsnControlImpl::IsConnected(const std::string& handle) {
  return core_->IsConnected(handle);
}

void KsnControlImpl::RegisterObject(const char* path, ksn::object* object) {
  core_->RegisterObject(path, object);
}

void KsnControlImpl::UnregisterObject(const char* path) {
  core_->UnregisterObject(path);
}

}  // namespace ksn

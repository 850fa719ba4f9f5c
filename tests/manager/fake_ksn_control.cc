// A stand-in for the peer-network library: it writes every call made on it,
// in order, one line each, to the file that FAKE_KSN_JOURNAL names. Built
// twice: with its export "iksnCreate", and without it.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "external/ksn_control.h"

namespace {

const char kAnchor = 0;

void Record(const std::string& event) {
  const char* path = std::getenv("FAKE_KSN_JOURNAL");
  if (path == nullptr)
    return;
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0)
    return;
  const std::string line = event + "\n";
  const ssize_t written = write(fd, line.data(), line.size());
  static_cast<void>(written);
  close(fd);
}

std::string OwnDirectory() {
  Dl_info info{};
  if (dladdr(&kAnchor, &info) == 0 || info.dli_fname == nullptr)
    return "?";
  const std::string path = info.dli_fname;
  return path.substr(0, path.rfind('/'));
}

class FakeKSNControl final : public KSNControl {
 public:
  void OpenSession(const std::string& handle, std::int32_t, KSN::ksnNotify*,
                   std::int32_t) override {
    Record("OpenSession " + handle);
  }
  void CloseSession(const std::string& handle) override { Record("CloseSession " + handle); }
  std::int32_t Send(const std::string& handle, const void*, std::uint32_t length) override {
    Record("Send " + handle);
    return static_cast<std::int32_t>(length);
  }
  std::int32_t Recv(const std::string& handle, void*, std::uint32_t) override {
    Record("Recv " + handle);
    return 0;
  }
  bool IsReady() override {
    Record("IsReady");
    return true;
  }
  bool IsConnected(const std::string& handle) override {
    Record("IsConnected " + handle);
    return false;
  }
  void RegisterObject(const char* path, ksn::object* object) override {
    Record(std::string("register ") + path + (object != nullptr ? "" : " (null)"));
  }
  void UnregisterObject(const char* path) override { Record(std::string("unregister ") + path); }

 private:
  ~FakeKSNControl() override { Record("release"); }
};

__attribute__((constructor)) void OnLoad() {
  Record("load from " + OwnDirectory());
}
__attribute__((destructor)) void OnUnload() {
  Record("unload");
}

}  // namespace

#ifndef FAKE_KSN_WITHOUT_CREATE
extern "C" __attribute__((visibility("default"))) KSNControl* iksnCreate() {
  Record("create");
  return new FakeKSNControl();
}
#endif

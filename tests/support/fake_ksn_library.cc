// A stand-in for the peer-network library, loaded by the module as the real
// one is: FakeKSNControl behind "iksnCreate", its journal the file that
// FAKE_KSN_JOURNAL names, with the library's own load, create and unload.
// FAKE_KSN_OUT_OF_MEMORY_IN names a call that always throws std::bad_alloc.
// Built twice: with its export, and without it.
#include <dlfcn.h>

#include <cstdlib>
#include <new>
#include <string>

#include "support/fake_ksn_control.h"

namespace {

const char kAnchor = 0;

std::string JournalPath() {
  const char* path = std::getenv("FAKE_KSN_JOURNAL");
  return path != nullptr ? path : "";
}

std::string OwnDirectory() {
  Dl_info info{};
  if (dladdr(&kAnchor, &info) == 0 || info.dli_fname == nullptr)
    return "?";
  const std::string path = info.dli_fname;
  return path.substr(0, path.rfind('/'));
}

__attribute__((constructor)) void OnLoad() {
  vc_test::AppendLine(JournalPath(), "load from " + OwnDirectory());
}
__attribute__((destructor)) void OnUnload() {
  vc_test::AppendLine(JournalPath(), "unload");
}

}  // namespace

#ifndef FAKE_KSN_WITHOUT_CREATE
extern "C" __attribute__((visibility("default"))) KSNControl* iksnCreate() {
  vc_test::AppendLine(JournalPath(), "create");
  vc_test::FakeKSNControl* control = vc_test::FakeKSNControl::CreateRaw();
  control->journal = JournalPath();
  if (const char* failing = std::getenv("FAKE_KSN_OUT_OF_MEMORY_IN")) {
    control->inside = [name = std::string(failing)](const std::string& call, const std::string&) {
      if (call == name)
        throw std::bad_alloc();
    };
  }
  return control;
}
#endif

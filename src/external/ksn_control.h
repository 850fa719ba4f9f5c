// The peer-network library's control object, as the module sees it.
#pragma once

#include <cstdint>
#include <string>

#include "common/ref_count.h"
#include "external/ksn_notify.h"
#include "external/ksn_object.h"

// Bound by slot position: the destructor (from RefCount), then slots 1 to 22.
// The module calls only the slots declared pure; the others hold their places.
// Sessions are named by a handle text (the conference id). The session calls
// may throw KSN::exception.
class KSNControl : public COMM::RefCount {
 public:
  virtual void Reserved1() {}
  virtual void Reserved2() {}
  virtual void Reserved3() {}
  virtual void Reserved4() {}
  virtual void Reserved5() {}
  virtual void Reserved6() {}
  // 7: starts connecting; the outcome arrives through `sink`, which the
  // library keeps a counted reference to.
  virtual void OpenSession(const std::string& handle, std::int32_t type, KSN::ksnNotify* sink,
                           std::int32_t flags) = 0;
  virtual void Reserved8() {}
  // 9
  virtual void CloseSession(const std::string& handle) = 0;
  // 10
  virtual std::int32_t Send(const std::string& handle, const void* data, std::uint32_t length) = 0;
  // 11: copies up to `capacity` received bytes; below 1 means nothing is left.
  virtual std::int32_t Recv(const std::string& handle, void* buffer, std::uint32_t capacity) = 0;
  virtual void Reserved12() {}
  virtual void Reserved13() {}
  virtual void Reserved14() {}
  virtual void Reserved15() {}
  virtual void Reserved16() {}
  // 17: false means no session may be opened.
  virtual bool IsReady() = 0;
  // 18
  virtual bool IsConnected(const std::string& handle) = 0;
  virtual void Reserved19() {}
  virtual void Reserved20() {}
  // 21: the library may call `object` from now on, until UnregisterObject.
  virtual void RegisterObject(const char* path, ksn::object* object) = 0;
  // 22
  virtual void UnregisterObject(const char* path) = 0;

 protected:
  ~KSNControl() override = default;
};

// The library's file and its one export: a new control object carrying one
// reference for the caller.
inline constexpr char kKSNLibraryFile[] = "libKSNControlX.so";
inline constexpr char kKSNCreateExport[] = "iksnCreate";
using KSNCreateFunc = KSNControl* (*)();

// An object the peer-network library's diagnostic registry can query: a
// name, a text reply to a key, and a key with a value to accept.
#pragma once

#include <string>

#include "external/ksn_exception.h"

namespace ksn {

// Bound by slot position (GetName, Set, Get, destructor). The defaults know
// no key at all.
class object {
 public:
  virtual const char* GetName() { return "ksn.object"; }
  virtual void Set(const char* key, const std::string& value) {
    throw KSN::Unsupported("unsupported", KSN::kUnsupportedCode);
  }
  virtual std::string Get(const char* key) {
    throw KSN::Unsupported("unsupported", KSN::kUnsupportedCode);
  }
  virtual ~object() = default;

 protected:
  object() = default;
  object(const object&) = default;
  object& operator=(const object&) = default;
};

}  // namespace ksn

// The exceptions the peer-network library throws and the module catches; both
// sides compile this one definition.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace KSN {

class exception : public std::runtime_error {
 public:
  exception(const std::string& message, std::int32_t code)
      : std::runtime_error(message), error_code(code) {}

  std::int32_t error_code;
};

// What an object answers to a key or command it does not know.
class Unsupported : public exception {
 public:
  using exception::exception;
};

inline constexpr std::int32_t kUnsupportedCode = 5013;

}  // namespace KSN

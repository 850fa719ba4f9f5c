// The packer's failures. Callers catch them as std::runtime_error.
#pragma once

#include <stdexcept>
#include <string>

namespace sox {

class PacketError : public std::runtime_error {
 public:
  explicit PacketError(const std::string& what) : std::runtime_error(what) {}
};

// Every failure of the writer side.
class PackError : public PacketError {
 public:
  explicit PackError(const std::string& what) : PacketError(what) {}
};

// Every failure of the reader side.
class UnpackError : public PacketError {
 public:
  explicit UnpackError(const std::string& what) : PacketError(what) {}
};

}  // namespace sox

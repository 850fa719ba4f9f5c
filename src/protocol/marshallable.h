// The base of every record the packer writes and reads.
#pragma once

#include <iosfwd>

#include "protocol/sox_pack.h"
#include "protocol/sox_unpack.h"

namespace sox {

class Marshallable {
 public:
  Marshallable() = default;
  Marshallable(const Marshallable&) = default;
  Marshallable& operator=(const Marshallable&) = default;

  // Declared in slot order.
  virtual void marshal(Pack& p) const = 0;
  virtual void unmarshal(Unpack& up) = 0;
  virtual ~Marshallable() = default;
  // No record of this system describes itself; the default says so.
  virtual std::ostream& trace(std::ostream& os) const;
};

}  // namespace sox

#include "protocol/marshallable.h"

#include <ostream>

namespace sox {

std::ostream& Marshallable::trace(std::ostream& os) const {
  return os << "trace Marshallable [ not immplement ]";
}

}  // namespace sox

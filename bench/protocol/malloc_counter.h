// Counts every malloc, calloc and realloc of the process, whoever calls them
// (the packer's blocks and operator new alike).
#pragma once

#include <cstdint>

namespace bench {

std::uint64_t AllocationCount();

}  // namespace bench

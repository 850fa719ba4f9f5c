// Counts the process's heap allocations, whoever makes them (operator new,
// its aligned forms, GLib's g_malloc): the capture path must make none per
// frame once it runs.
#pragma once

#include <cstdint>

namespace bench {

std::uint64_t HeapAllocations();

}  // namespace bench

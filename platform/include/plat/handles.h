// The two handle types a host hands the module: windows and their regions.
// All a host's view of the module needs of the porting layer.
#pragma once

#include <cstdint>

namespace plat {

// A window handle: 32 bits, 0 is none. Handles of destroyed windows are not
// reused until the 32-bit counter wraps.
using HWND = std::uint32_t;
// A region: a set of rectangles, owned by its creator until SetWindowRgn.
struct Region;
using HRGN = Region*;

}  // namespace plat

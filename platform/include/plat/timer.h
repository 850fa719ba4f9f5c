// Window timers. WM_TIMER (wParam = timer id) is made only when the owner
// thread looks at its queue and a period has passed; at most one is pending
// per timer, and none after KillTimer or DestroyWindow.
#pragma once

#include "plat/export.h"
#include "plat/types.h"

namespace plat {

using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

// Starts or restarts timer `id` of a window of the calling thread: the first
// tick is due `elapse_ms` from now (kept within 10 .. 0x7FFFFFFF ms, as on
// Windows), each next one a period after the previous tick was taken. Returns
// the id, or 0 on failure (dead window, window of another thread, id 0).
// Only null timer procedures are supported (ticks arrive as WM_TIMER).
PLAT_API UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc);
// False when there is no such timer or the window is another thread's.
PLAT_API bool KillTimer(HWND hwnd, UINT_PTR id);

}  // namespace plat

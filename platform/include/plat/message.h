// One message queue per thread, made on first use.
#pragma once

#include "plat/export.h"
#include "plat/types.h"

namespace plat {

// Posts to the queue of the window's owner thread; any thread may post. False
// for a handle that is not a live window (0 included: there are no thread
// messages) and for a full queue (kMaxQueuedMessages).
PLAT_API bool PostMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// Looks at the calling thread's queue. hwnd 0 takes messages of any window
// (and WM_QUIT); otherwise only that window's. A range min = max = 0 takes
// every message. Due timers turn into WM_TIMER when no posted message matches.
PLAT_API bool PeekMessage(MSG* msg, HWND hwnd, UINT msg_min, UINT msg_max, UINT remove);

// Blocks until a message is there. Returns 0 for WM_QUIT, -1 for bad
// arguments (no msg, or a window filter that is not a live window of the
// calling thread, which would wait forever), a positive value otherwise.
PLAT_API int GetMessage(MSG* msg, HWND hwnd, UINT msg_min, UINT msg_max);

// Calls the window procedure of msg->hwnd when it is a live window of the
// calling thread; a message whose window died while queued goes nowhere (0).
PLAT_API LRESULT DispatchMessage(const MSG* msg);
inline bool TranslateMessage(const MSG*) {
  return false;
}

// Posts WM_QUIT (wParam = exit code) to the calling thread's queue.
PLAT_API void PostQuitMessage(int exit_code);

// A file descriptor of the calling thread's queue that polls readable while a
// message or a due timer waits, so that a host can pump from its own event
// loop (poll, epoll, GLib, Qt). Owned by the layer; valid for the thread's life.
PLAT_API int GetQueueFd();

PLAT_API DWORD GetCurrentThreadId();

}  // namespace plat

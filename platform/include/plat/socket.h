// Socket readiness as window messages, the way WSAAsyncSelect delivers it.
#pragma once

#include "plat/export.h"
#include "plat/types.h"

namespace plat {

constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_CLOSE = 0x20;

// While `socket` is ready for `events` (FD_READ, FD_WRITE), the queue of the
// window's thread holds `message` for `hwnd`: wParam the socket, lParam the
// events ready (FD_CLOSE when the peer hung up or the socket failed). It
// comes after the posted messages and before the timers, and again for as
// long as the socket stays ready, so a handler reads what it wants and
// leaves the rest for the next one. The thread's queue descriptor
// (GetQueueFd) and GetMessage wake for it. Any thread may call; a new call
// for the socket replaces the last, events 0 ends it, and so does the
// window's end. 0 on success, -1 for a window that is not live or a socket
// the kernel will not watch.
PLAT_API int WSAAsyncSelect(int socket, HWND hwnd, UINT message, long events);

}  // namespace plat

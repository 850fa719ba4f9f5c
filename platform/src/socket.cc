// WSAAsyncSelect over the window's thread queue.
#include "plat/socket.h"

#include "window_registry.h"

namespace plat {

int WSAAsyncSelect(int socket, HWND hwnd, UINT message, long events) {
  if (socket < 0)
    return -1;
  const auto queue = internal::WindowRegistry::Instance().QueueOf(hwnd);
  if (!queue)
    return -1;
  return queue->SelectSocket(socket, hwnd, message, events) ? 0 : -1;
}

}  // namespace plat

#include "connection_reader.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "plat/message.h"
#include "plat/socket.h"
#include "plat/window.h"

namespace ksn {
namespace {

constexpr plat::UINT kSocketMessage = plat::WM_USER + 0x4B6;
// Messages that came before their handler was in place wait for this one.
constexpr plat::UINT kDeliverMessage = plat::WM_USER + 0x4B7;

// The reader whose WriteHere scope the calling thread is in, and whether
// cnats asked it to send meanwhile.
thread_local ConnectionReader* t_writer = nullptr;
thread_local bool t_write_wanted = false;

}  // namespace

ConnectionReader::ConnectionReader() = default;

ConnectionReader::~ConnectionReader() {
  Stop();
}

plat::LRESULT ConnectionReader::WindowProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam,
                                           plat::LPARAM lparam) {
  auto* self =
      reinterpret_cast<ConnectionReader*>(plat::GetWindowLongPtr(hwnd, plat::GWL_USERDATA));
  if (self && message == kSocketMessage) {
    self->OnSocket(static_cast<long>(lparam));
    return 0;
  }
  if (self && message == kDeliverMessage) {
    self->Deliver();
    return 0;
  }
  return plat::DefWindowProc(hwnd, message, wparam, lparam);
}

bool ConnectionReader::Open() {
  // Each copy of this code (the shared library, a test's static copy) has a
  // class of its own, named after its own window procedure.
  static const std::string class_name = [] {
    std::string text =
        "ksn_socket_" + std::to_string(reinterpret_cast<std::uintptr_t>(&WindowProc));
    plat::WNDCLASS wc;
    wc.lpfnWndProc = &ConnectionReader::WindowProc;
    wc.hInstance = plat::GetModuleHandle(nullptr);
    wc.lpszClassName = text.c_str();
    plat::RegisterClass(&wc);
    return text;
  }();
  owner_ = std::this_thread::get_id();
  window_ = plat::CreateWindow(class_name.c_str(), class_name.c_str(), 0, 0, 0, 0, 0, 0, nullptr,
                               plat::GetModuleHandle(nullptr), nullptr);
  if (!window_)
    return false;
  plat::SetWindowLongPtr(window_, plat::GWL_USERDATA, reinterpret_cast<plat::LONG_PTR>(this));
  return true;
}

bool ConnectionReader::Install(natsOptions* options) {
  return window_ &&
         natsOptions_SetEventLoop(options, this, &Attach, &Read, &Write, &Detach) == NATS_OK;
}

natsSubscription* ConnectionReader::Subscribe(natsConnection* nc, const char* subject,
                                              natsMsgHandler handler, void* closure) {
  natsSubscription* sub = nullptr;
  {
    WriteHere here(*this, nc);
    if (natsConnection_SubscribeSync(&sub, nc, subject) != NATS_OK)
      return nullptr;
  }
  {
    MutexLock lock(handlers_mutex_);
    handlers_.push_back({sub, nc, handler, closure});
  }
  plat::PostMessage(window_, kDeliverMessage, 0, 0);
  return sub;
}

void ConnectionReader::Forget(natsSubscription* sub) {
  MutexLock lock(handlers_mutex_);
  std::erase_if(handlers_, [sub](const Handler& h) { return h.sub == sub; });
}

bool ConnectionReader::Flush(natsConnection* nc) {
  MutexLock lock(flush_mutex_);
  // cnats reads a write of nothing as a closed connection.
  if (natsConnection_Buffered(nc) <= 0)
    return false;
  natsConnection_ProcessWriteEvent(nc);
  return true;
}

void ConnectionReader::Stop() {
  {
    MutexLock lock(mutex_);
    if (stopping_)
      return;
    stopping_ = true;
    if (socket_ >= 0 && window_)
      plat::WSAAsyncSelect(socket_, window_, kSocketMessage, 0);
  }
  if (!window_)
    return;
  // Messages still queued for the window find nobody.
  plat::SetWindowLongPtr(window_, plat::GWL_USERDATA, 0);
  // Another thread's window goes with that thread.
  if (OnThisThread())
    plat::DestroyWindow(window_);
}

void ConnectionReader::SelectLocked() {
  if (socket_ < 0 || !window_ || stopping_)
    return;
  long events = (reading_ ? plat::FD_READ : 0) | (writing_ ? plat::FD_WRITE : 0);
  if (events != 0)
    events |= plat::FD_CLOSE;
  plat::WSAAsyncSelect(socket_, window_, kSocketMessage, events);
}

// ------------------------------------------------------------ cnats's calls

natsStatus ConnectionReader::Attach(void** user_data, void* loop, natsConnection* nc,
                                    natsSock socket) {
  auto* self = static_cast<ConnectionReader*>(loop);
  *user_data = self;
  MutexLock lock(self->mutex_);
  self->nc_ = nc;
  self->socket_ = socket;
  self->reading_ = true;
  self->writing_ = false;
  ++self->generation_;
  self->SelectLocked();
  return NATS_OK;
}

natsStatus ConnectionReader::Read(void* user_data, bool add) {
  auto* self = static_cast<ConnectionReader*>(user_data);
  MutexLock lock(self->mutex_);
  if (self->reading_ != add) {
    self->reading_ = add;
    self->SelectLocked();
  }
  return NATS_OK;
}

natsStatus ConnectionReader::Write(void* user_data, bool add) {
  auto* self = static_cast<ConnectionReader*>(user_data);
  if (add && t_writer == self) {
    t_write_wanted = true;
    return NATS_OK;
  }
  MutexLock lock(self->mutex_);
  if (self->writing_ != add) {
    self->writing_ = add;
    self->SelectLocked();
  }
  return NATS_OK;
}

natsStatus ConnectionReader::Detach(void* user_data) {
  auto* self = static_cast<ConnectionReader*>(user_data);
  MutexLock lock(self->mutex_);
  self->reading_ = false;
  self->writing_ = false;
  self->SelectLocked();
  self->socket_ = -1;
  self->nc_ = nullptr;
  ++self->generation_;
  return NATS_OK;
}

// ------------------------------------------------------------ the owner thread

void ConnectionReader::OnSocket(long events) {
  natsConnection* nc = nullptr;
  unsigned generation = 0;
  {
    MutexLock lock(mutex_);
    if (stopping_ || !nc_)
      return;
    nc = nc_;
    generation = generation_;
  }
  // A broken socket reads as an error, which starts cnats's reconnect.
  if (events & (plat::FD_READ | plat::FD_CLOSE))
    natsConnection_ProcessReadEvent(nc);
  if ((events & plat::FD_WRITE) && !Flush(nc)) {
    // Another thread sent the bytes meanwhile.
    MutexLock lock(mutex_);
    if (nc_ == nc && natsConnection_Buffered(nc) <= 0) {
      writing_ = false;
      SelectLocked();
    }
  }
  if (events & plat::FD_CLOSE) {
    // cnats left a hung-up socket in place: it is not watched again until
    // cnats says something new about it.
    MutexLock lock(mutex_);
    if (generation_ == generation && socket_ >= 0 && window_) {
      reading_ = false;
      writing_ = false;
      plat::WSAAsyncSelect(socket_, window_, kSocketMessage, 0);
    }
  }
  Deliver();
}

void ConnectionReader::Deliver() {
  MutexLock lock(handlers_mutex_);
  for (const Handler& h : handlers_) {
    // Asked first: an empty queue's answer to NextMsg is an error cnats
    // spends a formatted text on.
    int messages = 0;
    int bytes = 0;
    natsMsg* msg = nullptr;
    while (natsSubscription_GetPending(h.sub, &messages, &bytes) == NATS_OK && messages > 0 &&
           natsSubscription_NextMsg(&msg, h.sub, 0) == NATS_OK)
      h.handler(h.nc, h.sub, msg, h.closure);
  }
}

// ------------------------------------------------------------ WriteHere

ConnectionReader::WriteHere::WriteHere(ConnectionReader& reader, natsConnection* nc)
    : reader_(reader), nc_(nc), outer_(t_writer == nullptr) {
  if (outer_) {
    t_writer = &reader_;
    t_write_wanted = false;
  }
}

ConnectionReader::WriteHere::~WriteHere() {
  if (!outer_)
    return;
  t_writer = nullptr;
  if (!std::exchange(t_write_wanted, false) || !nc_)
    return;
  reader_.Flush(nc_);
  // The socket took only part: the owner thread sends the rest once it can.
  if (natsConnection_Buffered(nc_) > 0) {
    MutexLock lock(reader_.mutex_);
    reader_.writing_ = true;
    reader_.SelectLocked();
  }
}

}  // namespace ksn

#include "connection_reader.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include "ksn_log.h"

namespace ksn {
namespace {

// The reader whose WriteHere scope the calling thread is in, and whether
// cnats asked it to send meanwhile.
thread_local ConnectionReader* t_writer = nullptr;
thread_local bool t_write_wanted = false;

}  // namespace

ConnectionReader::ConnectionReader() = default;

ConnectionReader::~ConnectionReader() {
  Stop();
  if (wake_fd_ >= 0)
    close(wake_fd_);
}

bool ConnectionReader::Install(natsOptions* options) {
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0)
    return false;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return natsOptions_SetEventLoop(options, this, &Attach, &Read, &Write, &Detach) == NATS_OK;
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
  // Anything that came before the handler was in place is delivered now.
  if (!OnThisThread())
    Wake();
  return sub;
}

void ConnectionReader::Forget(natsSubscription* sub) {
  MutexLock lock(handlers_mutex_);
  std::erase_if(handlers_, [sub](const Handler& h) { return h.sub == sub; });
}

void ConnectionReader::Stop() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  Wake();
  if (thread_.joinable() && !OnThisThread())
    thread_.join();
}

bool ConnectionReader::Flush(natsConnection* nc) {
  MutexLock lock(flush_mutex_);
  // cnats reads a write of nothing as a closed connection.
  if (natsConnection_Buffered(nc) <= 0)
    return false;
  natsConnection_ProcessWriteEvent(nc);
  return true;
}

void ConnectionReader::Wake() {
  if (wake_fd_ < 0)
    return;
  const std::uint64_t one = 1;
  // A full counter already wakes the thread; nothing else can fail here.
  [[maybe_unused]] const ssize_t n = write(wake_fd_, &one, sizeof one);
}

// ------------------------------------------------------------ cnats's calls

natsStatus ConnectionReader::Attach(void** user_data, void* loop, natsConnection* nc,
                                    natsSock socket) {
  auto* self = static_cast<ConnectionReader*>(loop);
  *user_data = self;
  {
    MutexLock lock(self->mutex_);
    self->nc_ = nc;
    self->socket_ = socket;
    self->reading_ = true;
    ++self->generation_;
  }
  self->Wake();
  return NATS_OK;
}

natsStatus ConnectionReader::Read(void* user_data, bool add) {
  auto* self = static_cast<ConnectionReader*>(user_data);
  {
    MutexLock lock(self->mutex_);
    if (self->reading_ == add)
      return NATS_OK;
    self->reading_ = add;
    ++self->generation_;
  }
  if (!self->OnThisThread())
    self->Wake();
  return NATS_OK;
}

natsStatus ConnectionReader::Write(void* user_data, bool add) {
  auto* self = static_cast<ConnectionReader*>(user_data);
  bool wake = false;
  {
    MutexLock lock(self->mutex_);
    if (self->writing_ == add)
      return NATS_OK;
    self->writing_ = add;
    ++self->generation_;
    // A stale write interest costs the loop one more turn; it is not woken for it.
    if (add) {
      if (t_writer == self)
        t_write_wanted = true;
      else
        wake = !self->OnThisThread();
    }
  }
  if (wake)
    self->Wake();
  return NATS_OK;
}

natsStatus ConnectionReader::Detach(void* user_data) {
  auto* self = static_cast<ConnectionReader*>(user_data);
  {
    MutexLock lock(self->mutex_);
    self->nc_ = nullptr;
    self->socket_ = -1;
    self->reading_ = false;
    self->writing_ = false;
    ++self->generation_;
  }
  if (!self->OnThisThread())
    self->Wake();
  return NATS_OK;
}

// ------------------------------------------------------------ the loop

void ConnectionReader::Run() {
  reader_id_ = std::this_thread::get_id();
  // A socket that poll reports closed or broken is left alone until cnats
  // says something new about it (it closes the socket on its own threads).
  unsigned given_up = ~0u;
  unsigned nothing_to_write = ~0u;
  for (;;) {
    natsConnection* nc = nullptr;
    pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {-1, 0, 0}};
    unsigned generation = 0;
    {
      MutexLock lock(mutex_);
      if (stopping_)
        return;
      nc = nc_;
      generation = generation_;
      if (nc && socket_ >= 0 && generation != given_up) {
        fds[1].fd = socket_;
        const bool write = writing_ && generation != nothing_to_write;
        fds[1].events = static_cast<short>((reading_ ? POLLIN : 0) | (write ? POLLOUT : 0));
      }
    }
    const nfds_t count = fds[1].events != 0 ? 2 : 1;
    if (poll(fds, count, -1) < 0) {
      if (errno != EINTR) {
        Log("the connection's reader cannot wait: %s",
            std::generic_category().message(errno).c_str());
        return;
      }
      continue;
    }
    if (fds[0].revents & POLLIN) {
      std::uint64_t count_read;
      [[maybe_unused]] const ssize_t n = read(wake_fd_, &count_read, sizeof count_read);
    }
    const short ready = count == 2 ? fds[1].revents : 0;
    if (ready & POLLNVAL) {
      given_up = generation;
    } else if (ready != 0) {
      // A broken socket reads as an error, which starts cnats's reconnect.
      if (ready & (POLLIN | POLLERR | POLLHUP))
        natsConnection_ProcessReadEvent(nc);
      // Another thread may have sent the bytes meanwhile: the interest
      // is left alone until cnats says something new.
      if ((ready & POLLOUT) && !Flush(nc))
        nothing_to_write = generation;
      if (ready & (POLLERR | POLLHUP)) {
        MutexLock lock(mutex_);
        if (generation_ == generation)
          given_up = generation;
      }
    }
    Deliver();
  }
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
  bool left = false;
  {
    MutexLock lock(reader_.mutex_);
    left = reader_.writing_;
  }
  // The socket took only part: the reader sends the rest once it can.
  if (left && !reader_.OnThisThread())
    reader_.Wake();
}

}  // namespace ksn

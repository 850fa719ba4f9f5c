#include "nats_link.h"

#include <chrono>
#include <utility>

#include "connection_error.h"
#include "ksn_log.h"
#include "nats_connection_options.h"

namespace ksn {
namespace {

constexpr auto kReconnectPause = std::chrono::seconds(1);
constexpr auto kShutdownWait = std::chrono::seconds(5);

}  // namespace

NatsLink::NatsLink(const KsnSettings& settings, ConnectionListener* listener)
    : settings_(settings), listener_(listener) {}

NatsLink::~NatsLink() {
  StopConnecting();
}

void NatsLink::Start(std::vector<Standing> standing) {
  connector_ = std::thread([this, standing = std::move(standing)] { ConnectLoop(standing); });
}

// The first connection is made here, retried until it holds; from then on
// cnats reconnects by itself whenever the server goes away.
void NatsLink::ConnectLoop(std::vector<Standing> standing) {
  std::string error;
  NatsOptionsPtr options = MakeNatsOptions(settings_, &error);
  if (!options) {
    MutexLock lock(mutex_);
    ConnectFailed(error + "; not connecting");
    return;
  }
  natsOptions_SetDisconnectedCB(options.get(), &NatsLink::OnDisconnected, this);
  natsOptions_SetReconnectedCB(options.get(), &NatsLink::OnReconnected, this);
  natsOptions_SetClosedCB(options.get(), &NatsLink::OnClosed, this);
  natsOptions_SetErrorHandler(options.get(), &NatsLink::OnError, this);
  if (!reader_.Install(options.get())) {
    MutexLock lock(mutex_);
    ConnectFailed("cannot start the connection's reader; not connecting");
    return;
  }
  const std::string servers = ServerListText(settings_);

  MutexLock lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    natsConnection* nc = nullptr;
    const natsStatus status = natsConnection_Connect(&nc, options.get());
    // cnats keeps the detail per thread: read it here, before anything else.
    const std::string text =
        status == NATS_OK ? "" : DescribeConnectFailure(settings_, status).text;
    lock.lock();
    if (status == NATS_OK) {
      nc_ = nc;
      connected_ = true;
      lock.unlock();
      std::vector<natsSubscription*> subs;
      for (const Standing& s : standing)
        subs.push_back(Subscribe(s.subject, s.handler, s.closure));
      lock.lock();
      for (natsSubscription* sub : subs) {
        if (sub)
          own_subscriptions_.push_back(sub);
      }
      subscribed_ = own_subscriptions_.size() == standing.size();
      if (!subscribed_)
        Log("cannot subscribe at %s", servers.c_str());
      SetConnected(connected_);
      return;
    }
    ConnectFailed(text + "; trying again");
    changed_.wait_for(lock, kReconnectPause, [this]() VC_REQUIRES(mutex_) { return stopping_; });
  }
}

natsSubscription* NatsLink::Subscribe(const std::string& subject, natsMsgHandler handler,
                                      void* closure) {
  return reader_.Subscribe(nc_.load(), subject.c_str(), handler, closure);
}

void NatsLink::Drop(natsSubscription* sub) {
  reader_.Forget(sub);
  {
    ConnectionReader::WriteHere here(reader_, nc_.load());
    natsSubscription_Unsubscribe(sub);
  }
  natsSubscription_Destroy(sub);
}

bool NatsLink::Send(natsConnection* nc, const std::string& subject, const void* data, int length) {
  ConnectionReader::WriteHere here(reader_, nc);
  return natsConnection_Publish(nc, subject.c_str(), data, length) == NATS_OK;
}

void NatsLink::Publish(const std::string& subject, const std::string& reply,
                       const std::string& bytes) {
  natsConnection* nc = nc_.load();
  if (!nc)
    return;
  const int length = static_cast<int>(bytes.size());
  ConnectionReader::WriteHere here(reader_, nc);
  if (reply.empty())
    natsConnection_Publish(nc, subject.c_str(), bytes.data(), length);
  else
    natsConnection_PublishRequest(nc, subject.c_str(), reply.c_str(), bytes.data(), length);
}

void NatsLink::ConnectFailed(const std::string& text) {
  connect_error_ = text;
  if (report_failures_ && connect_error_ != reported_error_) {
    reported_error_ = connect_error_;
    Log("%s", connect_error_.c_str());
  }
}

void NatsLink::ReportFailures() {
  MutexLock lock(mutex_);
  if (report_failures_)
    return;
  report_failures_ = true;
  if (!connect_error_.empty())
    ConnectFailed(connect_error_);
}

void NatsLink::SetConnected(bool connected) {
  connected_ = connected;
  ready_ = connected_ && subscribed_ && !closed_;
}

void NatsLink::OnReconnected(natsConnection*, void* closure) {
  auto* self = static_cast<NatsLink*>(closure);
  {
    MutexLock lock(self->mutex_);
    self->SetConnected(true);
    self->last_error_.clear();
    if (self->stopping_)
      return;
  }
  if (self->listener_)
    self->listener_->OnConnectionBack();
}

void NatsLink::OnDisconnected(natsConnection*, void* closure) {
  auto* self = static_cast<NatsLink*>(closure);
  {
    MutexLock lock(self->mutex_);
    self->SetConnected(false);
    if (self->stopping_)
      return;
  }
  if (self->listener_)
    self->listener_->OnConnectionLost();
}

void NatsLink::OnClosed(natsConnection* nc, void* closure) {
  auto* self = static_cast<NatsLink*>(closure);
  MutexLock lock(self->mutex_);
  self->closed_ = true;
  self->SetConnected(false);
  if (!self->stopping_) {
    const char* text = nullptr;
    natsConnection_GetLastError(nc, &text);
    Log("the NATS connection closed for good: %s", text && *text ? text : "no reason given");
  }
  self->changed_.notify_all();
}

void NatsLink::OnError(natsConnection* nc, natsSubscription*, natsStatus status, void* closure) {
  auto* self = static_cast<NatsLink*>(closure);
  MutexLock lock(self->mutex_);
  const char* detail = nullptr;
  natsConnection_GetLastError(nc, &detail);
  std::string text = natsStatus_GetText(status);
  if (detail && *detail)
    text += std::string(": ") + detail;
  if (text != self->last_error_ && !self->stopping_) {
    self->last_error_ = text;
    if (status == NATS_CONNECTION_AUTH_FAILED || status == NATS_NOT_PERMITTED)
      Log("the NATS server refused the login: %s", text.c_str());
    else
      Log("NATS error: %s", text.c_str());
  }
}

void NatsLink::StopConnecting() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (connector_.joinable())
    connector_.join();
  // Without a connection the reader has nothing to wait for.
  if (!nc_.load())
    reader_.Stop();
}

bool NatsLink::Close(const std::vector<natsSubscription*>& subscriptions) {
  natsConnection* nc = nc_.load();
  if (!nc)
    return true;
  if (natsConnection_Status(nc) == NATS_CONN_STATUS_CONNECTED)
    natsConnection_FlushTimeout(nc, 500);
  natsConnection_Close(nc);
  std::vector<natsSubscription*> own;
  {
    MutexLock lock(mutex_);
    const bool quiet =
        changed_.wait_for(lock, kShutdownWait, [this]() VC_REQUIRES(mutex_) { return closed_; });
    if (!quiet) {
      Log("the NATS client did not stop in time; keeping its connection");
      return false;
    }
    own.swap(own_subscriptions_);
  }
  // No handler runs from here on.
  reader_.Stop();
  for (natsSubscription* sub : subscriptions)
    natsSubscription_Destroy(sub);
  for (natsSubscription* sub : own)
    natsSubscription_Destroy(sub);
  natsConnection_Destroy(nc);
  nc_ = nullptr;
  return true;
}

}  // namespace ksn

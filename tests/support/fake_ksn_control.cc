#include "support/fake_ksn_control.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace vc_test {

COMM::RefPtr<FakeKSNControl> FakeKSNControl::Create() {
  return COMM::RefPtr<FakeKSNControl>(CreateRaw(), COMM::adopt_ref);
}

FakeKSNControl* FakeKSNControl::CreateRaw() {
  return new FakeKSNControl;
}

void AppendLine(const std::string& path, const std::string& line) {
  if (!path.empty())
    std::ofstream(path, std::ios::app) << line << '\n';
}

FakeKSNControl::~FakeKSNControl() {
  AppendLine(journal, "release");
}

void FakeKSNControl::ThrowFrom(const std::string& call, int times, const std::string& message,
                               std::int32_t code) {
  failures_[call] = Failure{times, message, code};
}

KSN::ksnNotify* FakeKSNControl::sink(const std::string& handle) const {
  const auto it = sinks_.find(handle);
  return it == sinks_.end() ? nullptr : it->second.get();
}

std::int32_t FakeKSNControl::sink_count(const std::string& handle) const {
  const KSN::ksnNotify* s = sink(handle);
  return s == nullptr ? 0 : s->ref_count();
}

void FakeKSNControl::Queue(const std::string& handle, std::string_view bytes, std::size_t piece) {
  std::deque<std::string>& queue = inbound_[handle];
  piece = std::max<std::size_t>(piece, 1);
  for (std::size_t at = 0; at < bytes.size(); at += piece)
    queue.emplace_back(bytes.substr(at, piece));
}

std::size_t FakeKSNControl::queued(const std::string& handle) const {
  const auto it = inbound_.find(handle);
  std::size_t n = 0;
  if (it != inbound_.end()) {
    for (const std::string& piece : it->second)
      n += piece.size();
  }
  return n;
}

void FakeKSNControl::Deliver(const std::string& handle, std::string_view bytes, std::size_t piece) {
  Queue(handle, bytes, piece);
  NotifyRecv(handle);
}

// Each notification holds the sink, as a library delivering it would.
void FakeKSNControl::NotifyRecv(const std::string& handle) {
  if (const COMM::RefPtr<KSN::ksnNotify> s(sink(handle)); s)
    s->notifyRecv(handle);
}

void FakeKSNControl::NotifyConnect(const std::string& handle, std::uint32_t code,
                                   const char* error) {
  if (const COMM::RefPtr<KSN::ksnNotify> s(sink(handle)); s)
    s->notifyConnect(code, error, handle);
}

void FakeKSNControl::NotifyClose(const std::string& handle, std::uint32_t code, const char* error) {
  if (const COMM::RefPtr<KSN::ksnNotify> s(sink(handle)); s)
    s->notifyClose(code, error, handle);
}

void FakeKSNControl::Enter(const std::string& call, const std::string& handle,
                           const std::string& line) {
  if (call != "Recv" || record_recv)
    calls.push_back(line);
  AppendLine(journal, line);
  if (inside)
    inside(call, handle);
  const auto it = failures_.find(call);
  if (it != failures_.end() && it->second.times > 0) {
    --it->second.times;
    throw KSN::exception(it->second.message, it->second.code);
  }
}

void FakeKSNControl::OpenSession(const std::string& handle, std::int32_t type, KSN::ksnNotify* sink,
                                 std::int32_t flags) {
  Enter("OpenSession", handle,
        "OpenSession " + handle + " " + std::to_string(type) + " " + std::to_string(flags));
  sinks_[handle] = COMM::RefPtr<KSN::ksnNotify>(sink);
}

void FakeKSNControl::CloseSession(const std::string& handle) {
  Enter("CloseSession", handle, "CloseSession " + handle);
}

std::int32_t FakeKSNControl::Send(const std::string& handle, const void* data,
                                  std::uint32_t length) {
  Enter("Send", handle, "Send " + handle + " " + std::to_string(length));
  sent.emplace_back(static_cast<const char*>(data), length);
  return static_cast<std::int32_t>(length);
}

std::int32_t FakeKSNControl::Recv(const std::string& handle, void* buffer, std::uint32_t capacity) {
  Enter("Recv", handle, "Recv " + handle + " " + std::to_string(capacity));
  auto it = inbound_.find(handle);
  if (it == inbound_.end() || it->second.empty())
    return 0;
  std::string& front = it->second.front();
  const std::size_t n = std::min<std::size_t>(front.size(), capacity);
  std::memcpy(buffer, front.data(), n);
  front.erase(0, n);
  if (front.empty())
    it->second.pop_front();
  return static_cast<std::int32_t>(n);
}

bool FakeKSNControl::IsReady() {
  Enter("IsReady", "", "IsReady");
  return ready;
}

bool FakeKSNControl::IsConnected(const std::string& handle) {
  Enter("IsConnected", handle, "IsConnected " + handle);
  return connected.contains(handle);
}

void FakeKSNControl::RegisterObject(const char* path, ksn::object*) {
  Enter("RegisterObject", "", std::string("RegisterObject ") + path);
}

void FakeKSNControl::UnregisterObject(const char* path) {
  Enter("UnregisterObject", "", std::string("UnregisterObject ") + path);
}

}  // namespace vc_test

// A plain cnats client on a test's server, as anyone could run one: it keeps
// what it may read and sends what it likes, with no key of any kind.
#pragma once

#include <nats/nats.h>

#include <string>
#include <vector>

namespace ksn_test {

struct Outsider {
  struct Seen {
    std::string subject, reply, data;
  };

  // Keeps every message on `subjects` from now on, for Drain.
  Outsider(const std::string& url, const char* subjects) {
    natsConnection_ConnectTo(&nc, url.c_str());
    if (nc)
      natsConnection_SubscribeSync(&spy, nc, subjects);
    natsConnection_Flush(nc);
  }
  ~Outsider() {
    natsSubscription_Destroy(answering);
    natsSubscription_Destroy(spy);
    natsConnection_Destroy(nc);
  }
  Outsider(const Outsider&) = delete;
  Outsider& operator=(const Outsider&) = delete;

  // What was kept, up to the first 200 ms without a message.
  std::vector<Seen> Drain() {
    std::vector<Seen> seen;
    natsMsg* msg = nullptr;
    while (natsSubscription_NextMsg(&msg, spy, 200) == NATS_OK) {
      const char* reply = natsMsg_GetReply(msg);
      seen.push_back({natsMsg_GetSubject(msg), reply ? reply : "",
                      std::string(natsMsg_GetData(msg), natsMsg_GetDataLength(msg))});
      natsMsg_Destroy(msg);
    }
    return seen;
  }
  void Send(const std::string& subject, const std::string& data, const std::string& reply = "") {
    const int length = static_cast<int>(data.size());
    if (reply.empty())
      natsConnection_Publish(nc, subject.c_str(), data.data(), length);
    else
      natsConnection_PublishRequest(nc, subject.c_str(), reply.c_str(), data.data(), length);
  }
  // Answers every request on `subject` with `text`, as soon as it comes.
  void Answer(const char* subject, std::string text) {
    answer = std::move(text);
    natsConnection_Subscribe(
        &answering, nc, subject,
        [](natsConnection* c, natsSubscription*, natsMsg* msg, void* self) {
          if (natsMsg_GetReply(msg))
            natsConnection_PublishString(c, natsMsg_GetReply(msg),
                                         static_cast<Outsider*>(self)->answer.c_str());
          natsMsg_Destroy(msg);
        },
        this);
    natsConnection_Flush(nc);
  }

  natsConnection* nc = nullptr;
  natsSubscription* spy = nullptr;
  natsSubscription* answering = nullptr;
  std::string answer;
};

}  // namespace ksn_test

#include "support/loopback_call.h"

#include <string>
#include <tuple>
#include <utility>

#include "protocol/block_buffer.h"
#include "protocol/video_packet_builder.h"
#include "protocol/video_packet_reader.h"

namespace vc_test {

namespace {

constexpr char kSender[] = "a";
constexpr char kReceiver[] = "b";

}  // namespace

LoopbackCall::LoopbackCall(kalo::video::CodecFactory codecs, bool super)
    : super_(super), sender_(codecs), window_(super ? 352 : 176, super ? 288 : 144) {
  kalo::video::VideoConfSessionSetup setup;
  setup.codec_factory = codecs;
  for (auto [table, net, cid] : {std::tuple{&sending_, &sender_net_, kSender},
                                 std::tuple{&receiving_, &receiver_net_, kReceiver}}) {
    auto session = kalo::video::VideoConfSession::Create(this, COMM::RefPtr<KSNControl>(net->get()),
                                                         cid, 0, setup);
    session->Start();
    table->emplace(cid, session);
  }
  receiving_.begin()->second->AddWindow(window_.hwnd());
}

LoopbackCall::~LoopbackCall() {
  kalo::video::CloseTableSession(sending_, kSender);
  kalo::video::CloseTableSession(receiving_, kReceiver);
}

void LoopbackCall::Pair() {
  sender_net_->connected.insert(kSender);
  receiver_net_->connected.insert(kReceiver);
  receiver_net_->NotifyConnect(kReceiver);
  sender_net_->NotifyConnect(kSender);
}

void LoopbackCall::SendFrame(bool lose) {
  // A picture that changes with every frame, as a camera's does.
  Picture picture(super_ ? 352 : 176, super_ ? 288 : 144, ++frames_);
  kalo::video::SendSettings settings;
  settings.video_type = super_ ? 0 : 1;
  settings.out_bw_valve = 1000;
  settings.frame_rate = super_ ? 15 : 20;
  settings.bit_rate = super_ ? 100000 : 49000;
  sender_.EncodeAndSendFrame(picture.frame(), settings, sending_, recorder_, ClockStamp::Now());
  Carry(lose);
}

// Until both sides are silent: an answer sent at once goes out at once.
void LoopbackCall::Carry(bool lose) {
  while (!sender_net_->sent.empty() || !receiver_net_->sent.empty()) {
    for (const std::string& bytes : std::exchange(sender_net_->sent, {})) {
      const auto reading = VIDEODATA::ReadWholePacket(bytes.data(), bytes.size());
      last_was_key_ = reading.kind == VIDEODATA::PacketKind::kVideo && reading.video.info.key_frame;
      keys_ += last_was_key_ ? 1 : 0;
      if (!std::exchange(lose, false))
        receiver_net_->Deliver(kReceiver, bytes);
    }
    for (const std::string& bytes : std::exchange(receiver_net_->sent, {}))
      sender_net_->Deliver(kSender, bytes);
  }
}

int LoopbackCall::AskForKeyFrames(int times) {
  sox::PackBuffer buffer;
  const auto request = VIDEODATA::BuildKeyFrameRequest(buffer);
  const int before = keys_;
  for (int i = 0; i < times; ++i)
    receiver_net_->sent.emplace_back(reinterpret_cast<const char*>(request.data()), request.size());
  Carry(false);
  return keys_ - before;
}

std::uint64_t LoopbackCall::painted() const {
  const auto* attributes = receiving_.begin()->second->windows().attributes(window_.hwnd());
  return attributes == nullptr ? 0 : attributes->frame_count;
}

void LoopbackCall::OnKSNSessionReady(const std::string& cid) {
  if (cid == kSender)
    sender_.ForceKeyFrame();
}

void LoopbackCall::OnKeyFrameRequest(const std::string& cid) {
  if (cid == kSender) {
    ++requests_;
    sender_.AnswerKeyFrameRequest(sending_, recorder_, ClockStamp::Now());
  }
}

}  // namespace vc_test

// Both ends of a conference in one process: a sender (the manager's frame
// path with its encoder, and a session over a fake network that carries its
// partner's requests) and a receiver session that decodes into a host window.
// The caller paces the frames; each one is carried across at once, unless it
// is to be lost, and whatever the receiver sends goes back the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/ref_ptr.h"
#include "manager/frame_sender.h"
#include "session/bandwith_recorder.h"
#include "session/session_events.h"
#include "session/session_table.h"
#include "support/fake_ksn_control.h"
#include "support/host_window.h"

namespace vc_test {

class LoopbackCall final : public kalo::video::ISessionEvents {
 public:
  // `codecs` makes both the sender's encoders and the receiver's decoders.
  // Normal mode sends the small stream at 20 frames a second, super mode the
  // full picture at 15.
  LoopbackCall(kalo::video::CodecFactory codecs, bool super);
  ~LoopbackCall();

  // Both network sessions come up, as pairing ends.
  void Pair();
  // Captures, encodes and sends one frame; `lose` drops its packet on the way.
  void SendFrame(bool lose = false);

  // Frames the receiver painted so far.
  std::uint64_t painted() const;
  // The receiver's key-frame requests that reached the sender.
  int requests() const { return requests_; }
  // Whether the last frame sent was a key frame.
  bool last_was_key() const { return last_was_key_; }
  // The receiver asks `times` at once; the key frames that came of it.
  int AskForKeyFrames(int times);
  // Milliseconds between two frames of the mode.
  int frame_interval_ms() const { return super_ ? 1000 / 15 : 1000 / 20; }

  // ISessionEvents of both ends: the sender's conference is "a", the
  // receiver's "b".
  void OnKSNSessionReady(const std::string& cid) override;
  void OnKSNSessionClose(const std::string& cid) override {}
  void OnKeyFrameRequest(const std::string& cid) override;

 private:
  // Hands what one side sent to the other, the receiver's bytes first.
  void Carry(bool lose);

  bool super_;
  COMM::RefPtr<FakeKSNControl> sender_net_ = FakeKSNControl::Create();
  COMM::RefPtr<FakeKSNControl> receiver_net_ = FakeKSNControl::Create();
  kalo::video::FrameSender sender_;
  kalo::video::SessionTable sending_;
  kalo::video::SessionTable receiving_;
  bandwith_recorder recorder_{1000, 10};
  HostWindow window_;
  int frames_ = 0;
  int requests_ = 0;
  bool last_was_key_ = false;
  int keys_ = 0;  // key frames carried
};

}  // namespace vc_test

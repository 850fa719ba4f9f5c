// The module's receiving side decodes what its sending side's codec made:
// a conference session with the production codec factory (the codec library
// bound through the weak reference) paints a real MPEG-4 stream.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "moving_picture.h"
#include "session/codec_factory.h"
#include "session/video_conf_session.h"
#include "support/fake_ksn_control.h"
#include "support/host_window.h"
#include "support/video_packet.h"

namespace {

struct NoManager final : kalo::video::ISessionEvents {
  void OnKSNSessionReady(const std::string&) override {}
  void OnKSNSessionClose(const std::string& cid) override { ADD_FAILURE() << "closed " << cid; }
};

TEST(SessionWithCodecLibrary, PaintsTheStreamTheEncoderMade) {
  // The call to the export makes this program need the library, as linking
  // the module with it does; the session's weak reference is bound then.
  std::unique_ptr<IVCodec> encoder(IVCodec_Creater());
  ASSERT_NE(encoder, nullptr);
  ASSERT_TRUE(kalo::video::CodecLibraryPresent());
  constexpr int kWidth = 176, kHeight = 144, kFrames = 30;
  encoder->open(kWidth, kHeight, 20.0f, 49000, 32);  // as the small stream's sender
  std::string stream;
  for (int t = 0; t < kFrames; ++t) {
    std::vector<std::uint8_t> picture = vcodec_test::MovingPicture(kWidth, kHeight, t);
    std::vector<std::uint8_t> out(picture.size());
    std::uint32_t length = 0;
    std::uint8_t key = 0;
    encoder->encode(picture.data(), static_cast<std::uint32_t>(picture.size()), out.data(), &length,
                    &key);
    stream += vc_test::VideoPacket(vc_test::TestFrameInfo(key, kWidth, kHeight, t),
                                   std::string(out.begin(), out.begin() + length));
  }

  NoManager manager;
  auto control = vc_test::FakeKSNControl::Create();
  kalo::video::VideoConfSessionSetup setup;  // the production codec factory
  std::uint64_t now = 133500000000000000;
  setup.system_time = [&now] { return now += 10000; };
  auto session = kalo::video::VideoConfSession::Create(
      &manager, COMM::RefPtr<KSNControl>(control.get()), "c1", 1, setup);
  ASSERT_TRUE(session->Start());
  vc_test::HostWindow window(kWidth, kHeight);
  session->AddWindow(window.hwnd());
  control->Deliver("c1", stream, 5000);

  EXPECT_EQ(session->windows().attributes(window.hwnd())->frame_count, std::uint64_t{kFrames});
  const vc_test::Surface shown = vc_test::ReadSurface(window.hwnd());
  std::vector<std::uint8_t> bgra;  // the window's top-down rows as a bottom-up picture
  for (int y = kHeight - 1; y >= 0; --y)
    for (int x = 0; x < kWidth; ++x)
      for (int shift : {0, 8, 16, 24})
        bgra.push_back(static_cast<std::uint8_t>(shown.at(x, y) >> shift));
  EXPECT_GE(vcodec_test::Psnr(vcodec_test::MovingPicture(kWidth, kHeight, kFrames - 1), bgra.data(),
                              kWidth, kHeight),
            30.0);
  session->Stop();
}

}  // namespace

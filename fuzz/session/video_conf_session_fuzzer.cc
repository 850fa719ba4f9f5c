// Drives a whole conference session through its receive path: arbitrary
// bytes, cut into arbitrary deliveries, read through the fake control
// object's Recv, decoded by the fake codec and painted into a host window.
// Checks that the conference is closed exactly when the stream holds a packet
// that can never be read, and never twice.
//
// Input: one byte choosing how the stream is cut, one byte of trouble (see
// Trouble), then the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "plat/window.h"
#include "session/session_table.h"
#include "session/video_conf_session.h"
#include "support/fake_codec.h"
#include "support/fake_ksn_control.h"

namespace {

using kalo::video::VideoConfSession;

#define CHECK(cond)                                                      \
  do {                                                                   \
    if (!(cond)) {                                                       \
      __builtin_printf("check failed: %s (line %d)\n", #cond, __LINE__); \
      std::abort();                                                      \
    }                                                                    \
  } while (0)

// Bits of the second input byte.
enum Trouble : std::uint8_t {
  kRecvThrows = 1,      // every fifth Recv throws
  kDecodeThrows = 2,    // the first decode throws
  kFactoryFails = 4,    // the first decoder cannot be made
  kDecodeRefuses = 8,   // decode answers false
  kCloseInTheEnd = 16,  // the library closes the session after the last delivery
  kFastFrames = 32,     // frames 10 microseconds apart: most are dropped
  kWindowGoes = 64,     // the window leaves the set after the second delivery
};

// Keeps the session in a table and closes it as the manager does.
class Manager final : public kalo::video::ISessionEvents {
 public:
  void OnKSNSessionReady(const std::string&) override {}
  void OnKSNSessionClose(const std::string& cid) override {
    ++closes;
    kalo::video::CloseTableSession(table, cid);
  }

  int closes = 0;
  kalo::video::SessionTable table;
};

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Whether the stream reaches a packet that can never be read: a length that
// cannot be a packet's, or a video record running past its packet.
bool StreamBreaks(const std::uint8_t* stream, std::size_t size) {
  std::size_t at = 0;
  while (size - at >= 9) {
    const std::uint8_t* p = stream + at;
    const std::uint32_t length = Le32(p);
    const bool video = Le32(p + 4) == 7;
    if (length < 9 || length > (1u << 20) || (video && (length < 36 || length > 65571)))
      return true;
    if (size - at < length)
      return false;
    if (video && 36u + (p[34] | p[35] << 8) > length)
      return true;
    at += length;
  }
  return false;
}

plat::HWND Window() {
  static const plat::HWND window = [] {
    plat::WNDCLASS wc;
    wc.lpfnWndProc = plat::DefWindowProc;
    wc.hInstance = plat::GetModuleHandle(nullptr);
    wc.lpszClassName = "fuzz_session_window";
    plat::RegisterClass(&wc);
    return plat::CreateWindow(wc.lpszClassName, "video", plat::WS_VISIBLE, 0, 0, 40, 30, 0, nullptr,
                              wc.hInstance, nullptr);
  }();
  return window;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2)
    return 0;
  static constexpr std::size_t kLargest[] = {1, 2, 9, 37, 136, 1000, 32000, 100000};
  const std::size_t largest = kLargest[data[0] % 8];
  const std::uint8_t trouble = data[1];
  const std::string_view stream(reinterpret_cast<const char*>(data + 2), size - 2);

  auto codecs = std::make_shared<vc_test::CodecJournal>();
  codecs->record = false;
  codecs->throw_decodes = (trouble & kDecodeThrows) ? 1 : 0;
  codecs->fail_creates = (trouble & kFactoryFails) ? 1 : 0;
  codecs->decode_answer = (trouble & kDecodeRefuses) == 0;
  // Big pictures are written at their edges only, and not painted.
  codecs->max_filled_bytes = 1u << 20;
  codecs->max_decoded_bytes = 4u << 20;

  const COMM::RefPtr<vc_test::FakeKSNControl> control = vc_test::FakeKSNControl::Create();
  control->record_recv = false;
  int reads = 0;
  if (trouble & kRecvThrows) {
    control->inside = [&reads](const std::string& call, const std::string&) {
      if (call == "Recv" && ++reads % 5 == 0)
        throw KSN::exception("fuzz", 1);
    };
  }

  kalo::video::VideoConfSessionSetup setup;
  setup.codec_factory = vc_test::FakeCodecFactory(codecs);
  std::uint64_t now = 133500000000000000;
  const std::uint64_t step = (trouble & kFastFrames) ? 100 : 10000;
  setup.system_time = [&now, step] { return now += step; };

  Manager manager;
  {
    COMM::RefPtr<VideoConfSession> session = VideoConfSession::Create(
        &manager, COMM::RefPtr<KSNControl>(control.get()), "fuzz", 0, setup);
    CHECK(session);
    session->AddWindow(Window());
    session->AddWindow(0);  // a handle that is no window
    CHECK(session->Start());
    manager.table.emplace("fuzz", std::move(session));
  }
  control->NotifyConnect("fuzz");

  std::uint32_t state = 2654435761u * (data[0] + 1);
  std::size_t at = 0;
  int deliveries = 0;
  while (at < stream.size()) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const std::size_t piece = 1 + state % largest;
    const std::size_t n = std::min(3 * piece, stream.size() - at);
    control->Deliver("fuzz", stream.substr(at, n), piece);
    at += n;
    if ((trouble & kWindowGoes) && ++deliveries == 2) {
      if (!manager.table.empty())
        manager.table.begin()->second->RemoveWindow(Window());
    }
  }
  // Bytes a throwing Recv left with the library; each notification reads
  // some of them.
  while (control->queued("fuzz") > 0 && !manager.table.empty())
    control->NotifyRecv("fuzz");

  const bool breaks = StreamBreaks(data + 2, size - 2);
  CHECK(manager.closes == (breaks ? 1 : 0));
  if (trouble & kCloseInTheEnd) {
    control->NotifyClose("fuzz");
    CHECK(manager.closes == 1);
  }
  CHECK(manager.table.empty() == (manager.closes == 1));
  manager.table.clear();
  CHECK(control->ref_count() == 1);
  return 0;
}

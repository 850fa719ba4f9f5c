#include "capture/video_capture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "capture/capture_messages.h"
#include "capture/video_cap_t.h"
#include "plat/message.h"
#include "plat/window.h"

namespace {

using plat::HWND;

std::vector<HWND> CaptureWindows() {
  std::vector<HWND> found;
  for (HWND hwnd : plat::EnumWindows()) {
    if (plat::GetClassName(hwnd) == VideoCapture::kWindowClassName) {
      found.push_back(hwnd);
    }
  }
  return found;
}

// The class is gone when a class of that name can be registered again.
bool ClassIsRegistered() {
  plat::WNDCLASS wc;
  wc.lpfnWndProc = &plat::DefWindowProc;
  wc.hInstance = plat::GetModuleHandle(nullptr);
  wc.lpszClassName = VideoCapture::kWindowClassName;
  if (plat::RegisterClass(&wc) == 0) {
    return true;
  }
  plat::UnregisterClass(VideoCapture::kWindowClassName, wc.hInstance);
  return false;
}

void PumpMessages() {
  plat::MSG msg;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
    plat::DispatchMessage(&msg);
  }
}

bool FrameCopyQueued() {
  plat::MSG msg;
  return plat::PeekMessage(&msg, 0, WM_CAPTURE_FRAME, WM_CAPTURE_FRAME, plat::PM_NOREMOVE);
}

bool PostFrameCopy(HWND hwnd, std::size_t bytes) {
  plat::LPARAM lparam = FrameCopyToMessage(std::make_unique<std::uint8_t[]>(bytes));
  if (plat::PostMessage(hwnd, WM_CAPTURE_FRAME, 0, lparam)) {
    return true;
  }
  FrameCopyFromMessage(lparam);
  return false;
}

// A graph event queue with fixed contents; counts what was taken.
class FakeGraphEvents : public GraphEvents {
 public:
  explicit FakeGraphEvents(std::deque<std::int32_t> codes) : codes_(std::move(codes)) {}
  bool GetEvent(std::int32_t* code) override {
    if (codes_.empty()) {
      return false;
    }
    *code = codes_.front();
    codes_.pop_front();
    ++taken_;
    return true;
  }
  int taken() const { return taken_; }
  std::size_t left() const { return codes_.size(); }

 private:
  std::deque<std::int32_t> codes_;
  int taken_ = 0;
};

// A capture object whose graph event queue a test supplies.
class ProbeCapture : public VideoCapture {
 public:
  FakeGraphEvents* AttachEvents(std::deque<std::int32_t> codes) {
    auto events = std::make_unique<FakeGraphEvents>(std::move(codes));
    FakeGraphEvents* raw = events.get();
    events_ = std::move(events);
    return raw;
  }
  void OnCaptureError(const char* text) override { errors.emplace_back(text); }

  std::vector<std::string> errors;
};

struct FakeOwner {
  void OnRecordSecondsLeft(std::int32_t seconds) { seconds_left.push_back(seconds); }
  bool OnFrame(const VideoFrame* frame) {
    frames.push_back(frame);
    return true;
  }
  void OnCaptureError(const char* text) { errors.emplace_back(text); }

  std::vector<std::int32_t> seconds_left;
  std::vector<const VideoFrame*> frames;
  std::vector<std::string> errors;
};

// ---- The hidden window ----

TEST(VideoCaptureWindow, ConstructionMakesOneHiddenWindowLinkedToTheObject) {
  ASSERT_TRUE(CaptureWindows().empty());
  VideoCapture capture;

  std::vector<HWND> windows = CaptureWindows();
  ASSERT_EQ(windows.size(), 1u);
  HWND hwnd = windows.front();
  EXPECT_EQ(hwnd, capture.hwnd());
  EXPECT_EQ(plat::GetWindowText(hwnd), "VideoWnd");
  EXPECT_EQ(plat::GetWindowLongPtr(hwnd, plat::GWLP_USERDATA),
            reinterpret_cast<plat::LONG_PTR>(static_cast<VideoCapture*>(&capture)));
  EXPECT_EQ(plat::GetWindowThreadProcessId(hwnd, nullptr), plat::GetCurrentThreadId());
  plat::RECT rect;
  ASSERT_TRUE(plat::GetClientRect(hwnd, &rect));
  EXPECT_EQ(rect.right, 0);  // hidden: no client area, never shown
  EXPECT_EQ(rect.bottom, 0);
}

TEST(VideoCaptureWindow, WindowBelongsToTheConstructingThread) {
  plat::DWORD owner = 0;
  plat::DWORD constructor = 0;
  std::thread worker([&] {
    VideoCapture capture;
    constructor = plat::GetCurrentThreadId();
    owner = plat::GetWindowThreadProcessId(capture.hwnd(), nullptr);
  });
  worker.join();
  EXPECT_NE(owner, 0u);
  EXPECT_EQ(owner, constructor);
  EXPECT_NE(owner, plat::GetCurrentThreadId());
  EXPECT_TRUE(CaptureWindows().empty());
  EXPECT_FALSE(ClassIsRegistered());
}

TEST(VideoCaptureWindow, DestructionDestroysTheWindowAndUnregistersTheClass) {
  HWND hwnd = 0;
  {
    VideoCapture capture;
    hwnd = capture.hwnd();
    ASSERT_NE(hwnd, 0u);
    EXPECT_TRUE(ClassIsRegistered());
  }
  EXPECT_FALSE(plat::IsWindow(hwnd));
  EXPECT_TRUE(CaptureWindows().empty());
  EXPECT_FALSE(ClassIsRegistered());
}

TEST(VideoCaptureWindow, ObjectsOneAfterAnotherEachGetAWindow) {
  for (int round = 0; round < 3; ++round) {
    VideoCapture capture;
    ASSERT_NE(capture.hwnd(), 0u) << "round " << round;
    EXPECT_EQ(CaptureWindows().size(), 1u);
  }
  EXPECT_TRUE(CaptureWindows().empty());
  EXPECT_FALSE(ClassIsRegistered());
}

TEST(VideoCaptureWindow, OverlappingObjectsShareTheClassUntilTheLastGoes) {
  auto first = std::make_unique<VideoCapture>();
  auto second = std::make_unique<VideoCapture>();
  ASSERT_NE(first->hwnd(), 0u);
  ASSERT_NE(second->hwnd(), 0u);
  EXPECT_NE(first->hwnd(), second->hwnd());

  first.reset();
  // The class stays for the window that still uses it.
  EXPECT_EQ(CaptureWindows(), std::vector<HWND>{second->hwnd()});
  EXPECT_TRUE(ClassIsRegistered());

  second.reset();
  EXPECT_TRUE(CaptureWindows().empty());
  EXPECT_FALSE(ClassIsRegistered());
}

// ---- Messages to the hidden window ----

TEST(VideoCaptureMessages, GraphNotifyDrainsTheEventQueueAndReportsDeviceLoss) {
  ProbeCapture capture;
  FakeGraphEvents* events = capture.AttachEvents({0x0E, EC_DEVICE_LOST, 0x01});
  ASSERT_TRUE(plat::PostMessage(capture.hwnd(), WM_GRAPH_NOTIFY, 0, 0));
  EXPECT_EQ(events->taken(), 0);  // nothing happens before the queue is pumped

  PumpMessages();
  EXPECT_EQ(events->taken(), 3);
  EXPECT_EQ(events->left(), 0u);
  EXPECT_EQ(capture.errors, std::vector<std::string>{"EC_DEVICE_LOST"});
  EXPECT_EQ(capture.last_error(), "EC_DEVICE_LOST");
  EXPECT_FALSE(capture.IsRunning());
}

TEST(VideoCaptureMessages, GraphNotifyWithoutAGraphIsHarmless) {
  ProbeCapture capture;
  ASSERT_TRUE(plat::PostMessage(capture.hwnd(), WM_GRAPH_NOTIFY, 0, 0));
  PumpMessages();
  EXPECT_TRUE(capture.errors.empty());
  EXPECT_FALSE(capture.HandleGraphEvents());
}

// Leaks of the copies show under the sanitizer build.
TEST(VideoCaptureMessages, FrameCopyIsFreedWhenHandledWithoutARecording) {
  VideoCapture capture;
  ASSERT_TRUE(PostFrameCopy(capture.hwnd(), 176 * 144 * 4));
  ASSERT_TRUE(plat::PostMessage(capture.hwnd(), WM_CAPTURE_FRAME, 0, 0));  // no copy at all
  PumpMessages();
  EXPECT_FALSE(FrameCopyQueued());
}

TEST(VideoCaptureMessages, FrameCopiesQueuedAtDestructionAreDroppedNotLeaked) {
  auto capture = std::make_unique<ProbeCapture>();
  capture->AttachEvents({EC_DEVICE_LOST});
  HWND hwnd = capture->hwnd();
  ASSERT_TRUE(PostFrameCopy(hwnd, 352 * 288 * 4));
  ASSERT_TRUE(plat::PostMessage(hwnd, WM_GRAPH_NOTIFY, 0, 0));
  ASSERT_TRUE(PostFrameCopy(hwnd, 352 * 288 * 4));
  EXPECT_TRUE(FrameCopyQueued());

  capture.reset();
  EXPECT_FALSE(FrameCopyQueued());
  EXPECT_FALSE(PostFrameCopy(hwnd, 16));  // the window is gone
  // The graph notice still queued must not reach the destroyed object.
  PumpMessages();
}

TEST(VideoCaptureMessages, UnlinkedWindowDropsFrameCopies) {
  VideoCapture capture;
  plat::SetWindowLongPtr(capture.hwnd(), plat::GWLP_USERDATA, 0);
  ASSERT_TRUE(PostFrameCopy(capture.hwnd(), 64));
  ASSERT_TRUE(plat::PostMessage(capture.hwnd(), WM_GRAPH_NOTIFY, 0, 0));
  PumpMessages();
  EXPECT_FALSE(FrameCopyQueued());
}

// ---- Results with no video device ----

TEST(VideoCaptureNoDevice, OpenFailsButKeepsTheDriverAndNothingElse) {
  VideoCapture capture;
  capture.set_bit_rate(49000);
  EXPECT_FALSE(capture.Open("/dev/video7", 640, 480, 15));
  EXPECT_EQ(capture.driver(), "/dev/video7");
  EXPECT_FALSE(capture.Open("", 0, 0, 0));
  EXPECT_EQ(capture.driver(), "/dev/video7");  // an empty driver keeps the last one
  EXPECT_FALSE(capture.Open("virtual video camera", 0, 0, 0));
  EXPECT_EQ(capture.driver(), "virtual video camera");

  EXPECT_FALSE(capture.IsRunning());
  EXPECT_EQ(capture.width(), 176);
  EXPECT_EQ(capture.height(), 144);
  EXPECT_EQ(capture.frame_rate(), 30);
  EXPECT_EQ(capture.bit_rate(), 49000);
  EXPECT_EQ(capture.last_error(), "");
}

TEST(VideoCaptureNoDevice, ListDevicesLeavesTheHostsListAsItWas) {
  VideoCapture capture;
  kalo::video::DeviceList devices{{"/dev/video0", "Earlier entry"}};
  EXPECT_FALSE(capture.ListDevices(devices));
  EXPECT_EQ(devices, (kalo::video::DeviceList{{"/dev/video0", "Earlier entry"}}));
  kalo::video::DeviceList empty;
  EXPECT_FALSE(capture.ListDevices(empty));
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(capture.last_error(), "");  // no device is not an enumeration failure
}

TEST(VideoCaptureNoDevice, OperationsOnAGraphAnswerFalse) {
  VideoCapture capture;
  EXPECT_FALSE(capture.Stop());
  EXPECT_FALSE(capture.ShowCameraProperties());
  EXPECT_FALSE(capture.StartRecording("clip.avi", 10));
  EXPECT_FALSE(capture.HandleGraphEvents());
  EXPECT_FALSE(capture.IsRunning());
  EXPECT_TRUE(plat::IsWindow(capture.hwnd()));
}

// ---- The owner binding ----

TEST(VideoCapTBinding, ForwardsTheHooksToItsOwner) {
  FakeOwner owner;
  kalo::video::VideoCapT<FakeOwner> capture;
  capture.SetManager(&owner);
  EXPECT_EQ(capture.manager(), &owner);

  // Called as the writer and the sample path call them: through the base.
  VideoCapture& base = capture;
  VideoFrame frame;
  base.OnRecordSecondsLeft(7);
  base.OnFrame(&frame);
  base.OnCaptureError("EC_DEVICE_LOST");

  EXPECT_EQ(owner.seconds_left, std::vector<std::int32_t>{7});
  EXPECT_EQ(owner.frames, std::vector<const VideoFrame*>{&frame});
  EXPECT_EQ(owner.errors, std::vector<std::string>{"EC_DEVICE_LOST"});
}

TEST(VideoCapTBinding, IsACaptureObjectWithItsWindow) {
  FakeOwner owner;
  std::unique_ptr<VideoCapture> capture = std::make_unique<kalo::video::VideoCapT<FakeOwner>>();
  static_cast<kalo::video::VideoCapT<FakeOwner>*>(capture.get())->SetManager(&owner);
  HWND hwnd = capture->hwnd();
  EXPECT_EQ(plat::GetWindowLongPtr(hwnd, plat::GWLP_USERDATA),
            reinterpret_cast<plat::LONG_PTR>(capture.get()));
  EXPECT_FALSE(capture->Open("", 0, 0, 0));

  capture.reset();  // through the base, as the manager destroys it
  EXPECT_FALSE(plat::IsWindow(hwnd));
  EXPECT_FALSE(ClassIsRegistered());
  EXPECT_TRUE(owner.errors.empty());
}

}  // namespace

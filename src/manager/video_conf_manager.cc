#include "manager/video_conf_manager.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "common/debug_log.h"
#include "manager/console.h"
#include "plat/gdi.h"
#include "plat/kernel.h"
#include "plat/module.h"

namespace kalo::video {

namespace {

// Any object of this image: the peer-network library is looked for beside it.
const char kImageAnchor = 0;

// Why the library closed a conference, as the observers hear it.
constexpr std::int32_t kSessionClosedReason = 6000;

// The camera modes: super is the full-size stream, normal the small one.
constexpr std::int32_t kNormalStream = 0;
constexpr std::int32_t kSmallStream = 1;
constexpr std::uint32_t kSuperValve = 15;
constexpr std::uint32_t kNormalValve = 20;

// A decimal text as atol reads it (leading blanks, a sign, digits; anything
// else ends it, no digits give 0), kept within 32 bits rather than left to
// overflow.
std::int32_t DecimalValue(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 10);
  return static_cast<std::int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

VideoConfManager::VideoConfManager() : VideoConfManager(VideoConfManagerSetup{}) {}

// The timer base is made first (its window and tick), then the fields take
// their initial values; the steps below follow in this order.
VideoConfManager::VideoConfManager(const VideoConfManagerSetup& setup)
    : frame_sender_(setup.encoder_factory),
      clock_source_(setup.clock ? setup.clock : COMM::RealClock()),
      session_setup_(setup.session) {
  SetUpDebugLog(setup.log_dir);
  RefreshClock();
  ResetRecorder();
  LoadKSN(setup);
  CreateCapture();
  RegisterWithKSN();
}

// The steps below, then the fields in reverse order of declaration, then the
// timer base (its window and tick) last.
VideoConfManager::~VideoConfManager() {
  HoldTicks();
  UnregisterFromKSN();
  FreeBitstreams();
  CloseAllSessions();
  DestroyCapture();
  UnloadKSN();
}

void VideoConfManager::SetUpDebugLog(const std::optional<std::string>& log_dir) {
  const std::string dir = log_dir ? *log_dir : COMM::MakeLogDirectory(plat::GetExecutablePath());
  COMM::g_debug_log.set_dir(dir.c_str());
  COMM::g_debug_log.set_name("video_log");
  COMM::g_debug_log.set_max_size(COMM::LogMaxSizeFromEnvironment());
  COMM::g_debug_log.trim();
  COMM::g_debug_log.set_level(kRunningLogLevel);
}

void VideoConfManager::RefreshClock() {
  clock_ = clock_source_->Now();
}

// The valve counts frames in the current 100 ms slot and the nine before it.
void VideoConfManager::ResetRecorder() {
  recorder_.reset(1000, 10, clock_);
}

// Without the library, or without its export, the manager stays not ready for
// its whole life; that is no error.
void VideoConfManager::LoadKSN(const VideoConfManagerSetup& setup) {
  if (setup.ksn_control) {
    ksn_control_ = setup.ksn_control;
    return;
  }
  if (ksn_module_)
    return;
  ksn_module_ = LoadedLibrary(plat::LoadLibraryBeside(setup.ksn_library.c_str(), &kImageAnchor));
  if (!ksn_module_)
    return;
  const auto create =
      reinterpret_cast<KSNCreateFunc>(plat::GetProcAddress(ksn_module_.get(), kKSNCreateExport));
  if (!create)
    return;
  // The new object comes with the reference that is the manager's.
  ksn_control_ = COMM::RefPtr<KSNControl>(create(), COMM::adopt_ref);
}

// Without memory for either, the field stays null and the operations that
// need it answer false.
void VideoConfManager::CreateCapture() {
  capture_.reset();
  try {
    capture_ = std::make_unique<VideoCapT<VideoConfManager>>();
    capture_->SetManager(this);
  } catch (const std::bad_alloc&) {
  }
  self_wnds_.reset();
  try {
    self_wnds_ = std::make_unique<VideoWnds>();
  } catch (const std::bad_alloc&) {
  }
}

void VideoConfManager::RegisterWithKSN() {
  if (!ksn_control_)
    return;
  // Caught here: the exception's code lives in the library, which must not
  // unload while the exception is alive, as it would if construction failed.
  try {
    ksn_control_->RegisterObject(kObjectPath, static_cast<ksn::object*>(this));
  } catch (const KSN::exception& e) {
    DEBUG_LOG(6, "[VideoConfManager::RegisterWithKSN] exception: %s, error_code=%d", e.what(),
              e.error_code);
  }
}

void VideoConfManager::UnregisterFromKSN() {
  if (ksn_control_)
    ksn_control_->UnregisterObject(kObjectPath);
}

void VideoConfManager::FreeBitstreams() {
  frame_sender_.FreeBitstreams();
}

// Stops every conference in key order and empties the table, without telling
// the observers, even of a close that a stop sets off in another conference.
// The walk goes over references taken beforehand, so that nothing a stop sets
// off can pull the table from under it.
void VideoConfManager::CloseAllSessions() {
  closing_all_ = true;
  std::vector<COMM::RefPtr<VideoConfSession>> open;
  open.reserve(sessions_.size());
  for (const auto& [cid, session] : sessions_)
    open.push_back(session);
  for (const COMM::RefPtr<VideoConfSession>& session : open)
    session->Stop();
  open.clear();
  sessions_.clear();
}

// The capture object's destructor closes the camera.
void VideoConfManager::DestroyCapture() {
  capture_.reset();
  self_wnds_.reset();
}

// The control object's code lives in the library: it goes before the library does.
void VideoConfManager::UnloadKSN() {
  if (!ksn_module_)
    return;
  COMM::RefPtr<KSNControl> control = std::move(ksn_control_);
  control.Reset();
  ksn_module_.Reset();
}

void VideoConfManager::OnTimer() {
  VC_DCHECK_RUN_ON(&checker_);
  RefreshClock();
}

const char* VideoConfManager::GetName() {
  return "kalo.video.VideoConfManager";
}

void VideoConfManager::Set(const char* key, const std::string& value) {
  VC_DCHECK_RUN_ON(&checker_);
  if (key == nullptr)
    return;
  ConsoleSet(key, value);
}

std::string VideoConfManager::Get(const char* key) {
  VC_DCHECK_RUN_ON(&checker_);
  if (key == nullptr)
    return {};
  try {
    return ConsoleGet(
        key, ConsoleState{camera_driver_, video_opened_, video_type_, out_bw_valve_, sessions_});
  } catch (const std::bad_alloc&) {
    return {};
  }
}

VideoConfSession* VideoConfManager::FindSession(const std::string& cid) const {
  VC_DCHECK_RUN_ON(&checker_);
  const auto it = sessions_.find(cid);
  return it == sessions_.end() ? nullptr : it->second.get();
}

template <typename Call>
void VideoConfManager::TellObservers(Call call) {
  // A callback may register, unregister or close conferences: the walk goes
  // over a copy, and asks the list itself whether each is still registered.
  const std::vector<IVideoConfObserver*> registered = observers_;
  for (IVideoConfObserver* observer : registered) {
    if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end())
      call(observer);
  }
}

// ---------------------------------------------------------------------------
// The host's operations. None throws: a window set that cannot get memory
// for a window or a picture leaves the call without effect.

void VideoConfManager::AddSelfVideoWindow(plat::HWND window, plat::HRGN region) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::AddSelfVideoWindow]");
  if (!self_wnds_)
    return;
  // The window owns the region from here on.
  if (region != nullptr)
    plat::SetWindowRgn(window, region, true);
  try {
    self_wnds_->AddWindow(window);
  } catch (const std::bad_alloc&) {
  }
}

void VideoConfManager::AddSessionVideoWindow(const std::string& cid, plat::HWND window,
                                             plat::HRGN region) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::AddSessionVideoWindow] cid=%s", cid.c_str());
  VideoConfSession* session = FindSession(cid);
  if (session == nullptr)
    return;
  if (region != nullptr)
    plat::SetWindowRgn(window, region, true);
  try {
    session->AddWindow(window);
  } catch (const std::bad_alloc&) {
  }
}

bool VideoConfManager::ShowCameraPropertyPage() {
  VC_DCHECK_RUN_ON(&checker_);
  if (!capture_)
    return false;
  return capture_->ShowCameraProperties();
}

void VideoConfManager::CreateCid(std::string& cid) {
  VC_DCHECK_RUN_ON(&checker_);
  std::string text = plat::CreateUuidText();
  if (!text.empty())
    cid = std::move(text);
}

bool VideoConfManager::CloseVideo() {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::CloseVideo]");
  if (!capture_)
    return false;
  capture_->Stop();
  video_opened_ = false;
  return true;
}

bool VideoConfManager::Reserved5(std::uint32_t) {
  VC_DCHECK_RUN_ON(&checker_);
  return true;
}

void VideoConfManager::CloseVideoSession(const std::string& cid) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::CloseVideoSession] cid=%s", cid.c_str());
  if (cid.empty())
    return;
  CloseTableSession(sessions_, cid);
}

void VideoConfManager::Reserved7(std::uint32_t, std::uint32_t) {}

void VideoConfManager::Reserved8(std::uint32_t) {}

std::string VideoConfManager::Reserved9() {
  VC_DCHECK_RUN_ON(&checker_);
  return "dummy";
}

void VideoConfManager::Reserved10(std::uint32_t, std::uint32_t) {}

bool VideoConfManager::GetVideoCameraDrivers(DeviceList& devices) {
  VC_DCHECK_RUN_ON(&checker_);
  if (!capture_)
    return false;
  std::vector<ListedDevice> found;
  capture_->ListDevices(found);
  for (ListedDevice& device : found)
    devices.emplace_back(std::move(device.driver), std::move(device.name));
  return true;
}

bool VideoConfManager::IsKSNReady() {
  VC_DCHECK_RUN_ON(&checker_);
  return ksn_control_ && ksn_control_->IsReady();
}

// A lost camera is no longer open; until it is back, it is being opened.
bool VideoConfManager::IsVideoOpening() {
  VC_DCHECK_RUN_ON(&checker_);
  return video_opening_ || (video_opened_ && capture_ && capture_->IsLost());
}

bool VideoConfManager::IsVideoOpened() {
  VC_DCHECK_RUN_ON(&checker_);
  return video_opened_ && !(capture_ && capture_->IsLost());
}

bool VideoConfManager::Reserved15() {
  VC_DCHECK_RUN_ON(&checker_);
  return true;
}

bool VideoConfManager::OpenVideoSession(std::uint32_t, std::uint32_t, const std::string& cid,
                                        std::int32_t kind) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::OpenVideoSession] cid=%s", cid.c_str());
  if (kind != 0 && kind != 1)
    return false;
  if (!IsKSNReady()) {
    DEBUG_LOG(8, "[VideoConfManager::OpenVideoSession] ksn not ready");
    return false;
  }
  if (cid.empty() || sessions_.contains(cid))
    return false;
  if (!capture_ || !self_wnds_)
    return false;
  const COMM::RefPtr<VideoConfSession> session =
      VideoConfSession::Create(this, ksn_control_, cid, kind, session_setup_);
  if (!session)
    return false;
  try {
    sessions_.emplace(cid, session);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // A refused start leaves the id open until CloseVideoSession removes it.
  return session->Start();
}

bool VideoConfManager::RepaintVideoWindow(const std::string& cid, plat::HWND window) {
  VC_DCHECK_RUN_ON(&checker_);
  VideoWnds* wnds = nullptr;
  COMM::RefPtr<VideoConfSession> session;
  if (cid.empty()) {
    wnds = self_wnds_.get();
  } else {
    session = COMM::RefPtr<VideoConfSession>(FindSession(cid));
  }
  if (wnds == nullptr && !session)
    return false;
  try {
    if (session)
      session->Repaint(window);
    else
      wnds->Repaint(window);
  } catch (const std::bad_alloc&) {
    // Nothing could be painted; the frame stays for the next request.
  }
  return true;
}

bool VideoConfManager::PauseVideo(std::uint32_t) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::PauseVideo]");
  return CloseVideo();
}

bool VideoConfManager::Reserved19(std::string) {
  VC_DCHECK_RUN_ON(&checker_);
  return true;
}

void VideoConfManager::RegisterObserver(IVideoConfObserver* observer) {
  VC_DCHECK_RUN_ON(&checker_);
  if (observer == nullptr ||
      std::find(observers_.begin(), observers_.end(), observer) != observers_.end())
    return;
  try {
    observers_.push_back(observer);
  } catch (const std::bad_alloc&) {
  }
}

void VideoConfManager::RemoveSelfVideoWindow(plat::HWND window) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::RemoveSelfVideoWindow]");
  if (self_wnds_)
    self_wnds_->RemoveWindow(window);
}

void VideoConfManager::RemoveSessionVideoWindow(const std::string& cid, plat::HWND window) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::RemoveSessionVideoWindow] cid=%s", cid.c_str());
  if (VideoConfSession* session = FindSession(cid))
    session->RemoveWindow(window);
}

// The valve remembers the mode: 15 is super's, anything else (the initial
// 100 among them) resumes the normal one.
bool VideoConfManager::ResumeVideo(std::uint32_t) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::ResumeVideo]");
  if (out_bw_valve_ == kSuperValve)
    return SetToSuperVideo();
  return SetToNormalVideo();
}

void VideoConfManager::UnregisterObserver(IVideoConfObserver* observer) {
  VC_DCHECK_RUN_ON(&checker_);
  if (observer == nullptr)
    return;
  const auto it = std::find(observers_.begin(), observers_.end(), observer);
  if (it != observers_.end())
    observers_.erase(it);
}

bool VideoConfManager::RecordToAVIFile(const std::string& path, const std::string& seconds) {
  VC_DCHECK_RUN_ON(&checker_);
  if (!capture_)
    return false;
  return capture_->StartRecording(path, DecimalValue(seconds));
}

// The encoders read the rate from the capture object with every frame.
bool VideoConfManager::SetVideoBitRate(std::int32_t bit_rate) {
  VC_DCHECK_RUN_ON(&checker_);
  if (!capture_)
    return false;
  capture_->set_bit_rate(bit_rate);
  return true;
}

bool VideoConfManager::SetCameraParameter(const std::string& width, const std::string& height,
                                          const std::string& frame_rate) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::SetCameraParameter] %s*%s*%s", width.c_str(), height.c_str(),
            frame_rate.c_str());
  if (!capture_)
    return false;
  video_opened_ = false;
  video_opening_ = true;
  capture_->Stop();
  video_opened_ = capture_->Open(camera_driver_, DecimalValue(width), DecimalValue(height),
                                 DecimalValue(frame_rate));
  video_opening_ = false;
  return video_opened_;
}

void VideoConfManager::Reserved28(std::uint32_t) {}

void VideoConfManager::Reserved29(std::uint32_t, std::uint32_t) {}

// The stream changes even when the camera then fails to open; the valve
// only on success.
bool VideoConfManager::SetToNormalVideo() {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::SetToNormalVideo]");
  if (!capture_)
    return false;
  CloseVideo();
  video_type_ = kSmallStream;
  SetVideoBitRate(49000);
  const bool opened = SetCameraParameter("176", "144", "20");
  if (opened)
    out_bw_valve_ = kNormalValve;
  return opened;
}

bool VideoConfManager::SetToSuperVideo() {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::SetToSuperVideo]");
  if (!capture_)
    return false;
  CloseVideo();
  video_type_ = kNormalStream;
  SetVideoBitRate(100000);
  const bool opened = SetCameraParameter("352", "288", "15");
  if (opened)
    out_bw_valve_ = kSuperValve;
  return opened;
}

// 0 for size and rate keeps the capture object's current ones.
void VideoConfManager::SetVideoCameraDriver(const std::string& driver) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::SetVideoCameraDriver] driver=%s", driver.c_str());
  if (!capture_)
    return;
  camera_driver_ = driver;
  video_opening_ = true;
  video_opened_ = capture_->Open(camera_driver_, 0, 0, 0);
  video_opening_ = false;
}

bool VideoConfManager::Reserved33(std::uint32_t) {
  VC_DCHECK_RUN_ON(&checker_);
  return true;
}

// ---------------------------------------------------------------------------
// Handlers other objects of the module call.

void VideoConfManager::OnKSNSessionReady(const std::string& cid) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::OnKSNSessionReady] cid=%s", cid.c_str());
  if (closing_all_)
    return;
  // The partner starts with a picture at once, not at the next periodic key frame.
  frame_sender_.ForceKeyFrame();
  TellObservers([&cid](IVideoConfObserver* observer) { observer->OnSessionReady(cid); });
}

void VideoConfManager::OnKeyFrameRequest(const std::string& cid) {
  VC_DCHECK_RUN_ON(&checker_);
  if (!closing_all_)
    frame_sender_.AnswerKeyFrameRequest(sessions_, recorder_, clock_);
}

void VideoConfManager::OnKSNSessionClose(const std::string& cid) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfManager::OnKSNSessionClose] cid=%s", cid.c_str());
  if (closing_all_)
    return;
  // A copy: the text may belong to the session that the close lets go, or
  // to an observer's own state.
  const std::string id = cid;
  CloseVideoSession(id);
  TellObservers(
      [&id](IVideoConfObserver* observer) { observer->OnSessionClose(kSessionClosedReason, id); });
}

void VideoConfManager::OnRecordSecondsLeft(std::int32_t seconds) {}

// The preview shows every frame, whether or not it is sent.
bool VideoConfManager::OnFrame(const VideoFrame* frame) {
  VC_DCHECK_RUN_ON(&checker_);
  if (frame == nullptr)
    return false;
  recorder_.add_in(1, clock_);
  if (self_wnds_) {
    try {
      // The preview keeps capture's own picture and lends it its previous
      // one: one pass (the paint) instead of a copy and a paint. The
      // frame's pixels stay valid for the encoder below.
      std::int32_t* capacity = nullptr;
      AlignedBuffer* picture = capture_ ? capture_->converted_picture(*frame, &capacity) : nullptr;
      if (picture == nullptr || !self_wnds_->ShowFrame(*frame, *picture, *capacity))
        self_wnds_->ShowFrame(*frame);
    } catch (const std::bad_alloc&) {
      // The preview keeps its previous frame; sending does not depend on it.
    }
  }
  return EncodeAndSendFrame(*frame);
}

bool VideoConfManager::EncodeAndSendFrame(const VideoFrame& frame) {
  VC_DCHECK_RUN_ON(&checker_);
  SendSettings settings;
  settings.video_type = video_type_;
  settings.out_bw_valve = out_bw_valve_;
  if (capture_) {
    settings.frame_rate = capture_->frame_rate();
    settings.bit_rate = capture_->bit_rate();
  }
  return frame_sender_.EncodeAndSendFrame(frame, settings, sessions_, recorder_, clock_);
}

// The capture object watches for the camera to come back; the host sees it
// lost through IsVideoOpened.
void VideoConfManager::OnCaptureError(const char* text) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(6, "[VideoConfManager::OnCaptureError] camera lost: %s, driver=%s", text,
            camera_driver_.c_str());
}

}  // namespace kalo::video

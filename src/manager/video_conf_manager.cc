#include "manager/video_conf_manager.h"

#include <utility>

#include "common/debug_log.h"
#include "plat/kernel.h"
#include "plat/module.h"

namespace kalo::video {

namespace {

// Any object of this image: the peer-network library is looked for beside it.
const char kImageAnchor = 0;

}  // namespace

VideoConfManager::VideoConfManager() : VideoConfManager(VideoConfManagerSetup{}) {}

// The timer base is made first (its window and tick), then the fields take
// their initial values; the steps below follow in this order.
VideoConfManager::VideoConfManager(const VideoConfManagerSetup& setup) {
  SetUpDebugLog(setup.log_dir);
  RefreshClock();
  ResetRecorder();
  LoadKSN(setup.ksn_library);
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
  COMM::g_debug_log.trim();
  COMM::g_debug_log.set_level(kRunningLogLevel);
}

void VideoConfManager::RefreshClock() {
  clock_ = ClockStamp::Now();
}

// Re-initialises the frame counter to a window of 1000 ms in 10 slots; empty
// until the counter joins the manager.
void VideoConfManager::ResetRecorder() {}

// Without the library, or without its export, the manager stays not ready for
// its whole life; that is no error.
void VideoConfManager::LoadKSN(const std::string& library) {
  if (ksn_module_)
    return;
  ksn_module_ = plat::LoadLibraryBeside(library.c_str(), &kImageAnchor);
  if (!ksn_module_)
    return;
  const auto create =
      reinterpret_cast<KSNCreateFunc>(plat::GetProcAddress(ksn_module_, kKSNCreateExport));
  if (!create)
    return;
  // The new object comes with the reference that is the manager's.
  ksn_control_ = COMM::RefPtr<KSNControl>(create(), COMM::adopt_ref);
}

// Makes the capture object and the local preview window set; empty until they
// join the manager.
void VideoConfManager::CreateCapture() {}

void VideoConfManager::RegisterWithKSN() {
  if (ksn_control_)
    ksn_control_->RegisterObject(kObjectPath, static_cast<ksn::object*>(this));
}

void VideoConfManager::UnregisterFromKSN() {
  if (ksn_control_)
    ksn_control_->UnregisterObject(kObjectPath);
}

// Frees the encoders' output buffers; empty until the encoders join the manager.
void VideoConfManager::FreeBitstreams() {}

// Stops every conference in key order and empties the table, without telling
// the observers; empty until the conference table joins the manager.
void VideoConfManager::CloseAllSessions() {}

// Deletes the capture object (which closes the camera) and the preview window
// set; empty until they join the manager.
void VideoConfManager::DestroyCapture() {}

// The control object's code lives in the library: it goes before the library does.
void VideoConfManager::UnloadKSN() {
  if (!ksn_module_)
    return;
  COMM::RefPtr<KSNControl> control = std::move(ksn_control_);
  control.Reset();
  plat::FreeLibrary(ksn_module_);
  ksn_module_ = nullptr;
}

void VideoConfManager::OnTimer() {
  RefreshClock();
}

// ---------------------------------------------------------------------------
// The host's operations. The capture object, the preview window set and the
// conference table do not exist yet, so every operation that needs one of
// them answers as it does when it is missing.

void VideoConfManager::AddSelfVideoWindow(plat::HWND window, plat::HRGN region) {
  DEBUG_LOG(14, "[VideoConfManager::AddSelfVideoWindow]");
}

void VideoConfManager::AddSessionVideoWindow(const std::string& cid, plat::HWND window,
                                             plat::HRGN region) {
  DEBUG_LOG(14, "[VideoConfManager::AddSessionVideoWindow] cid=%s", cid.c_str());
}

bool VideoConfManager::ShowCameraPropertyPage() {
  return false;
}

void VideoConfManager::CreateCid(std::string& cid) {
  std::string text = plat::CreateUuidText();
  if (!text.empty())
    cid = std::move(text);
}

bool VideoConfManager::CloseVideo() {
  DEBUG_LOG(14, "[VideoConfManager::CloseVideo]");
  return false;
}

bool VideoConfManager::Reserved5(std::uint32_t) {
  return true;
}

void VideoConfManager::CloseVideoSession(const std::string& cid) {
  DEBUG_LOG(14, "[VideoConfManager::CloseVideoSession] cid=%s", cid.c_str());
}

void VideoConfManager::Reserved7(std::uint32_t, std::uint32_t) {}

void VideoConfManager::Reserved8(std::uint32_t) {}

std::string VideoConfManager::Reserved9() {
  return "dummy";
}

void VideoConfManager::Reserved10(std::uint32_t, std::uint32_t) {}

bool VideoConfManager::GetVideoCameraDrivers(DeviceList& devices) {
  return false;
}

bool VideoConfManager::IsKSNReady() {
  return ksn_control_ && ksn_control_->IsReady();
}

bool VideoConfManager::IsVideoOpening() {
  return false;
}

bool VideoConfManager::IsVideoOpened() {
  return false;
}

bool VideoConfManager::Reserved15() {
  return true;
}

bool VideoConfManager::OpenVideoSession(std::uint32_t, std::uint32_t, const std::string& cid,
                                        std::int32_t kind) {
  DEBUG_LOG(14, "[VideoConfManager::OpenVideoSession] cid=%s", cid.c_str());
  if (kind != 0 && kind != 1)
    return false;
  if (!IsKSNReady()) {
    DEBUG_LOG(8, "[VideoConfManager::OpenVideoSession] ksn not ready");
    return false;
  }
  // No capture object yet, hence no conference either.
  return false;
}

bool VideoConfManager::RepaintVideoWindow(const std::string& cid, plat::HWND window) {
  return false;
}

bool VideoConfManager::PauseVideo(std::uint32_t) {
  DEBUG_LOG(14, "[VideoConfManager::PauseVideo]");
  return CloseVideo();
}

bool VideoConfManager::Reserved19(std::string) {
  return true;
}

void VideoConfManager::RegisterObserver(IVideoConfObserver* observer) {}

void VideoConfManager::RemoveSelfVideoWindow(plat::HWND window) {
  DEBUG_LOG(14, "[VideoConfManager::RemoveSelfVideoWindow]");
}

void VideoConfManager::RemoveSessionVideoWindow(const std::string& cid, plat::HWND window) {
  DEBUG_LOG(14, "[VideoConfManager::RemoveSessionVideoWindow] cid=%s", cid.c_str());
}

bool VideoConfManager::ResumeVideo(std::uint32_t) {
  DEBUG_LOG(14, "[VideoConfManager::ResumeVideo]");
  // No mode was ever chosen, and that resumes the normal one.
  return SetToNormalVideo();
}

void VideoConfManager::UnregisterObserver(IVideoConfObserver* observer) {}

bool VideoConfManager::RecordToAVIFile(const std::string& path, const std::string& seconds) {
  return false;
}

bool VideoConfManager::SetVideoBitRate(std::int32_t bit_rate) {
  return false;
}

bool VideoConfManager::SetCameraParameter(const std::string& width, const std::string& height,
                                          const std::string& frame_rate) {
  DEBUG_LOG(14, "[VideoConfManager::SetCameraParameter] %s*%s*%s", width.c_str(), height.c_str(),
            frame_rate.c_str());
  return false;
}

void VideoConfManager::Reserved28(std::uint32_t) {}

void VideoConfManager::Reserved29(std::uint32_t, std::uint32_t) {}

bool VideoConfManager::SetToNormalVideo() {
  DEBUG_LOG(14, "[VideoConfManager::SetToNormalVideo]");
  return false;
}

bool VideoConfManager::SetToSuperVideo() {
  DEBUG_LOG(14, "[VideoConfManager::SetToSuperVideo]");
  return false;
}

void VideoConfManager::SetVideoCameraDriver(const std::string& driver) {
  DEBUG_LOG(14, "[VideoConfManager::SetVideoCameraDriver] driver=%s", driver.c_str());
}

bool VideoConfManager::Reserved33(std::uint32_t) {
  return true;
}

// ---------------------------------------------------------------------------
// Handlers other objects of the module call.

void VideoConfManager::OnKSNSessionReady(const std::string& cid) {}

void VideoConfManager::OnKSNSessionClose(const std::string& cid) {}

void VideoConfManager::OnRecordSecondsLeft(std::int32_t seconds) {}

// Nothing is sent while no conference is open.
bool VideoConfManager::OnFrame(const VideoFrame* frame) {
  return false;
}

void VideoConfManager::OnCaptureError(const char* text) {}

}  // namespace kalo::video

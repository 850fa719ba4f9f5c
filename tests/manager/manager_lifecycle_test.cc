// The module as a host sees it: a copy of libvideoconf.so, loaded with dlopen
// from a directory of its own, beside which the test puts (or leaves out) the
// fake peer-network library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "plat/message.h"
#include "plat/window.h"
#include "support/temp_dir.h"
#include "support/pump.h"
#include "support/log_lines.h"
#include "videoconf/videoconf.h"

namespace {

namespace fs = std::filesystem;
using kalo::video::IVideoConfManager;
using vc_test::CountWindowsOfClass;
using vc_test::ReadLines;

constexpr char kTimerClass[] = "timer_dispatcher_ksnx";

enum class Peer { kPresent, kWithoutCreate, kAbsent };

class VideoConfModuleTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (module_ != nullptr) {
      destroy_();
      dlclose(module_);
    }
    unsetenv("FAKE_KSN_JOURNAL");
  }

  // Copies the module, and the chosen fake beside it, and loads the copy.
  void Load(Peer peer) {
    ASSERT_FALSE(dir_.path().empty());
    fs::copy_file(VIDEOCONF_LIBRARY, dir_.path() / kalo::video::kModuleFileName);
    if (peer == Peer::kPresent) {
      fs::copy_file(FAKE_KSN_LIBRARY, dir_.path() / "libKSNControlX.so");
    } else if (peer == Peer::kWithoutCreate) {
      fs::copy_file(FAKE_KSN_LIBRARY_WITHOUT_CREATE, dir_.path() / "libKSNControlX.so");
    }
    journal_ = dir_.path() / "journal.txt";
    setenv("FAKE_KSN_JOURNAL", journal_.c_str(), 1);
    Reload();
  }
  void Reload() {
    module_ = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module_, nullptr) << dlerror();
    get_ = reinterpret_cast<kalo::video::GetInstanceFunc>(
        dlsym(module_, kalo::video::kGetInstanceName));
    destroy_ = reinterpret_cast<kalo::video::DestroyInstanceFunc>(
        dlsym(module_, kalo::video::kDestroyInstanceName));
    ASSERT_NE(get_, nullptr);
    ASSERT_NE(destroy_, nullptr);
  }
  // Unloads the module without DestroyInstance; true when it really left.
  bool Unload() {
    dlclose(module_);
    module_ = nullptr;
    void* still = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (still != nullptr)
      dlclose(still);
    return still == nullptr;
  }
  std::string ModulePath() const { return (dir_.path() / kalo::video::kModuleFileName).string(); }
  std::vector<std::string> Journal() const { return ReadLines(journal_); }
  std::vector<std::string> JournalSince(std::size_t count) const {
    const std::vector<std::string> events = Journal();
    if (events.size() < count)
      return {"<journal shrank>"};
    return std::vector<std::string>(events.begin() + count, events.end());
  }
  std::vector<std::string> BuiltEvents() const {
    return {"load from " + dir_.path().string(), "create", "RegisterObject video/VideoConfManager"};
  }
  std::vector<std::string> TornDownEvents() const {
    return {"UnregisterObject video/VideoConfManager", "release", "unload"};
  }

  vc_test::TempDir dir_;
  fs::path journal_;
  void* module_ = nullptr;
  kalo::video::GetInstanceFunc get_ = nullptr;
  kalo::video::DestroyInstanceFunc destroy_ = nullptr;
};

// ---------------------------------------------------------------------------
// The exports

TEST_F(VideoConfModuleTest, ExportsOnlyItsTwoEntryPoints) {
  Load(Peer::kAbsent);
  // Something every C++ library would otherwise export.
  EXPECT_EQ(dlsym(module_, "_ZTIN3KSN9exceptionE"), nullptr);
  EXPECT_EQ(dlsym(module_, "_ZN4COMM11g_debug_logE"), nullptr);
}

// ---------------------------------------------------------------------------
// Construction and destruction with the library beside the module

TEST_F(VideoConfModuleTest, FindsTheLibraryBesideItselfAndRegistersAfterCreatingTheControl) {
  Load(Peer::kPresent);
  IVideoConfManager* manager = get_();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(Journal(), BuiltEvents());
  EXPECT_TRUE(manager->IsKSNReady());
}

TEST_F(VideoConfModuleTest, DestroyInstanceUnregistersThenReleasesThenUnloads) {
  Load(Peer::kPresent);
  ASSERT_NE(get_(), nullptr);
  const std::size_t built = Journal().size();
  destroy_();
  EXPECT_EQ(JournalSince(built), TornDownEvents());
}

TEST_F(VideoConfModuleTest, GetInstanceTwiceGivesOneManagerAndOneTimerWindow) {
  Load(Peer::kPresent);
  IVideoConfManager* first = get_();
  IVideoConfManager* second = get_();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_EQ(CountWindowsOfClass(kTimerClass), 1);
  EXPECT_EQ(Journal(), BuiltEvents());
}

TEST_F(VideoConfModuleTest, DestroyInstanceTwiceOrWithoutManagerIsHarmless) {
  Load(Peer::kPresent);
  destroy_();
  EXPECT_TRUE(Journal().empty());  // nothing was even loaded
  ASSERT_NE(get_(), nullptr);
  destroy_();
  const std::size_t after_first = Journal().size();
  destroy_();
  EXPECT_EQ(Journal().size(), after_first);
}

TEST_F(VideoConfModuleTest, GetInstanceAfterDestroyInstanceBuildsAFreshManager) {
  Load(Peer::kPresent);
  ASSERT_NE(get_(), nullptr);
  destroy_();
  EXPECT_EQ(CountWindowsOfClass(kTimerClass), 0);
  IVideoConfManager* again = get_();
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->IsKSNReady());
  EXPECT_EQ(CountWindowsOfClass(kTimerClass), 1);
  std::vector<std::string> expected = BuiltEvents();
  for (const std::string& event : TornDownEvents())
    expected.push_back(event);
  for (const std::string& event : BuiltEvents())
    expected.push_back(event);
  expected.push_back("IsReady");
  EXPECT_EQ(Journal(), expected);
}

TEST_F(VideoConfModuleTest, UnloadingTheModuleTearsALiveManagerDownInOrder) {
  Load(Peer::kPresent);
  ASSERT_NE(get_(), nullptr);
  const std::size_t built = Journal().size();
  EXPECT_TRUE(Unload());
  EXPECT_EQ(JournalSince(built), TornDownEvents());
  EXPECT_EQ(CountWindowsOfClass(kTimerClass), 0);
  EXPECT_TRUE(vc_test::ClassIsFree(kTimerClass));
}

TEST_F(VideoConfModuleTest, ModuleCanBeLoadedAgainAfterUnloading) {
  Load(Peer::kPresent);
  ASSERT_NE(get_(), nullptr);
  ASSERT_TRUE(Unload());
  Reload();
  ASSERT_NE(get_(), nullptr);
  EXPECT_EQ(CountWindowsOfClass(kTimerClass), 1);
  destroy_();
  EXPECT_EQ(CountWindowsOfClass(kTimerClass), 0);
}

// ---------------------------------------------------------------------------
// Without a usable library

TEST_F(VideoConfModuleTest, WithoutTheExportNoControlObjectIsTouched) {
  Load(Peer::kWithoutCreate);
  IVideoConfManager* manager = get_();
  ASSERT_NE(manager, nullptr);
  EXPECT_FALSE(manager->IsKSNReady());
  destroy_();
  EXPECT_EQ(Journal(), (std::vector<std::string>{"load from " + dir_.path().string(), "unload"}));
}

TEST_F(VideoConfModuleTest, AConstructionThatFailsAfterLoadingUnloadsTheLibrary) {
  setenv("FAKE_KSN_OUT_OF_MEMORY_IN", "RegisterObject", 1);
  Load(Peer::kPresent);
  EXPECT_EQ(get_(), nullptr);
  unsetenv("FAKE_KSN_OUT_OF_MEMORY_IN");
  std::vector<std::string> expected = BuiltEvents();
  expected.insert(expected.end(), {"release", "unload"});
  EXPECT_EQ(Journal(), expected);
}

// ---------------------------------------------------------------------------
// The timer window

TEST_F(VideoConfModuleTest, DestructionDiscardsAQueuedTickAndRemovesTheTimerWindowAndClass) {
  Load(Peer::kAbsent);
  ASSERT_NE(get_(), nullptr);
  const plat::HWND window = plat::FindWindow(kTimerClass, kTimerClass);
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(plat::PostMessage(window, plat::WM_TIMER, 1002, 0));
  destroy_();
  EXPECT_FALSE(plat::IsWindow(window));
  EXPECT_EQ(CountWindowsOfClass(kTimerClass), 0);
  EXPECT_TRUE(vc_test::ClassIsFree(kTimerClass));
  plat::MSG msg;
  int left_for_window = 0;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
    if (msg.hwnd == window)
      ++left_for_window;
  }
  EXPECT_EQ(left_for_window, 0);
}

TEST_F(VideoConfModuleTest, LogDirectoryIsMadeBesideTheHostExecutable) {
  Load(Peer::kAbsent);
  ASSERT_NE(get_(), nullptr);
  const fs::path host = fs::read_symlink("/proc/self/exe");
  EXPECT_TRUE(fs::is_directory(host.parent_path() / "logs"));
}

}  // namespace

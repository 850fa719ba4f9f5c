// The module as a host sees it: a copy of libvideoconf.so loaded with dlopen,
// beside it the fake peer-network library, which writes down what it is asked.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/log_lines.h"
#include "support/pump.h"
#include "support/temp_dir.h"
#include "videoconf/videoconf.h"

namespace {

namespace fs = std::filesystem;
using Events = std::vector<std::string>;
using vc_test::CountWindowsOfClass;

constexpr char kTimerClass[] = "timer_dispatcher_ksnx";

Events Then(Events first, const Events& next) {
  first.insert(first.end(), next.begin(), next.end());
  return first;
}

class VideoConfModuleTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (module_ != nullptr) {
      destroy_();
      dlclose(module_);
    }
    unsetenv("FAKE_KSN_JOURNAL");
  }

  // Copies the module and the given fake beside it, and loads the copy.
  void Load(const char* fake_library) {
    ASSERT_FALSE(dir_.path().empty());
    fs::copy_file(VIDEOCONF_LIBRARY, dir_.path() / kalo::video::kModuleFileName);
    fs::copy_file(fake_library, dir_.path() / "libKSNControlX.so");
    setenv("FAKE_KSN_JOURNAL", (dir_.path() / "journal.txt").c_str(), 1);
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
  Events Journal() const { return vc_test::ReadLines(dir_.path() / "journal.txt"); }

  vc_test::TempDir dir_;
  void* module_ = nullptr;
  kalo::video::GetInstanceFunc get_ = nullptr;
  kalo::video::DestroyInstanceFunc destroy_ = nullptr;
  const std::string load_ = "load from " + dir_.path().string();
  const Events built_ = {load_, "create", "RegisterObject video/VideoConfManager"};
  const Events torn_down_ = {"UnregisterObject video/VideoConfManager", "release", "unload"};
};

// One manager however often it is asked for; DestroyInstance unregisters,
// releases and unloads, once, and a later GetInstance builds afresh.
TEST_F(VideoConfModuleTest, OneManagerPerLifeTornDownInOrderAndBuiltAfresh) {
  Load(FAKE_KSN_LIBRARY);
  destroy_();
  EXPECT_TRUE(Journal().empty());  // nothing was even loaded
  kalo::video::IVideoConfManager* first = get_();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(get_(), first);
  EXPECT_EQ(CountWindowsOfClass(kTimerClass), 1);
  EXPECT_EQ(Journal(), built_);
  destroy_();
  destroy_();
  EXPECT_EQ(Journal(), Then(built_, torn_down_));
  EXPECT_EQ(CountWindowsOfClass(kTimerClass), 0);
  ASSERT_NE(get_(), nullptr);
  EXPECT_TRUE(get_()->IsKSNReady());
  EXPECT_EQ(Journal(), Then(Then(built_, torn_down_), Then(built_, {"IsReady"})));
}

// A host that unloads the module without DestroyInstance: the live manager
// is torn down in order, its window class goes, and the module loads again.
TEST_F(VideoConfModuleTest, UnloadingTearsALiveManagerDownAndTheModuleLoadsAgain) {
  Load(FAKE_KSN_LIBRARY);
  ASSERT_NE(get_(), nullptr);
  ASSERT_TRUE(Unload());
  EXPECT_EQ(Journal(), Then(built_, torn_down_));
  EXPECT_TRUE(vc_test::ClassIsFree(kTimerClass));
  Reload();
  ASSERT_NE(get_(), nullptr);
  EXPECT_EQ(CountWindowsOfClass(kTimerClass), 1);
}

TEST_F(VideoConfModuleTest, WithoutTheExportNoControlObjectIsTouched) {
  Load(FAKE_KSN_LIBRARY_WITHOUT_CREATE);
  ASSERT_NE(get_(), nullptr);
  EXPECT_FALSE(get_()->IsKSNReady());
  destroy_();
  EXPECT_EQ(Journal(), (Events{load_, "unload"}));
  // The log went beside the host's executable.
  const fs::path host = fs::read_symlink("/proc/self/exe");
  EXPECT_TRUE(fs::is_directory(host.parent_path() / "logs"));
}

TEST_F(VideoConfModuleTest, AConstructionThatFailsAfterLoadingUnloadsTheLibrary) {
  setenv("FAKE_KSN_OUT_OF_MEMORY_IN", "RegisterObject", 1);
  Load(FAKE_KSN_LIBRARY);
  EXPECT_EQ(get_(), nullptr);
  unsetenv("FAKE_KSN_OUT_OF_MEMORY_IN");
  EXPECT_EQ(Journal(), Then(built_, {"release", "unload"}));
}

}  // namespace

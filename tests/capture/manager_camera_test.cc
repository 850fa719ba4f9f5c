// The manager's camera operations over the real capture object and the
// virtual camera.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "capture/device_selection.h"
#include "common/debug_log.h"
#include "manager/video_conf_manager.h"
#include "support/log_lines.h"
#include "support/temp_dir.h"

namespace {

using kalo::video::VideoConfManager;
using Messages = std::vector<std::string>;

TEST(ManagerCamera, OperationsOpenCloseAndListTheVirtualCameraWithTheirRecords) {
  vc_test::TempDir dir;
  kalo::video::VideoConfManagerSetup setup;
  setup.ksn_library = (dir.path() / "absent.so").string();
  setup.log_dir = dir.path().string();
  auto manager = std::make_unique<VideoConfManager>(setup);

  kalo::video::DeviceList devices{{"kept", "entry"}};
  ASSERT_TRUE(manager->GetVideoCameraDrivers(devices));
  ASSERT_GE(devices.size(), 2u);
  EXPECT_EQ(devices.front().first, "kept");
  EXPECT_EQ(devices.back().first, kVirtualCameraDriver);

  manager->SetVideoCameraDriver(kVirtualCameraDriver);
  EXPECT_TRUE(manager->IsVideoOpened());
  EXPECT_TRUE(manager->SetCameraParameter("640", "480", "x"));
  EXPECT_FALSE(manager->RecordToAVIFile((dir.path() / "clip.mp4").string(), "3"));
  EXPECT_TRUE(manager->CloseVideo());
  EXPECT_FALSE(manager->IsVideoOpened());
  manager.reset();
  COMM::g_debug_log.set_level(0);

  EXPECT_EQ(vc_test::ReadLogMessages(dir.path() / "video_log.txt"),
            (Messages{"[VideoConfManager::SetVideoCameraDriver] driver=virtual video camera",
                      "[VideoConfManager::SetCameraParameter] 640*480*x",
                      "[VideoConfManager::CloseVideo]"}));
}

}  // namespace

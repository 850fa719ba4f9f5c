// LoadLibrary's search order (the caller's directory first, found through its
// image's directory), GetProcAddress and FreeLibrary. A library named libplat_probe.so exists
// twice: beside libplat_probe_caller.so (answers "beside") and in the build's
// library directory, on the layer's normal search path (answers "path").
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "plat/plat.h"

namespace {

constexpr const char* kProbe = "libplat_probe.so";
const std::string kBesideDir = PLAT_PROBE_BESIDE_DIR;

using WhereFn = const char* (*)();
using LoadFn = void* (*)(const char*);

std::string WhereOf(plat::HMODULE module) {
  auto where = reinterpret_cast<WhereFn>(plat::GetProcAddress(module, "plat_probe_where"));
  return where != nullptr ? where() : "";
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    caller_ = plat::LoadLibrary((kBesideDir + "/libplat_probe_caller.so").c_str());
    ASSERT_NE(caller_, nullptr) << plat::LoadLibraryError();
    load_ = reinterpret_cast<LoadFn>(plat::GetProcAddress(caller_, "plat_probe_load"));
    ASSERT_NE(load_, nullptr);
  }
  void TearDown() override { EXPECT_TRUE(plat::FreeLibrary(caller_)); }

  plat::HMODULE caller_ = nullptr;
  LoadFn load_ = nullptr;
};

TEST_F(ModuleTest, LoadBesideAGivenAddress) {
  plat::HMODULE beside = plat::LoadLibraryBeside(kProbe, reinterpret_cast<const void*>(load_));
  EXPECT_EQ(WhereOf(beside), "beside");
  plat::HMODULE found = plat::LoadLibraryBeside(kProbe, reinterpret_cast<const void*>(&WhereOf));
  EXPECT_EQ(WhereOf(found), "path");
  plat::HMODULE unknown = plat::LoadLibraryBeside(kProbe, nullptr);
  EXPECT_EQ(WhereOf(unknown), "path");
  for (plat::HMODULE m : {beside, found, unknown})
    EXPECT_TRUE(plat::FreeLibrary(m));
}

TEST_F(ModuleTest, APathIsUsedAsItIsANameSearchedNormally) {
  plat::HMODULE module = plat::LoadLibrary((kBesideDir + "/" + kProbe).c_str());
  EXPECT_EQ(WhereOf(module), "beside");
  // Nothing of that name lies beside this test program.
  plat::HMODULE found = plat::LoadLibrary(kProbe);
  EXPECT_EQ(WhereOf(found), "path");
  for (plat::HMODULE m : {module, found})
    EXPECT_TRUE(plat::FreeLibrary(m));
  EXPECT_EQ(load_((kBesideDir + "/../no_such_dir/" + kProbe).c_str()), nullptr);
}

TEST_F(ModuleTest, FailuresAreReportedNotFatal) {
  EXPECT_EQ(plat::LoadLibrary("libplat_no_such_library.so"), nullptr);
  EXPECT_NE(plat::LoadLibraryError().find("libplat_no_such_library.so"), std::string::npos);
  EXPECT_EQ(plat::LoadLibrary(nullptr), nullptr);
  EXPECT_EQ(plat::LoadLibrary(""), nullptr);
  EXPECT_FALSE(plat::LoadLibraryError().empty());
  EXPECT_EQ(plat::GetProcAddress(caller_, "plat_no_such_symbol"), nullptr);
  EXPECT_EQ(plat::GetProcAddress(caller_, nullptr), nullptr);
  EXPECT_EQ(plat::GetProcAddress(nullptr, "plat_probe_load"), nullptr);
  int not_a_module = 0;
  EXPECT_EQ(plat::GetProcAddress(&not_a_module, "plat_probe_load"), nullptr);
  EXPECT_FALSE(plat::FreeLibrary(&not_a_module));
  EXPECT_FALSE(plat::FreeLibrary(nullptr));
}

TEST(ModuleHandleTest, TheProcessImageAndLoadedLibraries) {
  const plat::HINSTANCE self = plat::GetModuleHandle(nullptr);
  EXPECT_NE(self, nullptr);
  EXPECT_EQ(plat::GetModuleHandle(nullptr), self);
  EXPECT_NE(plat::GetModuleHandle("libvideoconf_platform.so"), nullptr);
  EXPECT_EQ(plat::GetModuleHandle("libplat_never_loaded.so"), nullptr);
  EXPECT_FALSE(plat::FreeLibrary(self));  // not the caller's to free
}

}  // namespace

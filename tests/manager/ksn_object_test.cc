#include "external/ksn_object.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "external/ksn_exception.h"

namespace {

class PlainObject final : public ksn::object {};

TEST(KsnObjectTest, DefaultNameIsKsnObject) {
  PlainObject object;
  EXPECT_STREQ(object.GetName(), "ksn.object");
}

TEST(KsnObjectTest, DefaultGetAndSetAreUnsupported) {
  PlainObject object;
  try {
    object.Get("help");
    FAIL() << "Get did not throw";
  } catch (const KSN::Unsupported& e) {
    EXPECT_STREQ(e.what(), "unsupported");
    EXPECT_EQ(e.error_code, 5013);
  }
  // Callers catch it as the library's exception, or as any runtime error.
  EXPECT_THROW(object.Set("log_level", "6"), KSN::exception);
  EXPECT_THROW(object.Get(""), std::runtime_error);
}

}  // namespace

// HRChecker: failures thrown as a copy carrying the context and the media type.
#include <gtest/gtest.h>

#include "converter/engine/hrchecker.h"

namespace tav {
namespace {

TEST(EngineHRChecker, ThrowsACopyWithContextAndMediaType) {
  HRChecker check;
  check.SetContext("Subtitle Manager Object");
  MediaTypeValue mt;
  mt.majortype = MEDIATYPE_Audio;
  check.SetMediaType(mt);
  EXPECT_EQ(check.Check(S_FALSE), S_FALSE);
  try {
    check.Check(E_FAIL);
    FAIL();
  } catch (const HRChecker& e) {
    EXPECT_EQ(e.GetHr(), E_FAIL);
    EXPECT_EQ(e.GetContext(), "Subtitle Manager Object");
    EXPECT_EQ(e.GetMediaType().majortype, MEDIATYPE_Audio);
  }
  try {
    check.CheckPointer(static_cast<void*>(nullptr));
    FAIL();
  } catch (const HRChecker& e) {
    EXPECT_EQ(e.GetHr(), E_NOINTERFACE);
  }
  int x = 0;
  check.CheckPointer(&x);
  EXPECT_EQ(check.GetHr(), S_OK);
  check.ClearContext();
  EXPECT_EQ(check.GetContext(), "");
}

}  // namespace
}  // namespace tav

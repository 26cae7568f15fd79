#include "engine/base/VRXExcept.h"

#include <gtest/gtest.h>

namespace vrx {
namespace {

TEST(EVRXExceptionTest, FixedTextEndsInFiveDigitNumber) {
  EVRXException e("Invalid page number", 20064);
  EXPECT_STREQ(e.what(), "Invalid page number - Native error: 20064");
  EXPECT_EQ(e.NativeError(), 20064);
  EXPECT_EQ(e.Text(), "Invalid page number");
  EXPECT_STREQ(EVRXException("x", 7).what(), "x - Native error: 00007");
}

TEST(EVRXExceptionTest, FormattedText) {
  struct Case {
    const char* format;
    std::initializer_list<FormatArg> args;
    const char* message;
  };
  const Case cases[] = {
      {"Invalid PageNo = %d", {-1}, "Invalid PageNo = -1 - Native error: 10471"},
      {"Found '%s', but wanted: '%s'", {"EAM Page", "PFS Page"},
       "Found 'EAM Page', but wanted: 'PFS Page' - Native error: 10471"},
      {"%.5d|%5d|%-4d|%x", {42, 42, 7, 255u}, "00042|   42|7   |ff - Native error: 10471"},
      {"%.2f%%", {1.5}, "1.50% - Native error: 10471"},
      // Arguments that do not fit the format: the format stands for the text.
      {"Limit = %d bytes", {"text"}, "Limit = %d bytes Arguments are invalid! - Native error: 10471"},
      {"%d and %d", {1}, "%d and %d Arguments are invalid! - Native error: 10471"},
      {"%d", {1, 2}, "%d Arguments are invalid! - Native error: 10471"},
  };
  for (const Case& c : cases) {
    EVRXException e(c.format, c.args, 10471);
    EXPECT_STREQ(e.what(), c.message) << c.format;
  }
}

TEST(EVRXExceptionTest, FormattedNumberIsPaddedWithSpacesBelowFiveDigits) {
  EXPECT_STREQ(EVRXException("%s", {"a"}, 12).what(), "a - Native error:    12");
}

TEST(EVRXExceptionTest, CaughtAsBaseAndStdException) {
  try {
    throw EVRXException("boom", 30001);
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "boom - Native error: 30001");
  }
}

}  // namespace
}  // namespace vrx

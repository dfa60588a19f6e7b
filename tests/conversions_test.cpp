// The pure conversions the callbacks are built from.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "text_copy.h"
#include "trade_events.h"

namespace {

TEST(CopyText, CopiesAtMostTheLimitAndAlwaysTerminates) {
  struct Case {
    const char* src;
    size_t limit;
    const char* expected;
  };
  const Case cases[] = {
      {"abc", 7, "abc"},
      {"abcdefgh", 7, "abcdefg"},       // whole field less its terminator
      {"abcdefghijk", 100, "abcdefg"},  // a limit beyond the field is cut to it
      {"abcdef", 3, "abc"},
      {"", 7, ""},
      {nullptr, 7, ""},
      {"abc", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.src != nullptr ? c.src : "(null)");
    char field[8];
    std::memset(field, '#', sizeof field);
    veltrane::CopyText(field, c.src, c.limit);
    const size_t length = std::strlen(c.expected);
    EXPECT_EQ(std::string(field, length), c.expected);
    EXPECT_EQ(field[length], '\0');
    // Nothing after the terminator is touched.
    for (size_t i = length + 1; i < sizeof field; ++i) EXPECT_EQ(field[i], '#');
  }
}

TEST(AddExchangeSuffix, ShanghaiCodesStartWithSix) {
  struct Case {
    const char* code;
    const char* expected;
  };
  const Case cases[] = {
      {"600000", "600000.SH"},
      {"688981", "688981.SH"},
      {"000001", "000001.SZ"},
      {"300750", "300750.SZ"},
      {"6", "6.SH"},
      {"60000012", "60000012.SH"},
      {"", ""},
      {nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(veltrane::AddExchangeSuffix(c.code), c.expected);
  }
}

}  // namespace

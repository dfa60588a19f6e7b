// The pure conversions the callbacks are built from.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "quote_events.h"
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

TEST(CopyTexts, JoinsWithinOneLimit) {
  struct Case {
    const char* a;
    const char* b;
    size_t limit;
    const char* expected;
  };
  const Case cases[] = {
      {"1234", "OK", 7, "1234:OK"},     {"1234", "OK", 6, "1234:O"},
      {"123456", "OK", 100, "123456:"}, {"", "", 7, ":"},
      {nullptr, nullptr, 7, ":"},       {"1234", "OK", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    char field[8];
    std::memset(field, '#', sizeof field);
    veltrane::CopyTexts(field, c.limit, {c.a, ":", c.b});
    EXPECT_STREQ(field, c.expected);
  }
}

TEST(TradeConversions, StatusAndSide) {
  const struct {
    char status;
    int32_t expected;
  } statuses[] = {{'0', 0},  {'1', 2}, {'2', 2}, {'S', 2}, {'5', 5}, {'6', -9}, {'7', 6},
                  {'8', -8}, {'3', 0}, {'4', 0}, {'9', 0}, {'X', 0}, {'s', 0},  {'\0', 0}};
  for (const auto& c : statuses) {
    SCOPED_TRACE(c.status);
    EXPECT_EQ(veltrane::OrderStatusFromGateway(c.status), c.expected);
  }
  const struct {
    int32_t side;
    int32_t expected;
  } sides[] = {{1, 2}, {0, 1}, {2, 1}, {3, 1}, {-1, 1}};
  for (const auto& c : sides) {
    SCOPED_TRACE(c.side);
    EXPECT_EQ(veltrane::TradeTypeFromSide(c.side), c.expected);
  }
}

TEST(TradeConversions, FixedPointPricesRoundHalfUpAndSaturate) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double price;
    int64_t expected;
  } cases[] = {
      {10.5, 105000},     {12.345, 123450},   {0.00004, 0},
      {0.00005, 1},       {-1.0, -9999},  // plus 0.5, then toward zero
      {1e15, INT64_MAX},  {-1e15, INT64_MIN}, {kInf, INT64_MAX},
      {-kInf, INT64_MIN}, {std::nan(""), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.price);
    EXPECT_EQ(veltrane::FixedPointPrice(c.price), c.expected);
  }
}

TEST(TradeConversions, DecimalOrderCodesReadAsTheStandardLibraryDoes) {
  const struct {
    const char* code;
    std::optional<long long> expected;
  } cases[] = {
      {"42", 42},
      {"-7", -7},
      {"  +15x", 15},
      {"007", 7},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"A12", std::nullopt},
      {"", std::nullopt},
      {nullptr, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code != nullptr ? c.code : "(null)");
    EXPECT_EQ(veltrane::ReadDecimalOrderCode(c.code), c.expected);
  }
}

TEST(TradeConversions, CapitalTextsTruncateTowardZeroAndSaturate) {
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {
      {"100.9", 100},
      {"-0.5", 0},
      {"-100.9", -100},
      {"2147483647.9", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"-2147483648.5", INT32_MIN},
      {"1e400", INT32_MAX},
      {"-1e400", INT32_MIN},
      {"1e-400", 0},
      {"inf", INT32_MAX},
      {"nan", 0},
      {"12abc", 12},
      {"abc", 0},
      {nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
    EXPECT_EQ(veltrane::CapitalFromText(c.text), c.expected);
  }
}

TEST(QuoteConversions, NumbersRoundOrTruncateAndSaturateInTheirFields) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const double nan = std::nan("");
  const struct {
    double value;
    int32_t price;     // Price32
    int64_t amount;    // Amount64
    int32_t quantity;  // Truncate32
    int64_t total;     // Round64
  } cases[] = {
      {12.34, 123400, 123400, 12, 12},
      {10.125, 101250, 101250, 10, 10},
      {100.9, 1009000, 1009000, 100, 101},
      {2500000000.4, INT32_MAX, 25000000004000, INT32_MAX, 2500000000},
      {-0.6, -5999, -5999, 0, 0},  // plus 0.5, then toward zero
      {214748.3647, INT32_MAX, 2147483647, 214748, 214748},
      {214748.3648, INT32_MAX, 2147483648, 214748, 214748},
      {-214748.3648, -2147483647, -2147483647, -214748, -214747},
      {-214748.3649, INT32_MIN, -2147483648, -214748, -214747},  // fits exactly
      {-214748.365, INT32_MIN, -2147483649, -214748, -214747},   // one below
      {1e300, INT32_MAX, INT64_MAX, INT32_MAX, INT64_MAX},
      {-1e300, INT32_MIN, INT64_MIN, INT32_MIN, INT64_MIN},
      {kInf, INT32_MAX, INT64_MAX, INT32_MAX, INT64_MAX},
      {-kInf, INT32_MIN, INT64_MIN, INT32_MIN, INT64_MIN},
      {nan, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(veltrane::Price32(c.value), c.price);
    EXPECT_EQ(veltrane::Amount64(c.value), c.amount);
    EXPECT_EQ(veltrane::Truncate32(c.value), c.quantity);
    EXPECT_EQ(veltrane::Round64(c.value), c.total);
  }
  const struct {
    int64_t value;
    int32_t expected;
  } counts[] = {{5, 5},
                {-5, -5},
                {INT32_MAX, INT32_MAX},
                {int64_t{INT32_MAX} + 1, INT32_MAX},
                {INT32_MIN, INT32_MIN},
                {int64_t{INT32_MIN} - 1, INT32_MIN},
                {INT64_MAX, INT32_MAX},
                {INT64_MIN, INT32_MIN}};
  for (const auto& c : counts) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(veltrane::Narrow32(c.value), c.expected);
  }
}

TEST(QuoteConversions, TypeNamesMatchExactly) {
  using veltrane::QuoteType;
  const struct {
    const char* name;
    QuoteType expected;
  } cases[] = {
      {"SSEL2_Quotation", QuoteType::kShanghaiSnapshot},
      {"SZSEL2_Quotation", QuoteType::kShenzhenSnapshot},
      {"SSEL2_Transaction", QuoteType::kShanghaiTrade},
      {"SZSEL2_Transaction", QuoteType::kShenzhenTrade},
      {"SSEL2_Index", QuoteType::kNotDecoded},
      {"SZSEL2_Index", QuoteType::kNotDecoded},
      {"SSEL2_Static", QuoteType::kNotDecoded},
      {"Empty", QuoteType::kNotDecoded},
      {"lmvproto.SSEL2_Quotation", QuoteType::kNotDecoded},
      {"SZSEL2_Transactions", QuoteType::kNotDecoded},
      {"SZSEL2_Transactio", QuoteType::kNotDecoded},
      {"sZSEL2_Transaction", QuoteType::kNotDecoded},
      {"", QuoteType::kNotDecoded},
      {nullptr, QuoteType::kNotDecoded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name != nullptr ? c.name : "(null)");
    EXPECT_EQ(veltrane::QuoteTypeOf(c.name), c.expected);
  }
}

}  // namespace

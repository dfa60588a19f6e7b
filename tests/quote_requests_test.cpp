// ReqSubQuote: the exact call it makes on the quote library for each kinds
// mask and code list, and the result it passes back.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "ZR_QuantApi.h"
#include "fake_gateways.h"
#include "recording_spi.h"

using namespace Corvane;
using fake::Call;
using fake::Int;
using fake::ListArg;

namespace {

class QuoteRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    api_ = ZR_QuantApi::createApi(&spi_, false, ZR_QuantTdApp_Default, ZR_QuantMdApp_Level2);
    fake::Reset();
  }
  void TearDown() override { ZR_QuantApi::deleteApi(api_); }

  testing_support::RecordingSpi spi_;
  ZR_QuantApi* api_ = nullptr;
};

// Entries as a client fills them: the code, then NUL padding.
std::vector<std::array<char, 32>> Entries(const std::vector<std::string>& codes) {
  std::vector<std::array<char, 32>> entries(codes.size());
  for (size_t i = 0; i < codes.size(); ++i) {
    entries[i].fill('\0');
    std::memcpy(entries[i].data(), codes[i].data(), codes[i].size());
  }
  return entries;
}

Call Subscribe(int64_t reqId, int64_t kinds, const std::vector<std::string>& codes) {
  return Call{"LibQuote_ReqSubscribe", {Int(reqId), Int(kinds), ListArg(codes)}};
}

Call Unsubscribe(int64_t reqId, const std::vector<std::string>& codes) {
  return Call{"LibQuote_ReqUnsubscribe", {Int(reqId), ListArg(codes)}};
}

TEST_F(QuoteRequests, KindsAndCodesAsTheLibraryReceivesThem) {
  const std::string shortCode("60\0\0\0\0", 6);  // six bytes taken, padding and all
  const struct {
    const char* name;
    int reqId;
    int kinds;
    std::vector<std::string> entries;
    int count;
    Call expected;
  } cases[] = {
      {"snapshots", 1, 1, {"600000.SH"}, 1, Subscribe(1, 1, {"600000"})},
      {"trades", 2, 4, {"000001.SZ"}, 1, Subscribe(2, 2, {"000001"})},
      {"both",
       3,
       5,
       {"600000.SH", "000001.SZ", "300750.SZ"},
       3,
       Subscribe(3, 3, {"600000", "000001", "300750"})},
      {"other bits ignored", 4, -1, {"600000.SH"}, 1, Subscribe(4, 3, {"600000"})},
      {"no kind unsubscribes", 5, 0, {"600000.SH"}, 1, Unsubscribe(5, {"600000"})},
      {"bit 1 alone unsubscribes", 6, 2, {"600000.SH"}, 1, Unsubscribe(6, {"600000"})},
      {"a short code", 7, 1, {"60"}, 1, Subscribe(7, 1, {shortCode})},
      {"a count below the entries",
       8,
       1,
       {"600000.SH", "000001.SZ"},
       1,
       Subscribe(8, 1, {"600000"})},
      {"count 0", 9, 1, {"600000.SH"}, 0, Subscribe(9, 1, {})},
      {"negative count", 10, 4, {"600000.SH"}, -5, Subscribe(10, 2, {})},
      {"negative request number", -7, 1, {"600000.SH"}, 1, Subscribe(-7, 1, {"600000"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    const auto entries = Entries(c.entries);
    const auto* codes = reinterpret_cast<const char(*)[32]>(entries.data());
    EXPECT_EQ(api_->ReqSubQuote(c.reqId, c.kinds, 0, codes, c.count, "x", "y"), 0);
    EXPECT_EQ(fake::Calls(), std::vector<Call>{c.expected});
  }
}

TEST_F(QuoteRequests, NullCodesAreRefusedUnlessThereAreNone) {
  EXPECT_EQ(api_->ReqSubQuote(1, 1, 0, nullptr, 2, nullptr, nullptr), -1);
  EXPECT_TRUE(fake::Calls().empty());
  EXPECT_EQ(api_->ReqSubQuote(1, 1, 0, nullptr, 0, nullptr, nullptr), 0);
  EXPECT_EQ(fake::Calls(), std::vector<Call>{Subscribe(1, 1, {})});
}

TEST_F(QuoteRequests, TheLibrarysResultIsCutTo32Bits) {
  const auto entries = Entries({"600000.SH"});
  const auto* codes = reinterpret_cast<const char(*)[32]>(entries.data());
  const struct {
    int64_t library;
    int expected;
  } results[] = {{0, 0}, {-7, -7}, {(int64_t{1} << 32) + 5, 5}, {0xFFFFFFFFll, -1}};
  for (const auto& r : results) {
    SCOPED_TRACE(r.library);
    fake::SetResult("LibQuote_ReqSubscribe", r.library);
    fake::SetResult("LibQuote_ReqUnsubscribe", r.library);
    EXPECT_EQ(api_->ReqSubQuote(1, 1, 0, codes, 1, nullptr, nullptr), r.expected);
    EXPECT_EQ(api_->ReqSubQuote(1, 0, 0, codes, 1, nullptr, nullptr), r.expected);
  }
}

}  // namespace

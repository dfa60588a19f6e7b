// The operations that need no gateway: the ones this library does not carry
// out, the error text and the version.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "ZR_QuantApi.h"
#include "fake_gateways.h"

using namespace Corvane;

namespace {

TEST(ApiOperations, OperationsNotCarriedOutAnswerMinusOneAndCallNothing) {
  TraderApiGo api;
  fake::Reset();
  const char codes[2][32] = {"600000.SH", "000001.SZ"};
  TD_ReqQryMaxEntrustCount maxCount;
  TD_ReqQryAccountMaxEntrustCount account;
  ZR_BackTestReq backTest;
  const struct {
    const char* name;
    std::function<int()> call;
  } cases[] = {
      {"GetCode", [&] { return api.GetCode(); }},
      {"SetNewBackTest", [&] { return api.SetNewBackTest(&backTest); }},
      {"SetNewBackTest(null)", [&] { return api.SetNewBackTest(nullptr); }},
      {"reqQryMaxEntrustCount", [&] { return api.reqQryMaxEntrustCount(&maxCount); }},
      {"reqQryMaxEntrustCount(null)", [&] { return api.reqQryMaxEntrustCount(nullptr); }},
      {"reqQryAccountInitMaxEntrustCount",
       [&] { return api.reqQryAccountInitMaxEntrustCount(&account); }},
      {"reqQryAccountInitMaxEntrustCount(null)",
       [&] { return api.reqQryAccountInitMaxEntrustCount(nullptr); }},
      {"reqSubscribeMaxEntrustCount", [&] { return api.reqSubscribeMaxEntrustCount(); }},
      {"ReqTradingDay", [&] { return api.ReqTradingDay(1, codes, 2, "20201009", "20201010"); }},
      {"ReqTradingDay(null)", [&] { return api.ReqTradingDay(0, nullptr, -1, nullptr, nullptr); }},
      {"ReqHaltingDay", [&] { return api.ReqHaltingDay(1, codes, 2, "20201009", "20201010"); }},
      {"ReqHaltingDay(null)", [&] { return api.ReqHaltingDay(0, nullptr, -1, nullptr, nullptr); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(), -1);
  }
  api.Run();
  api.BreakExec();
  EXPECT_TRUE(fake::Calls().empty());
}

TEST(ApiOperations, GetErrMsgIsABoundedCopyOfUnknown) {
  struct Case {
    int code;
    int length;
    // The 12-byte buffer afterwards; it starts as all '#'.
    const char expected[13];
  };
  const Case cases[] = {
      {-5, 12, "Unknown\0\0\0\0\0"}, {0, 8, "Unknown\0####"}, {1, 7, "Unknown#####"},
      {0, 3, "Unk#########"},        {0, 1, "U###########"},  {0, 0, "############"},
      {0, -4, "############"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    char buffer[12];
    std::memset(buffer, '#', sizeof buffer);
    ZR_QuantApi::GetErrMsg(c.code, buffer, c.length);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(c.expected, sizeof buffer));
  }
  ZR_QuantApi::GetErrMsg(0, nullptr, 16);  // a null buffer is left alone
}

TEST(ApiOperations, GetErrMsgFillsALargeBufferWithZeros) {
  char buffer[2048];
  std::memset(buffer, '#', sizeof buffer);
  ZR_QuantApi::GetErrMsg(7, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "Unknown");
  EXPECT_EQ(std::string(buffer + 7, sizeof buffer - 7), std::string(sizeof buffer - 7, '\0'));
}

TEST(ApiOperations, VersionIsOneConstantText) {
  const char* version = ZR_QuantApi::getVersion();
  EXPECT_STREQ(version, "ZR_QuantApi emulator 20191009 with ITG trade/quote api");
  EXPECT_EQ(ZR_QuantApi::getVersion(), version);
}

}  // namespace

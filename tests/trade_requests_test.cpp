// Login and the trade requests: the exact calls each makes on the outside
// libraries, and the results it passes back.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ZR_QuantApi.h"
#include "fake_gateways.h"
#include "merge_mode.h"
#include "order_files.h"
#include "recording_spi.h"
#include "veltrane_risk.h"

using namespace Corvane;
using fake::Call;
using fake::Int;
using fake::TextArg;
using testing_support::LogInWithMergeMode;
using testing_support::RecordingSpi;

namespace {

class TradeRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::RemoveOrderFiles();
    api_ = ZR_QuantApi::createApi(&spi_, false, ZR_QuantTdApp_Default, ZR_QuantMdApp_Level2);
    fake::Reset();
  }
  void TearDown() override {
    ZR_QuantApi::deleteApi(api_);
    testing_support::RemoveOrderFiles();
  }

  RecordingSpi spi_;
  ZR_QuantApi* api_ = nullptr;
};

template <size_t N>
void Fill(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
}

struct InsertCase {
  const char* name;
  int reqId;
  std::string product;
  std::string contract;
  int tradeType;
  int64_t price;
  int volume;
  std::string sentProduct;
  std::string sentCode;
  int64_t side;
  std::string priceText;
};

TEST_F(TradeRequests, InsertSendsTextsSideAndPriceExactly) {
  const std::string product128(128, 'p');  // fills the field, no terminator
  const InsertCase cases[] = {
      {"sell", 1, "P1", "600000", 2, 123400, 100, "P1", "600000", 1, "12.340000"},
      {"buy", 2147483646, "", "000001", 1, 5, 200, "", "000001", 2, "0.000500"},
      {"suffix not sent", 3, "P", "600000.SH", 1, 1, 1, "P", "600000", 2, "0.000100"},
      {"short code", 4, "P", "6000", 1, 5, 100, "P", "6000", 2, "0.000500"},
      {"whole units", 5, product128, "300750", 2, 100000000, 300, product128, "300750", 1,
       "10000.000000"},
      {"large price", 6, "P", "600000", 1, 9223372036854775807, 1, "P", "600000", 2,
       "922337203685477.625000"},
  };
  for (const InsertCase& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    TD_ReqOrderInsert request;
    request.nReqID = c.reqId;
    Fill(request.szProductCode, c.product);
    Fill(request.szContractCode, c.contract);
    request.nTradeType = c.tradeType;
    request.nOrderPrice = c.price;
    request.nOrderVol = c.volume;
    const TD_ReqOrderInsert before = request;
    EXPECT_EQ(api_->reqOrderInsert(&request), 0);
    EXPECT_EQ(
        fake::Calls(),
        (std::vector<Call>{{"LibITG_ReqPlaceOrder",
                            {Int(c.reqId), TextArg(""), TextArg(c.sentProduct), TextArg(c.sentCode),
                             Int(c.side), TextArg(c.priceText), Int(c.volume)}}}));
    // The request record is left as it was.
    EXPECT_EQ(request.nReqID, before.nReqID);
    EXPECT_EQ(std::memcmp(request.szProductCode, before.szProductCode, 128), 0);
    EXPECT_EQ(std::memcmp(request.szContractCode, before.szContractCode, 64), 0);
    EXPECT_EQ(request.nTradeType, before.nTradeType);
    EXPECT_EQ(request.nOrderPrice, before.nOrderPrice);
    EXPECT_EQ(request.nOrderVol, before.nOrderVol);
  }
}

// An order that means nothing is refused before any limit and whatever the
// limits, with its reason: sent, a direction of 0 or 3 would go out as a buy,
// a quantity or price of 0 or less as an order no one meant.
TEST_F(TradeRequests, InsertRefusesWhatMeansNothing) {
  const struct {
    int reqId;
    int tradeType;
    int64_t price;
    int volume;
    veltrane::OrderCheck check;
    const char* refusal;
  } cases[] = {
      {0, 1, 100000, 100, veltrane::OrderCheck::kRequestId,
       "refused by request_id: nReqID 0 is not from 1 to 2147483646"},
      {-1, 1, 100000, 100, veltrane::OrderCheck::kRequestId,
       "refused by request_id: nReqID -1 is not from 1 to 2147483646"},
      {2147483647, 1, 100000, 100, veltrane::OrderCheck::kRequestId,
       "refused by request_id: nReqID 2147483647 is not from 1 to 2147483646"},
      {-2147483647 - 1, 1, 100000, 100, veltrane::OrderCheck::kRequestId,
       "refused by request_id: nReqID -2147483648 is not from 1 to 2147483646"},
      {1, 0, 100000, 100, veltrane::OrderCheck::kTradeType,
       "refused by trade_type: nTradeType 0 is neither 1 (buy) nor 2 (sell)"},
      {1, 3, 100000, 100, veltrane::OrderCheck::kTradeType,
       "refused by trade_type: nTradeType 3 is neither 1 (buy) nor 2 (sell)"},
      {1, -1, 100000, 100, veltrane::OrderCheck::kTradeType,
       "refused by trade_type: nTradeType -1 is neither 1 (buy) nor 2 (sell)"},
      {1, 99, 100000, 100, veltrane::OrderCheck::kTradeType,
       "refused by trade_type: nTradeType 99 is neither 1 (buy) nor 2 (sell)"},
      {1, 1, 100000, 0, veltrane::OrderCheck::kQuantity,
       "refused by order_quantity: nOrderVol 0 is not a positive number of shares"},
      {1, 2, 100000, -100, veltrane::OrderCheck::kQuantity,
       "refused by order_quantity: nOrderVol -100 is not a positive number of shares"},
      {1, 1, 0, 100, veltrane::OrderCheck::kPrice,
       "refused by order_price: nOrderPrice 0 is not a positive price (in 1/10000 yuan)"},
      {1, 2, -5, 100, veltrane::OrderCheck::kPrice,
       "refused by order_price: nOrderPrice -5 is not a positive price (in 1/10000 yuan)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusal);
    fake::Reset();
    const int64_t before = veltrane::OrdersRefusedBy(c.check);
    TD_ReqOrderInsert request;
    request.nReqID = c.reqId;
    Fill(request.szContractCode, "600000");
    request.nTradeType = c.tradeType;
    request.nOrderPrice = c.price;
    request.nOrderVol = c.volume;
    EXPECT_EQ(api_->reqOrderInsert(&request), -1);
    EXPECT_TRUE(fake::Calls().empty());
    EXPECT_EQ(veltrane::LastRiskRefusal(), c.refusal);
    EXPECT_EQ(veltrane::OrdersRefusedBy(c.check), before + 1);
  }
  EXPECT_EQ(api_->reqOrderInsert(nullptr), -1);
  EXPECT_TRUE(fake::Calls().empty());
}

struct CancelCase {
  const char* name;
  int64_t mergeMode;
  std::string errDesc;
  int64_t orderId;
  std::string sentCode;
};

TEST_F(TradeRequests, CancelNamesTheOrderByItsGivenCodeItsNumberOrTheMap) {
  testing_support::WriteFile(testing_support::TodaysOrderFile(), "0 ORD-A\n5 ORD-F\n");
  const std::string longCode(200, 'c');
  const CancelCase cases[] = {
      {"given code, map mode", 0, "GW-77", 5, "GW-77"},
      {"given code, decimal mode", 1, "GW-77", 5, "GW-77"},
      {"given code is cut to the field", 0, longCode, 0, std::string(128, 'c')},
      {"decimal mode", 1, "", 42, "42"},
      {"decimal mode, negative", 1, "", -7, "-7"},
      {"decimal mode, any non-zero login result", -3, "", 0, "0"},
      {"map mode", 0, "", 5, "ORD-F"},
      {"map mode, unknown number", 0, "", 6, ""},
  };
  for (const CancelCase& c : cases) {
    SCOPED_TRACE(c.name);
    LogInWithMergeMode(*api_, c.mergeMode);  // also loads the file
    TD_ReqOrderDelete request;
    request.nReqID = 9;
    Fill(request.errDesc, c.errDesc);
    Fill(request.szProductCode, "P");
    request.nOrderId = c.orderId;
    EXPECT_EQ(api_->reqOrderDelete(&request), 0);
    EXPECT_EQ(fake::Calls(), (std::vector<Call>{{"LibITG_ReqCancelOrder",
                                                 {Int(9), TextArg("P"), TextArg(c.sentCode)}}}));
  }
}

TEST_F(TradeRequests, RequestsPassTheGatewaysResultThroughCutTo32Bits) {
  TD_ReqOrderInsert insert;
  insert.nReqID = 1;
  insert.nTradeType = 1;
  insert.nOrderPrice = 100000;
  insert.nOrderVol = 100;
  TD_ReqOrderDelete cancel;
  TD_ReqQryOrder orders;
  orders.nReqID = 11;
  TD_ReqQryMatch matches;
  matches.nReqID = 12;
  TD_ReqQryPosition positions;
  positions.nReqID = 13;
  TD_ReqQryAccountMaxEntrustCount capital;
  capital.nReqID = 14;
  const struct {
    const char* function;
    std::function<int()> call;
    std::vector<fake::Arg> args;  // checked for the queries only
  } cases[] = {
      {"LibITG_ReqPlaceOrder", [&] { return api_->reqOrderInsert(&insert); }, {}},
      {"LibITG_ReqCancelOrder", [&] { return api_->reqOrderDelete(&cancel); }, {}},
      {"LibITG_ReqQueryOrders", [&] { return api_->reqQryOrder(&orders); }, {Int(11)}},
      {"LibITG_ReqQueryTrades", [&] { return api_->reqQryMatch(&matches); }, {Int(12)}},
      {"LibITG_ReqQueryPosition", [&] { return api_->reqQryPosition(&positions); }, {Int(13)}},
      {"LibITG_ReqGetAccountBalance",
       [&] { return api_->reqQryAccountMaxEntrustCount(&capital); },
       {Int(14)}},
  };
  const struct {
    int64_t gateway;
    int expected;
  } results[] = {{0, 0}, {-5, -5}, {0x100000007LL, 7}, {0xFFFFFFFFLL, -1}};
  for (const auto& c : cases) {
    for (const auto& result : results) {
      SCOPED_TRACE(std::string(c.function) + " " + std::to_string(result.gateway));
      fake::Reset();
      fake::SetResult(c.function, result.gateway);
      EXPECT_EQ(c.call(), result.expected);
      const std::vector<Call> calls = fake::Calls();
      ASSERT_EQ(calls.size(), 1u);
      EXPECT_EQ(calls[0].function, c.function);
      if (!c.args.empty()) {
        EXPECT_EQ(calls[0].args, c.args);
      }
    }
  }
}

TEST_F(TradeRequests, ANullRequestIsRefusedWithoutAGatewayCall) {
  EXPECT_EQ(api_->reqOrderDelete(nullptr), -1);
  EXPECT_EQ(api_->reqQryOrder(nullptr), -1);
  EXPECT_EQ(api_->reqQryMatch(nullptr), -1);
  EXPECT_EQ(api_->reqQryPosition(nullptr), -1);
  EXPECT_EQ(api_->reqQryAccountMaxEntrustCount(nullptr), -1);
  EXPECT_TRUE(fake::Calls().empty());
}

struct LoginCase {
  const char* name;
  bool trade;
  bool quote;
  int64_t loginResult;
  std::string printed;  // after an earlier login left the mode at 4
  std::vector<std::string> functions;
};

TEST_F(TradeRequests, LoginCallsTheLibrariesInUseAndPrintsTheMode) {
  const LoginCase cases[] = {
      {"both",
       true,
       true,
       1,
       "conf_merge_position 1\n",
       {"LibITG_ReqUserLogin", "LibQuote_ReqUserLogin"}},
      {"trade only", true, false, 0, "conf_merge_position 0\n", {"LibITG_ReqUserLogin"}},
      {"64-bit result",
       true,
       false,
       0x100000002LL,
       "conf_merge_position 2\n",
       {"LibITG_ReqUserLogin"}},
      {"quote only keeps the mode",
       false,
       true,
       9,
       "conf_merge_position 4\n",
       {"LibQuote_ReqUserLogin"}},
      {"neither", false, false, 9, "conf_merge_position 4\n", {}},
  };
  for (const LoginCase& c : cases) {
    SCOPED_TRACE(c.name);
    LogInWithMergeMode(*api_, 4);
    // The latest createApi decides which libraries Login reaches.
    RecordingSpi spi;
    ZR_QuantApi* api = ZR_QuantApi::createApi(&spi, false, ZR_QuantTdApp_Default, c.trade,
                                              ZR_QuantMdApp_Level2, c.quote, false);
    fake::Reset();
    fake::SetResult("LibITG_ReqUserLogin", c.loginResult);
    char user[] = "trader01";
    char password[] = "pw";
    testing::internal::CaptureStdout();
    EXPECT_EQ(api->Login(user, password), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_EQ(fake::CalledFunctions(), c.functions);
    ZR_QuantApi::deleteApi(api);
  }
}

TEST_F(TradeRequests, LoginSendsItsTextsAndTakesNullAsEmpty) {
  char user[] = "trader01";
  char password[] = "pass word";
  testing::internal::CaptureStdout();
  api_->Login(user, password);
  api_->Login(nullptr, nullptr);
  testing::internal::GetCapturedStdout();
  const std::vector<Call> expected = {
      {"LibITG_ReqUserLogin",
       {Int(0), TextArg(""), TextArg("trader01"), TextArg("pass word"), TextArg(""), TextArg(""),
        TextArg("")}},
      {"LibQuote_ReqUserLogin", {Int(1), TextArg("")}},
      {"LibITG_ReqUserLogin",
       {Int(0), TextArg(""), TextArg(""), TextArg(""), TextArg(""), TextArg(""), TextArg("")}},
      {"LibQuote_ReqUserLogin", {Int(1), TextArg("")}},
  };
  EXPECT_EQ(fake::Calls(), expected);
  const TraderApiGo& api = dynamic_cast<TraderApiGo&>(*api_);
  EXPECT_EQ(api.strUserId, "");
  EXPECT_EQ(api.strPassword, "");
}

}  // namespace

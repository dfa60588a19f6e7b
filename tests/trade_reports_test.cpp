// Order, match, insert and capital reports of the trade gateway, fired by the
// test double on its gateway thread: the record each one hands the client,
// and the order numbers it carries in both order-code modes.

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "ZR_QuantApi.h"
#include "fake_gateways.h"
#include "gateway_events.h"
#include "merge_mode.h"
#include "order_files.h"
#include "recording_spi.h"

using namespace Corvane;
using testing_support::FireTrade;
using testing_support::LogInWithMergeMode;
using testing_support::ReadFile;
using testing_support::RecordingSpi;
using testing_support::SpiEvent;
using testing_support::TodaysOrderFile;

namespace {

class TradeReports : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::RemoveOrderFiles();
    fake::Reset();
    api_ = ZR_QuantApi::createApi(&spi_, false, ZR_QuantTdApp_Default, ZR_QuantMdApp_Level2);
    LogInWithMergeMode(*api_, 0);
  }
  void TearDown() override {
    ZR_QuantApi::deleteApi(api_);
    testing_support::RemoveOrderFiles();
  }

  // The events the spi received since the last call.
  std::vector<SpiEvent> NewEvents() {
    std::vector<SpiEvent> events = spi_.Events();
    events.erase(events.begin(), events.begin() + static_cast<long>(seen_));
    seen_ += events.size();
    return events;
  }

  RecordingSpi spi_;
  ZR_QuantApi* api_ = nullptr;
  size_t seen_ = 0;
};

const std::string kLong(200, 'x');

struct OrderArgs {
  int errorId = 0;
  std::string message = "OK";
  std::string security = "600000";
  std::string code = "ORD-1";
  int side = 1;
  double price = 10.5;
  int quantity = 300;
  double traded = 12.345;
  int tradedQty = 100;
  char status = '5';
  std::string time = "09:30:00.120";
  int kind = 2;
};

void FireOrder(const OrderArgs& a) {
  FireTrade([&a](const ItgCallbacks& t) {
    t.onOrder(17, a.errorId, a.message.c_str(), a.security.c_str(), a.code.c_str(), "SH", a.side,
              a.price, a.quantity, a.traded, a.tradedQty, a.status, a.time.c_str(), a.kind);
  });
}

struct OrderCase {
  const char* name;
  OrderArgs args;
  std::string op;
  std::vector<int64_t> values;
  std::string contract;
  std::string errDesc;
  std::string time;
};

OrderArgs With(OrderArgs args, void (*change)(OrderArgs&)) {
  change(args);
  return args;
}

TEST_F(TradeReports, OrderReportsFillTheRecordAndChooseNoticeOrQueryRow) {
  const OrderCase cases[] = {
      {"notice", {}, "OnRtnOrderStatusChangeNotice", {}, "600000.SH", "ORD-1:OK", "09:30:00.120"},
      {"query row",
       With({}, [](OrderArgs& a) { a.kind = 0; }),
       "OnRspQryOrder",
       {0, 0},
       "600000.SH",
       "ORD-1:OK",
       "09:30:00.120"},
      {"last query row",
       With({}, [](OrderArgs& a) { a.kind = 1; }),
       "OnRspQryOrder",
       {0, 1},
       "600000.SH",
       "ORD-1:OK",
       "09:30:00.120"},
      {"kind 5 is a last row",
       With({}, [](OrderArgs& a) { a.kind = 5; }),
       "OnRspQryOrder",
       {0, 1},
       "600000.SH",
       "ORD-1:OK",
       "09:30:00.120"},
      {"error row",
       With({}, [](OrderArgs& a) { a.errorId = 3, a.kind = 1, a.message = "bad"; }),
       "OnRspQryOrder",
       {3, 1},
       "600000.SH",
       "bad",
       "09:30:00.120"},
      {"Shenzhen",
       With({}, [](OrderArgs& a) { a.security = "000001"; }),
       "OnRtnOrderStatusChangeNotice",
       {},
       "000001.SZ",
       "ORD-1:OK",
       "09:30:00.120"},
      {"no code",
       With({}, [](OrderArgs& a) { a.security = ""; }),
       "OnRtnOrderStatusChangeNotice",
       {},
       "",
       "ORD-1:OK",
       "09:30:00.120"},
      {"long texts are cut",
       With({},
            [](OrderArgs& a) {
              a.security = "6" + kLong;
              a.message = kLong;
              a.time = kLong;
            }),
       "OnRtnOrderStatusChangeNotice",
       {},
       "6" + std::string(31, 'x'),
       "ORD-1:" + std::string(121, 'x'),
       std::string(20, 'x')},
  };
  for (const OrderCase& c : cases) {
    SCOPED_TRACE(c.name);
    FireOrder(c.args);
    const std::vector<SpiEvent> events = NewEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].op, c.op);
    EXPECT_EQ(events[0].values, c.values);
    EXPECT_EQ(events[0].thread, fake::GatewayThreadId());
    const TD_RspQryOrder& order = events[0].As<TD_RspQryOrder>();
    EXPECT_EQ(order.nReqID, 17);
    EXPECT_EQ(order.szContractCode, c.contract);
    EXPECT_EQ(order.nOrderId, 0);  // the one code all cases share, numbered first
    EXPECT_EQ(order.nTradeType, 2);
    EXPECT_EQ(order.nOrderPrice, 105000);
    EXPECT_EQ(order.nOrderVol, 300);
    EXPECT_EQ(order.nDealedPrice, 123450);
    EXPECT_EQ(order.nDealedVol, 100);
    EXPECT_EQ(order.nStatus, 5);
    EXPECT_EQ(order.szInsertTime, c.time);
    EXPECT_EQ(order.errDesc, c.errDesc);
  }
}

struct MatchArgs {
  int errorId = 0;
  std::string message = "OK";
  std::string code = "ORD-1";
  std::string matchId = "M-1";
  int side = 2;
  double price = 10.5;
  int kind = 2;
};

void FireMatch(const MatchArgs& a) {
  FireTrade([&a](const ItgCallbacks& t) {
    t.onMatch(23, a.errorId, a.message.c_str(), "000001", a.code.c_str(), "SZ", a.matchId.c_str(),
              a.side, a.price, 400, "10:01:02", a.kind);
  });
}

TEST_F(TradeReports, MatchReportsNumberTheirMatchIdFromTheOrdersSequence) {
  FireMatch({});
  FireMatch({0, "OK", "ORD-1", "M-2", 1, 12.3456, 0});
  FireMatch({9, "refused", "ORD-2", "M-2", 3, 0, 1});
  FireMatch({0, "OK", kLong, "M-3", 2, 1, 5});
  const std::vector<SpiEvent> events = NewEvents();
  const struct {
    std::string op;
    std::vector<int64_t> values;
    int64_t orderId;
    int64_t matchNumber;
    int tradeType;
    double price;
    std::string orderCode;
    std::string errDesc;
  } expected[] = {
      {"OnRtnOrderMatchNotice", {}, 0, 1, 1, 105000.0, "ORD-1", "ORD-1"},
      {"OnRspQryMatch", {0, 0}, 0, 2, 2, 123456.0, "ORD-1", "ORD-1"},
      {"OnRspQryMatch", {9, 1}, 3, 2, 1, 0.0, "ORD-2", "refused"},
      {"OnRspQryMatch", {0, 1}, 4, 5, 1, 10000.0, std::string(63, 'x'), std::string(127, 'x')},
  };
  ASSERT_EQ(events.size(), 4u);
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].op, expected[i].op);
    EXPECT_EQ(events[i].values, expected[i].values);
    const TD_RspQryMatch& match = events[i].As<TD_RspQryMatch>();
    EXPECT_EQ(match.nReqID, 23);
    EXPECT_EQ(match.szContractCode, std::string("000001.SZ"));
    EXPECT_EQ(match.nOrderId, expected[i].orderId);
    EXPECT_EQ(match.nMatchStreamId, expected[i].matchNumber);
    EXPECT_EQ(match.nTradeType, expected[i].tradeType);
    EXPECT_DOUBLE_EQ(match.nMatchPrice, expected[i].price);
    EXPECT_EQ(match.nMatchVol, 400);
    EXPECT_EQ(match.szMatchTime, std::string("10:01:02"));
    EXPECT_EQ(match.szOrderCode, expected[i].orderCode);
    EXPECT_EQ(match.errDesc, expected[i].errDesc);
  }
  EXPECT_EQ(ReadFile(TodaysOrderFile()),
            "0 ORD-1\n1 M-1\n2 M-2\n3 ORD-2\n4 " + kLong + "\n5 M-3\n");
}

struct InsertArgs {
  int errorId;
  std::string message;
  std::string code;
};

void FireInsert(const InsertArgs& a) {
  FireTrade([&a](const ItgCallbacks& t) {
    t.onInsert(31, a.errorId, a.message.c_str(), "600519", a.code.c_str(), "SH", 1, 1699.99, 200);
  });
}

TEST_F(TradeReports, AnInsertAnswerNumbersOnlyAcceptedOrders) {
  FireInsert({0, "accepted", "GW-1"});
  FireInsert({3, "no money", "GW-2"});
  FireInsert({0, "accepted", "GW-3"});
  FireInsert({0, "again", "GW-1"});
  const std::vector<SpiEvent> events = NewEvents();
  const struct {
    int errorId;
    int64_t orderId;
    std::string errDesc;
  } expected[] = {{0, 0, "GW-1"}, {3, 0, "no money"}, {0, 1, "GW-3"}, {0, 0, "GW-1"}};
  ASSERT_EQ(events.size(), 4u);
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].op, "OnRspOrderInsert");
    EXPECT_EQ(events[i].values, std::vector<int64_t>{expected[i].errorId});
    const TD_RspOrderInsert& answer = events[i].As<TD_RspOrderInsert>();
    EXPECT_EQ(answer.nReqID, 31);
    EXPECT_EQ(answer.nOrderId, expected[i].orderId);
    EXPECT_EQ(answer.szContractCode, std::string("600519.SH"));
    EXPECT_EQ(answer.nTradeType, 2);
    EXPECT_EQ(answer.nOrderPrice, 16999900);
    EXPECT_EQ(answer.nOrderVol, 200);
    EXPECT_EQ(answer.nStatus, 0);
    EXPECT_EQ(answer.errDesc, expected[i].errDesc);
  }
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 GW-1\n1 GW-3\n");
}

TEST_F(TradeReports, DecimalOrderCodesAreTheOrderNumbers) {
  LogInWithMergeMode(*api_, 1);
  FireInsert({0, "accepted", "42"});
  FireInsert({0, "accepted", "A12"});  // answered all the same, without a number
  FireOrder(With({}, [](OrderArgs& a) { a.code = " -7x"; }));
  FireOrder(With({}, [](OrderArgs& a) { a.code = "A12"; }));                   // dropped
  FireOrder(With({}, [](OrderArgs& a) { a.code = "99999999999999999999"; }));  // dropped
  FireMatch({0, "OK", "42", "M-9", 1, 1, 2});
  FireMatch({0, "OK", "A12", "M-10", 1, 1, 2});  // dropped before its match id is numbered
  const std::vector<SpiEvent> events = NewEvents();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].As<TD_RspOrderInsert>().nOrderId, 42);
  EXPECT_EQ(events[1].As<TD_RspOrderInsert>().nOrderId, 0);
  EXPECT_EQ(events[1].As<TD_RspOrderInsert>().errDesc, std::string("A12"));
  EXPECT_EQ(events[2].As<TD_RspQryOrder>().nOrderId, -7);
  EXPECT_EQ(events[3].As<TD_RspQryMatch>().nOrderId, 42);
  EXPECT_EQ(events[3].As<TD_RspQryMatch>().nMatchStreamId, 0);
  // Only the match id went through the map.
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 M-9\n");
}

TEST_F(TradeReports, TheMapIsUpdatedEvenWithoutASpi) {
  dynamic_cast<TraderApiGo&>(*api_).RegisterSpi(nullptr);
  FireInsert({0, "accepted", "GW-1"});
  FireOrder(With({}, [](OrderArgs& a) { a.code = "GW-2"; }));
  FireMatch({0, "OK", "GW-2", "M-1", 1, 1, 2});
  dynamic_cast<TraderApiGo&>(*api_).RegisterSpi(&spi_);
  FireOrder(With({}, [](OrderArgs& a) { a.code = "GW-2"; }));
  const std::vector<SpiEvent> events = NewEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].As<TD_RspQryOrder>().nOrderId, 1);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 GW-1\n1 GW-2\n2 M-1\n");
}

TEST_F(TradeReports, CapitalAnswersAreTruncatedAndSaturated) {
  const struct {
    const char* available;
    const char* total;
    int32_t availableUnits;
    int32_t totalUnits;
  } cases[] = {
      {"100.9", "-0.5", 100, 0},         {"1e12", "-1e12", INT32_MAX, INT32_MIN},
      {"not a number", "", 0, 0},        {nullptr, "nan", 0, 0},
      {"1e400", "1e-400", INT32_MAX, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.available != nullptr ? c.available : "(null)");
    FireTrade([&c](const ItgCallbacks& t) {
      t.onBalance(41, 6, "capital", "CNY", c.available, c.total);
    });
    const std::vector<SpiEvent> events = NewEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].op, "OnRspQryAccountMaxEntrustCount");
    EXPECT_EQ(events[0].values, (std::vector<int64_t>{6, 1}));
    const TD_RspQryAccountMaxEntrustCount& answer = events[0].As<TD_RspQryAccountMaxEntrustCount>();
    EXPECT_EQ(answer.nReqID, 41);
    EXPECT_EQ(answer.nAvailableCaptial, c.availableUnits);
    EXPECT_EQ(answer.nTotalCaptial, c.totalUnits);
    EXPECT_EQ(answer.errDesc, std::string("capital"));
  }
}

TEST_F(TradeReports, AnOrdersEventsReachTheClientInTheGatewaysOrder) {
  FireTrade([](const ItgCallbacks& t) {
    // A fill can arrive before the insert answer.
    t.onMatch(0, 0, "", "600000", "GW-5", "SH", "M-5", 1, 10, 100, "093001", 2);
    t.onInsert(5, 0, "", "600000", "GW-5", "SH", 1, 10, 100);
    t.onOrder(0, 0, "", "600000", "GW-5", "SH", 1, 10, 100, 10, 100, '7', "093001", 2);
  });
  const std::vector<SpiEvent> events = NewEvents();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].op, "OnRtnOrderMatchNotice");
  EXPECT_EQ(events[1].op, "OnRspOrderInsert");
  EXPECT_EQ(events[2].op, "OnRtnOrderStatusChangeNotice");
  EXPECT_EQ(events[0].As<TD_RspQryMatch>().nOrderId, 0);
  EXPECT_EQ(events[1].As<TD_RspOrderInsert>().nOrderId, 0);
  EXPECT_EQ(events[2].As<TD_RspQryOrder>().nOrderId, 0);
  EXPECT_EQ(events[2].As<TD_RspQryOrder>().nStatus, 6);
}

}  // namespace

// The pre-trade risk checks through the API and the test doubles: each limit
// at its edge and one beyond (refused with no gateway call, counted and
// explained), the one-second window sliding, the day's counters starting
// again, working orders following the trade events, the kill switch.

#include "risk_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ZR_QuantApi.h"
#include "fake_gateways.h"
#include "gateway_events.h"
#include "order_files.h"
#include "quote_messages.h"
#include "recording_spi.h"
#include "veltrane_risk.h"

using namespace Corvane;
using testing_support::FireQuote;
using testing_support::FireTrade;
using testing_support::RecordingSpi;
using veltrane::RiskLimits;
using veltrane::RiskRule;

namespace {

constexpr int64_t kMillisecond = 1000000;
constexpr int64_t kSecond = 1000 * kMillisecond;
constexpr int kBuy = 1;   // nTradeType
constexpr int kSell = 2;  // nTradeType

veltrane::RiskTime g_now;
veltrane::RiskTime FakeClock() { return g_now; }

struct Order {
  const char* code;
  int tradeType;
  int64_t price;  // 1/10000 units
  int volume;
};

class RiskChecks : public ::testing::Test {
 public:
  void SetUp() override {
    testing_support::RemoveOrderFiles();
    api_ = ZR_QuantApi::createApi(&spi_, false, ZR_QuantTdApp_Default, ZR_QuantMdApp_Level2);
    Restart();
  }
  void TearDown() override {
    veltrane::ResetRiskForTesting(nullptr);
    ZR_QuantApi::deleteApi(api_);
    testing_support::RemoveOrderFiles();
  }

  static void Restart() {
    g_now = {100 * kSecond, 20261210};
    veltrane::ResetRiskForTesting(&FakeClock);
    fake::Reset();
  }

  static void Limit(const std::function<void(RiskLimits&)>& set) {
    RiskLimits limits;
    set(limits);
    std::string why;
    ASSERT_TRUE(veltrane::SetRiskLimits(limits, &why)) << why;
  }

  int Insert(const Order& order, int reqId = 1) {
    TD_ReqOrderInsert request;
    request.nReqID = reqId;
    std::snprintf(request.szContractCode, sizeof request.szContractCode, "%s", order.code);
    request.nTradeType = order.tradeType;
    request.nOrderPrice = order.price;
    request.nOrderVol = order.volume;
    return api_->reqOrderInsert(&request);
  }

  int Cancel(const char* orderCode) {
    TD_ReqOrderDelete request;
    request.nReqID = 1;
    std::snprintf(request.errDesc, sizeof request.errDesc, "%s", orderCode);
    return api_->reqOrderDelete(&request);
  }

  static size_t GatewayCalls(const char* function) {
    size_t count = 0;
    for (const std::string& called : fake::CalledFunctions()) count += called == function;
    return count;
  }

  static int64_t Working() { return veltrane::CurrentRiskCounters().working_orders; }

  RecordingSpi spi_;
  ZR_QuantApi* api_ = nullptr;
};

// Events as the gateway sends them (side: 2 buys, 1 sells).
void Answer(int reqId, const char* code, const char* orderCode, int side, int errorId = 0) {
  FireTrade([=](const ItgCallbacks& itg) {
    itg.onInsert(reqId, errorId, errorId == 0 ? "accepted" : "refused", code, orderCode, "", side,
                 10.0, 100);
  });
}

void Status(const char* orderCode, char status, int traded, int kind = LIBITG_REPORT_NOTICE) {
  FireTrade([=](const ItgCallbacks& itg) {
    itg.onOrder(1, 0, "", "600000", orderCode, "", 2, 10.0, 100, 10.0, traded, status, "093000",
                kind);
  });
}

void Match(const char* code, const char* orderCode, int side, int quantity) {
  FireTrade([=](const ItgCallbacks& itg) {
    itg.onMatch(1, 0, "", code, orderCode, "", "M", side, 10.0, quantity, "093001",
                LIBITG_REPORT_NOTICE);
  });
}

void PositionRow(const char* code, int position) {
  FireTrade([=](const ItgCallbacks& itg) { itg.onPosition(1, 0, "", code, position, 1); });
}

void LastPrice(const char* code, double price) {
  lmvproto::SSEL2_Transaction trade = testing_support::ShanghaiTrade();
  trade.set_symbol(code);
  trade.set_tradeprice(price);
  const std::string bytes = testing_support::Encode(trade);
  FireQuote([&](const QuoteCallbacks& quote) {
    quote.onData(1, 0, 0, "SSEL2_Transaction", bytes.data(), static_cast<int32_t>(bytes.size()));
  });
}

struct LimitCase {
  const char* name;
  std::function<void(RiskLimits&)> limits;
  // Brings the state to one order (or cancel) below the limit.
  std::function<void(RiskChecks&)> before;
  Order atLimit;  // accepted
  Order beyond;   // refused
  RiskRule rule;
  const char* text;
};

TEST_F(RiskChecks, EachLimitAcceptsAtItsEdgeAndRefusesOneBeyond) {
  auto orders = [](int count) {
    return [count](RiskChecks& test) {
      for (int i = 0; i < count; ++i) ASSERT_EQ(0, test.Insert({"600000", kBuy, 100000, 100}));
    };
  };
  auto nothing = [](RiskChecks&) {};
  const LimitCase cases[] = {
      {"orders per second",
       [](RiskLimits& l) { l.max_orders_per_second = 3; },
       orders(2),
       {"600000", kBuy, 100000, 100},
       {"600000", kBuy, 100000, 100},
       RiskRule::kOrdersPerSecond,
       "refused by max_orders_per_second (3): 3 orders in the last second"},
      {"orders per day",
       [](RiskLimits& l) { l.max_orders_per_day = 3; },
       [](RiskChecks& test) {
         for (int i = 0; i < 2; ++i, g_now.steadyNanos += 5 * kSecond) {
           ASSERT_EQ(0, test.Insert({"600000", kBuy, 100000, 100}));
         }
       },
       {"600000", kBuy, 100000, 100},
       {"600000", kBuy, 100000, 100},
       RiskRule::kOrdersPerDay,
       "refused by max_orders_per_day (3): 3 orders sent today"},
      {"order quantity",
       [](RiskLimits& l) { l.max_order_quantity = 1000; },
       nothing,
       {"600000", kBuy, 100000, 1000},
       {"600000", kSell, 100000, 1001},
       RiskRule::kOrderQuantity,
       "refused by max_order_quantity (1000): 1001 shares of 600000"},
      {"order value",
       [](RiskLimits& l) { l.max_order_value = 100000; },
       nothing,
       {"600000", kBuy, 100000, 10000},
       {"600000", kBuy, 100001, 10000},
       RiskRule::kOrderValue,
       "refused by max_order_value (100000): 10000 shares of 600000 at 10.0001, worth "
       "100001.0000"},
      {"price band above",
       [](RiskLimits& l) { l.price_band = 0.05; },
       [](RiskChecks&) { LastPrice("600000", 10.0); },
       {"600000", kBuy, 105000, 100},
       {"600000", kBuy, 105001, 100},
       RiskRule::kPriceBand,
       "refused by price_band (0.05): 10.5001 for 600000 is 5.0010% from its last price "
       "10.0000"},
      {"price band below, a code without a price passes",
       [](RiskLimits& l) { l.price_band = 0.05; },
       [](RiskChecks& test) {
         LastPrice("600000", 10.0);
         ASSERT_EQ(0, test.Insert({"600001", kBuy, 990000, 100}));
       },
       {"600000", kSell, 95000, 100},
       {"600000", kSell, 94999, 100},
       RiskRule::kPriceBand,
       "refused by price_band (0.05): 9.4999 for 600000 is -5.0010% from its last price "
       "10.0000"},
      {"no price known",
       [](RiskLimits& l) {
         l.price_band = 0.05;
         l.refuse_without_price = true;
       },
       [](RiskChecks&) { LastPrice("600000", 10.0); },
       {"600000", kBuy, 100000, 100},
       {"600001", kBuy, 100000, 100},
       RiskRule::kPriceUnknown,
       "refused by refuse_without_price (true): no last price of 600001 is known yet"},
      {"working orders",
       [](RiskLimits& l) { l.max_working_orders = 2; },
       orders(1),
       {"000001", kBuy, 100000, 100},
       {"300750", kSell, 100000, 100},
       RiskRule::kWorkingOrders,
       "refused by max_working_orders (2): 2 orders working"},
      {"working orders per code",
       [](RiskLimits& l) { l.max_working_orders_per_code = 2; },
       [](RiskChecks& test) {
         ASSERT_EQ(0, test.Insert({"600000", kBuy, 100000, 100}));
         ASSERT_EQ(0, test.Insert({"000001", kBuy, 100000, 100}));
       },
       {"600000", kSell, 110000, 100},
       {"600000", kBuy, 90000, 100},
       RiskRule::kWorkingOrdersPerCode,
       "refused by max_working_orders_per_code (2): 2 orders working in 600000"},
      {"buy against a working sell",
       [](RiskLimits& l) { l.refuse_self_cross = true; },
       [](RiskChecks& test) {
         ASSERT_EQ(0, test.Insert({"600000", kSell, 100000, 100}));
       },
       {"600000", kBuy, 99999, 100},
       {"600000", kBuy, 100000, 100},
       RiskRule::kSelfCross,
       "refused by refuse_self_cross (true): a buy of 600000 at 10.0000 would trade with this "
       "process's working sell at 10.0000"},
      {"sell against a working buy",
       [](RiskLimits& l) { l.refuse_self_cross = true; },
       [](RiskChecks& test) {
         ASSERT_EQ(0, test.Insert({"600000", kBuy, 100000, 100}));
         ASSERT_EQ(0, test.Insert({"000001", kSell, 90000, 100}));
       },
       {"600000", kSell, 100001, 100},
       {"600000", kSell, 99000, 100},
       RiskRule::kSelfCross,
       "refused by refuse_self_cross (true): a sell of 600000 at 9.9000 would trade with this "
       "process's working buy at 10.0000"},
      {"position per code",
       [](RiskLimits& l) { l.max_position_per_code = 1000; },
       [](RiskChecks& test) {
         PositionRow("600000", 500);
         ASSERT_EQ(0, test.Insert({"600000", kBuy, 100000, 200}, 7));
         Answer(7, "600000", "A7", LIBITG_SIDE_BUY);
         Match("600000", "A7", LIBITG_SIDE_BUY, 100);               // 600 held, 100 open
         ASSERT_EQ(0, test.Insert({"600000", kSell, 120000, 50}));  // sells are not limited
       },
       {"600000", kBuy, 100000, 300},
       {"600000", kBuy, 100000, 1},
       RiskRule::kPositionPerCode,
       "refused by max_position_per_code (1000): 600000 would reach 1001: position 600, open "
       "buys 400, this order 1"},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    Limit(c.limits);
    c.before(*this);
    const size_t sent = GatewayCalls("LibITG_ReqPlaceOrder");
    EXPECT_EQ(0, Insert(c.atLimit));
    EXPECT_EQ(sent + 1, GatewayCalls("LibITG_ReqPlaceOrder"));
    EXPECT_EQ("", veltrane::LastRiskRefusal());
    EXPECT_EQ(-1, Insert(c.beyond));
    EXPECT_EQ(sent + 1, GatewayCalls("LibITG_ReqPlaceOrder"));
    EXPECT_EQ(c.text, veltrane::LastRiskRefusal());
    const veltrane::RiskCounters counters = veltrane::CurrentRiskCounters();
    for (int rule = 0; rule < veltrane::kRiskRuleCount; ++rule) {
      EXPECT_EQ(rule == static_cast<int>(c.rule) ? 1 : 0, counters.refused[rule])
          << veltrane::RiskRuleName(static_cast<RiskRule>(rule));
    }
  }
}

TEST_F(RiskChecks, CancelsAreRefusedOnlyByTheirDailyLimit) {
  Limit([](RiskLimits& l) {
    l.max_cancels_per_day = 2;
    l.max_orders_per_second = 1;
    l.max_working_orders = 1;
  });
  ASSERT_EQ(0, Insert({"600000", kBuy, 100000, 100}));
  EXPECT_EQ(0, Cancel("A1"));
  EXPECT_EQ(0, Cancel("A1"));
  EXPECT_EQ(-1, Cancel("A1"));
  EXPECT_EQ(2u, GatewayCalls("LibITG_ReqCancelOrder"));
  EXPECT_EQ("refused by max_cancels_per_day (2): 2 cancels sent today",
            veltrane::LastRiskRefusal());
  EXPECT_EQ(1, veltrane::CurrentRiskCounters().refused[static_cast<int>(RiskRule::kCancelsPerDay)]);
  // With the cancel limit off, cancels go out whatever else is at its limit.
  Limit([](RiskLimits& l) { l.max_working_orders = 1; });
  veltrane::SetTradingEnabled(false);
  EXPECT_EQ(0, Cancel("A1"));
  EXPECT_EQ(3u, GatewayCalls("LibITG_ReqCancelOrder"));
}

TEST_F(RiskChecks, TheOneSecondWindowSlides) {
  Limit([](RiskLimits& l) { l.max_orders_per_second = 2; });
  const struct {
    int64_t at;  // milliseconds after the first order
    int result;
    int64_t inWindow;  // orders in the last second afterwards
  } steps[] = {{0, 0, 1},     {500, 0, 2},  {900, -1, 2}, {1000, 0, 2},
               {1200, -1, 2}, {1500, 0, 2}, {3000, 0, 1}};
  const int64_t start = g_now.steadyNanos;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.at);
    g_now.steadyNanos = start + step.at * kMillisecond;
    EXPECT_EQ(step.result, Insert({"600000", kBuy, 100000, 100}));
    EXPECT_EQ(step.inWindow, veltrane::CurrentRiskCounters().orders_last_second);
  }
  EXPECT_EQ(5u, GatewayCalls("LibITG_ReqPlaceOrder"));
}

TEST_F(RiskChecks, TheDaysCountersStartAgainOnANewTradingDay) {
  Limit([](RiskLimits& l) {
    l.max_orders_per_day = 2;
    l.max_cancels_per_day = 1;
    l.max_position_per_code = 1000;
  });
  PositionRow("600000", 700);
  ASSERT_EQ(0, Insert({"600000", kBuy, 100000, 100}));
  ASSERT_EQ(0, Insert({"600000", kBuy, 100000, 100}));
  ASSERT_EQ(0, Cancel("A1"));
  EXPECT_EQ(-1, Insert({"600000", kBuy, 100000, 100}));
  EXPECT_EQ(-1, Cancel("A1"));
  veltrane::RiskCounters counters = veltrane::CurrentRiskCounters();
  EXPECT_EQ(20261210, counters.trading_day);
  EXPECT_EQ(2, counters.orders_today);
  EXPECT_EQ(1, counters.cancels_today);
  EXPECT_EQ(2, counters.working_orders);

  g_now = {g_now.steadyNanos + 3600 * kSecond, 20261211};
  counters = veltrane::CurrentRiskCounters();
  EXPECT_EQ(20261211, counters.trading_day);
  EXPECT_EQ(0, counters.orders_today);
  EXPECT_EQ(0, counters.cancels_today);
  EXPECT_EQ(0, counters.working_orders);  // yesterday's orders expired at its close
  EXPECT_EQ(0, Cancel("A1"));
  EXPECT_EQ(0, Insert({"600000", kBuy, 100000, 300}));  // the 700 held are still counted
  EXPECT_EQ(-1, Insert({"600000", kBuy, 100000, 100}));
  EXPECT_EQ(
      "refused by max_position_per_code (1000): 600000 would reach 1100: position 700, open buys "
      "300, this order 100",
      veltrane::LastRiskRefusal());
}

TEST_F(RiskChecks, TheKillSwitchRefusesNewOrdersOnly) {
  veltrane::SetTradingEnabled(false);
  EXPECT_FALSE(veltrane::CurrentRiskCounters().trading_enabled);
  EXPECT_EQ(-1, Insert({"600000", kBuy, 100000, 100}));
  EXPECT_EQ(0, Cancel("A1"));
  EXPECT_EQ("refused by trading_enabled (false): new orders are switched off",
            veltrane::LastRiskRefusal());
  EXPECT_EQ(0u, GatewayCalls("LibITG_ReqPlaceOrder"));
  veltrane::SetTradingEnabled(true);
  EXPECT_EQ(0, Insert({"600000", kBuy, 100000, 100}));
  EXPECT_EQ(1u, GatewayCalls("LibITG_ReqPlaceOrder"));
  EXPECT_EQ(1,
            veltrane::CurrentRiskCounters().refused[static_cast<int>(RiskRule::kTradingDisabled)]);
}

TEST_F(RiskChecks, WorkingOrdersFollowTheTradeEvents) {
  const int64_t kRefusedResult = -3;
  const struct {
    const char* name;
    std::function<void()> events;  // after one buy of 600000 with request id 1
    int64_t working;
  } cases[] = {
      {"sent, not answered yet", [] {}, 1},
      {"the insert answer refuses it", [] { Answer(1, "600000", "", LIBITG_SIDE_BUY, 5); }, 0},
      {"cancelled",
       [] {
         Answer(1, "600000", "A1", LIBITG_SIDE_BUY);
         Status("A1", LIBITG_STATUS_CANCELLED, 0);
       },
       0},
      {"filled",
       [] {
         Answer(1, "600000", "A1", LIBITG_SIDE_BUY);
         Status("A1", LIBITG_STATUS_FILLED, 100);
       },
       0},
      {"rejected by the exchange",
       [] {
         Answer(1, "600000", "A1", LIBITG_SIDE_BUY);
         Status("A1", LIBITG_STATUS_REJECTED, 0);
       },
       0},
      {"partly filled",
       [] {
         Answer(1, "600000", "A1", LIBITG_SIDE_BUY);
         Match("600000", "A1", LIBITG_SIDE_BUY, 40);
         Status("A1", LIBITG_STATUS_PART_FILLED, 40);
       },
       1},
      {"filled by its matches before the status says so",
       [] {
         Answer(1, "600000", "A1", LIBITG_SIDE_BUY);
         Match("600000", "A1", LIBITG_SIDE_BUY, 60);
         Match("600000", "A1", LIBITG_SIDE_BUY, 40);
       },
       0},
      {"filled before its insert answer",
       [] {
         Match("600000", "A1", LIBITG_SIDE_BUY, 100);
         Answer(1, "600000", "A1", LIBITG_SIDE_BUY);
       },
       0},
      {"cancelled before its insert answer",
       [] {
         Status("A1", LIBITG_STATUS_CANCELLED, 0);
         Answer(1, "600000", "A1", LIBITG_SIDE_BUY);
       },
       0},
      {"an answer to another request id", [] { Answer(2, "600000", "B1", LIBITG_SIDE_BUY); }, 1},
      {"a query row finishes a known order",
       [] {
         Answer(1, "600000", "A1", LIBITG_SIDE_BUY);
         Status("A1", LIBITG_STATUS_CANCELLED, 0, LIBITG_REPORT_LAST_ROW);
       },
       0},
      {"a query row of a code not yet answered is not kept",
       [] {
         Status("A1", LIBITG_STATUS_CANCELLED, 0, LIBITG_REPORT_LAST_ROW);
         Answer(1, "600000", "A1", LIBITG_SIDE_BUY);
       },
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    ASSERT_EQ(0, Insert({"600000", kBuy, 100000, 100}));
    c.events();
    EXPECT_EQ(c.working, Working());
  }

  SCOPED_TRACE("the gateway did not take it");
  Restart();
  fake::SetResult("LibITG_ReqPlaceOrder", kRefusedResult);
  EXPECT_EQ(kRefusedResult, Insert({"600000", kBuy, 100000, 100}));
  EXPECT_EQ(0, Working());
}

TEST_F(RiskChecks, AReusedRequestIdIsAnsweredByCodeAndSide) {
  Limit([](RiskLimits& l) { l.refuse_self_cross = true; });
  ASSERT_EQ(0, Insert({"600000", kSell, 100000, 100}, 1));
  ASSERT_EQ(0, Insert({"000001", kBuy, 100000, 100}, 1));
  Answer(1, "000001", "B1", LIBITG_SIDE_BUY);
  Answer(1, "600000", "A1", LIBITG_SIDE_SELL);
  Status("A1", LIBITG_STATUS_CANCELLED, 0);
  EXPECT_EQ(1, Working());
  EXPECT_EQ(0, Insert({"600000", kBuy, 100000, 100})) << "the sell of 600000 is gone";
  EXPECT_EQ(-1, Insert({"000001", kSell, 100000, 100})) << "the buy of 000001 still works";
}

// An insert answer as the gateway sends it, with the price and quantity it echoes.
void AnswerOf(int reqId, int errorId, const char* code, const char* orderCode, int side,
              double price, int quantity) {
  FireTrade([=](const ItgCallbacks& itg) {
    itg.onInsert(reqId, errorId, errorId == 0 ? "accepted" : "refused", code, orderCode, "", side,
                 price, quantity);
  });
}

// Two sells of 600000 under one request id, at 10.00 and 10.50: whatever
// order their answers come in, and however little a refusal says, the sell
// at 10.00 that works is never forgotten, so a buy at 10.20 cannot cross it.
TEST_F(RiskChecks, AReusedRequestIdCannotConfuseTheOrdersFollowed) {
  const struct {
    const char* name;
    std::function<void()> answers;
    int64_t working;
  } cases[] = {
      {"the refusal of the second comes first",
       [] {
         AnswerOf(1, 14, "600000", "", LIBITG_SIDE_SELL, 10.50, 100);
         AnswerOf(1, 0, "600000", "A1", LIBITG_SIDE_SELL, 10.00, 100);
       },
       1},
      {"a refusal that names neither: both work until the other's answer tells",
       [] {
         AnswerOf(1, 1, "", "", 0, 0.0, 0);
         EXPECT_EQ(2, Working());
         AnswerOf(1, 0, "600000", "A1", LIBITG_SIDE_SELL, 10.00, 100);
       },
       1},
      {"a refusal with a price the gateway rounded",
       [] {
         AnswerOf(1, 0, "600000", "A1", LIBITG_SIDE_SELL, 10.00, 100);
         AnswerOf(1, 13, "600000", "", LIBITG_SIDE_SELL, 10.49, 100);
       },
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    Limit([](RiskLimits& l) { l.refuse_self_cross = true; });
    ASSERT_EQ(0, Insert({"600000", kSell, 100000, 100}, 1));
    ASSERT_EQ(0, Insert({"600000", kSell, 105000, 100}, 1));
    c.answers();
    EXPECT_EQ(c.working, Working());
    EXPECT_EQ(-1, Insert({"600000", kBuy, 102000, 100}, 2));
    EXPECT_NE(veltrane::LastRiskRefusal().find("working sell at 10.0000"), std::string::npos)
        << veltrane::LastRiskRefusal();
  }
}

TEST_F(RiskChecks, PricesAreFollowedOnlyWhileABandIsSet) {
  LastPrice("600000", 10.0);  // no band: not followed
  Limit([](RiskLimits& l) {
    l.price_band = 0.01;
    l.refuse_without_price = true;
  });
  EXPECT_EQ(-1, Insert({"600000", kBuy, 100000, 100}));
  LastPrice("600000", 10.0);
  EXPECT_EQ(0, Insert({"600000", kBuy, 100000, 100}));
  Limit([](RiskLimits&) {});
  Limit([](RiskLimits& l) {
    l.price_band = 0.01;
    l.refuse_without_price = true;
  });
  EXPECT_EQ(-1, Insert({"600000", kBuy, 100000, 100})) << "a price from before the pause";
}

TEST_F(RiskChecks, BadLimitsAreRefusedAndTheOldOnesStay) {
  Limit([](RiskLimits& l) { l.max_order_quantity = 100; });
  const struct {
    const char* name;
    std::function<void(RiskLimits&)> set;
    const char* why;
  } cases[] = {
      {"negative count", [](RiskLimits& l) { l.max_orders_per_day = -1; },
       "max_orders_per_day must not be negative"},
      {"negative band", [](RiskLimits& l) { l.price_band = -0.01; },
       "price_band must be a finite number, 0 or more"},
      {"band not a number", [](RiskLimits& l) { l.price_band = std::nan(""); },
       "price_band must be a finite number, 0 or more"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RiskLimits limits;
    c.set(limits);
    std::string why;
    EXPECT_FALSE(veltrane::SetRiskLimits(limits, &why));
    EXPECT_EQ(c.why, why);
    EXPECT_EQ(100, veltrane::CurrentRiskLimits().max_order_quantity);
  }
}

}  // namespace

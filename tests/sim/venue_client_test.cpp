// The trade stand-in's venue behind veltrane, end to end: a client of
// ZR_QuantApi trades a short generated session (fixed seed, as fast as
// possible) from inside its market callbacks, so that every order meets the
// book the client has just been shown. The test then replays what the client
// saw: each fill against that book, the account against the fills, and the
// reports of each order in the order a venue gives them.
//
// The environment picks the case: VELTRANE_SIM_ORDER_CODES=decimal runs the
// decimal-code test, with the password "secret".

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ZR_QuantApi.h"
#include "recording_spi.h"
#include "spi_waits.h"

namespace {

using testing_support::CountOf;
using testing_support::RecordingSpi;
using testing_support::SpiEvent;
using testing_support::WaitUntil;

constexpr int32_t kBuy = 1, kSell = 2;  // nTradeType
constexpr int32_t kClosingTime = 94000000;

struct Request {
  int reqId;
  const char* code;
  int32_t tradeType;
  int64_t price;  // 1/10000; 0: at the touch, plus `offset` ticks
  int offset;
  int32_t volume;
};

// A client that places orders from inside OnRtnMarket: `plan` runs on the
// feed's thread for each snapshot, with its number for that code.
class TradingSpi : public RecordingSpi {
 public:
  explicit TradingSpi(std::function<void(TradingSpi&, const Corvane::MD_Market&, int)> plan)
      : plan_(std::move(plan)) {}

  void OnRtnMarket(int nReqID, Corvane::MD_Market* market) override {
    RecordingSpi::OnRtnMarket(nReqID, market);
    plan_(*this, *market, ++snapshots_[market->szWindCode]);
  }

  void Place(const Request& r, const Corvane::MD_Market& market) {
    Corvane::TD_ReqOrderInsert order;
    order.nReqID = r.reqId;
    std::strncpy(order.szContractCode, r.code, sizeof order.szContractCode - 1);
    order.nTradeType = r.tradeType;
    int32_t touch = r.tradeType == kBuy ? market.nAskPrice[0] : market.nBidPrice[0];
    order.nOrderPrice = r.price != 0 ? r.price : touch + 100 * r.offset;
    order.nOrderVol = r.volume;
    EXPECT_EQ(api->reqOrderInsert(&order), 0);
  }

  void Cancel(int reqId, int64_t orderId) {
    Corvane::TD_ReqOrderDelete cancel;
    cancel.nReqID = reqId;
    cancel.nOrderId = orderId;
    EXPECT_EQ(api->reqOrderDelete(&cancel), 0);
  }

  // The order number the insert answer to `reqId` gave.
  int64_t OrderIdOf(int reqId) const {
    for (const SpiEvent& e : Events()) {
      if (e.op == "OnRspOrderInsert" && e.As<Corvane::TD_RspOrderInsert>().nReqID == reqId) {
        return e.As<Corvane::TD_RspOrderInsert>().nOrderId;
      }
    }
    ADD_FAILURE() << "no insert answer to " << reqId;
    return -1;
  }

  Corvane::ZR_QuantApi* api = nullptr;

 private:
  std::function<void(TradingSpi&, const Corvane::MD_Market&, int)> plan_;
  std::map<std::string, int> snapshots_;
};

struct Session {
  explicit Session(TradingSpi& spi, const char* password) : spi(spi) {
    api = Corvane::ZR_QuantApi::createApi(&spi, false, Corvane::ZR_QuantTdApp_Default,
                                          Corvane::ZR_QuantMdApp_Level2);
    spi.api = api;
    Corvane::ZR_QuantApi::Init();
    char user[] = "demo";
    std::string secret = password;
    api->Login(user, secret.data());
  }
  ~Session() { Corvane::ZR_QuantApi::deleteApi(api); }

  // Subscribes to both codes and waits for the day's closing snapshots.
  void TradeTheDay() {
    const char codes[2][32] = {"600000.SH", "000001.SZ"};
    ASSERT_EQ(api->ReqSubQuote(1, 1 | 4, 0, codes, 2, "", ""), 0);
    ASSERT_TRUE(WaitUntil(spi, [](const std::vector<SpiEvent>& events) {
      int closing = 0;
      for (const SpiEvent& e : events) {
        closing += e.op == "OnRtnMarket" && e.As<Corvane::MD_Market>().nTime == kClosingTime;
      }
      return closing == 2;
    }));
  }

  TradingSpi& spi;
  Corvane::ZR_QuantApi* api;
};

// Cents of a price in 1/10000 units.
int64_t Cents(double price) { return static_cast<int64_t>(price / 100 + 0.5); }

struct Level {
  int64_t price;  // cents
  int64_t volume;
};
using Side = std::vector<Level>;

struct OrderSeen {
  int32_t tradeType;
  int64_t limit;       // cents
  int64_t amount = 0;  // cents
  std::vector<std::string> reports;
};

// Per order on its whole traded amount, each rounded half up: commission
// 2.5 bp but at least 5.00, stamp duty 5 bp on sells, transfer fee 0.1 bp.
int64_t FeesOf(const OrderSeen& order) {
  if (order.amount == 0) return 0;
  auto fee = [&](int64_t ppm) { return (order.amount * ppm + 500000) / 1000000; };
  return std::max<int64_t>(500, fee(250)) + (order.tradeType == kBuy ? 0 : fee(500)) + fee(10);
}

TEST(VenueClientTest, TradesAgainstTheBookItWasShown) {
  // The account holds 100000 shares of 600000 from an earlier day. On the
  // first snapshot of 600000: a buy through the asks, a buy resting below
  // the bids, and one order for each reason the venue refuses that veltrane
  // lets through (a quantity or price of 0 or less never reaches it). On the tenth:
  // sells of the earlier shares at the bid and at the ask, a cancel of the
  // resting buy, a cancel of the filled buy and one of an order number the
  // venue never gave.
  TradingSpi spi([](TradingSpi& s, const Corvane::MD_Market& market, int snapshot) {
    if (std::strcmp(market.szWindCode, "600000.SH") != 0) return;
    if (snapshot == 1) {
      const Request requests[] = {
          {10, "600000", kBuy, 0, 2, 60000},    {13, "600000", kBuy, 0, 1, 20000},
          {11, "600000", kBuy, 98000, 0, 1000}, {20, "999999", kBuy, 100000, 0, 100},
          {21, "600000", kBuy, 0, 0, 150},      {23, "600000", kBuy, 200000, 0, 100},
          {24, "600000", kBuy, 100005, 0, 100}, {26, "000001", kSell, 112300, 0, 100},
          {27, "600000", kBuy, 0, 0, 1000000},
      };
      for (const Request& r : requests) s.Place(r, market);
    } else if (snapshot == 10) {
      s.Place({12, "600000", kSell, 0, 0, 40000}, market);
      s.Place({14, "600000", kSell, market.nAskPrice[0], 0, 40000}, market);
      s.Cancel(30, s.OrderIdOf(11));
      s.Cancel(31, s.OrderIdOf(10));
      s.Cancel(32, 999999);
    }
  });
  Session session(spi, "demo");
  session.TradeTheDay();
  // The five accepted orders end filled, cancelled or expired at the close.
  ASSERT_TRUE(WaitUntil(spi, [](const std::vector<SpiEvent>& events) {
    int ended = 0;
    for (const SpiEvent& e : events) {
      if (e.op == "OnRtnOrderStatusChangeNotice") {
        int32_t status = e.As<Corvane::TD_RspOrderInsert>().nStatus;
        ended += status == 6 || status == -9;
      }
    }
    return ended == 5;
  }));
  Corvane::TD_ReqQryPosition positions;
  positions.nReqID = 40;
  session.api->reqQryPosition(&positions);
  Corvane::TD_ReqQryAccountMaxEntrustCount capital;
  capital.nReqID = 41;
  session.api->reqQryAccountMaxEntrustCount(&capital);
  ASSERT_TRUE(WaitUntil(
      spi, [](auto& events) { return CountOf(events, "OnRspQryAccountMaxEntrustCount") == 1; }));

  // Replay: books from snapshots less trades and fills; each fill either at a
  // level of that book within its limit, or at its own price after a trade
  // through it.
  std::map<std::string, std::pair<Side, Side>> books;  // asks, bids
  std::map<std::string, Level> lastTrade;              // price, and the buyer's side as volume
  std::map<int64_t, OrderSeen> orders;
  std::map<int, int32_t> insertErrors, cancelErrors;
  std::map<std::string, int64_t> shares{{"600000.SH", 100000}};
  int64_t cash = 100000000;
  int fills = 0;
  for (const SpiEvent& e : spi.Events()) {
    if (e.op == "OnRtnMarket") {
      const auto& m = e.As<Corvane::MD_Market>();
      Side asks, bids;
      for (int k = 0; k < 10; ++k) {
        int32_t askPrice = m.nAskPrice[k], askVolume = m.nAskVol[k];
        int32_t bidPrice = m.nBidPrice[k], bidVolume = m.nBidVol[k];
        if (askVolume > 0) asks.push_back({Cents(askPrice), askVolume});
        if (bidVolume > 0) bids.push_back({Cents(bidPrice), bidVolume});
      }
      books[m.szWindCode] = {asks, bids};
    } else if (e.op == "OnRtnTransaction") {
      const auto& t = e.As<Corvane::MD_Transaction>();
      int32_t price = t.nPrice, volume = t.nVolume;
      bool buyer = t.nBSFlag == 'B';
      for (Level& level : buyer ? books[t.szWindCode].first : books[t.szWindCode].second) {
        if (level.price == Cents(price)) level.volume -= std::min<int64_t>(level.volume, volume);
      }
      lastTrade[t.szWindCode] = {Cents(price), buyer ? 1 : 0};
    } else if (e.op == "OnRspOrderInsert") {
      const auto& r = e.As<Corvane::TD_RspOrderInsert>();
      insertErrors[r.nReqID] = static_cast<int32_t>(e.values[0]);
      if (e.values[0] == 0) {
        EXPECT_EQ(r.errDesc[0], 'S') << "a text code: " << r.errDesc;
        orders[r.nOrderId] = {r.nTradeType, Cents(static_cast<double>(r.nOrderPrice)), 0, {}};
      }
    } else if (e.op == "OnRspOrderDelete") {
      cancelErrors[e.As<Corvane::TD_ReqOrderDelete>().nReqID] = static_cast<int32_t>(e.values[0]);
    } else if (e.op == "OnRtnOrderMatchNotice") {
      const auto& match = e.As<Corvane::TD_RtnOrderMatchNotice>();
      ASSERT_TRUE(orders.count(match.nOrderId)) << "a fill before its insert answer";
      OrderSeen& order = orders[match.nOrderId];
      int64_t price = Cents(match.nMatchPrice);
      int32_t volume = match.nMatchVol;
      bool buy = order.tradeType == kBuy;
      SCOPED_TRACE(std::string(match.szMatchTime) + " fill of " + std::to_string(volume) + " at " +
                   std::to_string(price));
      Side& side = buy ? books[match.szContractCode].first : books[match.szContractCode].second;
      auto level = std::find_if(side.begin(), side.end(), [&](const Level& l) {
        return l.price == price && l.volume >= volume;
      });
      if (level != side.end()) {
        EXPECT_TRUE(buy ? price <= order.limit : price >= order.limit);
        level->volume -= volume;
      } else {
        // After a trade through its price, or at it once the queue ahead
        // of it had traded.
        const Level& trade = lastTrade[match.szContractCode];
        EXPECT_EQ(price, order.limit) << "neither at a level of the book nor after a trade";
        EXPECT_TRUE(buy ? trade.price <= price && trade.volume == 0
                        : trade.price >= price && trade.volume == 1);
      }
      order.amount += price * volume;
      shares[match.szContractCode] += buy ? volume : -volume;
      cash += buy ? -price * volume : price * volume;
      order.reports.push_back("match " + std::to_string(volume));
      ++fills;
    } else if (e.op == "OnRtnOrderStatusChangeNotice") {
      const auto& notice = e.As<Corvane::TD_RspOrderInsert>();
      if (notice.nStatus != -8) {
        ASSERT_TRUE(orders.count(notice.nOrderId)) << "a report before its insert answer";
        orders[notice.nOrderId].reports.push_back("status " + std::to_string(notice.nStatus) + " " +
                                                  std::to_string(notice.nDealedVol));
      }
    }
  }
  EXPECT_GT(fills, 2);

  // Every refusal reaches the client with its reason's error id.
  EXPECT_EQ(insertErrors, (std::map<int, int32_t>{{10, 0},
                                                  {11, 0},
                                                  {12, 0},
                                                  {13, 0},
                                                  {14, 0},
                                                  {20, 10},
                                                  {21, 16},
                                                  {23, 14},
                                                  {24, 13},
                                                  {26, 18},
                                                  {27, 17}}));
  // The resting buy is cancelled; the filled one and an unknown one are not.
  EXPECT_EQ(cancelErrors, (std::map<int, int32_t>{{30, 0}, {31, 21}, {32, 20}}));

  // Each accepted order: '2' first, then a status after each fill with the
  // volume traded so far, ending filled or cancelled.
  for (auto& [orderId, order] : orders) {
    SCOPED_TRACE("order " + std::to_string(orderId));
    ASSERT_GE(order.reports.size(), 2u);
    EXPECT_EQ(order.reports.front(), "status 2 0");
    int64_t traded = 0;
    for (size_t i = 1; i + 1 < order.reports.size(); i += 2) {
      traded += std::stoll(order.reports[i].substr(6));
      const std::string& after = order.reports[i + 1];
      EXPECT_EQ(after.substr(after.find(' ', 7) + 1), std::to_string(traded)) << after;
    }
    const std::string& last = order.reports.back();
    EXPECT_TRUE(last.rfind("status 6 ", 0) == 0 || last.rfind("status -9 ", 0) == 0) << last;
    cash -= FeesOf(order);
  }

  // The venue's account agrees with the fills: shares per code, and cash
  // (all orders have ended, so all of it is available) less fees.
  std::map<std::string, int64_t> held;
  int32_t available = -1;
  for (const SpiEvent& e : spi.Events()) {
    if (e.op == "OnRspQryPosition") {
      const auto& row = e.As<Corvane::TD_RspQryPosition>();
      if (row.szContractCode[0] != '\0') held[row.szContractCode] = row.nPosition;
    } else if (e.op == "OnRspQryAccountMaxEntrustCount") {
      available = e.As<Corvane::TD_RspQryAccountMaxEntrustCount>().nAvailableCaptial;
    }
  }
  for (auto it = shares.begin(); it != shares.end();) {
    it = it->second == 0 ? shares.erase(it) : std::next(it);
  }
  EXPECT_EQ(held, shares);
  EXPECT_EQ(available, cash / 100);
}

TEST(VenueClientDecimalTest, OrderNumbersAreTheDecimalCodes) {
  TradingSpi spi([](TradingSpi& s, const Corvane::MD_Market& market, int snapshot) {
    if (std::strcmp(market.szWindCode, "600000.SH") != 0) return;
    if (snapshot == 1) {
      s.Place({10, "600000", kBuy, 0, 5, 500}, market);
      s.Place({11, "600000", kBuy, 98000, 0, 100}, market);
    } else if (snapshot == 2) {
      s.Cancel(30, s.OrderIdOf(11));
    }
  });
  // The wrong password is refused; the configured one logs in.
  Session session(spi, "demo");
  ASSERT_TRUE(WaitUntil(spi, [](auto& events) { return CountOf(events, "OnRtnLoginWarn") == 1; }));
  char user[] = "demo", secret[] = "secret";
  session.api->Login(user, secret);
  ASSERT_TRUE(WaitUntil(spi, [](auto& events) { return CountOf(events, "OnRtnUserInfo") >= 2; }));
  session.TradeTheDay();

  std::map<int64_t, std::vector<int32_t>> statuses;
  std::vector<int64_t> inserted;
  for (const SpiEvent& e : spi.Events()) {
    if (e.op == "OnRspOrderInsert") {
      const auto& r = e.As<Corvane::TD_RspOrderInsert>();
      ASSERT_EQ(e.values[0], 0);
      EXPECT_EQ(std::to_string(r.nOrderId), r.errDesc);
      inserted.push_back(r.nOrderId);
    } else if (e.op == "OnRtnOrderStatusChangeNotice") {
      const auto& notice = e.As<Corvane::TD_RspOrderInsert>();
      statuses[notice.nOrderId].push_back(notice.nStatus);
      EXPECT_EQ(std::string(notice.errDesc).rfind(std::to_string(notice.nOrderId) + ":", 0), 0u);
    } else if (e.op == "OnRtnOrderMatchNotice") {
      const auto& match = e.As<Corvane::TD_RtnOrderMatchNotice>();
      EXPECT_EQ(std::to_string(match.nOrderId), match.szOrderCode);
    }
  }
  ASSERT_EQ(inserted.size(), 2u);
  EXPECT_EQ(statuses[inserted[0]].back(), 6);
  EXPECT_EQ(statuses[inserted[1]], (std::vector<int32_t>{2, -9}));  // cancelled by its number
}

}  // namespace

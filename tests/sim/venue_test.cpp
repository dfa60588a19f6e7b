// The simulated venue on its own: its checks, its matching against snapshots
// and trades, the account's money and shares, cancels, queries and codes.
// Each report is written as one line of text, so that a case states the
// whole sequence of callbacks it expects.

#include "venue.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "quote.pb.h"
#include "quote_messages.h"
#include "text_format.h"

namespace {

using sim::Venue;
using sim::VenueError;

std::vector<std::string> g_reports;

using testing_support::Format;

// Order codes are "S5-<n>" (stem 5) and match ids "M5-<n>"; prices as %.2f.
ItgCallbacks Recorder() {
  return {
      [](int32_t, int32_t status, const char* message) {
        g_reports.push_back(Format("login %d %s", status, message));
      },
      [](int32_t reqId, int32_t error, const char* message, const char* code, const char* orderCode,
         const char*, int32_t side, double price, int32_t quantity, double tradedPrice,
         int32_t traded, char status, const char* time, int32_t kind) {
        g_reports.push_back(Format("order %d %d [%s] %s %s side%d %.2fx%d traded %.4fx%d %c %s k%d",
                                   reqId, error, message, code, orderCode, side, price, quantity,
                                   tradedPrice, traded, status, time, kind));
      },
      [](int32_t reqId, int32_t error, const char*, const char* code, const char* orderCode,
         const char*, const char* matchId, int32_t side, double price, int32_t quantity,
         const char* time, int32_t kind) {
        g_reports.push_back(Format("match %d %d %s %s %s side%d %.2fx%d %s k%d", reqId, error, code,
                                   orderCode, matchId, side, price, quantity, time, kind));
      },
      [](int32_t reqId, int32_t error, const char* message, const char* code, int32_t position,
         int32_t last) {
        g_reports.push_back(Format("position %d %d [%s] %s %d last%d", reqId, error, message, code,
                                   position, last));
      },
      [](int32_t reqId, int32_t error, const char* message, const char* code, const char* orderCode,
         const char*, int32_t side, double price, int32_t quantity) {
        g_reports.push_back(Format("insert %d %d [%s] %s %s side%d %.2fx%d", reqId, error, message,
                                   code, orderCode, side, price, quantity));
      },
      [](int32_t reqId, int32_t error, const char* message) {
        g_reports.push_back(Format("cancel %d %d [%s]", reqId, error, message));
      },
      [](int32_t reqId, int32_t error, const char*, const char* currency, const char* available,
         const char* total) {
        g_reports.push_back(
            Format("balance %d %d %s %s %s", reqId, error, currency, available, total));
      },
  };
}

sim::QuoteMessage Message(const char* type, sim::FeedKind kind, int64_t time,
                          const std::string& payload) {
  return {type, time, "600000", kind, payload};
}

// The book of 600000 (previous close 12.20, limits 10.98 to 13.42): asks
// 12.35 x 1100, 12.36 x 1200, ...; bids 12.34 x 2100, 12.33 x 2200, ...
lmvproto::SSEL2_Quotation Book() { return testing_support::ShanghaiSnapshot(); }

sim::QuoteMessage Snapshot(const lmvproto::SSEL2_Quotation& book, int64_t time = 93003000) {
  return Message("SSEL2_Quotation", sim::kSnapshots, time, testing_support::Encode(book));
}

sim::QuoteMessage Trade(bool buy, double price, uint32_t volume, int64_t time = 93004000) {
  lmvproto::SSEL2_Transaction trade = testing_support::ShanghaiTrade();
  trade.set_buysellflag(buy ? 1 : 2);
  trade.set_tradeprice(price);
  trade.set_tradevolume(volume);
  return Message("SSEL2_Transaction", sim::kTrades, time, testing_support::Encode(trade));
}

constexpr int64_t kBuy = 2, kSell = 1;

class VenueTest : public testing::Test {
 protected:
  VenueTest() : venue_(Settings(), Instruments(), 5, 92500000) {
    venue_.SetCallbacks(Recorder());
    venue_.Login("demo", "demo", "");
    venue_.OnMarket(Snapshot(Book(), 93000000));
    g_reports.clear();
  }

  static sim::VenueSettings Settings() { return {}; }
  static std::vector<sim::Instrument> Instruments() {
    return {{"600000", sim::Exchange::kShanghai, 1220}, {"000001", sim::Exchange::kShenzhen, 1123}};
  }

  // The reports since the last call.
  static std::vector<std::string> Reports() {
    std::vector<std::string> reports;
    reports.swap(g_reports);
    return reports;
  }

  Venue venue_;
};

TEST_F(VenueTest, RefusesWhatItCannotTake) {
  struct Case {
    const char* name;
    const char* security;
    int64_t side;
    const char* price;
    int64_t quantity;
    int32_t error;
    const char* message;
  };
  const Case cases[] = {
      {"unknown code", "999999", kBuy, "12.350000", 100, VenueError::kUnknownCode,
       "unknown security code '999999'"},
      {"side", "600000", 3, "12.350000", 100, VenueError::kBadSide,
       "side must be 1 (sell) or 2 (buy)"},
      {"zero price", "600000", kBuy, "0.000000", 100, VenueError::kBadPrice,
       "price must be a positive number, not '0.000000'"},
      {"negative price", "600000", kBuy, "-12.350000", 100, VenueError::kBadPrice,
       "price must be a positive number, not '-12.350000'"},
      {"off the tick", "600000", kBuy, "12.355000", 100, VenueError::kOffTick,
       "price 12.355000 is not on the 0.01 tick"},
      {"above the limit", "600000", kBuy, "13.430000", 100, VenueError::kOutsideLimits,
       "price 13.43 is outside today's limits 10.98 to 13.42"},
      {"below the limit", "600000", kSell, "10.970000", 100, VenueError::kOutsideLimits,
       "price 10.97 is outside today's limits 10.98 to 13.42"},
      {"zero quantity", "600000", kBuy, "12.350000", 0, VenueError::kBadQuantity,
       "quantity must be from 1 to 1000000000"},
      {"negative quantity", "600000", kSell, "12.350000", -100, VenueError::kBadQuantity,
       "quantity must be from 1 to 1000000000"},
      {"odd lot buy", "600000", kBuy, "12.350000", 150, VenueError::kNotWholeLots,
       "a buy must be whole lots of 100 shares"},
      {"cash", "600000", kBuy, "12.350000", 81000, VenueError::kNotEnoughCash,
       "not enough cash: the order needs 1000600.09, 1000000.00 is available"},
      {"position", "000001", kSell, "11.230000", 100, VenueError::kNotEnoughPosition,
       "not enough shares: 100 to sell, 0 available"},
  };
  int32_t reqId = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++reqId;
    venue_.Insert(reqId, c.security, c.side, c.price, c.quantity);
    std::vector<std::string> reports = Reports();
    ASSERT_EQ(reports.size(), 2u);
    std::string code = "S5-" + std::to_string(reqId);
    EXPECT_EQ(reports[0].substr(0, reports[0].find(']') + 1),
              Format("insert %d %d [%s]", reqId, c.error, c.message));
    EXPECT_NE(reports[0].find(" " + code + " "), std::string::npos) << reports[0];
    // The status report follows with the same code, status '8' and the reason.
    EXPECT_EQ(reports[1].substr(0, reports[1].find(']') + 1),
              Format("order %d %d [%s]", reqId, c.error, c.message));
    EXPECT_NE(reports[1].find(" " + code + " "), std::string::npos) << reports[1];
    EXPECT_NE(reports[1].find(" 8 09:30:00.000 k2"), std::string::npos) << reports[1];
  }

  venue_.OnClose();
  venue_.Insert(99, "600000", kBuy, "12.350000", 100);
  EXPECT_EQ(Reports().front(), "insert 99 19 [the market is closed] 600000 S5-13 side2 12.35x100");
}

TEST(VenueLoginTest, AnswersLoginsAndRefusesRequestsBeforeOne) {
  Venue venue({}, {{"600000", sim::Exchange::kShanghai, 1220}}, 5, 93000000);
  venue.SetCallbacks(Recorder());
  g_reports.clear();
  venue.Insert(1, "600000", kBuy, "12.350000", 100);
  venue.Cancel(2, "S5-1");
  venue.QueryOrders(3);
  venue.QueryBalance(4);
  venue.Login("demo", "wrong", "");
  venue.Login("demo", "demo", "VELTRANE_SIM_SEED='x': expected a number\n");
  venue.Login("demo", "demo", "");
  EXPECT_EQ(g_reports,
            (std::vector<std::string>{
                "insert 1 1 [not logged in] 600000  side2 0.00x100",
                "cancel 2 1 [not logged in]",
                "order 3 1 [not logged in]   side0 0.00x0 traded 0.0000x0 0  k1",
                "balance 4 1 CNY 0.00 0.00",
                "login 1 wrong user or password",
                "login 2 the simulator's settings are unusable: VELTRANE_SIM_SEED='x': expected a "
                "number\n",
                "login 0 logged in as demo",
            }));
}

// Fills of the opening book (asks 12.35 x 1100, 12.36 x 1200; bids 12.34 x
// 2100), and of what comes after it.
TEST_F(VenueTest, FillsAgainstTheBookAndRestsTheRest) {
  struct Case {
    const char* name;
    std::function<void(Venue&)> steps;
    std::vector<std::string> expected;
  };
  auto moved = [](double ask, uint32_t volume) {
    lmvproto::SSEL2_Quotation book = Book();
    book.set_askprice01(ask);
    book.set_askvolume01(volume);
    return Snapshot(book);
  };
  const Case cases[] = {
      {"a buy through two levels rests its rest",
       [](Venue& v) { v.Insert(1, "600000", kBuy, "12.360000", 2500); },
       {"insert 1 0 [accepted] 600000 S5-1 side2 12.36x2500",
        "order 1 0 [accepted] 600000 S5-1 side2 12.36x2500 traded 0.0000x0 2 09:30:00.000 k2",
        "match 1 0 600000 S5-1 M5-1 side2 12.35x1100 09:30:00.000 k2",
        "order 1 0 [partially filled] 600000 S5-1 side2 12.36x2500 traded 12.3500x1100 5 "
        "09:30:00.000 k2",
        "match 1 0 600000 S5-1 M5-2 side2 12.36x1200 09:30:00.000 k2",
        "order 1 0 [partially filled] 600000 S5-1 side2 12.36x2500 traded 12.3552x2300 5 "
        "09:30:00.000 k2"}},
      {"volume taken is gone until the next snapshot",
       [](Venue& v) {
         v.Insert(1, "600000", kBuy, "12.350000", 1000);
         v.Insert(2, "600000", kBuy, "12.350000", 200);
       },
       {"insert 1 0 [accepted] 600000 S5-1 side2 12.35x1000",
        "order 1 0 [accepted] 600000 S5-1 side2 12.35x1000 traded 0.0000x0 2 09:30:00.000 k2",
        "match 1 0 600000 S5-1 M5-1 side2 12.35x1000 09:30:00.000 k2",
        "order 1 0 [filled] 600000 S5-1 side2 12.35x1000 traded 12.3500x1000 7 09:30:00.000 k2",
        "insert 2 0 [accepted] 600000 S5-2 side2 12.35x200",
        "order 2 0 [accepted] 600000 S5-2 side2 12.35x200 traded 0.0000x0 2 09:30:00.000 k2",
        "match 2 0 600000 S5-2 M5-2 side2 12.35x100 09:30:00.000 k2",
        "order 2 0 [partially filled] 600000 S5-2 side2 12.35x200 traded 12.3500x100 5 "
        "09:30:00.000 k2"}},
      {"a trade takes level volume too",
       [](Venue& v) {
         v.OnMarket(Trade(true, 12.35, 1000));
         v.Insert(1, "600000", kBuy, "12.350000", 200);
       },
       {"insert 1 0 [accepted] 600000 S5-1 side2 12.35x200",
        "order 1 0 [accepted] 600000 S5-1 side2 12.35x200 traded 0.0000x0 2 09:30:04.000 k2",
        "match 1 0 600000 S5-1 M5-1 side2 12.35x100 09:30:04.000 k2",
        "order 1 0 [partially filled] 600000 S5-1 side2 12.35x200 traded 12.3500x100 5 "
        "09:30:04.000 k2"}},
      {"a trade through a resting buy fills it at its price; one at it does not",
       [](Venue& v) {
         v.Insert(1, "600000", kBuy, "12.300000", 500);
         g_reports.clear();
         v.OnMarket(Trade(false, 12.30, 300));
         v.OnMarket(Trade(true, 12.29, 300));
         v.OnMarket(Trade(false, 12.29, 300));
       },
       {"match 1 0 600000 S5-1 M5-1 side2 12.30x300 09:30:04.000 k2",
        "order 1 0 [partially filled] 600000 S5-1 side2 12.30x500 traded 12.3000x300 5 "
        "09:30:00.000 k2"}},
      {"a resting sell filled by a buyer through it",
       [](Venue& v) {
         v.Insert(1, "600000", kBuy, "12.350000", 1000);
         v.Insert(2, "600000", kSell, "12.400000", 700);
         g_reports.clear();
         v.OnMarket(Trade(true, 12.41, 2000));
       },
       {"match 2 0 600000 S5-2 M5-2 side1 12.40x700 09:30:04.000 k2",
        "order 2 0 [filled] 600000 S5-2 side1 12.40x700 traded 12.4000x700 7 09:30:00.000 k2"}},
      {"a later snapshot through a resting buy fills it at its levels",
       [&](Venue& v) {
         v.Insert(1, "600000", kBuy, "12.300000", 500);
         g_reports.clear();
         v.OnMarket(moved(12.29, 400));
       },
       {"match 1 0 600000 S5-1 M5-1 side2 12.29x400 09:30:03.000 k2",
        "order 1 0 [partially filled] 600000 S5-1 side2 12.30x500 traded 12.2900x400 5 "
        "09:30:00.000 k2"}},
      {"a sell takes the bids best first",
       [](Venue& v) {
         v.Insert(1, "600000", kBuy, "12.350000", 1000);
         g_reports.clear();
         v.Insert(2, "600000", kSell, "12.340000", 1000);
       },
       {"insert 2 0 [accepted] 600000 S5-2 side1 12.34x1000",
        "order 2 0 [accepted] 600000 S5-2 side1 12.34x1000 traded 0.0000x0 2 09:30:00.000 k2",
        "match 2 0 600000 S5-2 M5-2 side1 12.34x1000 09:30:00.000 k2",
        "order 2 0 [filled] 600000 S5-2 side1 12.34x1000 traded 12.3400x1000 7 09:30:00.000 k2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Venue venue(Settings(), Instruments(), 5, 92500000);
    venue.SetCallbacks(Recorder());
    venue.Login("demo", "demo", "");
    venue.OnMarket(Snapshot(Book(), 93000000));
    g_reports.clear();
    c.steps(venue);
    EXPECT_EQ(Reports(), c.expected);
  }
}

TEST_F(VenueTest, KeepsCashAndSharesToTheCent) {
  struct Step {
    const char* name;
    std::function<void(Venue&)> action;
    const char* balance;  // available, total
    const char* positions;
  };
  // Fees: 2.5 bp commission, 5 bp stamp duty on sells, rounded half up per
  // order over its whole amount.
  const Step steps[] = {
      {"a resting buy holds back its price and fees",
       [](Venue& v) { v.Insert(1, "600000", kBuy, "12.300000", 100); }, "998769.69 1000000.00",
       "[no positions]  0 last1"},
      {"its cancel gives them back", [](Venue& v) { v.Cancel(2, "S5-1"); }, "1000000.00 1000000.00",
       "[no positions]  0 last1"},
      // 1100 x 12.35 + 1200 x 12.36 = 28417.00, fee 7.10; the rest of 200 at
      // 12.36 holds 2472.00 and 0.62 more fees.
      {"a partly filled buy", [](Venue& v) { v.Insert(3, "600000", kBuy, "12.360000", 2500); },
       "969103.28 1000003.90", "[] 600000 2300 last1"},
      {"its rest cancelled", [](Venue& v) { v.Cancel(4, "S5-2"); }, "971575.90 1000003.90",
       "[] 600000 2300 last1"},
      // 2100 x 12.34 = 25914.00, fees 19.44 (7.5 bp of it, rounded).
      {"a sell of most of it", [](Venue& v) { v.Insert(5, "600000", kSell, "12.340000", 2100); },
       "997470.46 999938.46", "[] 600000 200 last1"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.action(venue_);
    g_reports.clear();
    venue_.QueryBalance(7);
    venue_.QueryPositions(8);
    ASSERT_EQ(g_reports.size(), 2u);
    EXPECT_EQ(g_reports[0], std::string("balance 7 0 CNY ") + step.balance);
    EXPECT_NE(g_reports[1].find(step.positions), std::string::npos) << g_reports[1];
  }
}

TEST_F(VenueTest, CancelsOnlyWhatIsStillWorking) {
  venue_.Insert(1, "600000", kBuy, "12.300000", 100);  // rests: S5-1
  venue_.Insert(2, "600000", kBuy, "12.350000", 100);  // fills: S5-2
  venue_.Insert(3, "600000", kBuy, "12.350000", 150);  // rejected: S5-3
  venue_.Insert(4, "600000", kBuy, "12.300000", 100);  // rests, expires: S5-4
  g_reports.clear();
  venue_.Cancel(10, "S5-1");
  venue_.Cancel(11, "S5-1");
  venue_.Cancel(12, "S5-2");
  venue_.Cancel(13, "S5-3");
  venue_.Cancel(14, "S9-9");
  venue_.Cancel(15, "");
  venue_.OnClose();
  venue_.Cancel(16, "S5-4");
  EXPECT_EQ(
      Reports(),
      (std::vector<std::string>{
          "cancel 10 0 [cancelled]",
          "order 1 0 [cancelled] 600000 S5-1 side2 12.30x100 traded 0.0000x0 6 09:30:00.000 k2",
          "cancel 11 21 [order S5-1 is already cancelled]",
          "cancel 12 21 [order S5-2 is already filled]",
          "cancel 13 21 [order S5-3 is already rejected]",
          "cancel 14 20 [unknown order code 'S9-9']",
          "cancel 15 20 [unknown order code '']",
          "order 4 0 [expired at the close] 600000 S5-4 side2 12.30x100 traded 0.0000x0 6 "
          "09:30:00.000 k2",
          "cancel 16 21 [order S5-4 is already cancelled]",
      }));
}

TEST_F(VenueTest, AnswersQueriesWithALastRow) {
  venue_.QueryOrders(1);
  venue_.QueryMatches(2);
  venue_.QueryPositions(3);
  venue_.Insert(4, "600000", kBuy, "12.350000", 100);
  venue_.Insert(5, "600000", kBuy, "12.300000", 100);
  g_reports.clear();
  venue_.QueryOrders(6);
  venue_.QueryMatches(7);
  std::vector<std::string> reports = Reports();
  EXPECT_EQ(reports, (std::vector<std::string>{
                         "order 6 0 [filled] 600000 S5-1 side2 12.35x100 traded 12.3500x100 7 "
                         "09:30:00.000 k0",
                         "order 6 0 [accepted] 600000 S5-2 side2 12.30x100 traded 0.0000x0 2 "
                         "09:30:00.000 k1",
                         "match 7 0 600000 S5-1 M5-1 side2 12.35x100 09:30:00.000 k1",
                     }));
}

TEST(VenueQueryTest, EmptyAnswersCarryACodeNoOrderHas) {
  for (bool decimal : {false, true}) {
    SCOPED_TRACE(decimal ? "decimal codes" : "text codes");
    sim::VenueSettings settings;
    settings.decimalCodes = decimal;
    Venue venue(settings, {}, 5, 93000000);
    venue.SetCallbacks(Recorder());
    venue.Login("demo", "demo", "");
    g_reports.clear();
    venue.QueryOrders(1);
    venue.QueryMatches(2);
    venue.QueryPositions(3);
    std::string none = decimal ? "0" : "";
    EXPECT_EQ(g_reports,
              (std::vector<std::string>{
                  "order 1 30 [no orders]  " + none + " side0 0.00x0 traded 0.0000x0 0  k1",
                  "match 2 30  " + none + "  side0 0.00x0  k1",
                  "position 3 30 [no positions]  0 last1",
              }));
  }
}

TEST(VenueCodesTest, CodesAndPrices) {
  EXPECT_EQ(sim::OrderCodeText(false, 34200123, 7), "S34200123-7");
  EXPECT_EQ(sim::OrderCodeText(true, 34200123, 7), "34200123000007");
  EXPECT_EQ(sim::MatchIdText(34200123, 7), "M34200123-7");

  // Fees round half up, and the largest order at the highest rates fits.
  struct Fee {
    int64_t amount, ppm, fee;
  };
  constexpr Fee fees[] = {{1235000, 250, 309},
                          {1234000, 750, 926},
                          {1999, 250, 0},
                          {2000, 250, 1},
                          {12000000000000000, 2000000, 24000000000000000}};
  for (const Fee& f : fees) EXPECT_EQ(sim::FeeOf(f.amount, f.ppm), f.fee) << f.amount;

  struct Case {
    const char* text;
    bool parsed;
    int64_t cents;
    bool offTick;
  };
  constexpr Case cases[] = {
      {"10.520000", true, 1052, false},
      {"10.5", true, 1050, false},
      {"10", true, 1000, false},
      {".5", true, 50, false},
      {"10.", true, 1000, false},
      {"10.525000", true, 1052, true},
      {"10.520001", true, 1052, true},
      {"0.000000", true, 0, false},
      {"", false, 0, false},
      {".", false, 0, false},
      {"-1.000000", false, 0, false},
      {"1e3", false, 0, false},
      {"10.52.1", false, 0, false},
      {"1234567890123", false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int64_t cents = -1;
    bool offTick = false;
    ASSERT_EQ(sim::ParseOrderPrice(c.text, cents, offTick), c.parsed);
    if (c.parsed) {
      EXPECT_EQ(cents, c.cents);
      EXPECT_EQ(offTick, c.offTick);
    }
  }
}

}  // namespace

// The simulated venue on its own: its checks, its matching against snapshots
// and trades, the account's money and shares, cancels, queries and codes.
// Each report is written as one line of text, so that a case states the
// whole sequence of callbacks it expects.

#include "venue.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "venue_reports.h"

namespace {

using sim::Venue;
using sim::VenueError;

using testing_support::Book;
using testing_support::Format;
using testing_support::g_reports;
using testing_support::kBuy;
using testing_support::kSell;
using testing_support::Recorder;
using testing_support::Snapshot;
using testing_support::Trade;

class VenueTest : public testing::Test {
 protected:
  VenueTest() : venue_(Settings(), Market(), 5) {
    venue_.SetCallbacks(Recorder());
    venue_.Login("demo", "demo", "");
    venue_.OnMarket(Snapshot(Book(), 93000000));
    g_reports.clear();
  }

  // 3000 shares of 600000 held from an earlier day, bought at 12.00.
  static sim::VenueSettings Settings() {
    sim::VenueSettings settings;
    settings.positions = {{"600000", 3000, 3600000}};
    return settings;
  }
  static sim::VenueMarket Market() {
    sim::VenueMarket market;
    market.instruments = {{"600000", sim::Exchange::kShanghai, 1220},
                          {"000001", sim::Exchange::kShenzhen, 1123}};
    return market;
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
       "quantity must be from 1 to 1000000 on the Shanghai main board"},
      {"negative quantity", "600000", kSell, "12.350000", -100, VenueError::kBadQuantity,
       "quantity must be from 1 to 1000000 on the Shanghai main board"},
      {"odd lot buy", "600000", kBuy, "12.350000", 150, VenueError::kNotWholeLots,
       "a buy on the Shanghai main board must be whole lots of 100 shares"},
      // 81000 x 12.35 = 1000350.00; commission 250.09, transfer fee 10.00.
      {"cash", "600000", kBuy, "12.350000", 81000, VenueError::kNotEnoughCash,
       "not enough cash: the order needs 1000610.09, 1000000.00 is available"},
      {"position", "000001", kSell, "11.230000", 100, VenueError::kNotEnoughPosition,
       "not enough shares: 100 to sell, 0 sellable today; shares bought today settle tomorrow "
       "(T+1)"},
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
  sim::VenueMarket market;
  market.instruments = {{"600000", sim::Exchange::kShanghai, 1220}};
  Venue venue({}, market, 5);
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
      {"a later snapshot through a resting buy fills it at its own price",
       [&](Venue& v) {
         v.Insert(1, "600000", kBuy, "12.300000", 500);
         g_reports.clear();
         v.OnMarket(moved(12.29, 400));
       },
       {"match 1 0 600000 S5-1 M5-1 side2 12.30x400 09:30:03.000 k2",
        "order 1 0 [partially filled] 600000 S5-1 side2 12.30x500 traded 12.3000x400 5 "
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
    Venue venue(Settings(), Market(), 5);
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
  // Fees per order over its whole amount, each rounded half up: commission
  // 2.5 bp but at least 5.00, stamp duty 5 bp on sells, transfer fee 0.1 bp.
  // The 3000 shares held from before are worth 12.34 each (the last trade)
  // until the account trades.
  const Step steps[] = {
      // 1230.00, commission 5.00 (0.31 is below the least), transfer fee 0.01.
      {"a resting buy holds back its price and fees",
       [](Venue& v) { v.Insert(1, "600000", kBuy, "12.300000", 100); }, "998764.99 1037020.00",
       "[] 600000 3000 last1"},
      {"its cancel gives them back", [](Venue& v) { v.Cancel(2, "S5-1"); }, "1000000.00 1037020.00",
       "[] 600000 3000 last1"},
      // 1100 x 12.35 = 13585.00 pays 5.00 and 0.14; with 1200 x 12.36 the
      // order's 28417.00 owes 7.10 and 0.28, so the second fill pays 2.10 and
      // 0.14. The rest of 200 at 12.36 holds 2472.00 and 0.65 more fees.
      {"a partly filled buy", [](Venue& v) { v.Insert(3, "600000", kBuy, "12.360000", 2500); },
       "969102.97 1037083.62", "[] 600000 5300 last1"},
      {"its rest cancelled", [](Venue& v) { v.Cancel(4, "S5-2"); }, "971575.62 1037083.62",
       "[] 600000 5300 last1"},
      // 2100 x 12.34 = 25914.00 of the shares held from before: commission
      // 6.48, stamp duty 12.96, transfer fee 0.26.
      {"a sell of most of those held from before",
       [](Venue& v) { v.Insert(5, "600000", kSell, "12.340000", 2100); }, "997469.92 1036957.92",
       "[] 600000 3200 last1"},
      {"today's shares are not sold today",
       [](Venue& v) { v.Insert(6, "600000", kSell, "12.340000", 1000); }, "997469.92 1036957.92",
       "[] 600000 3200 last1"},
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
    Venue venue(settings, {}, 5);
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

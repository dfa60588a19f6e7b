// The simulated venue by the A-share rules: each board's price band at its
// edges, sizes and lots, T+1 across two days chained through the account
// report, fees at their minimum and above it, the price cage, queueing at
// limit-up, suspensions and the lunch break; and the README's table of
// refusals against the venue's list of error ids.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "exchange_settings.h"
#include "venue.h"
#include "venue_reports.h"

namespace {

using sim::Board;
using sim::Exchange;
using sim::Venue;
using sim::VenueError;
using testing_support::Book;
using testing_support::g_reports;
using testing_support::kBuy;
using testing_support::kSell;
using testing_support::Recorder;
using testing_support::Snapshot;
using testing_support::Trade;

// One stock of each kind, with 1000 shares of each held from an earlier day.
sim::VenueMarket Market() {
  sim::VenueMarket market;
  market.instruments = {
      {"600000", Exchange::kShanghai, 1220},               // main board: 10.98 to 13.42
      {"600100", Exchange::kShanghai, 1005},               // 11.055 and 9.045 round up
      {"300750", Exchange::kShenzhen, 19520},              // ChiNext
      {"688981", Exchange::kShanghai, 5000},               // STAR
      {"600203", Exchange::kShanghai, 310, true},          // ST
      {"301001", Exchange::kShenzhen, 2000, false, true},  // newly listed
      {"000001", Exchange::kShenzhen, 1123},
  };
  return market;
}

sim::VenueSettings Holding(std::vector<sim::StartPosition> positions) {
  sim::VenueSettings settings;
  settings.positions = std::move(positions);
  return settings;
}

std::vector<sim::StartPosition> ThousandOfEach() {
  std::vector<sim::StartPosition> positions;
  for (const sim::Instrument& instrument : Market().instruments) {
    positions.push_back({instrument.code, 1000, 0});
  }
  return positions;
}

// A logged-in venue that has seen the book of 600000 at 09:30.
struct LiveVenue {
  explicit LiveVenue(sim::VenueSettings settings = {}, sim::VenueMarket market = Market())
      : venue(std::move(settings), std::move(market), 5) {
    venue.SetCallbacks(Recorder());
    venue.Login("demo", "demo", "");
    venue.OnMarket(Snapshot(Book(), 93000000));
    g_reports.clear();
  }

  // The error id of the insert answer, and its message in `message`.
  int32_t Insert(const char* code, int64_t side, const char* price, int64_t quantity,
                 std::string* message = nullptr) {
    venue.Insert(++reqId, code, side, price, quantity);
    std::vector<std::string> reports = Reports();
    for (const std::string& report : reports) {
      if (report.rfind("insert ", 0) != 0) continue;
      if (message != nullptr) {
        *message = report.substr(report.find('[') + 1, report.find(']') - report.find('[') - 1);
      }
      return std::stoi(report.substr(report.find(' ', 7) + 1));
    }
    ADD_FAILURE() << "no insert answer";
    return -1;
  }

  static std::vector<std::string> Reports() {
    std::vector<std::string> reports;
    reports.swap(g_reports);
    return reports;
  }

  Venue venue;
  int32_t reqId = 0;
};

TEST(VenueRulesTest, EachBoardsBandAtItsEdges) {
  struct Case {
    const char* name;
    const char* code;
    int64_t side;
    const char* price;
    int64_t stLimitPct;  // 0: the exchanges' figure
    int32_t error;
  };
  const Case cases[] = {
      {"main board, at the upper limit", "600000", kBuy, "13.42", 0, 0},
      {"main board, a tick above", "600000", kBuy, "13.43", 0, VenueError::kOutsideLimits},
      {"main board, at the lower limit", "600000", kSell, "10.98", 0, 0},
      {"main board, a tick below", "600000", kSell, "10.97", 0, VenueError::kOutsideLimits},
      {"limits rounded half up: 11.055", "600100", kBuy, "11.06", 0, 0},
      {"limits rounded half up: above 11.06", "600100", kBuy, "11.07", 0,
       VenueError::kOutsideLimits},
      {"limits rounded half up: 9.045", "600100", kSell, "9.05", 0, 0},
      {"limits rounded half up: below 9.05", "600100", kSell, "9.04", 0,
       VenueError::kOutsideLimits},
      {"ChiNext, 20% up", "300750", kBuy, "234.24", 0, 0},
      {"ChiNext, a tick above", "300750", kBuy, "234.25", 0, VenueError::kOutsideLimits},
      {"ChiNext, 20% down", "300750", kSell, "156.16", 0, 0},
      {"ChiNext, a tick below", "300750", kSell, "156.15", 0, VenueError::kOutsideLimits},
      {"STAR, 20% up", "688981", kBuy, "60.00", 0, 0},
      {"STAR, a tick above", "688981", kBuy, "60.01", 0, VenueError::kOutsideLimits},
      {"STAR, 20% down", "688981", kSell, "40.00", 0, 0},
      {"STAR, a tick below", "688981", kSell, "39.99", 0, VenueError::kOutsideLimits},
      {"ST at the main board's 10%", "600203", kBuy, "3.41", 0, 0},
      {"ST at 10%, a tick above", "600203", kBuy, "3.42", 0, VenueError::kOutsideLimits},
      {"ST at 10%, at the lower limit", "600203", kSell, "2.79", 0, 0},
      {"ST at 10%, a tick below", "600203", kSell, "2.78", 0, VenueError::kOutsideLimits},
      {"ST at the older 5%: 3.255", "600203", kBuy, "3.26", 5, 0},
      {"ST at 5%, a tick above", "600203", kBuy, "3.27", 5, VenueError::kOutsideLimits},
      {"ST at 5%: 2.945", "600203", kSell, "2.95", 5, 0},
      {"ST at 5%, a tick below", "600203", kSell, "2.94", 5, VenueError::kOutsideLimits},
      {"a new listing has no limit up", "301001", kBuy, "999.99", 0, 0},
      {"nor down", "301001", kSell, "0.01", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::VenueMarket market = Market();
    if (c.stLimitPct != 0) market.rules.Of(Board::kShanghaiMain).stLimitPct = c.stLimitPct;
    LiveVenue live(Holding(ThousandOfEach()), market);
    const int64_t quantity = std::string(c.code) == "688981" ? 200 : 100;
    std::string message;
    EXPECT_EQ(live.Insert(c.code, c.side, c.price, quantity, &message), c.error) << message;
  }
}

// A tape's codes become known from their snapshots, with the marks that the
// instrument list gives them.
TEST(VenueRulesTest, ATapesCodesKeepTheirMarks) {
  for (bool marked : {false, true}) {
    SCOPED_TRACE(marked ? "marked ST" : "not marked");
    sim::VenueMarket market;
    market.rules.Of(Board::kShanghaiMain).stLimitPct = 5;
    if (marked) market.marks = {{"600000", Exchange::kShanghai, 0, true}};
    LiveVenue live({}, market);  // has seen 600000 close at 12.20
    // 12.20 at 5%: 12.81; at 10%: 13.42.
    EXPECT_EQ(live.Insert("600000", kBuy, "12.82", 100), marked ? VenueError::kOutsideLimits : 0);
  }
}

TEST(VenueRulesTest, SizesAndLotsPerBoard) {
  struct Case {
    const char* name;
    const char* code;
    int64_t side;
    int64_t quantity;
    int64_t held;  // shares of the code held from an earlier day
    int32_t error;
    const char* message;  // part of the answer's message, or null
  };
  const Case cases[] = {
      {"main board: a lot", "600000", kBuy, 100, 0, 0, nullptr},
      {"main board: not whole lots", "600000", kBuy, 150, 0, VenueError::kNotWholeLots,
       "a buy on the Shanghai main board must be whole lots of 100 shares"},
      {"main board: the largest order passes the size rules", "600000", kBuy, 1000000, 0,
       VenueError::kNotEnoughCash, nullptr},
      {"main board: above the largest order", "600000", kBuy, 1000100, 0, VenueError::kBadQuantity,
       "from 1 to 1000000 on the Shanghai main board"},
      {"Shenzhen main board: not whole lots", "000001", kBuy, 250, 0, VenueError::kNotWholeLots,
       "Shenzhen main board must be whole lots of 100"},
      {"ChiNext: not whole lots", "300750", kBuy, 150, 0, VenueError::kNotWholeLots,
       "a buy on ChiNext must be whole lots of 100 shares"},
      {"ChiNext: its largest order passes", "300750", kBuy, 300000, 0, VenueError::kNotEnoughCash,
       nullptr},
      {"ChiNext: above its largest order", "300750", kBuy, 300100, 0, VenueError::kBadQuantity,
       "from 1 to 300000 on ChiNext"},
      {"STAR: below 200", "688981", kBuy, 199, 0, VenueError::kNotWholeLots,
       "a buy on the STAR Market must be at least 200 shares"},
      {"STAR: 200", "688981", kBuy, 200, 0, 0, nullptr},
      {"STAR: then in steps of one", "688981", kBuy, 201, 0, 0, nullptr},
      {"STAR: its largest order passes", "688981", kBuy, 100000, 0, VenueError::kNotEnoughCash,
       nullptr},
      {"STAR: above its largest order", "688981", kBuy, 100001, 0, VenueError::kBadQuantity,
       "from 1 to 100000 on the STAR Market"},
      {"a sell of whole lots", "600000", kSell, 300, 1000, 0, nullptr},
      {"a sell of part of a lot", "600000", kSell, 150, 1000, VenueError::kNotWholeLots,
       "or all 1000 shares that may be sold"},
      {"an odd lot sold on its own is not all that is held", "000001", kSell, 50, 150,
       VenueError::kNotWholeLots, "or all 150 shares"},
      {"the whole of an odd holding", "000001", kSell, 150, 150, 0, nullptr},
      {"the whole of an odd holding under a lot", "000001", kSell, 40, 40, 0, nullptr},
      {"STAR: a sell below 200 that leaves shares", "688981", kSell, 100, 250,
       VenueError::kNotWholeLots, "at least 200 shares, or all 250"},
      {"STAR: all 250", "688981", kSell, 250, 250, 0, nullptr},
      {"STAR: 201 of 250", "688981", kSell, 201, 250, 0, nullptr},
      {"more than is held", "000001", kSell, 200, 150, VenueError::kNotEnoughPosition,
       "200 to sell, 150 sellable today; shares bought today settle tomorrow (T+1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<sim::StartPosition> held;
    if (c.held > 0) held.push_back({c.code, c.held, 0});
    LiveVenue live(Holding(held));
    const char* price = std::string(c.code) == "688981"   ? "50.00"
                        : std::string(c.code) == "300750" ? "195.20"
                        : std::string(c.code) == "000001" ? "11.23"
                                                          : "12.20";
    std::string message;
    EXPECT_EQ(live.Insert(c.code, c.side, price, c.quantity, &message), c.error) << message;
    if (c.message != nullptr) {
      EXPECT_NE(message.find(c.message), std::string::npos) << message;
    }
  }
}

// Shares bought today are sold tomorrow: the first day's account report
// starts the second day, which may sell them.
TEST(VenueRulesTest, SharesBoughtTodaySettleTomorrow) {
  const std::string path = ::testing::TempDir() + "day1_" + std::to_string(getpid()) + ".json";
  {
    LiveVenue day1(Holding({{"600000", 500, 600000}}));
    EXPECT_EQ(day1.Insert("600000", kBuy, "12.35", 1000), 0);  // fills at 12.35
    std::string message;
    EXPECT_EQ(day1.Insert("600000", kSell, "12.34", 600, &message), VenueError::kNotEnoughPosition);
    EXPECT_NE(message.find("500 sellable today; shares bought today settle tomorrow"),
              std::string::npos)
        << message;
    EXPECT_EQ(day1.Insert("600000", kSell, "12.34", 200), 0);  // of the 500 from before
    EXPECT_EQ(day1.Insert("600000", kSell, "12.34", 400), VenueError::kNotEnoughPosition);
    std::ofstream(path) << day1.venue.AccountReport();
  }
  auto report = nlohmann::json::parse(std::ifstream(path));
  ASSERT_EQ(report["positions"].size(), 1u);
  EXPECT_EQ(report["positions"][0]["quantity"], 1300);
  // 500 at 12.00 and 1000 at 12.35 with 5.00 commission and 0.12 transfer
  // fee: 18355.12 for 1500 shares; the 200 sold take 200/1500 of it.
  EXPECT_EQ(report["positions"][0]["cost"], 15907.77);

  std::map<std::string, std::string> variables{{"VELTRANE_SIM_ACCOUNT_START", path}};
  sim::ExchangeSettings settings;
  std::string error;
  ASSERT_TRUE(sim::LoadExchangeSettings(variables, settings, error)) << error;
  LiveVenue day2(settings.venue);
  EXPECT_EQ(day2.Insert("600000", kSell, "12.34", 1300), 0);
  day2.venue.QueryBalance(99);
  EXPECT_EQ(LiveVenue::Reports().back(),
            testing_support::Format("balance 99 0 CNY %.2f %.2f",
                                    report["cash"].get<double>() + 16042.00 - 5.00 - 8.02 - 0.16,
                                    report["cash"].get<double>() + 16042.00 - 5.00 - 8.02 - 0.16));
  std::remove(path.c_str());
}

TEST(VenueRulesTest, FeesAtTheirMinimumAndAbove) {
  struct Case {
    const char* name;
    bool buy;
    int64_t amount;  // cents
    sim::Fees fees;
  };
  const Case cases[] = {
      {"nothing traded, nothing charged", true, 0, {0, 0, 0}},
      {"a small buy pays the least commission", true, 1000000, {500, 0, 10}},
      {"where 2.5 bp is the least", true, 2000000, {500, 0, 20}},
      {"just above it, rounded", true, 2000400, {500, 0, 20}},
      {"a larger buy", true, 10000000, {2500, 0, 100}},
      {"a sell pays stamp duty", false, 10000000, {2500, 5000, 100}},
      {"a small sell, each fee rounded half up", false, 123456, {500, 62, 1}},
      {"half a cent of stamp duty rounds up", false, 1000, {500, 1, 0}},
  };
  const sim::FeeRates rates;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Fees fees = rates.On(c.buy, c.amount);
    EXPECT_EQ(fees.commission, c.fees.commission);
    EXPECT_EQ(fees.stampDuty, c.fees.stampDuty);
    EXPECT_EQ(fees.transfer, c.fees.transfer);
  }
  // An order filled in parts pays the least commission once: 1000.00 pays
  // 5.00, and the order's 30000.00 owes 7.50, so the rest pays 2.50.
  EXPECT_EQ((rates.On(true, 3000000) - rates.On(true, 100000)).commission, 250);
}

TEST(VenueRulesTest, ThePriceCage) {
  const sim::RuleBook rules = sim::DefaultRules();
  struct Case {
    const char* name;
    Board board;
    bool buy;
    int64_t price;
    sim::CageReference reference;  // best bid, best ask, last, previous close
    bool held;
  };
  const Case cases[] = {
      {"main board below 5.00: ten ticks are wider than 2%",
       Board::kShanghaiMain,
       true,
       310,
       {299, 300, 0, 0},
       false},
      {"main board: eleven ticks", Board::kShanghaiMain, true, 311, {299, 300, 0, 0}, true},
      {"main board: 2% of 12.35 is wider",
       Board::kShanghaiMain,
       true,
       1259,
       {1234, 1235, 0, 0},
       false},
      {"main board: above 102%", Board::kShanghaiMain, true, 1260, {1234, 1235, 0, 0}, true},
      {"main board sell: 98% of the best bid",
       Board::kShanghaiMain,
       false,
       1210,
       {1234, 1235, 0, 0},
       false},
      {"main board sell: below it", Board::kShanghaiMain, false, 1209, {1234, 1235, 0, 0}, true},
      {"STAR: 2% only", Board::kStar, true, 306, {299, 300, 0, 0}, false},
      {"STAR: above 102%", Board::kStar, true, 307, {299, 300, 0, 0}, true},
      {"STAR sell", Board::kStar, false, 4899, {5000, 5001, 0, 0}, true},
      {"ChiNext", Board::kChiNext, true, 19910, {19519, 19520, 0, 0}, false},
      {"ChiNext: above", Board::kChiNext, true, 19911, {19519, 19520, 0, 0}, true},
      {"no ask: the best bid is a buy's reference", Board::kStar, true, 306, {300, 0, 0, 0}, false},
      {"no book: the last trade", Board::kStar, true, 307, {0, 0, 300, 1000}, true},
      {"nothing traded: the previous close", Board::kStar, true, 1020, {0, 0, 0, 1000}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(sim::OutsideCage(rules.Of(c.board), c.buy, c.price, c.reference).empty(), !c.held);
  }

  // A buy above the cage waits, and enters the book when the asks rise.
  LiveVenue live;
  std::string message;
  EXPECT_EQ(live.Insert("600000", kBuy, "12.60", 100, &message), 0);
  EXPECT_NE(message.find("held: a buy above 12.59 is outside the price cage around 12.35"),
            std::string::npos)
      << message;
  lmvproto::SSEL2_Quotation higher = Book();
  higher.set_askprice01(12.40);
  higher.set_askvolume01(500);
  live.venue.OnMarket(Snapshot(Book(), 93003000));
  EXPECT_TRUE(LiveVenue::Reports().empty());
  live.venue.OnMarket(Snapshot(higher, 93006000));
  std::vector<std::string> reports = LiveVenue::Reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0], "match 1 0 600000 S5-1 M5-1 side2 12.40x100 09:30:06.000 k2");
}

// At limit-up a buy at the limit waits behind the bids shown there: trades
// at the limit use up what is ahead of it first, and volume that leaves the
// queue without trading is taken as cancelled ahead of it.
TEST(VenueRulesTest, ABuyAtLimitUpQueuesBehindTheBids) {
  lmvproto::SSEL2_Quotation locked = Book();
  locked.set_askvolume01(0), locked.set_askvolume02(0), locked.set_askvolume03(0);
  locked.set_askvolume04(0), locked.set_askvolume05(0), locked.set_askvolume06(0);
  locked.set_askvolume07(0), locked.set_askvolume08(0), locked.set_askvolume09(0);
  locked.set_askvolume10(0);
  locked.set_bidprice01(13.42), locked.set_bidvolume01(5000);
  locked.set_bidprice02(13.41), locked.set_bidvolume02(1000);
  LiveVenue live;
  live.venue.OnMarket(Snapshot(locked, 93003000));
  EXPECT_EQ(live.Insert("600000", kBuy, "13.42", 1000), 0);
  LiveVenue::Reports();
  live.venue.OnMarket(Trade(false, 13.42, 3000, 93004000));  // 2000 left ahead
  lmvproto::SSEL2_Quotation thinner = locked;
  thinner.set_bidvolume01(1500);
  live.venue.OnMarket(Snapshot(thinner, 93006000));          // 1500 ahead
  live.venue.OnMarket(Trade(false, 13.42, 1000, 93007000));  // 500 ahead
  live.venue.OnMarket(Trade(true, 13.42, 900, 93007500));    // a buyer: not its queue
  live.venue.OnMarket(Trade(false, 13.42, 800, 93008000));
  live.venue.OnMarket(Trade(false, 13.42, 1000, 93009000));
  EXPECT_EQ(LiveVenue::Reports(),
            (std::vector<std::string>{
                "match 1 0 600000 S5-1 M5-1 side2 13.42x300 09:30:08.000 k2",
                "order 1 0 [partially filled] 600000 S5-1 side2 13.42x1000 traded 13.4200x300 5 "
                "09:30:03.000 k2",
                "match 1 0 600000 S5-1 M5-2 side2 13.42x700 09:30:09.000 k2",
                "order 1 0 [filled] 600000 S5-1 side2 13.42x1000 traded 13.4200x1000 7 "
                "09:30:03.000 k2",
            }));
}

TEST(VenueRulesTest, ASuspendedStockTakesNoOrdersAndDoesNotTrade) {
  sim::VenueMarket market = Market();
  market.suspensions = {{"600000", 36000000}, {"000001", 0}};  // from 10:00; all day
  LiveVenue live(Holding({{"000001", 1000, 0}}), market);
  std::string message;
  EXPECT_EQ(live.Insert("000001", kSell, "11.23", 100, &message), VenueError::kSuspended);
  EXPECT_EQ(message, "000001 is suspended: it takes no orders");
  EXPECT_EQ(live.Insert("600000", kBuy, "12.30", 100), 0);  // rests before 10:00
  live.venue.OnMarket(Trade(false, 12.20, 5000, 100000500));
  live.venue.AdvanceTo(100001000);
  EXPECT_EQ(live.Insert("600000", kBuy, "12.30", 100), VenueError::kSuspended);
  live.venue.Cancel(50, "S5-2");
  EXPECT_EQ(LiveVenue::Reports().front(), "cancel 50 0 [cancelled]");
}

TEST(VenueRulesTest, OrdersInTheLunchBreakWaitForTheAfternoon) {
  LiveVenue live;
  live.venue.OnMarket(Snapshot(Book(), 112957000));
  live.venue.AdvanceTo(114500000);
  std::string message;
  EXPECT_EQ(live.Insert("600000", kBuy, "12.36", 100, &message), 0);
  EXPECT_EQ(message, "accepted; it waits for the session at 13:00");
  live.venue.OnMarket(Trade(false, 12.30, 1000, 125959000));
  EXPECT_TRUE(LiveVenue::Reports().empty());
  live.venue.OnMarket(Snapshot(Book(), 130000000));
  std::vector<std::string> reports = LiveVenue::Reports();
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports[0], "match 1 0 600000 S5-1 M5-1 side2 12.35x100 13:00:00.000 k2");

  live.venue.AdvanceTo(150000000);
  EXPECT_EQ(live.Insert("600000", kBuy, "12.36", 100, &message), VenueError::kMarketClosed);
  EXPECT_EQ(message, "the market is closed");

  // Before the first session: a tape may begin before it.
  sim::VenueMarket late = Market();
  late.day.sessions = {{36000000, 41400000}};  // 10:00 to 11:30, its opening call from 09:45
  LiveVenue early({}, late);
  early.venue.OnMarket(Snapshot(Book(), 94000000));
  EXPECT_EQ(early.Insert("600000", kBuy, "12.36", 100, &message), VenueError::kMarketClosed);
  EXPECT_EQ(message, "the market is not open yet: trading starts at 09:45");
}

// The rows of the README's table of an order's refusals, in their order,
// are the venue's order error ids in the order it checks them, with their
// meanings word for word.
TEST(VenueRulesTest, TheReadmeListsEveryRefusal) {
  std::vector<std::pair<int32_t, std::string>> listed;
#define SIM_LIST_ORDER_ERROR(name, id, answer, text) \
  if (VenueError::answer == VenueError::kOrder) listed.emplace_back(id, text);
  SIM_VENUE_ERROR_MAP(SIM_LIST_ORDER_ERROR)
#undef SIM_LIST_ORDER_ERROR
  std::ifstream readme(VELTRANE_README);
  ASSERT_TRUE(readme) << VELTRANE_README;
  std::vector<std::pair<int32_t, std::string>> documented;
  for (std::string line; std::getline(readme, line);) {
    // "  | 14 | price outside ... | example |"
    std::istringstream cells(line);
    std::string bar, id, reason;
    if (!std::getline(cells, bar, '|') || bar.find_first_not_of(' ') != std::string::npos ||
        !std::getline(cells, id, '|') || !std::getline(cells, reason, '|')) {
      continue;
    }
    auto trim = [](std::string text) {
      text.erase(0, text.find_first_not_of(' '));
      text.erase(text.find_last_not_of(' ') + 1);
      return text;
    };
    id = trim(id);
    if (id.size() == 2 && id.find_first_not_of("0123456789") == std::string::npos &&
        line.rfind("  |", 0) == 0) {
      documented.emplace_back(std::stoi(id), trim(reason));
    }
  }
  EXPECT_EQ(documented, listed);
}

}  // namespace

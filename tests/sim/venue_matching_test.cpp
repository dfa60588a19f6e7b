// The venue's matching: a resting order's place in the queue at its price
// under each queue model, fills at the order's own price, shown volume never
// used twice, the call auctions' uncross at the open and the close, and the
// rules they share with the generated market (the uncross price, the day's
// phases).

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "call_auction.h"
#include "trading_day.h"
#include "venue.h"
#include "venue_reports.h"

namespace {

using sim::Phase;
using sim::QueueModelKind;
using sim::Venue;
using sim::VenueError;
using testing_support::Book;
using testing_support::Encode;
using testing_support::g_reports;
using testing_support::kBuy;
using testing_support::kSell;
using testing_support::Message;
using testing_support::Recorder;
using testing_support::Snapshot;
using testing_support::Trade;

sim::VenueMarket Market() {
  sim::VenueMarket market;
  market.instruments = {{"600000", sim::Exchange::kShanghai, 1220}};
  return market;
}

sim::VenueSettings Settings(QueueModelKind model = QueueModelKind::kRiskAverse) {
  sim::VenueSettings settings;
  settings.queueModel = model;
  settings.positions = {{"600000", 10000, 12000000}};
  return settings;
}

// The fills since the last call as "ORDER PRICExQUANTITY TIME", and the other
// reports left in g_reports.
std::vector<std::string> Fills() {
  std::vector<std::string> fills;
  for (const std::string& report : g_reports) {
    std::istringstream words(report);
    std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
    if (w[0] == "match") fills.push_back(w[4] + " " + w[7] + " " + w[8]);
  }
  g_reports.clear();
  return fills;
}

// The book of 600000 with `bids` shares at its best bid, 12.34.
sim::QuoteMessage Bids(int64_t bids, int64_t time) {
  lmvproto::SSEL2_Quotation book = Book();
  book.set_bidvolume01(bids);
  return Snapshot(book, time);
}

TEST(VenueMatchingTest, QueuePositionAtARestingPrice) {
  struct Case {
    const char* name;
    std::vector<QueueModelKind> models;
    std::function<void(Venue&)> steps;
    std::vector<std::string> fills;
  };
  const auto both = {QueueModelKind::kRiskAverse, QueueModelKind::kProportional};
  // A buy of 1000 at 12.34 joins behind 5000 there; then 3000 join behind it
  // and 4000 leave: from ahead of it or from behind, as the model says.
  auto cancelsWithVolumeBehind = [](Venue& v) {
    v.Insert(1, "600000", kBuy, "12.340000", 1000);
    v.OnMarket(Bids(8000, 93003000));
    v.OnMarket(Bids(4000, 93006000));
    v.OnMarket(Trade(false, 12.34, 3000, 93007000));
    v.OnMarket(Trade(false, 12.34, 1500, 93008000));
  };
  const Case cases[] = {
      {"behind 5000, filled only once 5000 have traded at its price",
       both,
       [](Venue& v) {
         v.Insert(1, "600000", kBuy, "12.340000", 1000);
         v.OnMarket(Trade(false, 12.34, 3000, 93004000));
         v.OnMarket(Trade(false, 12.34, 2000, 93005000));
         v.OnMarket(Trade(true, 12.35, 900, 93005500));  // the other side: no use to it
         v.OnMarket(Trade(false, 12.34, 600, 93006000));
       },
       {"S5-1 12.34x600 09:30:06.000"}},
      {"risk-averse: the cancels came from behind it",
       {QueueModelKind::kRiskAverse},
       cancelsWithVolumeBehind,
       {"S5-1 12.34x500 09:30:08.000"}},
      {"proportional: half the queue left, so half of what was ahead",
       {QueueModelKind::kProportional},
       cancelsWithVolumeBehind,
       {"S5-1 12.34x500 09:30:07.000", "S5-1 12.34x500 09:30:08.000"}},
      {"a level that falls below what was ahead leaves only what it shows ahead",
       both,
       [](Venue& v) {
         v.Insert(1, "600000", kBuy, "12.340000", 1000);
         v.OnMarket(Bids(2000, 93003000));
         v.OnMarket(Trade(false, 12.34, 2500, 93004000));
       },
       {"S5-1 12.34x500 09:30:04.000"}},
      {"two own orders at one price never share a traded or shown share",
       both,
       [](Venue& v) {
         v.Insert(1, "600000", kBuy, "12.340000", 1000);
         v.Insert(2, "600000", kBuy, "12.340000", 1000);
         v.OnMarket(Trade(false, 12.34, 5600, 93004000));
         v.OnMarket(Trade(false, 12.34, 300, 93005000));
         // Asks come down to 12.34 with 800: both fill at their own price.
         lmvproto::SSEL2_Quotation through = Book();
         through.set_askprice01(12.34);
         through.set_askvolume01(800);
         through.set_bidvolume01(0);
         v.OnMarket(Snapshot(through, 93009000));
       },
       {"S5-1 12.34x600 09:30:04.000", "S5-1 12.34x300 09:30:05.000", "S5-1 12.34x100 09:30:09.000",
        "S5-2 12.34x700 09:30:09.000"}},
      {"a snapshot through a resting sell fills it at its own price",
       both,
       [](Venue& v) {
         v.Insert(1, "600000", kSell, "12.400000", 1000);
         lmvproto::SSEL2_Quotation through = Book();
         through.set_bidprice01(12.42);
         through.set_bidvolume01(700);
         v.OnMarket(Snapshot(through, 93003000));
       },
       {"S5-1 12.40x700 09:30:03.000"}},
      {"a marketable order takes the levels at their prices",
       both,
       [](Venue& v) { v.Insert(1, "600000", kBuy, "12.360000", 1500); },
       {"S5-1 12.35x1100 09:30:00.000", "S5-1 12.36x400 09:30:00.000"}},
  };
  for (const Case& c : cases) {
    for (QueueModelKind model : c.models) {
      SCOPED_TRACE(std::string(c.name) + ", " + sim::QueueModelName(model));
      Venue venue(Settings(model), Market(), 5);
      venue.SetCallbacks(Recorder());
      venue.Login("demo", "demo", "");
      venue.OnMarket(Bids(5000, 93000000));
      g_reports.clear();
      c.steps(venue);
      EXPECT_EQ(Fills(), c.fills);
    }
  }
}

// A call auction's snapshot as the generated market sends it: both first
// levels at the indicative price with the matched volume, and what one side
// leaves unmatched as its second level there.
sim::QuoteMessage CallSnapshot(double price, uint32_t matched, bool buysLeft, uint32_t left,
                               int64_t time) {
  lmvproto::SSEL2_Quotation call;
  call.set_symbol("600000");
  call.set_precloseprice(12.20);
  call.set_securityphasetag(time < 120000000 ? "C" : "U");
  call.set_bidprice01(price);
  call.set_bidvolume01(matched);
  call.set_askprice01(price);
  call.set_askvolume01(matched);
  if (buysLeft) {
    call.set_bidprice02(price);
    call.set_bidvolume02(left);
  } else {
    call.set_askprice02(price);
    call.set_askvolume02(left);
  }
  return Snapshot(call, time);
}

sim::QuoteMessage UncrossTrade(double price, uint32_t volume, int64_t time) {
  lmvproto::SSEL2_Transaction trade = testing_support::ShanghaiTrade();
  trade.set_buysellflag(0);
  trade.set_tradeprice(price);
  trade.set_tradevolume(volume);
  return Message("SSEL2_Transaction", sim::kTrades, time, Encode(trade));
}

// The answer's message of the last insert or cancel, with its error id.
std::string Answer() {
  for (auto report = g_reports.rbegin(); report != g_reports.rend(); ++report) {
    if (report->rfind("insert ", 0) == 0 || report->rfind("cancel ", 0) == 0) {
      std::istringstream words(*report);
      std::string kind, reqId, error;
      words >> kind >> reqId >> error;
      size_t open = report->find('[');
      return error + " " + report->substr(open, report->find(']') - open + 1);
    }
  }
  return "none";
}

// Each order's status and traded quantity at the end, "S5-1 7 1000".
std::vector<std::string> Statuses(Venue& venue) {
  g_reports.clear();
  venue.QueryOrders(99);
  std::vector<std::string> statuses;
  for (const std::string& report : g_reports) {
    size_t traded = report.find(" traded ");
    std::istringstream after(report.substr(traded + 8));
    std::string tradedText, status;
    after >> tradedText >> status;
    statuses.push_back(report.substr(report.find("S5-"), 4) + " " + status + " " +
                       tradedText.substr(tradedText.find('x') + 1));
  }
  g_reports.clear();
  return statuses;
}

struct AuctionOrder {
  int64_t side;
  const char* price;
  int64_t quantity;
  const char* answer;
};

TEST(VenueMatchingTest, TheOpeningCallAuction) {
  Venue venue(Settings(), Market(), 5);
  venue.SetCallbacks(Recorder());
  venue.Login("demo", "demo", "");
  venue.AdvanceTo(91600000);
  // 20000 match at 12.30, and 3000 sold there are left over.
  venue.OnMarket(CallSnapshot(12.30, 20000, false, 3000, 91600000));
  const AuctionOrder orders[] = {
      {kBuy, "12.40", 1000, "0 [accepted; it joins the opening call auction]"},  // beyond: filled
      {kBuy, "12.30", 2000,
       "0 [accepted; it joins the opening call auction]"},  // at it: the 3000 left
      {kBuy, "12.30", 2000,
       "0 [accepted; it joins the opening call auction]"},  // what is left of them
      {kBuy, "12.20", 1000,
       "0 [accepted; it joins the opening call auction]"},  // short of it: rests
      {kSell, "12.00", 1000, "0 [accepted; it joins the opening call auction]"},
      {kSell, "12.50", 500, "0 [accepted; it joins the opening call auction]"},  // cancelled
  };
  int32_t reqId = 0;
  for (const AuctionOrder& order : orders) {
    SCOPED_TRACE(reqId + 1);
    g_reports.clear();
    venue.Insert(++reqId, "600000", order.side, order.price, order.quantity);
    EXPECT_EQ(Answer(), order.answer);
  }
  venue.AdvanceTo(91700000);
  venue.Cancel(++reqId, "S5-6");
  EXPECT_EQ(Answer(), "0 [cancelled]");
  venue.AdvanceTo(92100000);
  venue.Cancel(++reqId, "S5-4");
  EXPECT_EQ(Answer(), "23 [no cancels are taken in the opening call auction's last five minutes]");
  venue.OnMarket(CallSnapshot(12.30, 20000, false, 3000, 92457000));
  g_reports.clear();
  venue.OnMarket(UncrossTrade(12.30, 12000, 92500000));
  venue.OnMarket(UncrossTrade(12.30, 8000, 92500000));
  EXPECT_EQ(Fills(), std::vector<std::string>{}) << "filled before the uncross was shown done";
  venue.OnMarket(Snapshot(Book(), 92500000));
  EXPECT_EQ(Fills(), (std::vector<std::string>{
                         "S5-1 12.30x1000 09:25:00.000", "S5-2 12.30x2000 09:25:00.000",
                         "S5-3 12.30x1000 09:25:00.000", "S5-5 12.30x1000 09:25:00.000"}));
  // Orders from 09:25 wait for continuous trading, with what the call left.
  venue.AdvanceTo(92700000);
  venue.Insert(++reqId, "600000", kBuy, "12.35", 100);
  EXPECT_EQ(Answer(), "0 [accepted; it waits for the session at 09:30]");
  venue.OnMarket(Snapshot(Book(), 93000000));
  EXPECT_EQ(Fills(), std::vector<std::string>{"S5-7 12.35x100 09:30:00.000"});
  EXPECT_EQ(Statuses(venue),
            (std::vector<std::string>{"S5-1 7 1000", "S5-2 7 2000", "S5-3 5 1000", "S5-4 2 0",
                                      "S5-5 7 1000", "S5-6 6 0", "S5-7 7 100"}));
}

TEST(VenueMatchingTest, TheClosingCallAuction) {
  Venue venue(Settings(), Market(), 5);
  venue.SetCallbacks(Recorder());
  venue.Login("demo", "demo", "");
  venue.OnMarket(Snapshot(Book(), 145600000));
  int32_t reqId = 0;
  venue.Insert(++reqId, "600000", kBuy, "12.30", 1000);  // rests, short of the price
  venue.Insert(++reqId, "600000", kSell, "12.40", 500);  // rests, above it
  venue.AdvanceTo(145800000);
  venue.Cancel(++reqId, "S5-1");
  EXPECT_EQ(Answer(), "23 [no cancels are taken in the closing call auction]");
  const AuctionOrder orders[] = {
      {kBuy, "12.40", 500, "0 [accepted; it joins the closing call auction]"},  // beyond: filled
      {kBuy, "12.38", 300,
       "0 [accepted; it joins the closing call auction]"},  // at it, no sells left
  };
  for (const AuctionOrder& order : orders) {
    g_reports.clear();
    venue.Insert(++reqId, "600000", order.side, order.price, order.quantity);
    EXPECT_EQ(Answer(), order.answer);
  }
  // 10000 match at 12.38 and 4000 bought there are left over.
  venue.OnMarket(CallSnapshot(12.38, 10000, true, 4000, 145957000));
  // A trade of continuous trading's kind in the call fills nothing.
  venue.OnMarket(Trade(false, 12.30, 5000, 145958000));
  g_reports.clear();
  venue.OnMarket(UncrossTrade(12.38, 10000, 150000000));
  venue.OnMarket(Snapshot(Book(), 150000000));
  venue.OnClose();
  EXPECT_EQ(Fills(), std::vector<std::string>{"S5-3 12.38x500 15:00:00.000"});
  EXPECT_EQ(Statuses(venue),
            (std::vector<std::string>{"S5-1 6 0", "S5-2 6 0", "S5-3 7 500", "S5-4 6 0"}));
}

// The price at which the most trades; then the least left unmatched; then
// Shanghai's middle of the tied prices, or Shenzhen's nearest the close.
TEST(VenueMatchingTest, TheUncrossPrice) {
  struct Case {
    const char* name;
    std::vector<sim::PriceLevel> buys, sells;
    sim::Exchange exchange;
    sim::Uncross expected;
  };
  const Case cases[] = {
      {"nothing crosses", {{1000, 500}}, {{1001, 500}}, sim::Exchange::kShanghai, {}},
      {"the most volume",
       {{1010, 300}, {1005, 400}},
       {{1000, 200}, {1005, 600}},
       sim::Exchange::kShanghai,
       {1005, 700, 0, 100}},
      {"then the least unmatched",
       {{1010, 500}, {1008, 100}},
       {{1000, 500}, {1009, 300}},
       sim::Exchange::kShenzhen,
       {1008, 500, 100, 0}},
      {"Shanghai: the middle of the tied prices",
       {{1010, 500}},
       {{1000, 500}},
       sim::Exchange::kShanghai,
       {1005, 500, 0, 0}},
      {"Shenzhen: the tied price nearest the previous close",
       {{1010, 500}},
       {{1000, 500}},
       sim::Exchange::kShenzhen,
       {1010, 500, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Uncross got = sim::FindUncross(c.buys, c.sells, 1020, c.exchange);
    EXPECT_EQ(got.price, c.expected.price);
    EXPECT_EQ(got.volume, c.expected.volume);
    EXPECT_EQ(got.buySurplus, c.expected.buySurplus);
    EXPECT_EQ(got.sellSurplus, c.expected.sellSurplus);
  }
}

TEST(VenueMatchingTest, TheDaysPhases) {
  struct Case {
    std::vector<sim::Session> sessions;
    bool auctions;
    int64_t ms;
    Phase phase;
  };
  const std::vector<sim::Session> day = {{34200000, 41400000}, {46800000, 54000000}};
  const std::vector<sim::Session> morning = {{34200000, 37800000}};  // 09:30 to 10:30
  const Case cases[] = {
      {day, true, 33299999, Phase::kBeforeOpen},
      {day, true, 33300000, Phase::kOpeningCall},
      {day, true, 33600000, Phase::kOpeningCallFirm},
      {day, true, 33900000, Phase::kOpeningWait},
      {day, true, 34200000, Phase::kContinuous},
      {day, true, 41400000, Phase::kBreak},
      {day, true, 53819999, Phase::kContinuous},
      {day, true, 53820000, Phase::kClosingCall},
      {day, true, 54000000, Phase::kClosed},
      {day, false, 33300000, Phase::kBeforeOpen},
      {day, false, 53820000, Phase::kContinuous},
      {morning, true, 37620000, Phase::kClosingCall},
      {morning, true, 37619999, Phase::kContinuous},
      {morning, true, 37800000, Phase::kClosed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ms);
    sim::TradingDay tradingDay{c.sessions, c.auctions};
    EXPECT_EQ(tradingDay.PhaseAt(c.ms), c.phase) << sim::PhaseText(tradingDay.PhaseAt(c.ms));
  }
}

}  // namespace

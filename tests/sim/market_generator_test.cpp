// The generated market: the same settings give the same bytes, and the
// market's rules hold over whole days, read back from the messages alone.

#include "market_generator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "message_source.h"
#include "quote.pb.h"
#include "sim_days.h"

namespace {

using sim::Exchange;
using sim::MarketGenerator;
using sim::MarketSettings;
using sim::QuoteMessage;
using testing_support::GenerateDay;

std::string Bytes(const std::vector<QuoteMessage>& messages) {
  std::string bytes;
  for (const QuoteMessage& m : messages) {
    bytes += std::string(m.typeName) + '|' + std::to_string(m.time) + '|' + m.code + '|' +
             m.payload + '\n';
  }
  return bytes;
}

MarketSettings Settings(uint64_t seed, std::vector<sim::Instrument> instruments) {
  MarketSettings settings;
  settings.seed = seed;
  settings.instruments = std::move(instruments);
  return settings;
}

TEST(MarketGeneratorTest, SameSeedGivesTheSameBytes) {
  MarketSettings settings = Settings(7, sim::DefaultInstruments());
  settings.sessions = {{34200000, 35100000}};
  std::string first = Bytes(GenerateDay(settings));
  EXPECT_EQ(first, Bytes(GenerateDay(settings)));
  settings.seed = 8;
  EXPECT_NE(first, Bytes(GenerateDay(settings)));
}

// Another instrument in the list leaves the others' trades and books alone.
TEST(MarketGeneratorTest, EachInstrumentHasADayOfItsOwn) {
  MarketSettings one = Settings(3, {{"600000", Exchange::kShanghai, 1052}});
  MarketSettings two = Settings(3, {{"000001", Exchange::kShenzhen, 1123}, one.instruments[0]});
  one.sessions = two.sessions = {{34200000, 34500000}};
  std::vector<QuoteMessage> alone = GenerateDay(one);
  std::vector<QuoteMessage> together;
  for (QuoteMessage& m : GenerateDay(two)) {
    if (m.code == "600000") together.push_back(std::move(m));
  }
  EXPECT_EQ(Bytes(alone), Bytes(together));
}

// One level of a book as a snapshot shows it, in cents and shares.
struct Level {
  int64_t price;
  int64_t volume;
};

struct Snapshot {
  int64_t previousClose, open, high, low, last, volume, amount;
  std::vector<Level> bids, asks;
  std::string phase;
};

int64_t Cents(double price) {
  double cents = price * 100.0;
  EXPECT_NEAR(cents, std::round(cents), 1e-6) << price << " is off the 0.01 tick";
  return std::llround(cents);
}

template <class Message>
void ReadLevels(const Message& m, Snapshot& s) {
  const double askPrices[] = {m.askprice01(), m.askprice02(), m.askprice03(), m.askprice04(),
                              m.askprice05(), m.askprice06(), m.askprice07(), m.askprice08(),
                              m.askprice09(), m.askprice10()};
  const double askVolumes[] = {
      static_cast<double>(m.askvolume01()), static_cast<double>(m.askvolume02()),
      static_cast<double>(m.askvolume03()), static_cast<double>(m.askvolume04()),
      static_cast<double>(m.askvolume05()), static_cast<double>(m.askvolume06()),
      static_cast<double>(m.askvolume07()), static_cast<double>(m.askvolume08()),
      static_cast<double>(m.askvolume09()), static_cast<double>(m.askvolume10())};
  const double bidPrices[] = {m.bidprice01(), m.bidprice02(), m.bidprice03(), m.bidprice04(),
                              m.bidprice05(), m.bidprice06(), m.bidprice07(), m.bidprice08(),
                              m.bidprice09(), m.bidprice10()};
  const double bidVolumes[] = {
      static_cast<double>(m.bidvolume01()), static_cast<double>(m.bidvolume02()),
      static_cast<double>(m.bidvolume03()), static_cast<double>(m.bidvolume04()),
      static_cast<double>(m.bidvolume05()), static_cast<double>(m.bidvolume06()),
      static_cast<double>(m.bidvolume07()), static_cast<double>(m.bidvolume08()),
      static_cast<double>(m.bidvolume09()), static_cast<double>(m.bidvolume10())};
  // Levels are filled from the first; an empty one ends the side.
  for (int k = 0; k < 10 && askVolumes[k] > 0; ++k) {
    s.asks.push_back({Cents(askPrices[k]), std::llround(askVolumes[k])});
  }
  for (int k = 0; k < 10 && bidVolumes[k] > 0; ++k) {
    s.bids.push_back({Cents(bidPrices[k]), std::llround(bidVolumes[k])});
  }
}

template <class Message>
Snapshot ReadSnapshot(const std::string& payload) {
  Message m;
  EXPECT_TRUE(m.ParseFromString(payload));
  Snapshot s{Cents(m.precloseprice()),
             Cents(m.openprice()),
             Cents(m.highprice()),
             Cents(m.lowprice()),
             Cents(m.lastprice()),
             static_cast<int64_t>(m.totalvolume()),
             std::llround(m.totalamount() * 100.0),
             {},
             {},
             m.securityphasetag()};
  ReadLevels(m, s);
  return s;
}

struct Trade {
  int64_t price, volume;
  int32_t flag;  // 1 the buyer took the asks, 2 the seller the bids, 0 an uncross
};

template <class Message>
Trade ReadTrade(const std::string& payload) {
  Message m;
  EXPECT_TRUE(m.ParseFromString(payload));
  return {Cents(m.tradeprice()), static_cast<int64_t>(m.tradevolume()),
          static_cast<int32_t>(m.buysellflag())};
}

// What a reader of the feed knows of one instrument: its latest snapshot,
// what the trades since then have taken from it, and their sums.
struct Watch {
  bool seen = false;
  Snapshot book{};
  int64_t volume = 0;  // since the day began, from the trades
  int64_t amount = 0;
  int64_t high = 0, low = 0, last = 0, open = 0;
};

// A call auction's snapshot: the indicative price inside the band on both
// sides with the matched volume, and at most one side left unmatched there;
// or, while nothing crosses, the best buy below the best sell.
void CheckCallSnapshot(const Snapshot& s, const std::string& code, sim::PriceBand band) {
  SCOPED_TRACE(code);
  if (s.bids.empty() || s.asks.empty() || s.bids[0].price != s.asks[0].price) {
    EXPECT_LE(s.bids.size(), 1u);
    EXPECT_LE(s.asks.size(), 1u);
    if (!s.bids.empty() && !s.asks.empty()) {
      EXPECT_LT(s.bids[0].price, s.asks[0].price);
    }
    return;
  }
  EXPECT_GE(s.bids[0].price, band.lower);
  EXPECT_LE(s.bids[0].price, band.upper);
  EXPECT_EQ(s.bids[0].volume, s.asks[0].volume);
  EXPECT_LE(s.bids.size() + s.asks.size(), 3u) << "unmatched volume on both sides";
  for (const auto* side : {&s.bids, &s.asks}) {
    if (side->size() > 1) {
      EXPECT_EQ((*side)[1].price, s.bids[0].price);
    }
  }
}

void CheckSnapshot(const Snapshot& s, Watch& w, const std::string& code, sim::PriceBand band) {
  SCOPED_TRACE(code);
  int64_t upper = band.upper;
  int64_t lower = band.lower;
  ASSERT_LE(s.bids.size(), 10u);
  for (size_t k = 0; k < s.bids.size(); ++k) {
    EXPECT_GE(s.bids[k].price, lower);
    EXPECT_EQ(s.bids[k].volume % 100, 0);
    if (k > 0) {
      EXPECT_LT(s.bids[k].price, s.bids[k - 1].price);
    }
  }
  for (size_t k = 0; k < s.asks.size(); ++k) {
    EXPECT_LE(s.asks[k].price, upper);
    EXPECT_EQ(s.asks[k].volume % 100, 0);
    if (k > 0) {
      EXPECT_GT(s.asks[k].price, s.asks[k - 1].price);
    }
  }
  EXPECT_TRUE(!s.bids.empty() || !s.asks.empty());
  if (!s.bids.empty() && !s.asks.empty()) {
    EXPECT_LT(s.bids[0].price, s.asks[0].price);
  }
  // Totals agree with the trades sent before the snapshot.
  EXPECT_EQ(s.volume, w.volume);
  EXPECT_EQ(s.amount, w.amount);
  EXPECT_EQ(s.last, w.last);
  EXPECT_EQ(s.open, w.open);
  EXPECT_EQ(s.high, w.high);
  EXPECT_EQ(s.low, w.low);
  w.book = s;
  w.seen = true;
}

// A trade takes the best level of the side its flag names that the trades
// before it left volume on.
void CheckTrade(const Trade& t, Watch& w, const std::string& code) {
  SCOPED_TRACE(code);
  ASSERT_TRUE(w.seen || t.flag == 0) << "a trade before the first snapshot";
  std::vector<Level>& side = t.flag == 1 ? w.book.asks : w.book.bids;
  auto best = side.begin();
  while (best != side.end() && best->volume == 0) ++best;
  if (t.flag != 0) {
    ASSERT_NE(best, side.end()) << "a trade with no volume left on its side";
    EXPECT_EQ(t.price, best->price);
    EXPECT_LE(t.volume, best->volume);
    best->volume -= t.volume;
  }
  EXPECT_GT(t.volume, 0);
  w.volume += t.volume;
  w.amount += t.price * t.volume;
  if (w.open == 0) w.open = w.high = w.low = t.price;
  w.high = std::max(w.high, t.price);
  w.low = std::min(w.low, t.price);
  w.last = t.price;
}

struct InvariantCase {
  const char* name;
  const char* instruments;
  int64_t snapshotIntervalMs;
  double tradesPerInterval;
  bool wholeDay;
  bool reachesLimits;  // a price band only ten ticks wide each way
  int64_t stLimitPct;  // the band of ST shares; 0: the exchanges'
  bool locks;          // some day ends locked at a limit: one side empty
};

constexpr InvariantCase kInvariantCases[] = {
    {"default market, whole day",
     "600000:10.52,600519:1688,601318:45.36,000001:11.23,"
     "000858:138.5,300750:195.2",
     3000, 4, true, false, 0, false},
    {"stocks at 1.00, heavy trading", "600100:1.00,000100:1.00", 3000, 30, true, true, 0, false},
    {"sweeping orders", "601988:4.25,002594:245.80", 1000, 200, false, false, 0, false},
    {"ST shares at a 5% band lock at their limits",
     "600101:3.00:ST,600102:4.00:ST,600103:5.00:ST,600104:6.00:ST,600105:7.00:ST,"
     "000101:3.50:ST,000102:4.50:ST,000103:5.50:ST,000104:6.50:ST,000105:7.50:ST,"
     "600106:8.00:ST,600107:9.00:ST,000106:8.50:ST,000107:9.50:ST,600108:3.30:ST",
     3000, 4, true, false, 5, true},
    {"boards of 20% and new listings", "300750:195.20,688981:50.00,301001:20.00:NEW", 3000, 8, true,
     false, 0, false},
};

TEST(MarketGeneratorTest, MarketRulesHoldAllDay) {
  for (const InvariantCase& c : kInvariantCases) {
    SCOPED_TRACE(c.name);
    MarketSettings settings;
    std::string error;
    ASSERT_TRUE(sim::ParseInstruments(c.instruments, 1, settings.instruments, error)) << error;
    settings.snapshotIntervalMs = c.snapshotIntervalMs;
    settings.tradesPerInterval = c.tradesPerInterval;
    if (!c.wholeDay) settings.sessions = {{34200000, 36000000}};  // 09:30 to 10:00
    if (c.stLimitPct != 0) {
      settings.rules.Of(sim::Board::kShanghaiMain).stLimitPct = c.stLimitPct;
      settings.rules.Of(sim::Board::kShenzhenMain).stLimitPct = c.stLimitPct;
    }
    std::map<std::string, Watch> watches;
    std::map<std::string, sim::PriceBand> bands;
    for (const sim::Instrument& instrument : settings.instruments) {
      bands[instrument.code] =
          sim::BandOf(sim::ListingOf(instrument), instrument.previousClose, settings.rules);
    }
    int64_t previousTime = 0;
    int64_t trades = 0;
    int64_t callSnapshots = 0;
    std::map<int64_t, std::map<std::string, int64_t>> uncrossPrices;  // by time and code
    int64_t limitTouches = 0;
    std::map<std::string, bool> locked;  // by the last snapshot
    for (const QuoteMessage& m : GenerateDay(settings)) {
      ASSERT_GE(m.time, previousTime) << "messages out of time order";
      previousTime = m.time;
      Watch& w = watches[m.code];
      std::string type = m.typeName;
      if (type == "SSEL2_Quotation" || type == "SZSEL2_Quotation") {
        Snapshot s = type == "SSEL2_Quotation"
                         ? ReadSnapshot<lmvproto::SSEL2_Quotation>(m.payload)
                         : ReadSnapshot<lmvproto::SZSEL2_Quotation>(m.payload);
        const sim::PriceBand band = bands.at(m.code);
        if (sim::IsCallTag(s.phase)) {
          ++callSnapshots;
          ASSERT_NO_FATAL_FAILURE(CheckCallSnapshot(s, m.code, band));
          continue;
        }
        if (s.bids.empty() || s.asks.empty() || s.bids.back().price == band.lower ||
            s.asks.back().price == band.upper) {
          ++limitTouches;
        }
        locked[m.code] = (s.asks.empty() && !s.bids.empty() && s.bids[0].price == band.upper) ||
                         (s.bids.empty() && !s.asks.empty() && s.asks[0].price == band.lower);
        ASSERT_NO_FATAL_FAILURE(CheckSnapshot(s, w, m.code, band));
      } else {
        Trade t = type == "SSEL2_Transaction" ? ReadTrade<lmvproto::SSEL2_Transaction>(m.payload)
                                              : ReadTrade<lmvproto::SZSEL2_Transaction>(m.payload);
        ++trades;
        if (t.flag == 0) {
          auto [price, fresh] = uncrossPrices[m.time].emplace(m.code, t.price);
          EXPECT_EQ(price->second, t.price) << "an uncross at two prices";
        }
        ASSERT_NO_FATAL_FAILURE(CheckTrade(t, w, m.code));
      }
      if (HasFailure()) return;
    }
    EXPECT_GT(trades, 1000);
    // Both auctions uncross at their ends: 09:25 and the close.
    EXPECT_GT(callSnapshots, 0);
    std::vector<int64_t> uncrossTimes;
    for (const auto& [time, codes] : uncrossPrices) uncrossTimes.push_back(time);
    EXPECT_EQ(uncrossTimes, (std::vector<int64_t>{92500000, c.wholeDay ? 150000000 : 100000000}));
    if (c.reachesLimits) {
      EXPECT_GT(limitTouches, 0) << "the limits were never reached";
    }
    int64_t lockedAtTheClose = 0;
    for (const auto& [code, isLocked] : locked) lockedAtTheClose += isLocked;
    if (c.locks) {
      EXPECT_GT(lockedAtTheClose, 0) << "no day ended locked at its limit";
    }
  }
}

// A suspended instrument trades neither in the generated market nor on a
// tape of a day it traded: from 09:35 on, 600000 prints no trade and its
// snapshots repeat its book; 000001 goes on.
TEST(MarketGeneratorTest, ASuspendedInstrumentDoesNotTrade) {
  MarketSettings day =
      Settings(4, {{"600000", Exchange::kShanghai, 1052}, {"000001", Exchange::kShenzhen, 1123}});
  day.sessions = {{34200000, 34800000}};  // 09:30 to 09:40
  const std::string tape = ::testing::TempDir() + "traded" + std::to_string(getpid()) + ".tape";
  ASSERT_NO_FATAL_FAILURE(testing_support::WriteTape(tape, GenerateDay(day)));
  for (bool fromTape : {false, true}) {
    SCOPED_TRACE(fromTape ? "a tape" : "generated");
    sim::SourceSettings source;
    source.market = day;
    source.market.suspensions = {{"600000", 34500000}};
    if (fromTape) source.tapePath = tape;
    std::string error;
    std::unique_ptr<sim::MessageSource> messages = sim::OpenSource(source, error);
    ASSERT_NE(messages, nullptr) << error;
    std::map<std::string, int> tradesAfter;
    std::vector<std::string> booksAfter;
    for (const QuoteMessage* m = messages->Next(); m != nullptr; m = messages->Next()) {
      if (sim::MillisecondsOfDay(m->time) < 34500000) continue;
      if (m->kind == sim::kTrades) ++tradesAfter[m->code];
      if (m->kind == sim::kSnapshots && m->code == "600000") {
        lmvproto::SSEL2_Quotation book;
        ASSERT_TRUE(book.ParseFromString(m->payload));
        booksAfter.push_back(
            std::to_string(book.bidprice01()) + std::to_string(book.bidvolume01()) +
            std::to_string(book.askprice01()) + std::to_string(book.askvolume01()));
      }
    }
    EXPECT_EQ(tradesAfter.count("600000"), 0u);
    EXPECT_GT(tradesAfter["000001"], 10);
    if (!fromTape) {
      ASSERT_GT(booksAfter.size(), 10u);
      EXPECT_EQ(std::count(booksAfter.begin(), booksAfter.end(), booksAfter.front()),
                static_cast<long>(booksAfter.size()));
    }
  }
  std::remove(tape.c_str());
}

}  // namespace

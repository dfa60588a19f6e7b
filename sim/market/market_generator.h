// market_generator.h: a deterministic trading day for a list of instruments.
//
// The day is cut into snapshot intervals. Each interval's trades come first,
// in time order across instruments, then one snapshot per instrument at the
// interval's end. The same settings give the same messages, byte for byte.

#ifndef VELTRANE_SIM_MARKET_GENERATOR_H
#define VELTRANE_SIM_MARKET_GENERATOR_H

#include <cstdint>
#include <vector>

#include "boards.h"
#include "instruments.h"
#include "order_book.h"
#include "quote_message.h"
#include "quote_payloads.h"
#include "random.h"
#include "suspensions.h"

namespace sim {

// A continuous-trading session, in milliseconds after midnight.
struct Session {
  int64_t start;
  int64_t end;
};

struct MarketSettings {
  uint64_t seed = 1;
  std::vector<Instrument> instruments = DefaultInstruments();
  std::vector<Session> sessions = {{34200000, 41400000}, {46800000, 54000000}};
  int64_t snapshotIntervalMs = 3000;
  double tradesPerInterval = 4;     // mean, per instrument
  RuleBook rules = DefaultRules();  // the bands prices keep inside
  std::vector<Suspension> suspensions;
};

class MarketGenerator {
 public:
  explicit MarketGenerator(const MarketSettings& settings);

  // Appends the next interval's messages to `out`: trades, then snapshots.
  // The first call gives the opening snapshots. Returns false, appending
  // nothing, once the last session has closed.
  bool NextInterval(std::vector<QuoteMessage>& out);

  // The share of the day's trading time already generated, 0 to 1.
  double Progress() const;

 private:
  struct Day {
    Instrument instrument;
    Random random;
    BookShape shape;
    OrderBook book;
    DayTotals totals;
    double target;  // cents; where buyers and sellers would take the price
    double fair;    // the target inside the limits: where the price is drawn to
    double trend;   // the target's drift per interval, as a log
    int locked;     // +1 at limit-up, -1 at limit-down, else 0
    int64_t tradeLots;
  };
  struct PendingTrade {
    int64_t time;
    size_t day;
    PriceLevel fill;
    bool buy;
  };

  bool Suspended(const Day& day, int64_t time) const;
  void Lock(Day& day);
  void Trade(size_t index, int64_t from, int64_t to);
  void Snapshot(Day& day, int64_t time, std::vector<QuoteMessage>& out);

  MarketSettings settings_;
  std::vector<Day> days_;
  std::vector<PendingTrade> trades_;
  std::vector<PriceLevel> fills_;
  double volatilityPerInterval_;
  size_t session_ = 0;
  int64_t now_ = -1;  // time of the last snapshots, ms; -1 before the opening
  int64_t tradingMsDone_ = 0;
  int64_t tradingMsTotal_ = 0;
};

}  // namespace sim

#endif  // VELTRANE_SIM_MARKET_GENERATOR_H

// market_generator.h: a deterministic trading day for a list of instruments.
//
// The day is cut into snapshot intervals. Each interval's trades come first,
// in time order across instruments, then one snapshot per instrument at the
// interval's end. The same settings give the same messages, byte for byte.
//
// With auctions (trading_day.h), orders gather in a call auction from 09:15,
// whose snapshots publish its indicative uncross as the exchanges' feeds do:
// bid 1 and ask 1 both at the indicative price with the matched volume, and
// a second level at that price on the side left with unmatched volume (while
// nothing crosses, the best buy and sell of the auction stand as level 1).
// The auction's last snapshot comes one interval before its end, and no
// order joins after it. At 09:25 it uncrosses: its trades print at one price (BuySellFlag 0, as
// neither side took the other) and the book for continuous trading opens
// around it. The closing call takes the book as it stands at 14:57, gathers
// orders until 15:00 and uncrosses; the last snapshot shows what it left.

#ifndef VELTRANE_SIM_MARKET_GENERATOR_H
#define VELTRANE_SIM_MARKET_GENERATOR_H

#include <cstdint>
#include <string>
#include <vector>

#include "boards.h"
#include "call_auction.h"
#include "instruments.h"
#include "order_book.h"
#include "quote_message.h"
#include "quote_payloads.h"
#include "random.h"
#include "suspensions.h"
#include "trading_day.h"

namespace sim {

struct MarketSettings {
  uint64_t seed = 1;
  std::vector<Instrument> instruments = DefaultInstruments();
  std::vector<Session> sessions = {{34200000, 41400000}, {46800000, 54000000}};
  int64_t snapshotIntervalMs = 3000;
  double tradesPerInterval = 4;     // mean, per instrument
  RuleBook rules = DefaultRules();  // the bands prices keep inside
  std::vector<Suspension> suspensions;
  bool auctions = true;  // the opening and closing call auctions

  TradingDay Schedule() const { return {sessions, auctions}; }
};

// Told of every resting order a trade takes part of, on the generator's
// thread: the truth that a queue model can be checked against.
class QueueWatch {
 public:
  virtual ~QueueWatch() = default;
  // `bid` for a buy order taken by a seller.
  virtual void OnTaken(const std::string& code, int64_t time, bool bid,
                       const TakenOrder& taken) = 0;
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

  // Tells `watch` (null: nobody) of what each trade takes from each order.
  void Watch(QueueWatch* watch) { watch_ = watch; }
  // The number of the last order in the queue of `code` at `price` as the
  // last snapshots show it; 0 if none.
  uint64_t NewestOrderAt(const std::string& code, bool bid, int64_t price) const;

 private:
  struct Day {
    Instrument instrument;
    Random random;
    BookShape shape;
    OrderBook book;
    CallAuction call;
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
    bool auction;  // an uncross's: neither side took the other
  };
  // A stretch of continuous trading, or a call auction that uncrosses at its end.
  struct Segment {
    int64_t start;
    int64_t end;
    bool call;
  };

  bool Suspended(const Day& day, int64_t time) const;
  void Lock(Day& day);
  void Continuous(int64_t from, int64_t to, std::vector<QuoteMessage>& out);
  void Call(int64_t from, int64_t to, bool uncross, std::vector<QuoteMessage>& out);
  void Gather(Day& day, int64_t from, int64_t to);
  void Trade(size_t index, int64_t from, int64_t to);
  void EmitTrades(std::vector<QuoteMessage>& out);
  // The book's snapshot, tagged with `phase`.
  void Snapshot(Day& day, int64_t time, Phase phase, std::vector<QuoteMessage>& out);
  // A snapshot of the day's totals with these levels, tagged with `phase`.
  void EmitSnapshot(const Day& day, int64_t time, const std::vector<PriceLevel>& bids,
                    const std::vector<PriceLevel>& asks, Phase phase,
                    std::vector<QuoteMessage>& out);
  void CallSnapshot(Day& day, int64_t time, std::vector<QuoteMessage>& out);

  MarketSettings settings_;
  TradingDay schedule_;
  std::vector<Segment> segments_;
  std::vector<Day> days_;
  std::vector<PendingTrade> trades_;
  std::vector<PriceLevel> fills_;
  std::vector<TakenOrder> taken_;
  QueueWatch* watch_ = nullptr;
  double volatilityPerInterval_;
  size_t segment_ = 0;
  int64_t now_ = -1;  // time of the last snapshots, ms; -1 before a segment
  int64_t tradingMsDone_ = 0;
  int64_t tradingMsTotal_ = 0;
};

}  // namespace sim

#endif  // VELTRANE_SIM_MARKET_GENERATOR_H

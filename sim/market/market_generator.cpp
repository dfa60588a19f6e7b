// The simulated trading day: prices follow a random fair value, trades take
// the book, snapshots show it.

#include "market_generator.h"

#include <algorithm>
#include <cmath>

namespace sim {
namespace {

constexpr double kDailyVolatility = 0.02;
// One instrument-day in ten trends toward a limit and reaches it, so that a
// day now and then ends locked at limit-up or limit-down.
constexpr double kTrendDayShare = 0.1;
constexpr double kTrendOfBand = 1.5;
// The move a trend day aims at when the instrument has no limit.
constexpr double kUnlimitedTrend = 0.2;

// Dearer stocks rest fewer lots at wider gaps, as on the exchanges: a level
// holds about 3,000 currency units' worth of lots a hundred times over.
BookShape ShapeOf(const Instrument& instrument, const RuleBook& rules) {
  int64_t price = instrument.previousClose;
  int64_t gap = price < 2000 ? 1 : price < 10000 ? 2 : price < 50000 ? 5 : 20;
  PriceBand band = BandOf(ListingOf(instrument), price, rules);
  return {band.lower, band.upper, gap, std::max<int64_t>(2, 300000 / price)};
}

// The drift per interval of the day's fair value: none on most days. Drawn
// from a stream of its own, so the other days stay as they were.
double TrendOf(const Instrument& instrument, const RuleBook& rules, uint64_t seed,
               double intervals) {
  Random random(SeedFor(seed, instrument.code + "/trend"));
  if (!random.Chance(kTrendDayShare)) return 0;
  const BoardRules& board = rules.Of(BoardOfCode(instrument.code));
  double band = instrument.newListing
                    ? kUnlimitedTrend
                    : static_cast<double>(instrument.st ? board.stLimitPct : board.limitPct) / 100;
  double move = std::log1p(kTrendOfBand * band);
  return (random.Chance(0.5) ? move : -move) / intervals;
}

}  // namespace

MarketGenerator::MarketGenerator(const MarketSettings& settings) : settings_(settings) {
  for (const Session& session : settings_.sessions) tradingMsTotal_ += session.end - session.start;
  double intervals = std::max(1.0, static_cast<double>(tradingMsTotal_) /
                                       static_cast<double>(settings_.snapshotIntervalMs));
  volatilityPerInterval_ = kDailyVolatility / std::sqrt(intervals);
  for (const Instrument& instrument : settings_.instruments) {
    Day day{instrument,
            Random(SeedFor(settings_.seed, instrument.code)),
            ShapeOf(instrument, settings_.rules),
            {},
            {},
            0,
            0,
            TrendOf(instrument, settings_.rules, settings_.seed, intervals),
            0,
            std::max<int64_t>(1, 30000 / instrument.previousClose)};
    day.totals.previousClose = instrument.previousClose;
    // The opening gap: a fair value within about half a percent of the close.
    day.target =
        static_cast<double>(instrument.previousClose) * (1.0 + 0.005 * day.random.Normal());
    day.fair = std::clamp(day.target, static_cast<double>(day.shape.lowerLimit),
                          static_cast<double>(day.shape.upperLimit));
    day.book.Open(day.random, std::llround(day.fair), day.shape);
    days_.push_back(std::move(day));
  }
}

double MarketGenerator::Progress() const {
  return tradingMsTotal_ == 0
             ? 1.0
             : static_cast<double>(tradingMsDone_) / static_cast<double>(tradingMsTotal_);
}

bool MarketGenerator::NextInterval(std::vector<QuoteMessage>& out) {
  if (session_ >= settings_.sessions.size()) return false;
  const Session& session = settings_.sessions[session_];
  if (now_ < 0) {
    now_ = session.start;
  } else {
    int64_t from = now_;
    now_ = std::min(now_ + settings_.snapshotIntervalMs, session.end);
    tradingMsDone_ += now_ - from;
    trades_.clear();
    for (size_t i = 0; i < days_.size(); ++i) {
      if (!Suspended(days_[i], from)) Trade(i, from, now_);
    }
    std::stable_sort(trades_.begin(), trades_.end(),
                     [](const PendingTrade& a, const PendingTrade& b) { return a.time < b.time; });
    for (const PendingTrade& trade : trades_) {
      const Instrument& instrument = days_[trade.day].instrument;
      QuoteMessage& message = out.emplace_back();
      message.typeName = TradeTypeName(instrument.exchange);
      message.time = ExchangeTime(trade.time);
      message.code = instrument.code;
      message.kind = kTrades;
      EncodeTrade(instrument, message.time, trade.fill, trade.buy, message.payload);
    }
    for (Day& day : days_) {
      // A suspended instrument's book stands still: its snapshots repeat it.
      if (Suspended(day, from)) continue;
      day.target *= std::exp(volatilityPerInterval_ * day.random.Normal() + day.trend);
      day.fair = std::clamp(day.target, static_cast<double>(day.shape.lowerLimit),
                            static_cast<double>(day.shape.upperLimit));
      Lock(day);
      day.book.Evolve(day.random, std::llround(day.fair), day.shape);
    }
  }
  for (Day& day : days_) Snapshot(day, ExchangeTime(now_), out);
  if (now_ >= session.end) {
    ++session_;
    now_ = -1;
  }
  return true;
}

// A target beyond a limit locks the book there until it comes back inside.
void MarketGenerator::Lock(Day& day) {
  int wanted = day.target >= static_cast<double>(day.shape.upperLimit)   ? 1
               : day.target <= static_cast<double>(day.shape.lowerLimit) ? -1
                                                                         : 0;
  if (wanted == day.locked) return;
  if (day.locked != 0) day.book.Unlock(day.locked > 0, day.shape);
  if (wanted != 0) day.book.Lock(day.random, wanted > 0, day.shape);
  day.locked = wanted;
}

bool MarketGenerator::Suspended(const Day& day, int64_t time) const {
  return IsSuspended(settings_.suspensions, day.instrument.code, time);
}

// Market orders of one instrument at random times strictly inside the
// interval. Buys grow likelier as the price falls below the fair value.
void MarketGenerator::Trade(size_t index, int64_t from, int64_t to) {
  Day& day = days_[index];
  if (to - from < 2) return;
  double share = static_cast<double>(to - from) / static_cast<double>(settings_.snapshotIntervalMs);
  int64_t count = day.random.Poisson(settings_.tradesPerInterval * share);
  std::vector<int64_t> times;
  for (int64_t i = 0; i < count; ++i) times.push_back(day.random.Between(from + 1, to - 1));
  std::sort(times.begin(), times.end());
  for (int64_t time : times) {
    const auto& bids = day.book.bids();
    const auto& asks = day.book.asks();
    double mid = bids.empty() ? static_cast<double>(asks.empty() ? 0 : asks.front().price)
                 : asks.empty()
                     ? static_cast<double>(bids.front().price)
                     : 0.5 * static_cast<double>(bids.front().price + asks.front().price);
    double lean = mid > 0 ? std::clamp((day.fair - mid) / (mid * 0.002), -1.0, 1.0) : 0.0;
    bool buy = day.random.Chance(0.5 + 0.35 * lean);
    int64_t lots = 1 + day.random.Geometric(1.0 / static_cast<double>(day.tradeLots));
    if (day.random.Chance(0.05)) lots *= 5;  // now and then an order that sweeps levels
    fills_.clear();
    day.book.Take(buy, lots * 100, fills_);
    for (const PriceLevel& fill : fills_) {
      day.totals.Add(fill);
      trades_.push_back({time, index, fill, buy});
    }
  }
}

void MarketGenerator::Snapshot(Day& day, int64_t time, std::vector<QuoteMessage>& out) {
  QuoteMessage& message = out.emplace_back();
  message.typeName = SnapshotTypeName(day.instrument.exchange);
  message.time = time;
  message.code = day.instrument.code;
  message.kind = kSnapshots;
  EncodeSnapshot(day.instrument, time, day.totals, day.book, message.payload);
}

}  // namespace sim

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

MarketGenerator::MarketGenerator(const MarketSettings& settings)
    : settings_(settings), schedule_(settings.Schedule()) {
  int64_t continuousMs = 0;
  if (schedule_.auctions) {
    segments_.push_back({schedule_.OpeningCallStart(), schedule_.OpeningUncross(), true});
  }
  for (size_t i = 0; i < settings_.sessions.size(); ++i) {
    Session session = settings_.sessions[i];
    bool last = i + 1 == settings_.sessions.size();
    if (last && schedule_.auctions) session.end = schedule_.ClosingCallStart();
    if (session.end > session.start) segments_.push_back({session.start, session.end, false});
    continuousMs += session.end - session.start;
  }
  if (schedule_.auctions) {
    segments_.push_back({schedule_.ClosingCallStart(), schedule_.Closes(), true});
  }
  for (const Segment& segment : segments_) tradingMsTotal_ += segment.end - segment.start;
  double intervals = std::max(
      1.0, static_cast<double>(continuousMs) / static_cast<double>(settings_.snapshotIntervalMs));
  volatilityPerInterval_ = kDailyVolatility / std::sqrt(intervals);
  for (const Instrument& instrument : settings_.instruments) {
    Day day{instrument,
            Random(SeedFor(settings_.seed, instrument.code)),
            ShapeOf(instrument, settings_.rules),
            {},
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

uint64_t MarketGenerator::NewestOrderAt(const std::string& code, bool bid, int64_t price) const {
  for (const Day& day : days_) {
    if (day.instrument.code == code) return day.book.NewestAt(bid, price);
  }
  return 0;
}

bool MarketGenerator::NextInterval(std::vector<QuoteMessage>& out) {
  if (segment_ >= segments_.size()) return false;
  const Segment& segment = segments_[segment_];
  bool follows = segment_ > 0 && segments_[segment_ - 1].end == segment.start;
  if (now_ < 0) {
    now_ = segment.start;
    if (segment.call) {
      // The closing call takes the book as it stands; the opening one starts empty.
      bool closing = segment.end == schedule_.Closes();
      for (Day& day : days_) {
        day.call.Clear();
        if (!closing) continue;
        for (const PriceLevel& level : day.book.bids())
          day.call.Add(true, level.price, level.volume);
        for (const PriceLevel& level : day.book.asks())
          day.call.Add(false, level.price, level.volume);
      }
    }
    // Where one segment follows another, the snapshots of its start are the
    // last of the one before.
    if (!follows) {
      for (Day& day : days_) {
        if (segment.call) {
          CallSnapshot(day, ExchangeTime(now_), out);
        } else {
          Snapshot(day, ExchangeTime(now_), Phase::kContinuous, out);
        }
      }
      return true;
    }
  }
  int64_t from = now_;
  now_ = std::min(now_ + settings_.snapshotIntervalMs, segment.end);
  tradingMsDone_ += now_ - from;
  if (segment.call) {
    Call(from, now_, now_ >= segment.end, out);
  } else {
    Continuous(from, now_, out);
  }
  if (now_ >= segment.end) {
    ++segment_;
    now_ = -1;
  }
  return true;
}

void MarketGenerator::Continuous(int64_t from, int64_t to, std::vector<QuoteMessage>& out) {
  trades_.clear();
  for (size_t i = 0; i < days_.size(); ++i) {
    if (!Suspended(days_[i], from)) Trade(i, from, to);
  }
  EmitTrades(out);
  for (Day& day : days_) {
    // A suspended instrument's book stands still: its snapshots repeat it.
    if (Suspended(day, from)) continue;
    day.target *= std::exp(volatilityPerInterval_ * day.random.Normal() + day.trend);
    day.fair = std::clamp(day.target, static_cast<double>(day.shape.lowerLimit),
                          static_cast<double>(day.shape.upperLimit));
    Lock(day);
    day.book.Evolve(day.random, std::llround(day.fair), day.shape);
  }
  for (Day& day : days_) Snapshot(day, ExchangeTime(to), Phase::kContinuous, out);
}

void MarketGenerator::EmitTrades(std::vector<QuoteMessage>& out) {
  std::stable_sort(trades_.begin(), trades_.end(),
                   [](const PendingTrade& a, const PendingTrade& b) { return a.time < b.time; });
  for (const PendingTrade& trade : trades_) {
    const Instrument& instrument = days_[trade.day].instrument;
    QuoteMessage& message = out.emplace_back();
    message.typeName = TradeTypeName(instrument.exchange);
    message.time = ExchangeTime(trade.time);
    message.code = instrument.code;
    message.kind = kTrades;
    EncodeTrade(instrument, message.time, trade.fill,
                trade.buy       ? 1
                : trade.auction ? 0
                                : 2,
                message.payload);
  }
}

// An interval of a call auction: orders gather (and, while cancels are
// taken, some leave); at its end the auction uncrosses.
void MarketGenerator::Call(int64_t from, int64_t to, bool uncross, std::vector<QuoteMessage>& out) {
  // The last snapshot before the uncross shows the auction as it uncrosses.
  if (!uncross) {
    for (Day& day : days_) {
      if (!Suspended(day, from)) Gather(day, from, to);
    }
    for (Day& day : days_) CallSnapshot(day, ExchangeTime(to), out);
    return;
  }
  trades_.clear();
  for (size_t i = 0; i < days_.size(); ++i) {
    Day& day = days_[i];
    if (Suspended(day, from)) continue;
    Uncross result = day.call.Indicative(day.totals.previousClose, day.instrument.exchange);
    fills_.clear();
    day.call.Match(result, fills_);
    for (const PriceLevel& fill : fills_) {
      day.totals.Add(fill);
      trades_.push_back({to, i, fill, false, true});
    }
    // After the opening uncross, continuous trading opens around its price.
    if (to < schedule_.Closes()) {
      day.book.Open(day.random, result.price > 0 ? result.price : std::llround(day.fair),
                    day.shape);
    }
  }
  EmitTrades(out);
  for (Day& day : days_) {
    if (to < schedule_.Closes() || Suspended(day, from)) {
      Snapshot(day, ExchangeTime(to), schedule_.PhaseAt(to), out);
      continue;
    }
    EmitSnapshot(day, ExchangeTime(to), day.call.buys(), day.call.sells(), Phase::kClosed, out);
  }
}

// Limit orders of one instrument for the auction, around its fair value and
// inside its limits, sized as its trades are.
void MarketGenerator::Gather(Day& day, int64_t from, int64_t to) {
  double share = static_cast<double>(to - from) / static_cast<double>(settings_.snapshotIntervalMs);
  int64_t count = day.random.Poisson(settings_.tradesPerInterval * share);
  for (int64_t i = 0; i < count; ++i) {
    bool buy = day.random.Chance(0.5);
    double offset = 0.004 * day.random.Normal();
    int64_t price = std::clamp<int64_t>(std::llround(day.fair * (1.0 + offset)),
                                        day.shape.lowerLimit, day.shape.upperLimit);
    int64_t lots = 1 + day.random.Geometric(1.0 / static_cast<double>(day.tradeLots));
    day.call.Add(buy, price, lots * 100);
  }
  if (!TakesCancels(schedule_.PhaseAt(from)) || !day.random.Chance(0.2)) return;
  bool buy = day.random.Chance(0.5);
  const std::vector<PriceLevel>& side = buy ? day.call.buys() : day.call.sells();
  if (side.empty()) return;
  const PriceLevel& level =
      side[static_cast<size_t>(day.random.Between(0, static_cast<int64_t>(side.size()) - 1))];
  day.call.Cancel(buy, level.price,
                  100 * day.random.Between(1, std::max<int64_t>(1, level.volume / 100)));
}

void MarketGenerator::CallSnapshot(Day& day, int64_t time, std::vector<QuoteMessage>& out) {
  Phase phase = schedule_.PhaseAt(MillisecondsOfDay(time));
  if (Suspended(day, MillisecondsOfDay(time))) return Snapshot(day, time, phase, out);
  Uncross result = day.call.Indicative(day.totals.previousClose, day.instrument.exchange);
  std::vector<PriceLevel> bids;
  std::vector<PriceLevel> asks;
  if (result.volume > 0) {
    ShowUncross(result, bids, asks);
  } else {
    if (!day.call.buys().empty()) bids.push_back(day.call.buys().front());
    if (!day.call.sells().empty()) asks.push_back(day.call.sells().front());
  }
  EmitSnapshot(day, time, bids, asks, phase, out);
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
    auto bid = static_cast<double>(day.book.Best(true));
    auto ask = static_cast<double>(day.book.Best(false));
    double mid = bid == 0 ? ask : ask == 0 ? bid : 0.5 * (bid + ask);
    double lean = mid > 0 ? std::clamp((day.fair - mid) / (mid * 0.002), -1.0, 1.0) : 0.0;
    bool buy = day.random.Chance(0.5 + 0.35 * lean);
    int64_t lots = 1 + day.random.Geometric(1.0 / static_cast<double>(day.tradeLots));
    if (day.random.Chance(0.05)) lots *= 5;  // now and then an order that sweeps levels
    fills_.clear();
    taken_.clear();
    day.book.Take(buy, lots * 100, fills_, watch_ != nullptr ? &taken_ : nullptr);
    for (const PriceLevel& fill : fills_) {
      day.totals.Add(fill);
      trades_.push_back({time, index, fill, buy, false});
    }
    for (const TakenOrder& taken : taken_) {
      watch_->OnTaken(day.instrument.code, ExchangeTime(time), !buy, taken);
    }
  }
}

void MarketGenerator::Snapshot(Day& day, int64_t time, Phase phase,
                               std::vector<QuoteMessage>& out) {
  EmitSnapshot(day, time, day.book.bids(), day.book.asks(), phase, out);
}

void MarketGenerator::EmitSnapshot(const Day& day, int64_t time,
                                   const std::vector<PriceLevel>& bids,
                                   const std::vector<PriceLevel>& asks, Phase phase,
                                   std::vector<QuoteMessage>& out) {
  QuoteMessage& message = out.emplace_back();
  message.typeName = SnapshotTypeName(day.instrument.exchange);
  message.time = time;
  message.code = day.instrument.code;
  message.kind = kSnapshots;
  EncodeSnapshot(day.instrument, time, day.totals, bids, asks, PhaseTag(phase), message.payload);
}

}  // namespace sim

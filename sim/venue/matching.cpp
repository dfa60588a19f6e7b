// The venue's matching: the market's messages kept per code, the account's
// orders entering the book (at once, when continuous trading starts, or when
// the price cage lets them), taking it, queueing at their price, filled by
// later snapshots and trades, and filled at the call auctions' uncross.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "payload_fields.h"
#include "venue.h"

namespace sim {

namespace {

// Shares the side shows at `price`; `within` is cleared when the price is
// beyond the side's last level, where the book shows nothing either way.
int64_t ShownAt(const std::vector<PriceLevel>& side, bool bids, int64_t price, bool& within) {
  within = !side.empty() && (bids ? price >= side.back().price : price <= side.back().price);
  for (const PriceLevel& level : side) {
    if (level.price == price) return level.volume;
  }
  return 0;
}

int64_t BestWithVolume(const std::vector<PriceLevel>& side) {
  for (const PriceLevel& level : side) {
    if (level.volume > 0) return level.price;
  }
  return 0;
}

}  // namespace

CageReference Venue::ReferenceOf(const Market& market) const {
  return {BestWithVolume(market.bids), BestWithVolume(market.asks), market.mark,
          market.previousClose};
}

// The order takes what the book offers, and what is left joins the queue at
// its price behind the volume shown there.
void Venue::EnterBook(size_t index) {
  Order& order = orders_[index];
  order.stage = Stage::kBook;
  TakeBook(index, false);
  if (order.traded < order.quantity) JoinQueue(order, markets_[order.security]);
}

// Beyond the levels the book shows, what is ahead is not known: as much as
// could be, until a snapshot shows the price.
void Venue::JoinQueue(Order& order, const Market& market) {
  bool within = false;
  int64_t shown = ShownAt(order.buy ? market.bids : market.asks, order.buy, order.price, within);
  order.ahead = within ? shown : INT64_MAX;
}

// Orders that waited for continuous trading enter the book, in arrival
// order, once it has begun; so do those of an opening call whose uncross the
// market never showed.
void Venue::ReleaseWaiting() {
  if (!waitingOrders_ || PhaseNow() != Phase::kContinuous) return;
  waitingOrders_ = false;
  std::vector<size_t> due;
  for (size_t index = 0; index < orders_.size(); ++index) {
    const Order& order = orders_[index];
    if (Working(order) && (order.stage == Stage::kWaiting || order.stage == Stage::kCall)) {
      due.push_back(index);
    }
  }
  for (size_t index : due) {
    Order& order = orders_[index];
    const Market& market = markets_[order.security];
    if (OutsideCage(market_.rules.Of(market.listing.board), order.buy, order.price,
                    ReferenceOf(market))
            .empty()) {
      EnterBook(index);
    } else {
      order.stage = Stage::kCaged;
    }
  }
}

// Held orders of the market's code that it has come within reach of enter
// the book, in arrival order.
void Venue::ReleaseCaged(const Market& market) {
  CageReference reference = ReferenceOf(market);
  const BoardRules& rules = market_.rules.Of(market.listing.board);
  std::vector<size_t> due;
  for (size_t index : market.working) {
    const Order& order = orders_[index];
    if (order.stage == Stage::kCaged &&
        OutsideCage(rules, order.buy, order.price, reference).empty()) {
      due.push_back(index);
    }
  }
  for (size_t index : due) EnterBook(index);
}

void Venue::TakeBook(size_t index, bool atOwnPrice) {
  Order& order = orders_[index];
  Market& market = markets_[order.security];
  for (PriceLevel& level : order.buy ? market.asks : market.bids) {
    if (order.traded == order.quantity) break;
    if (order.buy ? level.price > order.price : level.price < order.price) break;
    int64_t taken = std::min(level.volume, order.quantity - order.traded);
    if (taken == 0) continue;
    level.volume -= taken;
    Fill(index, atOwnPrice ? order.price : level.price, taken);
  }
}

void Venue::OnMarket(const QuoteMessage& message) {
  clock_ = message.time;
  // Before a login no order can be affected; the next snapshot brings the book.
  if (!loggedIn_ || message.code.empty()) return;
  EnterPhase();
  // A suspended instrument's book stands as it was: nothing trades.
  if (IsSuspended(market_.suspensions, message.code, MillisecondsOfDay(message.time))) return;
  auto found = markets_.find(message.code);
  if (found == markets_.end()) {
    // A tape's codes become known with their first snapshot.
    if (FindSnapshotLayout(message.typeName) == nullptr) return;
    found = markets_.emplace(message.code, Market{}).first;
    found->second.listing.board = BoardOfCode(message.code);
    for (const Instrument& marked : market_.marks) {
      if (marked.code == message.code) found->second.listing = ListingOf(marked);
    }
  }
  Market& market = found->second;
  if (!market.followed) {
    Remember(market, message);
  } else {
    Apply(market, message);
  }
  // Orders that waited meet the book as the message left it.
  ReleaseWaiting();
}

void Venue::Apply(Market& market, const QuoteMessage& message) {
  // After a call auction's end, until continuous trading or for good, the
  // market's trades are the uncross; its next snapshot shows it done.
  Phase phase = PhaseNow();
  bool uncrossing = phase == Phase::kOpeningWait || phase == Phase::kClosed;
  if (TradeView trade; message.kind == kSnapshots) {
    if (uncrossing) MeetUncross(market);
    ApplySnapshot(market, message.typeName, message.payload);
  } else if (ReadTrade(message.typeName, message.payload, trade)) {
    if (uncrossing) {
      market.printedPrice = trade.price;
      market.printedVolume += trade.volume;
    }
    ApplyTrade(market, trade);
  }
}

void Venue::EnterPhase() {
  Phase phase = PhaseNow();
  if (phase != phase_) {
    phase_ = phase;
    // Orders still working when continuous trading ends join the closing call.
    if (phase == Phase::kClosingCall) {
      for (Order& order : orders_) {
        if (Working(order) && (order.stage == Stage::kBook || order.stage == Stage::kCaged)) {
          order.stage = Stage::kCall;
        }
      }
    }
  }
}

// The account's call orders of the market meet the uncross it printed, best
// limit first and then in arrival order, at the uncross price: together at
// most the matched volume and what the last auction snapshot showed left
// unmatched on the other side at that price; an order at exactly the price
// only from what was left unmatched, since the market's orders there came
// before it.
void Venue::MeetUncross(Market& market) {
  int64_t price = market.printedVolume > 0 ? market.printedPrice : 0;
  int64_t matched = market.printedVolume;
  Uncross published = market.published;
  market.printedPrice = 0;
  market.printedVolume = 0;
  market.published = {};
  std::vector<size_t> buys;
  std::vector<size_t> sells;
  for (size_t index : market.working) {
    if (orders_[index].stage == Stage::kCall) (orders_[index].buy ? buys : sells).push_back(index);
  }
  for (std::vector<size_t>* side : {&buys, &sells}) {
    bool buy = side == &buys;
    std::stable_sort(side->begin(), side->end(), [&](size_t a, size_t b) {
      return buy ? orders_[a].price > orders_[b].price : orders_[a].price < orders_[b].price;
    });
    int64_t unmatched =
        published.price == price ? (buy ? published.sellSurplus : published.buySurplus) : 0;
    int64_t pool = matched + unmatched;
    for (size_t index : *side) {
      Order& order = orders_[index];
      if (price == 0 || (buy ? order.price < price : order.price > price)) break;
      bool atPrice = order.price == price;
      int64_t filled =
          std::min(atPrice ? std::min(pool, unmatched) : pool, order.quantity - order.traded);
      pool -= filled;
      if (atPrice) unmatched -= filled;
      unmatched = std::min(unmatched, pool);
      if (filled > 0) Fill(index, price, filled);
    }
  }
  // What the opening call leaves waits for continuous trading; what the
  // closing call leaves expires at the close.
  if (MillisecondsOfDay(clock_) >= market_.day.Closes()) return;
  for (size_t index : market.working) {
    if (orders_[index].stage == Stage::kCall) {
      orders_[index].stage = Stage::kWaiting;
      waitingOrders_ = true;
    }
  }
}

// Until the account first trades a code, its messages are only kept as they
// came: the last snapshot and the trades since. Reading them is left to
// Follow, so a code nobody trades costs a copy per message.
void Venue::Remember(Market& market, const QuoteMessage& message) {
  if (message.kind == kSnapshots) {
    if (FindSnapshotLayout(message.typeName) == nullptr) return;
    market.snapshotType = message.typeName;
    market.snapshot = message.payload;
    market.trades.clear();
  } else if (FindTradeLayout(message.typeName) != nullptr) {
    market.tradeType = message.typeName;
    auto length = static_cast<uint32_t>(message.payload.size());
    market.trades.append(reinterpret_cast<const char*>(&length), sizeof length);
    market.trades.append(message.payload);
  }
}

void Venue::Follow(Market& market) {
  market.followed = true;
  if (!market.snapshot.empty()) ApplySnapshot(market, market.snapshotType, market.snapshot);
  for (size_t at = 0; at + sizeof(uint32_t) <= market.trades.size();) {
    uint32_t length = 0;
    std::memcpy(&length, market.trades.data() + at, sizeof length);
    at += sizeof length;
    TradeView trade;
    if (ReadTrade(market.tradeType, std::string_view(market.trades).substr(at, length), trade)) {
      ApplyTrade(market, trade);
    }
    at += length;
  }
  market.snapshot.clear();
  market.snapshot.shrink_to_fit();
  market.trades.clear();
  market.trades.shrink_to_fit();
}

void Venue::ApplySnapshot(Market& market, std::string_view typeName, std::string_view payload) {
  SnapshotView snapshot;
  if (!ReadSnapshot(typeName, payload, snapshot)) return;
  if (snapshot.previousClose > 0) market.previousClose = snapshot.previousClose;
  if (snapshot.last > 0) market.mark = snapshot.last;
  std::vector<PriceLevel> bidsBefore = std::move(market.bids);
  std::vector<PriceLevel> asksBefore = std::move(market.asks);
  market.bids = std::move(snapshot.bids);
  market.asks = std::move(snapshot.asks);
  if (EntryIn(PhaseNow()) == Entry::kCall) {
    market.published = ShownUncross(market.bids, market.asks);
    return;
  }
  // Best-priced first, then in arrival order, each resting order takes what
  // the new book offers at or through its price, at its own price.
  std::vector<size_t> crossed;
  for (size_t index : market.working) {
    if (orders_[index].stage == Stage::kBook) crossed.push_back(index);
  }
  std::stable_sort(crossed.begin(), crossed.end(), [&](size_t a, size_t b) {
    const Order& x = orders_[a];
    const Order& y = orders_[b];
    if (x.buy != y.buy) return x.buy;
    return x.buy ? x.price > y.price : x.price < y.price;
  });
  for (size_t index : crossed) TakeBook(index, true);
  // Volume at an order's price that fell without trades moves it up as the
  // queue model says; what is ahead is never more than the book shows.
  const QueueModel& model = QueueModelOf(settings_.queueModel);
  for (size_t index : market.working) {
    Order& order = orders_[index];
    if (order.stage != Stage::kBook) continue;
    bool was = false;
    bool within = false;
    int64_t before = ShownAt(order.buy ? bidsBefore : asksBefore, order.buy, order.price, was);
    int64_t shown = ShownAt(order.buy ? market.bids : market.asks, order.buy, order.price, within);
    if (!within) continue;
    if (was && shown < before) order.ahead = model.AfterCancels(order.ahead, before, shown);
    order.ahead = std::min(order.ahead, shown);
  }
  ReleaseCaged(market);
}

void Venue::ApplyTrade(Market& market, const TradeView& trade) {
  market.mark = trade.price;
  for (PriceLevel& level : trade.buy ? market.asks : market.bids) {
    if (level.price == trade.price) level.volume -= std::min(level.volume, trade.volume);
  }
  // A trade strictly through a resting order's price would have met it
  // first: a buyer taking asks above a resting sell, a seller hitting bids
  // below a resting buy.
  std::vector<size_t> crossed;
  for (size_t index : market.working) {
    const Order& order = orders_[index];
    if (order.stage == Stage::kBook && order.buy != trade.buy &&
        (order.buy ? order.price > trade.price : order.price < trade.price)) {
      crossed.push_back(index);
    }
  }
  std::stable_sort(crossed.begin(), crossed.end(), [&](size_t a, size_t b) {
    return orders_[a].buy ? orders_[a].price > orders_[b].price
                          : orders_[a].price < orders_[b].price;
  });
  int64_t volume = trade.volume;
  for (size_t index : crossed) {
    Order& order = orders_[index];
    int64_t filled = std::min(volume, order.quantity - order.traded);
    if (filled == 0) break;
    volume -= filled;
    Fill(index, order.price, filled);
  }
  TradeAtPrice(market, trade, volume);
}

// A trade at a resting order's price on its side first uses up the volume
// ahead of it; what it trades beyond that fills the order. The account's
// orders at that price stand in arrival order, each behind the ones before
// it, so what the earlier ones take of the trade is not there for the later:
// no share of a trade fills two orders.
void Venue::TradeAtPrice(const Market& market, const TradeView& trade, int64_t volume) {
  int64_t taken = 0;  // by the account's orders before this one
  std::vector<size_t> queued;
  for (size_t index : market.working) {
    const Order& order = orders_[index];
    if (order.stage == Stage::kBook && order.buy != trade.buy && order.price == trade.price) {
      queued.push_back(index);
    }
  }
  for (size_t index : queued) {
    Order& order = orders_[index];
    int64_t passed = std::min(order.ahead, volume);
    order.ahead -= passed;
    int64_t filled = std::min(volume - passed - taken, order.quantity - order.traded);
    if (filled <= 0) continue;
    taken += filled;
    Fill(index, order.price, filled);
  }
}

void Venue::OnClose() {
  // A closing uncross the market printed but did not show done; meeting it
  // clears what was printed, so each code's is met once.
  for (const Order& order : orders_) {
    if (!Working(order) || order.stage != Stage::kCall) continue;
    Market& market = markets_[order.security];
    if (market.printedVolume > 0) MeetUncross(market);
  }
  closed_ = true;
  for (size_t index = 0; index < orders_.size(); ++index) {
    if (Working(orders_[index])) Finish(index, LIBITG_STATUS_CANCELLED, "expired at the close");
  }
  if (!settings_.reportPath.empty()) WriteAccountReport(settings_.reportPath);
}

}  // namespace sim

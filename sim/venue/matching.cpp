// The venue's matching: the market's messages kept per code, the account's
// orders taking a book when they arrive, and resting orders filled by later
// snapshots and by trades through them.

#include <algorithm>
#include <cstring>

#include "payload_fields.h"
#include "venue.h"

namespace sim {

void Venue::TakeBook(size_t index) {
  Order& order = orders_[index];
  Market& market = markets_[order.security];
  for (PriceLevel& level : order.buy ? market.asks : market.bids) {
    if (order.traded == order.quantity) break;
    if (order.buy ? level.price > order.price : level.price < order.price) break;
    int64_t taken = std::min(level.volume, order.quantity - order.traded);
    if (taken == 0) continue;
    level.volume -= taken;
    Fill(index, level.price, taken);
  }
}

void Venue::OnMarket(const QuoteMessage& message) {
  clock_ = message.time;
  // Before a login no order can be affected; the next snapshot brings the book.
  if (!loggedIn_ || message.code.empty()) return;
  auto found = markets_.find(message.code);
  if (found == markets_.end()) {
    // A tape's codes become known with their first snapshot.
    if (FindSnapshotLayout(message.typeName) == nullptr) return;
    found = markets_.emplace(message.code, Market{}).first;
  }
  Market& market = found->second;
  if (!market.followed) return Remember(market, message);
  TradeView trade;
  if (message.kind == kSnapshots) {
    ApplySnapshot(message.code, market, message.typeName, message.payload);
  } else if (ReadTrade(message.typeName, message.payload, trade)) {
    ApplyTrade(message.code, market, trade);
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

void Venue::Follow(const std::string& code, Market& market) {
  market.followed = true;
  if (!market.snapshot.empty()) ApplySnapshot(code, market, market.snapshotType, market.snapshot);
  for (size_t at = 0; at + sizeof(uint32_t) <= market.trades.size();) {
    uint32_t length = 0;
    std::memcpy(&length, market.trades.data() + at, sizeof length);
    at += sizeof length;
    TradeView trade;
    if (ReadTrade(market.tradeType, std::string_view(market.trades).substr(at, length), trade)) {
      ApplyTrade(code, market, trade);
    }
    at += length;
  }
  market.snapshot.clear();
  market.snapshot.shrink_to_fit();
  market.trades.clear();
  market.trades.shrink_to_fit();
}

void Venue::ApplySnapshot(const std::string& code, Market& market, std::string_view typeName,
                          std::string_view payload) {
  SnapshotView snapshot;
  if (!ReadSnapshot(typeName, payload, snapshot)) return;
  if (snapshot.previousClose > 0) market.previousClose = snapshot.previousClose;
  if (snapshot.last > 0) market.mark = snapshot.last;
  market.bids = std::move(snapshot.bids);
  market.asks = std::move(snapshot.asks);
  // Best-priced first, then in arrival order, each resting order takes what
  // the new book offers at or through its price.
  std::vector<size_t> crossed;
  for (size_t index : resting_) {
    if (orders_[index].security == code) crossed.push_back(index);
  }
  std::stable_sort(crossed.begin(), crossed.end(), [&](size_t a, size_t b) {
    const Order& x = orders_[a];
    const Order& y = orders_[b];
    if (x.buy != y.buy) return x.buy;
    return x.buy ? x.price > y.price : x.price < y.price;
  });
  for (size_t index : crossed) TakeBook(index);
}

void Venue::ApplyTrade(const std::string& code, Market& market, const TradeView& trade) {
  market.mark = trade.price;
  for (PriceLevel& level : trade.buy ? market.asks : market.bids) {
    if (level.price == trade.price) level.volume -= std::min(level.volume, trade.volume);
  }
  // A trade strictly through a resting order's price would have met it
  // first: a buyer taking asks above a resting sell, a seller hitting bids
  // below a resting buy.
  std::vector<size_t> crossed;
  for (size_t index : resting_) {
    const Order& order = orders_[index];
    if (order.security == code && order.buy != trade.buy &&
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
}

void Venue::OnClose() {
  closed_ = true;
  std::vector<size_t> open = resting_;
  for (size_t index : open) Finish(index, LIBITG_STATUS_CANCELLED, "expired at the close");
}

}  // namespace sim

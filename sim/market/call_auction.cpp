// The call auction's uncross price and its matching.

#include "call_auction.h"

#include <algorithm>
#include <cstdlib>

namespace sim {

Uncross FindUncross(const std::vector<PriceLevel>& buys, const std::vector<PriceLevel>& sells,
                    int64_t previousClose, Exchange exchange) {
  std::vector<int64_t> prices;
  for (const PriceLevel& level : buys) prices.push_back(level.price);
  for (const PriceLevel& level : sells) prices.push_back(level.price);
  std::sort(prices.begin(), prices.end());
  prices.erase(std::unique(prices.begin(), prices.end()), prices.end());

  Uncross best;
  int64_t bestSurplus = 0;
  std::vector<int64_t> tied;  // prices as good as the best so far, ascending
  for (int64_t price : prices) {
    int64_t demand = 0;
    int64_t supply = 0;
    for (const PriceLevel& level : buys) demand += level.price >= price ? level.volume : 0;
    for (const PriceLevel& level : sells) supply += level.price <= price ? level.volume : 0;
    int64_t volume = std::min(demand, supply);
    if (volume == 0) continue;
    int64_t surplus = std::abs(demand - supply);
    if (volume > best.volume || (volume == best.volume && surplus < bestSurplus)) {
      best.volume = volume;
      bestSurplus = surplus;
      tied.clear();
    }
    if (volume == best.volume && surplus == bestSurplus) tied.push_back(price);
  }
  if (best.volume == 0) return {};
  if (exchange == Exchange::kShanghai) {
    // The middle of the tied prices, rounded half up to the tick.
    best.price = (tied.front() + tied.back() + 1) / 2;
  } else {
    best.price = tied.front();
    for (int64_t price : tied) {
      if (std::abs(price - previousClose) < std::abs(best.price - previousClose)) {
        best.price = price;
      }
    }
  }
  int64_t demand = 0;
  int64_t supply = 0;
  for (const PriceLevel& level : buys) demand += level.price >= best.price ? level.volume : 0;
  for (const PriceLevel& level : sells) supply += level.price <= best.price ? level.volume : 0;
  best.volume = std::min(demand, supply);
  best.buySurplus = demand - best.volume;
  best.sellSurplus = supply - best.volume;
  return best;
}

void ShowUncross(const Uncross& uncross, std::vector<PriceLevel>& bids,
                 std::vector<PriceLevel>& asks) {
  bids.push_back({uncross.price, uncross.volume});
  asks.push_back({uncross.price, uncross.volume});
  if (uncross.buySurplus > 0) bids.push_back({uncross.price, uncross.buySurplus});
  if (uncross.sellSurplus > 0) asks.push_back({uncross.price, uncross.sellSurplus});
}

Uncross ShownUncross(const std::vector<PriceLevel>& bids, const std::vector<PriceLevel>& asks) {
  Uncross shown;
  if (bids.empty() || asks.empty() || bids[0].price != asks[0].price) return shown;
  shown.price = bids[0].price;
  shown.volume = std::min(bids[0].volume, asks[0].volume);
  if (bids.size() > 1 && bids[1].price == shown.price) shown.buySurplus = bids[1].volume;
  if (asks.size() > 1 && asks[1].price == shown.price) shown.sellSurplus = asks[1].volume;
  return shown;
}

void CallAuction::Clear() {
  buys_.clear();
  sells_.clear();
}

void CallAuction::Add(bool buy, int64_t price, int64_t volume) {
  std::vector<PriceLevel>& side = buy ? buys_ : sells_;
  auto at = std::find_if(side.begin(), side.end(), [&](const PriceLevel& level) {
    return buy ? level.price <= price : level.price >= price;
  });
  if (at != side.end() && at->price == price) {
    at->volume += volume;
  } else {
    side.insert(at, PriceLevel{price, volume});
  }
}

void CallAuction::Cancel(bool buy, int64_t price, int64_t volume) {
  std::vector<PriceLevel>& side = buy ? buys_ : sells_;
  for (auto level = side.begin(); level != side.end(); ++level) {
    if (level->price != price) continue;
    level->volume -= std::min(volume, level->volume);
    if (level->volume == 0) side.erase(level);
    return;
  }
}

void CallAuction::Match(const Uncross& uncross, std::vector<PriceLevel>& fills) {
  int64_t left = uncross.volume;
  auto buy = buys_.begin();
  auto sell = sells_.begin();
  while (left > 0 && buy != buys_.end() && sell != sells_.end()) {
    int64_t volume = std::min({left, buy->volume, sell->volume});
    fills.push_back({uncross.price, volume});
    left -= volume;
    buy->volume -= volume;
    sell->volume -= volume;
    if (buy->volume == 0) ++buy;
    if (sell->volume == 0) ++sell;
  }
  buys_.erase(buys_.begin(), buy);
  sells_.erase(sells_.begin(), sell);
}

}  // namespace sim

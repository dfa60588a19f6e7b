// The simulated limit-order book: takes, cancels, new orders and refills,
// each level a queue of orders.

#include "order_book.h"

#include <algorithm>

namespace sim {
namespace {

constexpr int64_t kLot = 100;

int64_t Lots(Random& random, const BookShape& shape) {
  return kLot * random.Between(1, 2 * shape.levelLots);
}

int64_t Gap(Random& random, const BookShape& shape) { return random.Between(1, shape.widestGap); }

template <class Side>
void DropEmpty(Side& side) {
  side.erase(
      std::remove_if(side.begin(), side.end(), [](const auto& level) { return level.volume <= 0; }),
      side.end());
}

}  // namespace

std::vector<PriceLevel> OrderBook::Shown(const Side& side) {
  std::vector<PriceLevel> levels;
  levels.reserve(side.size());
  for (const Level& level : side) levels.push_back({level.price, level.volume});
  return levels;
}

uint64_t OrderBook::NewestAt(bool bid, int64_t price) const {
  for (const Level& level : bid ? bids_ : asks_) {
    if (level.price == price && !level.queue.empty()) return level.queue.back().order;
  }
  return 0;
}

void OrderBook::Add(bool bid, int64_t price, int64_t volume) {
  Side& side = bid ? bids_ : asks_;
  auto at = std::find_if(side.begin(), side.end(), [&](const Level& level) {
    return bid ? level.price <= price : level.price >= price;
  });
  if (at == side.end() || at->price != price) at = side.insert(at, Level{price, 0, {}});
  at->volume += volume;
  at->queue.push_back({++lastOrder_, volume});
}

void OrderBook::Open(Random& random, int64_t fair, const BookShape& shape) {
  fair = std::clamp(fair, shape.lowerLimit, shape.upperLimit);
  bids_.clear();
  asks_.clear();
  Add(true, fair, Lots(random, shape));
  if (fair < shape.upperLimit) {
    Add(false, std::min(fair + Gap(random, shape), shape.upperLimit), Lots(random, shape));
  }
  Refill(random, fair, shape);
}

void OrderBook::Take(bool buy, int64_t volume, std::vector<PriceLevel>& fills,
                     std::vector<TakenOrder>* taken) {
  for (Level& level : buy ? asks_ : bids_) {
    if (volume <= 0) break;
    int64_t fromLevel = 0;
    auto front = level.queue.begin();
    for (; front != level.queue.end() && volume > 0; ++front) {
      int64_t part = std::min(volume, front->volume);
      front->volume -= part;
      volume -= part;
      fromLevel += part;
      if (taken != nullptr) taken->push_back({level.price, front->order, part});
      if (front->volume > 0) break;
    }
    level.queue.erase(level.queue.begin(), front);
    if (fromLevel == 0) continue;
    level.volume -= fromLevel;
    fills.push_back({level.price, fromLevel});
  }
}

void OrderBook::Evolve(Random& random, int64_t fair, const BookShape& shape) {
  DropEmpty(bids_);
  DropEmpty(asks_);
  Cancel(random, bids_, true, fair);
  Cancel(random, asks_, false, fair);
  Place(random, fair, shape);
  Refill(random, fair, shape);
}

void OrderBook::Lock(Random& random, bool up, const BookShape& shape) {
  constexpr int64_t kQueueOrders = 10;  // the queue at a limit is long
  (up ? asks_ : bids_).clear();
  for (int64_t n = 0; n < kQueueOrders; ++n) {
    Add(up, up ? shape.upperLimit : shape.lowerLimit, Lots(random, shape));
  }
}

void OrderBook::Unlock(bool up, const BookShape& shape) {
  Side& side = up ? bids_ : asks_;
  int64_t limit = up ? shape.upperLimit : shape.lowerLimit;
  side.erase(std::remove_if(side.begin(), side.end(),
                            [limit](const Level& level) { return level.price == limit; }),
             side.end());
}

// Each resting order leaves now and then, wherever it stands in its queue;
// one priced beyond `fair` (a sell below it, a buy above it) is stale and
// soon repriced, which is how the book follows the fair value.
void OrderBook::Cancel(Random& random, Side& side, bool bid, int64_t fair) {
  constexpr double kCancelShare = 0.04;  // of the orders, per interval
  constexpr double kStaleShare = 0.3;
  for (Level& level : side) {
    double share = (bid ? level.price > fair : level.price < fair) ? kStaleShare : kCancelShare;
    auto kept = std::remove_if(level.queue.begin(), level.queue.end(), [&](const Resting& order) {
      if (!random.Chance(share)) return false;
      level.volume -= order.volume;
      return true;
    });
    level.queue.erase(kept, level.queue.end());
  }
  DropEmpty(side);
}

// New orders rest where they do not trade. Inside a wide spread they lean
// toward `fair`, which is how the price follows it; elsewhere they join or
// extend the levels behind the best.
void OrderBook::Place(Random& random, int64_t fair, const BookShape& shape) {
  for (int64_t n = random.Between(1, 6); n > 0; --n) {
    bool bid = random.Chance(0.5);
    int64_t bestBid = bids_.empty() ? shape.lowerLimit - 1 : bids_.front().price;
    int64_t bestAsk = asks_.empty() ? shape.upperLimit + 1 : asks_.front().price;
    int64_t price;
    if (bestAsk - bestBid > 1 && random.Chance(0.6)) {
      int64_t target = std::clamp(fair, bestBid + 1, bestAsk - 1);
      price = bid ? random.Between(bestBid + 1, std::max(bestBid + 1, target))
                  : random.Between(std::min(bestAsk - 1, target), bestAsk - 1);
    } else if (bid) {
      int64_t behind = random.Geometric(0.4) * Gap(random, shape);
      price =
          !bids_.empty() ? bestBid - behind : (asks_.empty() ? fair : bestAsk - Gap(random, shape));
    } else {
      int64_t behind = random.Geometric(0.4) * Gap(random, shape);
      price = !asks_.empty() ? bestAsk + behind
                             : (bids_.empty() ? fair + 1 : bestBid + Gap(random, shape));
    }
    if (price < shape.lowerLimit || price > shape.upperLimit) continue;
    if (bid && price < bestAsk) Add(true, price, Lots(random, shape));
    if (!bid && price > bestBid) Add(false, price, Lots(random, shape));
  }
  if (bids_.size() > kDepth) bids_.resize(kDepth);
  if (asks_.size() > kDepth) asks_.resize(kDepth);
}

// Brings both sides back to ten levels inside the limits. A side that trades
// emptied starts again one gap from the other side (or from `fair`).
void OrderBook::Refill(Random& random, int64_t fair, const BookShape& shape) {
  if (bids_.empty()) {
    int64_t start =
        asks_.empty() ? std::min(fair, shape.upperLimit) : asks_.front().price - Gap(random, shape);
    if (start >= shape.lowerLimit) Add(true, start, Lots(random, shape));
  }
  if (asks_.empty()) {
    int64_t start =
        bids_.empty() ? std::max(fair, shape.lowerLimit) : bids_.front().price + Gap(random, shape);
    if (start <= shape.upperLimit) Add(false, start, Lots(random, shape));
  }
  while (!bids_.empty() && bids_.size() < kDepth) {
    int64_t price = bids_.back().price - Gap(random, shape);
    if (price < shape.lowerLimit) break;
    Add(true, price, Lots(random, shape));
  }
  while (!asks_.empty() && asks_.size() < kDepth) {
    int64_t price = asks_.back().price + Gap(random, shape);
    if (price > shape.upperLimit) break;
    Add(false, price, Lots(random, shape));
  }
}

}  // namespace sim

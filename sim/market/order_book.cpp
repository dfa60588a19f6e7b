// The simulated limit-order book: takes, cancels, new orders and refills.

#include "order_book.h"

#include <algorithm>

namespace sim {
namespace {

constexpr int64_t kLot = 100;

int64_t Lots(Random& random, const BookShape& shape) {
  return kLot * random.Between(1, 2 * shape.levelLots);
}

int64_t Gap(Random& random, const BookShape& shape) { return random.Between(1, shape.widestGap); }

void DropEmpty(std::vector<PriceLevel>& side) {
  side.erase(std::remove_if(side.begin(), side.end(),
                            [](const PriceLevel& level) { return level.volume <= 0; }),
             side.end());
}

// Adds volume at a price of a side kept best first; `better` orders prices.
template <class Better>
void AddAt(std::vector<PriceLevel>& side, int64_t price, int64_t volume, Better better) {
  auto at = std::find_if(side.begin(), side.end(),
                         [&](const PriceLevel& level) { return !better(level.price, price); });
  if (at != side.end() && at->price == price) {
    at->volume += volume;
  } else {
    side.insert(at, PriceLevel{price, volume});
  }
}

bool HigherBid(int64_t a, int64_t b) { return a > b; }
bool LowerAsk(int64_t a, int64_t b) { return a < b; }

}  // namespace

void OrderBook::Open(Random& random, int64_t fair, const BookShape& shape) {
  fair = std::clamp(fair, shape.lowerLimit, shape.upperLimit);
  bids_.assign(1, PriceLevel{fair, Lots(random, shape)});
  asks_.clear();
  if (fair < shape.upperLimit) {
    asks_.push_back({std::min(fair + Gap(random, shape), shape.upperLimit), Lots(random, shape)});
  }
  Refill(random, fair, shape);
}

void OrderBook::Take(bool buy, int64_t volume, std::vector<PriceLevel>& fills) {
  std::vector<PriceLevel>& side = buy ? asks_ : bids_;
  for (PriceLevel& level : side) {
    if (volume <= 0) break;
    int64_t taken = std::min(volume, level.volume);
    if (taken <= 0) continue;
    level.volume -= taken;
    volume -= taken;
    fills.push_back({level.price, taken});
  }
}

void OrderBook::Evolve(Random& random, int64_t fair, const BookShape& shape) {
  DropEmpty(bids_);
  DropEmpty(asks_);
  Cancel(random, bids_);
  Cancel(random, asks_);
  Place(random, fair, shape);
  Refill(random, fair, shape);
}

void OrderBook::Lock(Random& random, bool up, const BookShape& shape) {
  constexpr int64_t kQueueLevels = 10;  // the queue at a limit is long
  if (up) {
    asks_.clear();
    AddAt(bids_, shape.upperLimit, kQueueLevels * Lots(random, shape), HigherBid);
  } else {
    bids_.clear();
    AddAt(asks_, shape.lowerLimit, kQueueLevels * Lots(random, shape), LowerAsk);
  }
}

void OrderBook::Unlock(bool up, const BookShape& shape) {
  std::vector<PriceLevel>& side = up ? bids_ : asks_;
  int64_t limit = up ? shape.upperLimit : shape.lowerLimit;
  side.erase(std::remove_if(side.begin(), side.end(),
                            [limit](const PriceLevel& level) { return level.price == limit; }),
             side.end());
}

void OrderBook::Cancel(Random& random, std::vector<PriceLevel>& side) {
  for (PriceLevel& level : side) {
    if (random.Chance(0.08)) level.volume -= kLot * random.Between(1, level.volume / kLot);
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
    if (bid && price < bestAsk) AddAt(bids_, price, Lots(random, shape), HigherBid);
    if (!bid && price > bestBid) AddAt(asks_, price, Lots(random, shape), LowerAsk);
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
    if (start >= shape.lowerLimit) bids_.push_back({start, Lots(random, shape)});
  }
  if (asks_.empty()) {
    int64_t start =
        bids_.empty() ? std::max(fair, shape.lowerLimit) : bids_.front().price + Gap(random, shape);
    if (start <= shape.upperLimit) asks_.push_back({start, Lots(random, shape)});
  }
  while (!bids_.empty() && bids_.size() < kDepth) {
    int64_t price = bids_.back().price - Gap(random, shape);
    if (price < shape.lowerLimit) break;
    bids_.push_back({price, Lots(random, shape)});
  }
  while (!asks_.empty() && asks_.size() < kDepth) {
    int64_t price = asks_.back().price + Gap(random, shape);
    if (price > shape.upperLimit) break;
    asks_.push_back({price, Lots(random, shape)});
  }
}

}  // namespace sim

// order_book.h: one instrument's limit-order book in the simulated market,
// ten price levels a side as the snapshots show it. Each level is a queue of
// resting orders in arrival order: trades take its front, cancels take any
// order of it, so the book knows where every order stands.
//
// Between two snapshots the book only loses volume, to trades that take it
// best level first; new orders and cancels arrive all at once just before
// the next snapshot (Evolve). So every trade of an interval is at a price of
// the snapshot before it, on the side its buy/sell flag names, which is what
// a reader of the feed can check.

#ifndef VELTRANE_SIM_ORDER_BOOK_H
#define VELTRANE_SIM_ORDER_BOOK_H

#include <cstdint>
#include <vector>

#include "random.h"

namespace sim {

struct PriceLevel {
  int64_t price;   // cents
  int64_t volume;  // shares
};

// What a trade took from one resting order. Orders are numbered in the order
// they came to the book.
struct TakenOrder {
  int64_t price;
  uint64_t order;
  int64_t volume;
};

// What shapes a book: its price band, the spacing of its levels and the size
// of the orders resting at them.
struct BookShape {
  int64_t lowerLimit;  // cents
  int64_t upperLimit;
  int64_t widestGap;  // ticks between neighbouring levels, at most
  int64_t levelLots;  // typical lots (100 shares) resting at one level
};

class OrderBook {
 public:
  static constexpr int kDepth = 10;

  // Best first: bids high to low, asks low to high; at most kDepth each.
  std::vector<PriceLevel> bids() const { return Shown(bids_); }
  std::vector<PriceLevel> asks() const { return Shown(asks_); }
  // The price of a side's first level, whether or not trades have emptied
  // it since the last Evolve; 0 for an empty side.
  int64_t Best(bool bid) const {
    const Side& side = bid ? bids_ : asks_;
    return side.empty() ? 0 : side.front().price;
  }
  // The number of the last order to join the queue at `price`; 0 if none rests there.
  uint64_t NewestAt(bool bid, int64_t price) const;

  // A full book around `fair`: best bid at or below it, best ask above.
  void Open(Random& random, int64_t fair, const BookShape& shape);

  // A marketable order of `volume` shares takes the other side best level
  // first (a buy takes asks), each level from the front of its queue.
  // Appends one fill per level it reaches and, if `taken` is given, what it
  // took from each order; what the side cannot give is not traded.
  void Take(bool buy, int64_t volume, std::vector<PriceLevel>& fills,
            std::vector<TakenOrder>* taken = nullptr);

  // The quotes that change between two snapshots: cancels, new orders drawn
  // toward `fair`, and new levels where trades emptied them. Prices stay
  // inside the limits and on the tick, bids below asks.
  void Evolve(Random& random, int64_t fair, const BookShape& shape);

  // The book locked at a limit: at limit-up (`up`) buyers queue at the upper
  // limit and no seller is left on the book; at limit-down the other way
  // round. Evolve keeps a locked book locked, since nothing may rest beyond
  // a limit: trades print at the limit price only.
  void Lock(Random& random, bool up, const BookShape& shape);
  // The queue at the limit leaves, so the other side can come back.
  void Unlock(bool up, const BookShape& shape);

 private:
  struct Resting {
    uint64_t order;
    int64_t volume;
  };
  struct Level {
    int64_t price;
    int64_t volume;  // the sum of its queue's
    std::vector<Resting> queue;
  };
  using Side = std::vector<Level>;

  static std::vector<PriceLevel> Shown(const Side& side);
  // Adds an order at the back of the queue at `price`.
  void Add(bool bid, int64_t price, int64_t volume);
  void Cancel(Random& random, Side& side, bool bid, int64_t fair);
  void Place(Random& random, int64_t fair, const BookShape& shape);
  void Refill(Random& random, int64_t fair, const BookShape& shape);

  Side bids_;
  Side asks_;
  uint64_t lastOrder_ = 0;
};

}  // namespace sim

#endif  // VELTRANE_SIM_ORDER_BOOK_H

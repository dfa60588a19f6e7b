// call_auction.h: a call auction's book and its uncross, by the rule both
// exchanges apply: the price at which the most volume trades; among several,
// the one that leaves the least unmatched at it; among those still, Shanghai
// takes their middle and Shenzhen the one nearest the previous close. Every
// buy above the price and every sell below it trades in full; at the price
// itself at least one side does.

#ifndef VELTRANE_SIM_CALL_AUCTION_H
#define VELTRANE_SIM_CALL_AUCTION_H

#include <cstdint>
#include <vector>

#include "instruments.h"
#include "order_book.h"

namespace sim {

// The uncross as the auction's snapshots publish it while it runs.
struct Uncross {
  int64_t price = 0;        // cents; 0 while nothing crosses
  int64_t volume = 0;       // shares that trade at it
  int64_t buySurplus = 0;   // buys at or above the price left unmatched
  int64_t sellSurplus = 0;  // sells at or below it left unmatched
};

// How an auction's snapshot shows its uncross: bid 1 and ask 1 both at the
// price with the matched volume, then a second level at the price on the
// side left with unmatched volume there. ShowUncross appends those levels to
// empty sides; ShownUncross reads them back, an empty Uncross when the first
// levels do not meet.
void ShowUncross(const Uncross& uncross, std::vector<PriceLevel>& bids,
                 std::vector<PriceLevel>& asks);
Uncross ShownUncross(const std::vector<PriceLevel>& bids, const std::vector<PriceLevel>& asks);

// `buys` best first (high to low), `sells` best first (low to high).
Uncross FindUncross(const std::vector<PriceLevel>& buys, const std::vector<PriceLevel>& sells,
                    int64_t previousClose, Exchange exchange);

class CallAuction {
 public:
  void Clear();
  void Add(bool buy, int64_t price, int64_t volume);
  // Takes up to `volume` shares from the level at `price`, if there is one.
  void Cancel(bool buy, int64_t price, int64_t volume);

  const std::vector<PriceLevel>& buys() const { return buys_; }
  const std::vector<PriceLevel>& sells() const { return sells_; }

  Uncross Indicative(int64_t previousClose, Exchange exchange) const {
    return FindUncross(buys_, sells_, previousClose, exchange);
  }
  // Trades what `uncross` matches at its price, best orders first: appends
  // one fill per pair of a buy level and a sell level, and leaves the rest.
  void Match(const Uncross& uncross, std::vector<PriceLevel>& fills);

 private:
  std::vector<PriceLevel> buys_;
  std::vector<PriceLevel> sells_;
};

}  // namespace sim

#endif  // VELTRANE_SIM_CALL_AUCTION_H

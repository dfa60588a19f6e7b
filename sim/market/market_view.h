// market_view.h: what the simulated venue reads from the feed's messages: a
// snapshot's book and a trade's price, volume and side, in cents and shares.
// Both are read from the wire, so a tape's messages serve as well as the
// generator's.

#ifndef VELTRANE_SIM_MARKET_VIEW_H
#define VELTRANE_SIM_MARKET_VIEW_H

#include <cstdint>
#include <string_view>
#include <vector>

#include "order_book.h"

namespace sim {

struct SnapshotView {
  int64_t previousClose = 0;     // cents
  int64_t last = 0;              // 0 before the first trade
  std::vector<PriceLevel> bids;  // best first, levels with volume only
  std::vector<PriceLevel> asks;
};

struct TradeView {
  int64_t price = 0;  // cents
  int64_t volume = 0;
  bool buy = false;  // the buyer took the asks
};

// False for another type of message or a malformed payload.
bool ReadSnapshot(std::string_view typeName, std::string_view payload, SnapshotView& view);
bool ReadTrade(std::string_view typeName, std::string_view payload, TradeView& view);

}  // namespace sim

#endif  // VELTRANE_SIM_MARKET_VIEW_H

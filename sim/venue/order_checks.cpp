// The venue's checks of an order.

#include "order_checks.h"

#include "instruments.h"
#include "libitg.h"
#include "tape_text.h"

namespace sim {
namespace {

constexpr int64_t kLot = 100;
constexpr int64_t kMaxQuantity = 1000000000;

}  // namespace

Refusal CheckInsert(const InsertFacts& facts) {
  const std::string security(facts.security);
  const std::string price(facts.priceText);
  const bool buy = facts.side == LIBITG_SIDE_BUY;
  if (!facts.listed) return {VenueError::kUnknownCode, "unknown security code '" + security + "'"};
  if (facts.closed) return {VenueError::kMarketClosed, "the market is closed"};
  if (facts.side != LIBITG_SIDE_BUY && facts.side != LIBITG_SIDE_SELL) {
    return {VenueError::kBadSide, "side must be 1 (sell) or 2 (buy)"};
  }
  if (!facts.priced) {
    return {VenueError::kBadPrice, "price must be a positive number, not '" + price + "'"};
  }
  if (facts.offTick) return {VenueError::kOffTick, "price " + price + " is not on the 0.01 tick"};
  int64_t low = LowerLimit(facts.previousClose);
  int64_t high = UpperLimit(facts.previousClose);
  if (facts.price < low || facts.price > high) {
    return {VenueError::kOutsideLimits, "price " + CentsText(facts.price) +
                                            " is outside today's limits " + CentsText(low) +
                                            " to " + CentsText(high)};
  }
  if (facts.quantity <= 0 || facts.quantity > kMaxQuantity) {
    return {VenueError::kBadQuantity, "quantity must be from 1 to 1000000000"};
  }
  if (buy && facts.quantity % kLot != 0) {
    return {VenueError::kNotWholeLots, "a buy must be whole lots of 100 shares"};
  }
  if (int64_t needed = buy ? facts.cashNeeded() : 0; needed > facts.available) {
    return {VenueError::kNotEnoughCash, "not enough cash: the order needs " + CentsText(needed) +
                                            ", " + CentsText(facts.available) + " is available"};
  }
  if (!buy && facts.quantity > facts.sellable) {
    return {VenueError::kNotEnoughPosition, "not enough shares: " + std::to_string(facts.quantity) +
                                                " to sell, " + std::to_string(facts.sellable) +
                                                " available"};
  }
  return {};
}

}  // namespace sim

// The venue's checks of an order, and its price cage.

#include "order_checks.h"

#include "instruments.h"
#include "libitg.h"
#include "tape_text.h"

namespace sim {
namespace {

std::string Shares(int64_t count) { return std::to_string(count) + " shares"; }

// "whole lots of 100 shares" or "at least 200 shares"
std::string SizeRule(const BoardRules& rules) {
  if (rules.step == rules.minimum) return "whole lots of " + Shares(rules.step);
  std::string text = "at least " + Shares(rules.minimum);
  if (rules.step > 1) text += ", then steps of " + std::to_string(rules.step);
  return text;
}

bool FollowsSizeRule(const BoardRules& rules, int64_t quantity) {
  return quantity >= rules.minimum && (quantity - rules.minimum) % rules.step == 0;
}

}  // namespace

Refusal CheckInsert(const InsertFacts& facts) {
  const std::string security(facts.security);
  const std::string price(facts.priceText);
  const bool buy = facts.side == LIBITG_SIDE_BUY;
  if (!facts.listed) return {VenueError::kUnknownCode, "unknown security code '" + security + "'"};
  if (facts.suspended) {
    return {VenueError::kSuspended, security + " is suspended: it takes no orders"};
  }
  if (!facts.closed.empty()) return {VenueError::kMarketClosed, facts.closed};
  if (facts.side != LIBITG_SIDE_BUY && facts.side != LIBITG_SIDE_SELL) {
    return {VenueError::kBadSide, "side must be 1 (sell) or 2 (buy)"};
  }
  if (!facts.priced) {
    return {VenueError::kBadPrice, "price must be a positive number, not '" + price + "'"};
  }
  if (facts.offTick) return {VenueError::kOffTick, "price " + price + " is not on the 0.01 tick"};
  if (facts.price < facts.limits.lower || facts.price > facts.limits.upper) {
    return {VenueError::kOutsideLimits,
            "price " + CentsText(facts.price) + " is outside today's limits " +
                CentsText(facts.limits.lower) + " to " + CentsText(facts.limits.upper)};
  }
  const BoardRules& rules = *facts.rules;
  const std::string board = BoardName(facts.board);
  if (facts.quantity <= 0 || facts.quantity > rules.maxQuantity) {
    return {VenueError::kBadQuantity,
            "quantity must be from 1 to " + std::to_string(rules.maxQuantity) + " on " + board};
  }
  if (buy && !FollowsSizeRule(rules, facts.quantity)) {
    return {VenueError::kNotWholeLots, "a buy on " + board + " must be " + SizeRule(rules)};
  }
  // What is left below a lot can only go in one sell of all that is left.
  if (!buy && !FollowsSizeRule(rules, facts.quantity) && facts.quantity != facts.sellable) {
    return {VenueError::kNotWholeLots, "a sell on " + board + " must be " + SizeRule(rules) +
                                           ", or all " + Shares(facts.sellable) +
                                           " that may be sold"};
  }
  if (int64_t needed = buy ? facts.cashNeeded() : 0; needed > facts.available) {
    return {VenueError::kNotEnoughCash, "not enough cash: the order needs " + CentsText(needed) +
                                            ", " + CentsText(facts.available) + " is available"};
  }
  if (!buy && facts.quantity > facts.sellable) {
    return {VenueError::kNotEnoughPosition,
            "not enough shares: " + std::to_string(facts.quantity) + " to sell, " +
                std::to_string(facts.sellable) +
                " sellable today; shares bought today settle tomorrow (T+1)"};
  }
  return {};
}

int64_t CageReference::For(bool buy) const {
  int64_t first = buy ? bestAsk : bestBid;
  int64_t second = buy ? bestBid : bestAsk;
  for (int64_t price : {first, second, last, previousClose}) {
    if (price > 0) return price;
  }
  return 0;
}

std::string OutsideCage(const BoardRules& rules, bool buy, int64_t price,
                        const CageReference& reference) {
  int64_t base = reference.For(buy);
  if (base <= 0) return {};
  PriceBand cage = CageOf(rules, base);
  if (buy ? price <= cage.upper : price >= cage.lower) return {};
  std::string bound = CentsText(buy ? cage.upper : cage.lower);
  return std::string("held: a ") + (buy ? "buy above " : "sell below ") + bound +
         " is outside the price cage around " + CentsText(base) + "; it enters the book when " +
         "the market comes within reach";
}

}  // namespace sim

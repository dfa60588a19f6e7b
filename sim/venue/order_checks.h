// order_checks.h: the venue's checks of an order before it is accepted, and
// the error ids of its answers.

#ifndef VELTRANE_SIM_ORDER_CHECKS_H
#define VELTRANE_SIM_ORDER_CHECKS_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sim {

// Error ids of the insert answer, the cancel answer and the query answers.
struct VenueError {
  enum : int32_t {
    kNotLoggedIn = 1,
    kUnknownCode = 10,
    kBadSide = 11,
    kBadPrice = 12,
    kOffTick = 13,
    kOutsideLimits = 14,
    kBadQuantity = 15,
    kNotWholeLots = 16,
    kNotEnoughCash = 17,
    kNotEnoughPosition = 18,
    kMarketClosed = 19,
    kUnknownOrder = 20,
    kOrderFinished = 21,
    kNoRows = 30,
  };
};

// What an order is checked against, as the venue sees it when it arrives.
struct InsertFacts {
  std::string_view security;
  bool listed = false;  // the venue knows the code
  bool closed = false;  // the day is over
  int64_t side = 0;
  std::string_view priceText;
  bool priced = false;  // the text is a positive price
  bool offTick = false;
  int64_t price = 0;  // cents
  int64_t previousClose = 0;
  int64_t quantity = 0;
  // What a buy would hold back; asked only once price and quantity passed.
  std::function<int64_t()> cashNeeded;
  int64_t available = 0;  // cash not held back
  int64_t sellable = 0;   // shares not promised to resting sells
};

struct Refusal {
  int32_t errorId = 0;  // 0: the order is accepted
  std::string message;
};

// The first check the order fails, in the order listed in VenueError.
Refusal CheckInsert(const InsertFacts& facts);

}  // namespace sim

#endif  // VELTRANE_SIM_ORDER_CHECKS_H

// order_checks.h: the venue's checks of an order before it is accepted, the
// price cage that holds an accepted order back, and the error ids of the
// venue's answers.

#ifndef VELTRANE_SIM_ORDER_CHECKS_H
#define VELTRANE_SIM_ORDER_CHECKS_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "boards.h"

namespace sim {

// XX(name, id, answered to, what it means): the error ids of the venue's
// answers. An order's checks run in the order listed here, from 10 on; the
// README's table of refusals is checked against the order ones.
#define SIM_VENUE_ERROR_MAP(XX)                                                              \
  XX(kNotLoggedIn, 1, kAny, "not logged in")                                                 \
  XX(kUnknownCode, 10, kOrder, "unknown security code")                                      \
  XX(kSuspended, 22, kOrder, "the instrument is suspended")                                  \
  XX(kMarketClosed, 19, kOrder,                                                              \
     "the market is not open: before the open, or the day is over")                        \
  XX(kBadSide, 11, kOrder, "side other than 1 (sell) or 2 (buy)")                            \
  XX(kBadPrice, 12, kOrder, "price not a positive number")                                   \
  XX(kOffTick, 13, kOrder, "price not on the 0.01 tick")                                     \
  XX(kOutsideLimits, 14, kOrder, "price outside the day's limits (the board's band)")        \
  XX(kBadQuantity, 15, kOrder, "quantity above the board's largest order")                   \
  XX(kNotWholeLots, 16, kOrder, "size not by the board's lots")                              \
  XX(kNotEnoughCash, 17, kOrder, "not enough cash for a buy, fees included")                 \
  XX(kNotEnoughPosition, 18, kOrder, "not enough sellable shares (T+1)")                     \
  XX(kUnknownOrder, 20, kCancel, "cancel of an unknown order code")                          \
  XX(kOrderFinished, 21, kCancel, "cancel of an order already filled, cancelled or refused") \
  XX(kNoCancelNow, 23, kCancel,                                                              \
     "cancel from 09:20 to 09:25 or in the closing call auction, which take none")           \
  XX(kNoRows, 30, kQuery, "a query with nothing to answer")

struct VenueError {
  enum : int32_t {
#define SIM_VENUE_ERROR_ENUM(name, id, answer, text) name = id,
    SIM_VENUE_ERROR_MAP(SIM_VENUE_ERROR_ENUM)
#undef SIM_VENUE_ERROR_ENUM
  };
  enum Answer { kAny, kOrder, kCancel, kQuery };
};

// What an order is checked against, as the venue sees it when it arrives.
struct InsertFacts {
  std::string_view security;
  bool listed = false;     // the venue knows the code
  bool suspended = false;  // it does not trade now
  std::string closed;      // why the market takes no order now, or empty
  int64_t side = 0;
  std::string_view priceText;
  bool priced = false;  // the text is a positive price
  bool offTick = false;
  int64_t price = 0;  // cents
  PriceBand limits{};
  Board board = Board::kShanghaiMain;
  const BoardRules* rules = nullptr;
  int64_t quantity = 0;
  // What a buy would hold back; asked only once price and quantity passed.
  std::function<int64_t()> cashNeeded;
  int64_t available = 0;  // cash not held back
  int64_t sellable = 0;   // shares a sell may sell today
};

struct Refusal {
  int32_t errorId = 0;  // 0: the order is accepted
  std::string message;
};

// The first check the order fails.
Refusal CheckInsert(const InsertFacts& facts);

// The reference prices of the price cage: a buy's is the best ask shown,
// else the best bid, else the last trade, else the previous close; a sell's
// the best bid, else the best ask, and so on. 0 means none is known.
struct CageReference {
  int64_t bestBid = 0;
  int64_t bestAsk = 0;
  int64_t last = 0;
  int64_t previousClose = 0;

  int64_t For(bool buy) const;
};

// Why an order outside the price cage is held back, or empty when its price
// is inside and it may enter the book.
std::string OutsideCage(const BoardRules& rules, bool buy, int64_t price,
                        const CageReference& reference);

}  // namespace sim

#endif  // VELTRANE_SIM_ORDER_CHECKS_H

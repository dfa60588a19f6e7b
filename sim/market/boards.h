// boards.h: the trading rules of the Shanghai and Shenzhen A-share boards,
// in one table. The generated market keeps inside a board's price band; the
// venue checks orders against its limits, sizes and price cage.
//
// Every figure can be set (VELTRANE_SIM_BOARD_RULES, exchange_settings.h);
// the defaults are the exchanges' rules, which the README cites figure by
// figure. Prices are cents, sizes shares.

#ifndef VELTRANE_SIM_BOARDS_H
#define VELTRANE_SIM_BOARDS_H

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

// XX(enumerator, key in settings, name in messages)
#define SIM_BOARD_MAP(XX)                                 \
  XX(kShanghaiMain, "sh_main", "the Shanghai main board") \
  XX(kStar, "star", "the STAR Market")                    \
  XX(kShenzhenMain, "sz_main", "the Shenzhen main board") \
  XX(kChiNext, "chinext", "ChiNext")

enum class Board {
#define SIM_BOARD_ENUM(name, key, text) name,
  SIM_BOARD_MAP(SIM_BOARD_ENUM)
#undef SIM_BOARD_ENUM
};
constexpr size_t kBoardCount = 4;

struct BoardRules {
  int64_t limitPct;     // daily price band, % of the previous close either way
  int64_t stLimitPct;   // the band of a share under risk warning (ST)
  int64_t minimum;      // smallest order; a sell of a whole remainder may be less
  int64_t step;         // sizes above the minimum go up in steps of this many
  int64_t maxQuantity;  // largest limit order
  int64_t cagePct;      // continuous trading: a buy at most this % above the
                        // reference price, a sell at most this % below it ...
  int64_t cageTicks;    // ... or this many ticks from it, whichever is wider
};

// XX(field, key in settings): the figures of a board that a setting may change.
#define SIM_BOARD_RULE_FIELDS(XX) \
  XX(limitPct, "limit_pct")       \
  XX(stLimitPct, "st_limit_pct")  \
  XX(minimum, "minimum")          \
  XX(step, "step")                \
  XX(maxQuantity, "max_quantity") \
  XX(cagePct, "cage_pct")         \
  XX(cageTicks, "cage_ticks")

// The rules of every board, indexed by Board.
struct RuleBook {
  std::array<BoardRules, kBoardCount> boards;

  const BoardRules& Of(Board board) const { return boards[static_cast<size_t>(board)]; }
  BoardRules& Of(Board board) { return boards[static_cast<size_t>(board)]; }
};

// The exchanges' rules.
RuleBook DefaultRules();

// "sh_main" for Board::kShanghaiMain; null-free for every board.
const char* BoardKey(Board board);
// "the Shanghai main board", "ChiNext"
const char* BoardName(Board board);
// The board whose key is `key`; false if none is.
bool BoardOfKey(std::string_view key, Board& board);

// The board of a six-digit code by its prefix. A code of no board's prefix
// (a fund, a bond) trades by the main board's rules of its exchange, which
// its first digit names: 5, 6 or 9 for Shanghai.
Board BoardOfCode(std::string_view code);

// What an instrument is marked with beyond its board.
struct Listing {
  Board board = Board::kShanghaiMain;
  bool st = false;          // under risk warning: the ST band
  bool newListing = false;  // in its first days: no price limit
};

struct PriceBand {
  int64_t lower;  // cents, both included
  int64_t upper;
};

// The upper limit of a new listing: 10,000,000.00, far above any share's
// price, and low enough that the largest order any board may be set to
// (1,000,000,000 shares) is worth less than an int64_t of cents can hold.
constexpr int64_t kNoUpperLimit = 1000000000;

// The day's price limits: the previous close plus and minus the band,
// rounded half up to the 0.01 tick as both exchanges round them.
PriceBand BandOf(const Listing& listing, int64_t previousClose, const RuleBook& rules);

// The price cage of continuous trading around `reference`: the highest buy
// and the lowest sell that enter the book.
PriceBand CageOf(const BoardRules& rules, int64_t reference);

}  // namespace sim

#endif  // VELTRANE_SIM_BOARDS_H

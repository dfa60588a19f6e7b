// The boards' rules and the prices they allow.

#include "boards.h"

#include <algorithm>

namespace sim {
namespace {

struct BoardText {
  const char* key;
  const char* name;
};

constexpr BoardText kBoardTexts[] = {
#define SIM_BOARD_TEXT(name, key, text) {key, text},
    SIM_BOARD_MAP(SIM_BOARD_TEXT)
#undef SIM_BOARD_TEXT
};
static_assert(std::size(kBoardTexts) == kBoardCount);

struct Prefix {
  const char* digits;
  Board board;
};

constexpr Prefix kPrefixes[] = {
    {"600", Board::kShanghaiMain}, {"601", Board::kShanghaiMain}, {"603", Board::kShanghaiMain},
    {"605", Board::kShanghaiMain}, {"688", Board::kStar},         {"689", Board::kStar},
    {"000", Board::kShenzhenMain}, {"001", Board::kShenzhenMain}, {"002", Board::kShenzhenMain},
    {"003", Board::kShenzhenMain}, {"300", Board::kChiNext},      {"301", Board::kChiNext},
};

}  // namespace

RuleBook DefaultRules() {
  RuleBook book{};
  //                                 band  ST  min  step  largest  cage% ticks
  book.Of(Board::kShanghaiMain) = {10, 10, 100, 100, 1000000, 2, 10};
  book.Of(Board::kStar) = {20, 20, 200, 1, 100000, 2, 0};
  book.Of(Board::kShenzhenMain) = {10, 10, 100, 100, 1000000, 2, 10};
  book.Of(Board::kChiNext) = {20, 20, 100, 100, 300000, 2, 10};
  return book;
}

const char* BoardKey(Board board) { return kBoardTexts[static_cast<size_t>(board)].key; }
const char* BoardName(Board board) { return kBoardTexts[static_cast<size_t>(board)].name; }

bool BoardOfKey(std::string_view key, Board& board) {
  for (size_t i = 0; i < kBoardCount; ++i) {
    if (key == kBoardTexts[i].key) {
      board = static_cast<Board>(i);
      return true;
    }
  }
  return false;
}

Board BoardOfCode(std::string_view code) {
  for (const Prefix& prefix : kPrefixes) {
    if (code.substr(0, 3) == prefix.digits) return prefix.board;
  }
  char first = code.empty() ? '0' : code.front();
  return first == '5' || first == '6' || first == '9' ? Board::kShanghaiMain : Board::kShenzhenMain;
}

PriceBand BandOf(const Listing& listing, int64_t previousClose, const RuleBook& rules) {
  // A tape's previous close can be anything; one beyond any price is none.
  if (listing.newListing || previousClose <= 0 || previousClose > kNoUpperLimit) {
    return {1, kNoUpperLimit};
  }
  const BoardRules& board = rules.Of(listing.board);
  int64_t percent = listing.st ? board.stLimitPct : board.limitPct;
  return {std::max<int64_t>(1, (previousClose * (100 - percent) + 50) / 100),
          (previousClose * (100 + percent) + 50) / 100};
}

PriceBand CageOf(const BoardRules& rules, int64_t reference) {
  reference = std::min(reference, kNoUpperLimit);  // a tape's book can hold anything
  // A price on the tick is inside "at most 102% of the reference" exactly
  // when it is at most the floor of that figure, and the same for sells.
  int64_t highest = reference * (100 + rules.cagePct) / 100;
  int64_t lowest = (reference * (100 - rules.cagePct) + 99) / 100;
  return {std::min(lowest, reference - rules.cageTicks),
          std::max(highest, reference + rules.cageTicks)};
}

}  // namespace sim

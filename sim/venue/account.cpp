// The account's money and shares.

#include "account.h"

namespace sim {

Account::Account(int64_t capital, const std::vector<StartPosition>& positions) : cash_(capital) {
  for (const StartPosition& position : positions) {
    Holding& holding = holdings_[position.code];
    holding.quantity += position.quantity;
    holding.atStart += position.quantity;
    holding.cost += position.cost;
  }
}

int64_t Account::Sellable(const std::string& code) const {
  auto held = holdings_.find(code);
  if (held == holdings_.end()) return 0;
  const Holding& holding = held->second;
  return holding.atStart - holding.sold - holding.selling;
}

void Account::Settle(const std::string& code, bool buy, int64_t shares, int64_t amount,
                     int64_t fee) {
  Holding& holding = holdings_[code];
  if (buy) {
    cash_ -= amount + fee;
    holding.quantity += shares;
    holding.cost += amount + fee;
    return;
  }
  cash_ += amount - fee;
  // The shares sold take their part of the cost, rounded to the cent; the
  // last of a position takes what is left.
  int64_t part = shares >= holding.quantity
                     ? holding.cost
                     : static_cast<int64_t>(
                           (static_cast<__int128>(holding.cost) * shares + holding.quantity / 2) /
                           holding.quantity);
  holding.cost -= part;
  holding.quantity -= shares;
  holding.sold += shares;
  holding.selling -= shares;
}

std::vector<Account::Position> Account::Positions() const {
  std::vector<Position> rows;
  for (const auto& [code, holding] : holdings_) {
    if (holding.quantity != 0) rows.push_back({code, holding.quantity, holding.cost});
  }
  return rows;
}

int64_t Account::Total(const std::function<int64_t(const std::string&)>& priceOf) const {
  int64_t total = cash_;
  for (const auto& [code, holding] : holdings_) total += holding.quantity * priceOf(code);
  return total;
}

}  // namespace sim

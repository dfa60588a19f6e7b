// The account's money and shares.

#include "account.h"

namespace sim {

int64_t Account::Sellable(const std::string& code) const {
  auto held = holdings_.find(code);
  return held == holdings_.end() ? 0 : held->second.quantity - held->second.selling;
}

void Account::Settle(const std::string& code, bool buy, int64_t shares, int64_t amount,
                     int64_t fee) {
  Holding& holding = holdings_[code];
  if (buy) {
    cash_ -= amount + fee;
    holding.quantity += shares;
  } else {
    cash_ += amount - fee;
    holding.quantity -= shares;
    holding.selling -= shares;
  }
}

std::vector<std::pair<std::string, int64_t>> Account::Positions() const {
  std::vector<std::pair<std::string, int64_t>> rows;
  for (const auto& [code, holding] : holdings_) {
    if (holding.quantity != 0) rows.emplace_back(code, holding.quantity);
  }
  return rows;
}

int64_t Account::Total(const std::function<int64_t(const std::string&)>& priceOf) const {
  int64_t total = cash_;
  for (const auto& [code, holding] : holdings_) total += holding.quantity * priceOf(code);
  return total;
}

}  // namespace sim

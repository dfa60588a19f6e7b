// account.h: the paper-trading account's money and shares, in cents and
// shares. Cash held back for working buys and shares held back for working
// sells cannot be used twice.
//
// Shares settle the next trading day (T+1): what a sell may sell is the
// position held at the day's start, less what was sold and what working
// sells hold. Shares bought today count in the position but cannot be sold
// before tomorrow. The cash of a sale may be used at once.

#ifndef VELTRANE_SIM_ACCOUNT_H
#define VELTRANE_SIM_ACCOUNT_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

// A position held at the day's start, with what it cost (cents, fees
// included).
struct StartPosition {
  std::string code;
  int64_t quantity = 0;
  int64_t cost = 0;
};

class Account {
 public:
  Account(int64_t capital, const std::vector<StartPosition>& positions);

  int64_t Cash() const { return cash_; }
  int64_t Available() const { return cash_ - frozen_; }
  // Shares of `code` that a new sell may sell today.
  int64_t Sellable(const std::string& code) const;

  // Cash held back for a buy, or given back (negative).
  void Freeze(int64_t cents) { frozen_ += cents; }
  // Shares promised to a sell, or given back (negative).
  void Promise(const std::string& code, int64_t shares) { holdings_[code].selling += shares; }

  // A fill: a buy pays `amount` and `fee`, a sell is paid `amount` less
  // `fee`; a sell's shares leave its promise too. A buy adds what it paid to
  // the position's cost; a sell takes away the sold shares' share of it.
  void Settle(const std::string& code, bool buy, int64_t shares, int64_t amount, int64_t fee);

  struct Position {
    std::string code;
    int64_t quantity;  // held now
    int64_t cost;      // cents: what the shares held cost, fees included
  };
  // The codes held, by code.
  std::vector<Position> Positions() const;
  // Cash plus every holding at `priceOf` its code.
  int64_t Total(const std::function<int64_t(const std::string&)>& priceOf) const;

 private:
  struct Holding {
    int64_t quantity = 0;
    int64_t atStart = 0;  // held when the day began: all that may be sold today
    int64_t sold = 0;
    int64_t selling = 0;  // in working sells
    int64_t cost = 0;
  };

  int64_t cash_;
  int64_t frozen_ = 0;
  std::map<std::string, Holding> holdings_;
};

}  // namespace sim

#endif  // VELTRANE_SIM_ACCOUNT_H

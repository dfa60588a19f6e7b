// account.h: the paper-trading account's money and shares, in cents and
// shares. Cash held back for resting buys and shares held back for resting
// sells cannot be used twice.

#ifndef VELTRANE_SIM_ACCOUNT_H
#define VELTRANE_SIM_ACCOUNT_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sim {

class Account {
 public:
  explicit Account(int64_t capital) : cash_(capital) {}

  int64_t Available() const { return cash_ - frozen_; }
  // Shares of `code` not yet promised to a resting sell.
  int64_t Sellable(const std::string& code) const;

  // Cash held back for a buy, or given back (negative).
  void Freeze(int64_t cents) { frozen_ += cents; }
  // Shares promised to a sell, or given back (negative).
  void Promise(const std::string& code, int64_t shares) { holdings_[code].selling += shares; }

  // A fill: a buy pays `amount` and `fee`, a sell is paid `amount` less
  // `fee`; a sell's shares leave its promise too.
  void Settle(const std::string& code, bool buy, int64_t shares, int64_t amount, int64_t fee);

  // The codes held, with their shares, by code.
  std::vector<std::pair<std::string, int64_t>> Positions() const;
  // Cash plus every holding at `priceOf` its code.
  int64_t Total(const std::function<int64_t(const std::string&)>& priceOf) const;

 private:
  struct Holding {
    int64_t quantity = 0;
    int64_t selling = 0;  // in resting sells
  };

  int64_t cash_;
  int64_t frozen_ = 0;
  std::map<std::string, Holding> holdings_;
};

}  // namespace sim

#endif  // VELTRANE_SIM_ACCOUNT_H

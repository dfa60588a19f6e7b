// fees.h: what a broker charges on a trade of A-shares. Rates are millionths
// of the traded amount (a basis point is 100): commission on both sides with
// a minimum per order, stamp duty on sells, the transfer fee on both sides.

#ifndef VELTRANE_SIM_FEES_H
#define VELTRANE_SIM_FEES_H

#include <algorithm>
#include <cstdint>

namespace sim {

// The fee on `amount` cents (not negative) at `ppm` millionths, rounded half
// up to the cent. Whole millions of cents are taken apart so that no product
// overflows.
inline int64_t FeeOf(int64_t amount, int64_t ppm) {
  return amount / 1000000 * ppm + (amount % 1000000 * ppm + 500000) / 1000000;
}

// Fees in cents, by kind.
struct Fees {
  int64_t commission = 0;
  int64_t stampDuty = 0;
  int64_t transfer = 0;

  int64_t Total() const { return commission + stampDuty + transfer; }
  Fees operator-(const Fees& paid) const {
    return {commission - paid.commission, stampDuty - paid.stampDuty, transfer - paid.transfer};
  }
  Fees& operator+=(const Fees& more) {
    commission += more.commission;
    stampDuty += more.stampDuty;
    transfer += more.transfer;
    return *this;
  }
};

struct FeeRates {
  int64_t commissionPpm = 250;  // 2.5 basis points
  int64_t minCommission = 500;  // cents per order: 5 yuan
  int64_t stampDutyPpm = 500;   // 5 basis points, sells only
  int64_t transferPpm = 10;     // 0.1 basis point

  // The fees of an order whose whole traded amount so far is `amount`, each
  // rounded to the cent. An order is charged as one trade however many fills
  // it takes: a fill pays what this grows by, so the minimum commission is
  // paid once, by the first fill, and later fills pay only what the
  // commission of the whole amount exceeds it by.
  Fees On(bool buy, int64_t amount) const {
    if (amount <= 0) return {};
    return {std::max(minCommission, FeeOf(amount, commissionPpm)),
            buy ? 0 : FeeOf(amount, stampDutyPpm), FeeOf(amount, transferPpm)};
  }
};

}  // namespace sim

#endif  // VELTRANE_SIM_FEES_H

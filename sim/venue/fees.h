// fees.h: what the venue charges on a trade. Rates are millionths of the
// traded amount: commission on both sides, stamp duty on sells only.

#ifndef VELTRANE_SIM_FEES_H
#define VELTRANE_SIM_FEES_H

#include <cstdint>

namespace sim {

// The fee on `amount` cents (not negative) at `ppm` millionths, rounded half
// up. Whole millions of cents are taken apart so that no product overflows.
inline int64_t FeeOf(int64_t amount, int64_t ppm) {
  return amount / 1000000 * ppm + (amount % 1000000 * ppm + 500000) / 1000000;
}

struct FeeRates {
  int64_t commissionPpm = 250;
  int64_t stampDutyPpm = 500;

  // Each order pays the rounded fee of its whole traded amount so far, so
  // partial fills cost no more than one fill would.
  int64_t On(bool buy, int64_t tradedAmount) const {
    return FeeOf(tradedAmount, commissionPpm + (buy ? 0 : stampDutyPpm));
  }
};

}  // namespace sim

#endif  // VELTRANE_SIM_FEES_H

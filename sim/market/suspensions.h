// suspensions.h: instruments suspended for the day or from a time of it.
// A suspended instrument does not trade: the market sends no trades for it
// and the venue takes no orders for it.

#ifndef VELTRANE_SIM_SUSPENSIONS_H
#define VELTRANE_SIM_SUSPENSIONS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Suspension {
  std::string code;
  int64_t fromMs = 0;  // milliseconds after midnight; 0: the whole day
};

inline bool IsSuspended(const std::vector<Suspension>& suspensions, std::string_view code,
                        int64_t milliseconds) {
  for (const Suspension& suspension : suspensions) {
    if (suspension.code == code && milliseconds >= suspension.fromMs) return true;
  }
  return false;
}

}  // namespace sim

#endif  // VELTRANE_SIM_SUSPENSIONS_H

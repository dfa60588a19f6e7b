// saturate.h: numbers narrowed into record fields. A value outside the
// field's range becomes the nearest value the field holds, never a wrapped
// one; NaN becomes 0.

#ifndef VELTRANE_SATURATE_H
#define VELTRANE_SATURATE_H

#include <cmath>
#include <cstdint>
#include <limits>

namespace veltrane {

// `value` truncated toward zero. Out of range, a double-to-integer conversion
// is undefined; the bounds are exact powers of two, so the comparisons are
// exact.
template <class Int>
Int SaturatingTruncation(double value) {
  constexpr double kAbove = -static_cast<double>(std::numeric_limits<Int>::min());
  if (std::isnan(value)) return 0;
  if (value >= kAbove) return std::numeric_limits<Int>::max();
  if (value < -kAbove) return std::numeric_limits<Int>::min();
  return static_cast<Int>(value);
}

// The 32-bit bounds are exact doubles, so clamping first needs no branch; a
// market snapshot converts some forty numbers this way.
template <>
inline int32_t SaturatingTruncation<int32_t>(double value) {
  constexpr double kLowest = std::numeric_limits<int32_t>::min();
  constexpr double kHighest = std::numeric_limits<int32_t>::max();
  if (std::isnan(value)) return 0;
  const double atLeast = value < kLowest ? kLowest : value;
  return static_cast<int32_t>(atLeast > kHighest ? kHighest : atLeast);
}

template <class Int>
Int SaturatingNarrowing(int64_t value) {
  if (value > std::numeric_limits<Int>::max()) return std::numeric_limits<Int>::max();
  if (value < std::numeric_limits<Int>::min()) return std::numeric_limits<Int>::min();
  return static_cast<Int>(value);
}

}  // namespace veltrane

#endif  // VELTRANE_SATURATE_H

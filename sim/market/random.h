// random.h: the simulated market's random numbers. The same seed must give
// the same day on every machine and compiler, so the generator and every
// distribution are written out here rather than taken from <random>, whose
// distributions differ between standard libraries.

#ifndef VELTRANE_SIM_RANDOM_H
#define VELTRANE_SIM_RANDOM_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace sim {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  // splitmix64: one 64-bit state, full period, good enough for a market.
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // Uniform in [0, 1).
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

  // Uniform in [low, high], both included; low <= high.
  int64_t Between(int64_t low, int64_t high) {
    return low + static_cast<int64_t>(Next() % (static_cast<uint64_t>(high - low) + 1));
  }

  bool Chance(double probability) { return Uniform() < probability; }

  // Approximately standard normal: twelve uniforms less six.
  double Normal() {
    double sum = 0;
    for (int i = 0; i < 12; ++i) sum += Uniform();
    return sum - 6.0;
  }

  // Failures before the first success, each try succeeding with `probability`.
  int64_t Geometric(double probability) {
    int64_t failures = 0;
    while (!Chance(probability) && failures < 1000) ++failures;
    return failures;
  }

  // Poisson: by multiplying uniforms for small means, where that is exact,
  // and by the normal approximation above 30, where the product of
  // uniforms would underflow before reaching its limit.
  int64_t Poisson(double mean) {
    if (mean > 30) return std::max<int64_t>(0, std::llround(mean + std::sqrt(mean) * Normal()));
    const double limit = std::exp(-mean);
    int64_t count = 0;
    for (double product = Uniform(); product > limit; product *= Uniform()) ++count;
    return count;
  }

 private:
  uint64_t state_;
};

// A seed of its own for each instrument, so that adding an instrument to the
// list leaves the others' days as they were.
inline uint64_t SeedFor(uint64_t seed, std::string_view name) {
  uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
  for (char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return Random(seed ^ hash).Next();
}

}  // namespace sim

#endif  // VELTRANE_SIM_RANDOM_H

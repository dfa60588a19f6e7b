// instruments.h: the securities of the simulated market and the day's rules
// they trade under. Prices are whole cents (the 0.01 tick) everywhere in the
// simulator; they become doubles only in the messages.

#ifndef VELTRANE_SIM_INSTRUMENTS_H
#define VELTRANE_SIM_INSTRUMENTS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class Exchange { kShanghai, kShenzhen };

struct Instrument {
  std::string code;  // six digits, no suffix
  Exchange exchange;
  int64_t previousClose;  // cents
};

// The day's price limits: previous close ±10%, rounded half up to the tick.
inline int64_t UpperLimit(int64_t previousClose) { return (previousClose * 11 + 5) / 10; }
inline int64_t LowerLimit(int64_t previousClose) { return (previousClose * 9 + 5) / 10; }

// Shanghai codes begin with 5, 6 or 9; the rest are Shenzhen's.
Exchange ExchangeOfCode(std::string_view code);

// A few Shanghai and Shenzhen stocks at realistic prices.
std::vector<Instrument> DefaultInstruments();

// Reads "CODE[.SH|.SZ][:PRICE]" entries separated by commas, for example
// "600000:10.52,000001.SZ". An entry without a price gets one drawn from the
// seed. On failure returns false and says why in `error`.
bool ParseInstruments(std::string_view text, uint64_t seed, std::vector<Instrument>& out,
                      std::string& error);

// "10.52" -> 1052. Refuses more than two decimals, signs and junk.
bool ParseCents(std::string_view text, int64_t& cents);

// 1052 -> "10.52".
std::string CentsText(int64_t cents);

}  // namespace sim

#endif  // VELTRANE_SIM_INSTRUMENTS_H

// instruments.h: the securities of the simulated market and the day's rules
// they trade under. Prices are whole cents (the 0.01 tick) everywhere in the
// simulator; they become doubles only in the messages.

#ifndef VELTRANE_SIM_INSTRUMENTS_H
#define VELTRANE_SIM_INSTRUMENTS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "boards.h"

namespace sim {

enum class Exchange { kShanghai, kShenzhen };

struct Instrument {
  std::string code;  // six digits, no suffix
  Exchange exchange;
  int64_t previousClose;  // cents
  bool st = false;          // under risk warning
  bool newListing = false;  // in its first days of trading, without limits
};

// Its board (from the code) and marks.
inline Listing ListingOf(const Instrument& instrument) {
  return {BoardOfCode(instrument.code), instrument.st, instrument.newListing};
}

// Shanghai codes begin with 5, 6 or 9; the rest are Shenzhen's.
Exchange ExchangeOfCode(std::string_view code);

// A few Shanghai and Shenzhen stocks at realistic prices.
std::vector<Instrument> DefaultInstruments();

// Reads "CODE[.SH|.SZ][:PRICE][:ST][:NEW]" entries separated by commas, for
// example "600000:10.52,000001.SZ,600203:3.10:ST,688981:NEW". An entry
// without a price gets one drawn from the seed; ST marks a share under risk
// warning, NEW one in its first days. On failure returns false and says why
// in `error`.
bool ParseInstruments(std::string_view text, uint64_t seed, std::vector<Instrument>& out,
                      std::string& error);

// "10.52" -> 1052. Refuses more than two decimals, signs and junk.
bool ParseCents(std::string_view text, int64_t& cents);

// 1052 -> "10.52".
std::string CentsText(int64_t cents);

}  // namespace sim

#endif  // VELTRANE_SIM_INSTRUMENTS_H

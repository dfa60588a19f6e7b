// last_prices.h: the last traded price of every six-digit code, written on the
// quote library's thread for each decoded snapshot and trade and read by the
// price band on the client's thread, without a lock: one atomic slot per
// possible code (a million, 4 MB, allocated the first time prices are
// followed and kept for the life of the process, so a late market-data
// callback never writes into freed memory).
//
// Prices are followed only while a price band is set; otherwise the
// market-data path pays one relaxed load of a flag.

#ifndef VELTRANE_LAST_PRICES_H
#define VELTRANE_LAST_PRICES_H

#include <atomic>
#include <cstdint>
#include <string>

#include "ZR_QuantApi.h"

namespace veltrane {

extern std::atomic<bool> g_followLastPrices;

inline bool FollowingLastPrices() { return g_followLastPrices.load(std::memory_order_relaxed); }

// Starts following, with every price unknown, or stops.
void FollowLastPrices(bool follow);

// Notes the last price of the record's code; a price of 0 or less (no trade
// yet, a cancel in the trade stream) and a code that is not six digits are
// left out.
void NoteLastPrice(const Corvane::MD_Market& snapshot) noexcept;
void NoteLastPrice(const Corvane::MD_Transaction& trade) noexcept;

// The last price of `code` in 1/10000 units, 0 when none is known.
int32_t LastPrice(const std::string& code) noexcept;

}  // namespace veltrane

#endif  // VELTRANE_LAST_PRICES_H

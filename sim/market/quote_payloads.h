// quote_payloads.h: the simulated market's snapshots and trades as the
// exchanges' Level-2 messages, in each exchange's own layout.

#ifndef VELTRANE_SIM_QUOTE_PAYLOADS_H
#define VELTRANE_SIM_QUOTE_PAYLOADS_H

#include <cstdint>
#include <string>
#include <vector>

#include "instruments.h"
#include "order_book.h"

namespace sim {

// An instrument's day so far, in cents and shares. Open, high, low and last
// stay 0 until its first trade, as on the exchanges.
struct DayTotals {
  int64_t previousClose = 0;
  int64_t open = 0;
  int64_t high = 0;
  int64_t low = 0;
  int64_t last = 0;
  int64_t volume = 0;
  int64_t amount = 0;  // cents times shares, summed over trades

  void Add(const PriceLevel& fill);
};

const char* SnapshotTypeName(Exchange exchange);
const char* TradeTypeName(Exchange exchange);

// Serialised SSEL2_Quotation / SZSEL2_Quotation of the levels (best first),
// the totals and the phase's tag (SecurityPhaseTag).
void EncodeSnapshot(const Instrument& instrument, int64_t time, const DayTotals& totals,
                    const std::vector<PriceLevel>& bids, const std::vector<PriceLevel>& asks,
                    const char* phaseTag, std::string& payload);

// Serialised SSEL2_Transaction / SZSEL2_Transaction; BuySellFlag 1 where the
// buyer took the asks, 2 where the seller took the bids, 0 for an auction's.
void EncodeTrade(const Instrument& instrument, int64_t time, const PriceLevel& fill, int32_t flag,
                 std::string& payload);

}  // namespace sim

#endif  // VELTRANE_SIM_QUOTE_PAYLOADS_H

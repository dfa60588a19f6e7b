// risk_checks.h: where the requests and the trade callbacks meet the
// pre-trade risk checks of veltrane_risk.h. The requests ask before they call
// the gateway; the callbacks tell what happened to the orders before the
// client hears of it, so that a client placing its next order from inside a
// callback is checked against the state that callback reports.
//
// One lock guards the limits, the counters and the working orders; it is
// held for a check or an update only, never across a gateway or client call.

#ifndef VELTRANE_RISK_CHECKS_H
#define VELTRANE_RISK_CHECKS_H

#include <cstdint>
#include <string>

#include "veltrane_risk.h"

namespace veltrane {

// The checks' time: steady nanoseconds for the one-second window, the local
// date (YYYYMMDD) for the trading day.
struct RiskTime {
  int64_t steadyNanos;
  int32_t day;
};
using RiskClock = RiskTime (*)();

// The checks no limit switches off: true when the order means something,
// else the refusal is counted and explained. Never throws.
bool CheckOrderRequest(int32_t reqId, int32_t tradeType, int64_t price, int32_t quantity) noexcept;

// Checks an order (`code`: the six characters sent). When it passes, it
// counts as handed to the gateway and working, and the result is its ticket;
// 0 when it is refused. May throw std::bad_alloc.
uint64_t AdmitOrder(const std::string& code, bool buy, int64_t price, int64_t quantity,
                    int32_t reqId);
// The gateway's result for an admitted order: a negative one says the order
// did not go out.
void OrderHandedOver(uint64_t ticket, int32_t result) noexcept;
// Checks a cancel; when it passes, it counts as handed to the gateway.
bool AdmitCancel();

// Trade events, on the gateway's thread. They never throw.
void NoteInsertAnswer(int32_t reqId, int32_t errorId, const char* securityCode,
                      const char* orderCode, int32_t side, double price, int32_t quantity) noexcept;
void NoteOrderReport(const char* orderCode, char status, int32_t tradedQty, bool notice) noexcept;
void NoteMatch(const char* securityCode, const char* orderCode, int32_t side,
               int32_t quantity) noexcept;
void NotePosition(const char* securityCode, int32_t position) noexcept;

// For tests: the clock the checks read (null: the real clocks), and a fresh
// start: limits off, trading enabled, counters, orders, positions and prices
// forgotten.
VELTRANE_API void ResetRiskForTesting(RiskClock clock);

}  // namespace veltrane

#endif  // VELTRANE_RISK_CHECKS_H

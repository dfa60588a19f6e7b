// trade_events.h: turning the trade gateway's flat callback arguments into
// the public records. Pure functions: no state, no locks, no client calls.

#ifndef VELTRANE_TRADE_EVENTS_H
#define VELTRANE_TRADE_EVENTS_H

#include <cstdint>
#include <string>

#include "ZR_QuantApi.h"

namespace veltrane {

// The security code with its exchange suffix: ".SH" for codes that start with
// '6' (Shanghai), ".SZ" for the rest; an empty or null code stays empty.
std::string AddExchangeSuffix(const char* securityCode);

// One position row.
Corvane::TD_RspQryPosition PositionRow(int32_t reqId, const char* message, const char* securityCode,
                                       int32_t position);

// The cancel answer: the gateway does not say which order it concerns, so
// only the request id and the text are filled.
Corvane::TD_ReqOrderDelete CancelAnswer(int32_t reqId, const char* message);

}  // namespace veltrane

#endif  // VELTRANE_TRADE_EVENTS_H

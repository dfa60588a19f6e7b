// trade_events.h: turning the trade gateway's flat callback arguments into
// the public records. Pure functions: no state, no locks, no client calls.
// Order numbers come in already resolved (trade_callbacks.cpp looks them up).

#ifndef VELTRANE_TRADE_EVENTS_H
#define VELTRANE_TRADE_EVENTS_H

#include <cstdint>
#include <optional>
#include <string>

#include "ZR_QuantApi.h"

namespace veltrane {

// The security code with its exchange suffix: ".SH" for codes that start with
// '6' (Shanghai), ".SZ" for the rest; an empty or null code stays empty.
std::string AddExchangeSuffix(const char* securityCode);

// The gateway's side 1 is nTradeType 2; every other side is nTradeType 1.
int32_t TradeTypeFromSide(int32_t side);

// nStatus of an order report's status character.
int32_t OrderStatusFromGateway(char status);

// A price in currency units as 1/10000 units: times 10000 plus 0.5, truncated
// toward zero. Saturates at the 64-bit bounds; NaN gives 0.
int64_t FixedPointPrice(double price);

// An order code read as a decimal order number: white space, an optional
// sign, digits up to the first non-digit. Nothing when there is no digit or
// the value leaves the 64-bit range.
std::optional<long long> ReadDecimalOrderCode(const char* orderCode);

// A capital text read as a number and truncated toward zero to whole units.
// Saturates at the 32-bit bounds; a text without a number, and NaN, give 0.
int32_t CapitalFromText(const char* text);

// The records of the seven trade callbacks, built from their arguments.
Corvane::TD_RspQryOrder OrderReport(int32_t reqId, int32_t errorId, const char* message,
                                    const char* securityCode, const char* orderCode,
                                    int64_t orderId, int32_t side, double orderPrice,
                                    int32_t orderQty, double tradedPrice, int32_t tradedQty,
                                    char status, const char* orderTime);

Corvane::TD_RspQryMatch MatchReport(int32_t reqId, int32_t errorId, const char* message,
                                    const char* securityCode, const char* orderCode,
                                    int64_t orderId, int64_t matchNumber, int32_t side,
                                    double matchPrice, int32_t matchQty, const char* matchTime);

Corvane::TD_RspQryPosition PositionRow(int32_t reqId, const char* message, const char* securityCode,
                                       int32_t position);

// `orderId` is 0 for a refused order.
Corvane::TD_RspOrderInsert InsertAnswer(int32_t reqId, int32_t errorId, const char* message,
                                        const char* securityCode, const char* orderCode,
                                        int64_t orderId, int32_t side, double price,
                                        int32_t quantity);

// The cancel answer: the gateway does not say which order it concerns, so
// only the request id and the text are filled.
Corvane::TD_ReqOrderDelete CancelAnswer(int32_t reqId, const char* message);

Corvane::TD_RspQryAccountMaxEntrustCount CapitalAnswer(int32_t reqId, const char* message,
                                                       const char* available, const char* total);

}  // namespace veltrane

#endif  // VELTRANE_TRADE_EVENTS_H

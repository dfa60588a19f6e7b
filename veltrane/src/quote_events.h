// quote_events.h: turning the quote library's Level-2 messages into the
// public market records. Pure functions: no state, no locks, no client calls.
//
// Numbers that do not fit their record field saturate: a price, volume or
// amount above the field's range becomes its largest value, one below it its
// smallest, and NaN becomes 0. Nothing wraps around.

#ifndef VELTRANE_QUOTE_EVENTS_H
#define VELTRANE_QUOTE_EVENTS_H

#include <cstdint>
#include <string>

#include "ZR_QuantApi.h"
#include "quote.pb.h"

namespace veltrane {

// The four decoded message types, by the type name the library hands over
// (compared exactly, case included); every other name is kNotDecoded.
enum class QuoteType {
  kNotDecoded,
  kShanghaiSnapshot,
  kShenzhenSnapshot,
  kShanghaiTrade,
  kShenzhenTrade
};
QuoteType QuoteTypeOf(const char* typeName);

// A price in currency units as a 1/10000-unit record field: times 10000 plus
// 0.5, truncated toward zero.
int32_t Price32(double price);
// The same for a 64-bit amount.
int64_t Amount64(double amount);
// A double quantity truncated toward zero, as a 32-bit field.
int32_t Truncate32(double value);
// A 64-bit count as a 32-bit field.
int32_t Narrow32(int64_t value);
// A double count plus 0.5, truncated toward zero, as a 64-bit field.
int64_t Round64(double value);

// Records start zeroed. szWindCode and szCode hold the message's Symbol (up
// to a NUL it may contain), cut where needed so that both fields stay
// terminated: szCode keeps at most 31 bytes; szWindCode keeps at most 28 and
// always its whole exchange suffix, so that it still names the exchange.
Corvane::MD_Market MarketFromShanghai(const lmvproto::SSEL2_Quotation& snapshot);
Corvane::MD_Market MarketFromShenzhen(const lmvproto::SZSEL2_Quotation& snapshot);
Corvane::MD_Transaction TradeFromShanghai(const lmvproto::SSEL2_Transaction& trade);
Corvane::MD_Transaction TradeFromShenzhen(const lmvproto::SZSEL2_Transaction& trade);

}  // namespace veltrane

#endif  // VELTRANE_QUOTE_EVENTS_H

// veltrane_sub_quote.h: the kinds of market data that
// ZR_QuantApi::ReqSubQuote subscribes to, as bits of its `nKinds` mask.
//
//   api->ReqSubQuote(1, veltrane::kSubQuoteSnapshots | veltrane::kSubQuoteTrades, 0, codes,
//                    count, "", "");
//
// A mask with neither bit unsubscribes the codes; other bits are ignored.

#ifndef VELTRANE_SUB_QUOTE_H
#define VELTRANE_SUB_QUOTE_H

namespace veltrane {

constexpr int kSubQuoteSnapshots = 1;  // delivered to OnRtnMarket
constexpr int kSubQuoteTrades = 4;     // delivered to OnRtnTransaction

}  // namespace veltrane

#endif  // VELTRANE_SUB_QUOTE_H

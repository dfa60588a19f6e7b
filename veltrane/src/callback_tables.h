// callback_tables.h: the tables of callbacks that RegisterSpi hands to the
// outside libraries. Every entry runs on a library's thread, delivers through
// the current instance (active_instance.h) and never lets an exception out.

#ifndef VELTRANE_CALLBACK_TABLES_H
#define VELTRANE_CALLBACK_TABLES_H

#include "libitg.h"
#include "libquote.h"

namespace veltrane {

// Login, order report, match report, position row, insert answer, cancel
// answer, capital answer: the order the trade gateway expects.
ItgCallbacks TradeCallbackTable();

// Login, subscribe answer, unsubscribe answer, market data.
QuoteCallbacks QuoteCallbackTable();

}  // namespace veltrane

#endif  // VELTRANE_CALLBACK_TABLES_H

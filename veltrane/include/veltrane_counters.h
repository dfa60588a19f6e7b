// veltrane_counters.h: what veltrane counts while it runs, for a client that
// wants to watch the health of its feed. Counts are process-wide, start at 0
// when libveltrane.so loads, and only grow.

#ifndef VELTRANE_COUNTERS_H
#define VELTRANE_COUNTERS_H

#include <cstdint>

#include "ZR_QuantApi.h"

namespace veltrane {

// Market-data messages of a decoded type (Shanghai and Shenzhen snapshots
// and trades) that were dropped because their payload did not parse: cut
// short, malformed, or with a text that is not UTF-8. Such a message reaches
// no OnRtnMarket or OnRtnTransaction, since a half-decoded one would report
// made-up prices. Messages that arrive while no spi is registered are dropped
// without being parsed, and are not counted. Safe to call from any thread.
VELTRANE_API uint64_t UndecodedQuoteMessages() noexcept;

}  // namespace veltrane

#endif  // VELTRANE_COUNTERS_H

// veltrane_counters.h: what veltrane counts while it runs, for a client that
// wants to watch the health of its feed. Counts are process-wide, start at 0
// when libveltrane.so loads, and only grow.

#ifndef VELTRANE_COUNTERS_H
#define VELTRANE_COUNTERS_H

#include <cstdint>
#include <string>

#include "ZR_QuantApi.h"

namespace veltrane {

// Market-data messages of a decoded type (Shanghai and Shenzhen snapshots
// and trades) that were dropped because their payload did not parse: cut
// short, malformed, or with a text that is not UTF-8. Such a message reaches
// no OnRtnMarket or OnRtnTransaction, since a half-decoded one would report
// made-up prices. Messages that arrive while no spi is registered are dropped
// without being parsed, and are not counted. Safe to call from any thread.
VELTRANE_API uint64_t UndecodedQuoteMessages() noexcept;

// Failures to keep the order-number file: a file that could not be opened,
// created, locked, read or written (read-only, immutable, a directory in its
// place, a full disk), a number that the file gives to another code than
// this process does, and a new code met once the numbers are used up. Each
// new number handed out while the file refused it counts once; it lives in
// memory and reaches the file with the next write that succeeds, if one does
// before the process ends. Safe to call from any thread.
VELTRANE_API uint64_t OrderFileErrors() noexcept;
// The latest of those failures as a line of text, e.g.
// "./orders.temp.20201009: cannot append: No space left on device"; empty
// while there was none.
VELTRANE_API std::string LastOrderFileError();

}  // namespace veltrane

#endif  // VELTRANE_COUNTERS_H

// fake_gateways.h: the test doubles of the outside libraries. Besides the
// vendor's C interface (libitg.h, libquote.h), each double exports the table
// it was last given, so that a test can fire any registered callback (on the
// gateway thread, see call_log.h).

#ifndef VELTRANE_TESTS_FAKE_GATEWAYS_H
#define VELTRANE_TESTS_FAKE_GATEWAYS_H

#include "call_log.h"
#include "libitg.h"
#include "libquote.h"

namespace fake {

// The tables last registered; all entries null before any registration.
FAKE_API ItgCallbacks RegisteredItgCallbacks();
FAKE_API QuoteCallbacks RegisteredQuoteCallbacks();

}  // namespace fake

#endif  // VELTRANE_TESTS_FAKE_GATEWAYS_H

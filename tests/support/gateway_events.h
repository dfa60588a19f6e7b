// gateway_events.h: firing the registered callbacks of the test doubles the
// way the outside libraries do, on their gateway thread.

#ifndef VELTRANE_TESTS_GATEWAY_EVENTS_H
#define VELTRANE_TESTS_GATEWAY_EVENTS_H

#include <functional>

#include "fake_gateways.h"

namespace testing_support {

inline void FireTrade(const std::function<void(const ItgCallbacks&)>& fire) {
  fake::RunOnGatewayThread([fire] { fire(fake::RegisteredItgCallbacks()); });
}

inline void FireQuote(const std::function<void(const QuoteCallbacks&)>& fire) {
  fake::RunOnGatewayThread([fire] { fire(fake::RegisteredQuoteCallbacks()); });
}

// One plausible event through every entry of both tables.
inline void FireEveryEntry() {
  FireTrade([](const ItgCallbacks& itg) {
    itg.onLogin(1, 0, "welcome");
    itg.onOrder(1, 0, "ok", "600000", "A1", "SH", 1, 12.34, 100, 0, 0, '2', "093000", 2);
    itg.onMatch(1, 0, "ok", "600000", "A1", "SH", "M1", 1, 12.34, 100, "093001", 2);
    itg.onPosition(1, 0, "ok", "600000", 300, 1);
    itg.onInsert(1, 0, "ok", "600000", "A1", "SH", 1, 12.34, 100);
    itg.onCancel(1, 0, "ok");
    itg.onBalance(1, 0, "ok", "CNY", "1000.5", "2000.5");
  });
  FireQuote([](const QuoteCallbacks& quote) {
    quote.onLogin(1, 0);
    quote.onSubscribe(1, 0, "ok");
    quote.onUnsubscribe(1, 0, "ok");
    quote.onData(1, 1, 1, "SSEL2_Quotation", "", 0);
  });
}

}  // namespace testing_support

#endif  // VELTRANE_TESTS_GATEWAY_EVENTS_H

// A quote library that does nothing, built as libquote.so for the benchmarks,
// so that a measurement ends at the gateway call and includes no gateway's
// own work. It keeps the callback table it is given, so that a benchmark can
// play the library's thread and call the entries itself.

#include "libquote.h"

namespace {
QuoteCallbacks g_table{};
}

extern "C" GATEWAY_EXPORT const QuoteCallbacks* NullQuote_RegisteredCallbacks(void) {
  return &g_table;
}

int64_t LibQuote_Init(void) { return 0; }
void Set_QCallbackInterface(const QuoteCallbacks* table) { g_table = *table; }
int64_t LibQuote_ReqUserLogin(int64_t, const TextView*) { return 0; }
int64_t LibQuote_ReqSubscribe(int64_t, int64_t, const TextList*) { return 0; }
int64_t LibQuote_ReqUnsubscribe(int64_t, const TextList*) { return 0; }

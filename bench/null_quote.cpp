// A quote library that does nothing, built as libquote.so for the benchmarks,
// so that a measurement ends at the gateway call and includes no gateway's
// own work.

#include "libquote.h"

int64_t LibQuote_Init(void) { return 0; }
void Set_QCallbackInterface(const QuoteCallbacks*) {}
int64_t LibQuote_ReqUserLogin(int64_t, const TextView*) { return 0; }
int64_t LibQuote_ReqSubscribe(int64_t, int64_t, const TextList*) { return 0; }
int64_t LibQuote_ReqUnsubscribe(int64_t, const TextList*) { return 0; }

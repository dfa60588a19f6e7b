// Stand-in for the outside Level-2 quote library, built as libquote.so with
// the vendor library's C interface. It accepts every request and answers 0;
// it keeps the callback table it is given but sends no events yet.

#include <mutex>

#include "libquote.h"

namespace {
std::mutex g_lock;
QuoteCallbacks g_callbacks{};
}  // namespace

int64_t LibQuote_Init(void) { return 0; }

void Set_QCallbackInterface(const QuoteCallbacks* table) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_callbacks = table != nullptr ? *table : QuoteCallbacks{};
}

int64_t LibQuote_ReqUserLogin(int64_t, const TextView*) { return 0; }
int64_t LibQuote_ReqSubscribe(int64_t, int64_t, const TextList*) { return 0; }
int64_t LibQuote_ReqUnsubscribe(int64_t, const TextList*) { return 0; }

// Test double of the quote library: records every call (see call_log.h) and
// keeps the registered callback table for tests to fire.

#include "fake_gateways.h"

namespace {
fake::RegisteredTable<QuoteCallbacks> g_table;
}

namespace fake {
QuoteCallbacks RegisteredQuoteCallbacks() { return g_table.Get(); }
}  // namespace fake

using fake::Int;

int64_t LibQuote_Init(void) { return fake::Record({"LibQuote_Init", {}}); }

void Set_QCallbackInterface(const QuoteCallbacks* table) {
  g_table.Register("Set_QCallbackInterface", table);
}

int64_t LibQuote_ReqUserLogin(int64_t mode, const TextView* param) {
  return fake::Record({"LibQuote_ReqUserLogin", {Int(mode), fake::ReadText(param)}});
}

int64_t LibQuote_ReqSubscribe(int64_t reqId, int64_t kinds, const TextList* codes) {
  return fake::Record({"LibQuote_ReqSubscribe", {Int(reqId), Int(kinds), fake::ReadList(codes)}});
}

int64_t LibQuote_ReqUnsubscribe(int64_t reqId, const TextList* codes) {
  return fake::Record({"LibQuote_ReqUnsubscribe", {Int(reqId), fake::ReadList(codes)}});
}

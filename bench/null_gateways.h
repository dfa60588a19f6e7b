// null_gateways.h: the callback tables that veltrane registered with the
// benchmarks' do-nothing libitg.so and libquote.so (null_itg.cpp,
// null_quote.cpp), so that a benchmark can play a library's thread and call
// the entries itself. Aborts when the loaded libraries are other ones.

#ifndef VELTRANE_BENCH_NULL_GATEWAYS_H
#define VELTRANE_BENCH_NULL_GATEWAYS_H

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "libitg.h"
#include "libquote.h"

template <class Table>
const Table& NullGatewayTable(const char* getterName) {
  using Getter = const Table* (*)();
  auto getter = reinterpret_cast<Getter>(dlsym(RTLD_DEFAULT, getterName));
  if (getter == nullptr) {
    std::fprintf(stderr, "%s: the gateways are not the benchmarks' do-nothing libraries\n",
                 getterName);
    std::abort();
  }
  return *getter();
}

inline const ItgCallbacks& NullItgCallbacks() {
  return NullGatewayTable<ItgCallbacks>("NullItg_RegisteredCallbacks");
}

inline const QuoteCallbacks& NullQuoteCallbacks() {
  return NullGatewayTable<QuoteCallbacks>("NullQuote_RegisteredCallbacks");
}

#endif  // VELTRANE_BENCH_NULL_GATEWAYS_H

// The C++ half of the Python benchmarks: a module "ombrel_bench" that plays
// the outside libraries' threads. Each function gives up the interpreter lock
// while its thread runs, so the dispatcher can deliver meanwhile.

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <boost/python.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "ZR_QuantApi.h"
#include "libquote.h"
#include "python_threads.h"
#include "quote_messages.h"

namespace {

namespace py = boost::python;
using testing_support::SpiOf;
using testing_support::WithoutGil;
using Clock = std::chrono::steady_clock;

template <class Function>
Function Lookup(const char* name) {
  void* found = dlsym(RTLD_DEFAULT, name);
  if (found == nullptr) {
    throw std::runtime_error(std::string(name) +
                             " not found: run with the benchmarks' do-nothing gateways first on "
                             "LD_LIBRARY_PATH (scripts/bench does)");
  }
  return reinterpret_cast<Function>(found);
}

// A snapshot as veltrane makes it from the tests' Shanghai message.
Corvane::MD_Market Snapshot() {
  Corvane::MD_Market market;
  std::memset(&market, 0, sizeof market);
  std::strcpy(market.szWindCode, "600000.SH");
  std::strcpy(market.szCode, "600000");
  market.nTime = 93000120;
  market.nPreClose = 122000;
  market.nOpen = 122500;
  market.nHigh = 125000;
  market.nLow = 121000;
  market.nMatch = 123400;
  for (int i = 0; i < 10; ++i) {
    market.nAskPrice[i] = 123500 + 100 * i;
    market.nAskVol[i] = 1100 + 100 * i;
    market.nBidPrice[i] = 123400 - 100 * i;
    market.nBidVol[i] = 2100 + 100 * i;
  }
  market.iVolume = 25000000;
  market.iTurnover = 3085000002500;
  return market;
}

Corvane::TD_RspOrderInsert InsertAnswer() {
  Corvane::TD_RspOrderInsert answer;
  answer.nReqID = 7;
  std::strcpy(answer.szContractCode, "600000.SH");
  answer.nTradeType = 2;
  answer.nOrderId = 12345;
  answer.nOrderPrice = 123400;
  answer.nOrderVol = 300;
  std::strcpy(answer.errDesc, "A0000123");
  return answer;
}

// Calls `fire` `count` times from a thread of its own, then OnConnect(99) as
// the end mark. Returns the seconds the thread took.
template <class Fire>
double Produce(const py::object& api, int count, Fire fire) {
  Corvane::ZR_QuantSpi& spi = SpiOf(api);
  WithoutGil released;
  double seconds = 0;
  std::thread producer([&] {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i) fire(spi);
    spi.OnConnect(99);
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
  });
  producer.join();
  return seconds;
}

double FireMarkets(py::object api, int count) {
  Corvane::MD_Market market = Snapshot();
  return Produce(api, count, [&](Corvane::ZR_QuantSpi& spi) { spi.OnRtnMarket(1, &market); });
}

// Snapshots of ten codes in turn whose books move: prices step by ticks
// within a band, volumes hardly repeat, as in a live feed.
double FireVariedMarkets(py::object api, int count) {
  static const char* const kCodes[] = {"600000", "600036", "601318", "601988", "600519",
                                       "000001", "000333", "000858", "002594", "300750"};
  Corvane::MD_Market market = Snapshot();
  int event = 0;
  return Produce(api, count, [&](Corvane::ZR_QuantSpi& spi) {
    const int code = event % 10;
    const int step = (event / 10) % 50;
    std::snprintf(market.szCode, sizeof market.szCode, "%s", kCodes[code]);
    std::snprintf(market.szWindCode, sizeof market.szWindCode, "%s.%s", kCodes[code],
                  code < 5 ? "SH" : "SZ");
    market.nTime = 93000000 + event % 3000000;
    market.nMatch = 100000 + 10000 * code + 100 * step;
    for (int i = 0; i < 10; ++i) {
      market.nAskPrice[i] = market.nMatch + 100 * (i + 1);
      market.nBidPrice[i] = market.nMatch - 100 * i;
      market.nAskVol[i] = 100 * ((event * 7919 + i * 131) % 9973);
      market.nBidVol[i] = 100 * ((event * 6271 + i * 173) % 9967);
    }
    market.iVolume += 100;
    market.iTurnover += 1234500;
    ++event;
    spi.OnRtnMarket(1, &market);
  });
}

double FireInsertAnswers(py::object api, int count) {
  Corvane::TD_RspOrderInsert answer = InsertAnswer();
  return Produce(api, count, [&](Corvane::ZR_QuantSpi& spi) { spi.OnRspOrderInsert(&answer, 0); });
}

std::atomic<int64_t> g_orders{0};
std::atomic<int64_t> g_lastOrderNs{0};

void OnPlaceOrder() {
  g_lastOrderNs.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
  g_orders.fetch_add(1, std::memory_order_release);
}

// From the quote library's market-data callback, on a thread of its own, to
// the order placement that the script's RtnMarket makes: `count` snapshots,
// each sent once the order of the one before has arrived and `gapMicros`
// later. Returns the latencies in nanoseconds, sorted.
py::list TickToTrade(int count, int gapMicros) {
  const QuoteCallbacks quote =
      *Lookup<const QuoteCallbacks* (*)()>("NullQuote_RegisteredCallbacks")();
  Lookup<void (*)(void (*)())>("NullItg_SetPlaceOrderHook")(&OnPlaceOrder);
  const std::string payload = testing_support::Encode(testing_support::ShanghaiSnapshot());
  std::vector<int64_t> latencies;
  latencies.reserve(static_cast<size_t>(count));
  {
    WithoutGil released;
    std::thread feed([&] {
      for (int i = 0; i < count; ++i) {
        const int64_t before = g_orders.load(std::memory_order_acquire);
        const Clock::time_point sent = Clock::now();
        quote.onData(1, i, 0, "SSEL2_Quotation", payload.data(),
                     static_cast<int32_t>(payload.size()));
        while (g_orders.load(std::memory_order_acquire) == before) {
          if (Clock::now() - sent > std::chrono::seconds(5)) return;  // no order: give up
        }
        latencies.push_back(g_lastOrderNs.load(std::memory_order_relaxed) -
                            sent.time_since_epoch().count());
        const Clock::time_point next = Clock::now() + std::chrono::microseconds(gapMicros);
        while (Clock::now() < next) {
        }
      }
    });
    feed.join();
  }
  Lookup<void (*)(void (*)())>("NullItg_SetPlaceOrderHook")(nullptr);
  std::sort(latencies.begin(), latencies.end());
  py::list result;
  for (int64_t latency : latencies) result.append(latency);
  return result;
}

}  // namespace

BOOST_PYTHON_MODULE(ombrel_bench) {
  py::def("fire_markets", &FireMarkets);
  py::def("fire_varied_markets", &FireVariedMarkets);
  py::def("fire_insert_answers", &FireInsertAnswers);
  py::def("tick_to_trade", &TickToTrade);
}

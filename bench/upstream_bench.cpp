// The vendor's market data on its way to the client, straight from the
// vendor's library and through the quote stand-in in front of it
// (VELTRANE_SIM_UPSTREAM), in the same run: the time from the vendor's call
// to the client's callback, and the vendor's thread's whole call (with the
// stand-in: the client, then the copy into the exchange's ring, and into
// the recorder's when VELTRANE_SIM_RECORD is set). The vendor is the tests'
// fake library; the client a callback that only reads the clock. Every few
// thousand messages the timer pauses for the exchange to drain its ring, so
// that the copies measured are real ones, not drops. Run with scripts/bench.

#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "libquote.h"
#include "median_reporter.h"
#include "quote_messages.h"

namespace {

using SendHere = void (*)(int32_t, const char*, const char*, int32_t, int64_t);
using SentAt = int64_t (*)();
using SetCallbacks = void (*)(const QuoteCallbacks*);

SendHere g_send = nullptr;
SentAt g_sentAt = nullptr;
SetCallbacks g_vendorSet = nullptr;
SetCallbacks g_standinSet = nullptr;
int64_t g_toClientNs = 0;
int64_t g_delivered = 0;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void ClientData(int32_t, int64_t, int64_t, const char*, const char* payload, int32_t) {
  g_toClientNs += NowNs() - g_sentAt();
  ++g_delivered;
  benchmark::DoNotOptimize(payload);
}

const QuoteCallbacks kClient{[](int32_t, int32_t) {}, [](int32_t, int32_t, const char*) {},
                             [](int32_t, int32_t, const char*) {}, &ClientData};

const std::string kSnapshot = testing_support::Encode(testing_support::ShanghaiSnapshot());

void Deliver(benchmark::State& state, SetCallbacks set) {
  set(&kClient);
  g_toClientNs = 0;
  g_delivered = 0;
  int64_t sinceDrain = 0;
  const auto length = static_cast<int32_t>(kSnapshot.size());
  for (auto _ : state) {
    g_send(1, "SSEL2_Quotation", kSnapshot.data(), length, 1);
    if (++sinceDrain == 4096) {
      state.PauseTiming();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      sinceDrain = 0;
      state.ResumeTiming();
    }
  }
  state.counters["to_client_ns"] =
      g_delivered > 0 ? static_cast<double>(g_toClientNs) / static_cast<double>(g_delivered) : 0;
}

void StraightFromTheVendor(benchmark::State& state) { Deliver(state, g_vendorSet); }
void ThroughTheStandIn(benchmark::State& state) { Deliver(state, g_standinSet); }

BENCHMARK(StraightFromTheVendor)->Repetitions(5);
BENCHMARK(ThroughTheStandIn)->Repetitions(5);

template <class Function>
Function Find(void* library, const char* name) {
  auto function = reinterpret_cast<Function>(library ? dlsym(library, name) : nullptr);
  if (function == nullptr) {
    std::fprintf(stderr, "upstream_bench: no %s: %s\n", name, dlerror());
    std::exit(1);
  }
  return function;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  setenv("VELTRANE_SIM_UPSTREAM", VENDOR_QUOTE, 1);
  void* vendor = dlopen(VENDOR_QUOTE, RTLD_NOW | RTLD_LOCAL);
  void* standin = dlopen(STANDIN_QUOTE, RTLD_NOW | RTLD_LOCAL);
  g_send = Find<SendHere>(vendor, "FakeVendor_SendHere");
  g_sentAt = Find<SentAt>(vendor, "FakeVendor_SentAt");
  g_vendorSet = Find<SetCallbacks>(vendor, "Set_QCallbackInterface");
  g_standinSet = Find<SetCallbacks>(standin, "Set_QCallbackInterface");
  Find<int64_t (*)()>(standin, "LibQuote_Init")();

  MedianKeeper reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const char* recording = std::getenv("VELTRANE_SIM_RECORD");
  std::printf("\nmedian ns per SSEL2_Quotation (%zu bytes), vendor's call%s\n", kSnapshot.size(),
              recording != nullptr ? ", recording to a tape" : "");
  const double straight = reporter.Median("StraightFromTheVendor");
  const double through = reporter.Median("ThroughTheStandIn");
  if (straight > 0 && through > 0) {
    std::printf("straight %.1f, through the stand-in %.1f, added %.1f\n", straight, through,
                through - straight);
  }
  return 0;
}

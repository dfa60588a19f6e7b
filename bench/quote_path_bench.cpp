// Cost of a Level-2 message on its way to the client: from the entry of the
// quote library's market-data callback to the return of an empty OnRtnMarket
// or OnRtnTransaction, beside the bare protobuf parse of the same payload in
// the same run, and again while a price band is set (the last price is then
// noted for the risk checks). Run with scripts/bench.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "ZR_QuantApi.h"
#include "median_reporter.h"
#include "null_gateways.h"
#include "quote_messages.h"
#include "veltrane_risk.h"

namespace {

using testing_support::Encode;

class EmptySpi : public Corvane::ZR_QuantSpi {
 public:
  void OnConnect(int) override {}
  void OnDisconnect(int) override {}
  void OnRtnMarket(int, Corvane::MD_Market* market) override { benchmark::DoNotOptimize(market); }
  void OnRtnTransaction(int, Corvane::MD_Transaction* trade) override {
    benchmark::DoNotOptimize(trade);
  }
};

template <class Message>
void BareParse(benchmark::State& state, const std::string& payload) {
  for (auto _ : state) {
    Message message;
    benchmark::DoNotOptimize(
        message.ParseFromArray(payload.data(), static_cast<int>(payload.size())));
  }
}

void Translate(benchmark::State& state, const char* typeName, const std::string& payload) {
  veltrane::RiskLimits limits;
  limits.price_band = state.range(0) != 0 ? 0.05 : 0;
  veltrane::SetRiskLimits(limits);
  EmptySpi spi;
  Corvane::ZR_QuantApi* api = Corvane::ZR_QuantApi::createApi(
      &spi, false, Corvane::ZR_QuantTdApp_Default, Corvane::ZR_QuantMdApp_Level2);
  const QuoteCallbacks& quote = NullQuoteCallbacks();
  const int32_t length = static_cast<int32_t>(payload.size());
  for (auto _ : state) quote.onData(1, 0, 0, typeName, payload.data(), length);
  Corvane::ZR_QuantApi::deleteApi(api);
  veltrane::SetRiskLimits(veltrane::RiskLimits{});
}

const std::string kSnapshot = Encode(testing_support::ShanghaiSnapshot());
const std::string kTrade = Encode(testing_support::ShenzhenTrade());

void BareParseSnapshot(benchmark::State& state) {
  BareParse<lmvproto::SSEL2_Quotation>(state, kSnapshot);
}
void TranslateSnapshot(benchmark::State& state) { Translate(state, "SSEL2_Quotation", kSnapshot); }
void BareParseTrade(benchmark::State& state) {
  BareParse<lmvproto::SZSEL2_Transaction>(state, kTrade);
}
void TranslateTrade(benchmark::State& state) { Translate(state, "SZSEL2_Transaction", kTrade); }

BENCHMARK(BareParseSnapshot)->Repetitions(5);
BENCHMARK(TranslateSnapshot)->Arg(0)->Arg(1)->Repetitions(5);
BENCHMARK(BareParseTrade)->Repetitions(5);
BENCHMARK(TranslateTrade)->Arg(0)->Arg(1)->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  MedianKeeper reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf(
      "\nmedian ns per message        bare parse   whole translation   ratio   with a price band\n");
  const struct {
    const char* label;
    const char* bare;
    const char* whole;
  } rows[] = {{"SSEL2_Quotation, 10 levels", "BareParseSnapshot", "TranslateSnapshot"},
              {"SZSEL2_Transaction", "BareParseTrade", "TranslateTrade"}};
  for (const auto& row : rows) {
    const double bare = reporter.Median(row.bare);
    const double whole = reporter.Median(std::string(row.whole) + "/0");
    const double banded = reporter.Median(std::string(row.whole) + "/1");
    if (bare > 0 && whole > 0) {
      std::printf("%-28s %10.1f %19.1f %7.2f %19.1f\n", row.label, bare, whole, whole / bare,
                  banded);
    }
  }
  return 0;
}

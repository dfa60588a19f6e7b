// Costs on the trade path: a new code entering the order-number map (and its
// file) with 1,000 and with 100,000 entries already held, side by side, with
// a whole-file rewrite for scale; and reqOrderInsert down to the gateway
// call, against a gateway that does nothing. Run with scripts/bench.

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ZR_QuantApi.h"
#include "median_reporter.h"

namespace {

// The map writes its file into the current directory: give it a fresh one
// beside where the benchmark was started, on the same file system.
class ScratchDirectory {
 public:
  ScratchDirectory() : home_(std::filesystem::current_path()) {
    char name[] = "bench-orders-XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    path_ = home_ / name;
    std::filesystem::current_path(path_);
  }
  ~ScratchDirectory() {
    std::filesystem::current_path(home_);
    std::filesystem::remove_all(path_);
  }

 private:
  std::filesystem::path home_;
  std::filesystem::path path_;
};

constexpr int kNewCodes = 20000;

void NewCode(benchmark::State& state) {
  ScratchDirectory directory;
  TraderApiGo api;
  for (int64_t i = 0; i < state.range(0); ++i) api.GenSaveOrderId("HELD" + std::to_string(i));
  api.LoadOrderMap();  // as after a login: the file rewritten whole, sorted
  std::vector<std::string> codes;
  for (int i = 0; i < kNewCodes; ++i) codes.push_back("NEW" + std::to_string(i));
  size_t next = 0;
  for (auto _ : state) benchmark::DoNotOptimize(api.GenSaveOrderId(codes[next++]));
}
BENCHMARK(NewCode)->Arg(1000)->Arg(100000)->Iterations(kNewCodes)->Repetitions(5);

// What every new code would cost if it rewrote the whole file, for scale.
void WholeFileRewrite(benchmark::State& state) {
  ScratchDirectory directory;
  TraderApiGo api;
  for (int64_t i = 0; i < state.range(0); ++i) api.GenSaveOrderId("HELD" + std::to_string(i));
  for (auto _ : state) api.SaveOrderMap();
}
BENCHMARK(WholeFileRewrite)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

class IdleSpi : public Corvane::ZR_QuantSpi {
 public:
  void OnConnect(int) override {}
  void OnDisconnect(int) override {}
};

void OrderInsert(benchmark::State& state) {
  IdleSpi spi;
  Corvane::ZR_QuantApi* api = Corvane::ZR_QuantApi::createApi(
      &spi, false, Corvane::ZR_QuantTdApp_Default, Corvane::ZR_QuantMdApp_Level2);
  Corvane::TD_ReqOrderInsert request;
  request.nReqID = 1;
  std::snprintf(request.szContractCode, sizeof request.szContractCode, "600000.SH");
  request.nTradeType = 2;
  request.nOrderPrice = 123400;
  request.nOrderVol = 100;
  for (auto _ : state) benchmark::DoNotOptimize(api->reqOrderInsert(&request));
  Corvane::ZR_QuantApi::deleteApi(api);
}
BENCHMARK(OrderInsert)->Repetitions(5);

// Where the gateway that the insert reaches was loaded from.
std::string LoadedTradeGateway() {
  Dl_info info{};
  void* function = dlsym(RTLD_DEFAULT, "LibITG_ReqPlaceOrder");
  if (function == nullptr || dladdr(function, &info) == 0 || info.dli_fname == nullptr) {
    return "(not found)";
  }
  return info.dli_fname;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::AddCustomContext("libitg.so", LoadedTradeGateway());
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  MedianKeeper reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const double few = reporter.Median("NewCode/1000");
  const double many = reporter.Median("NewCode/100000");
  if (few > 0 && many > 0) {
    std::printf("\nnew code, median ns:  1,000 held %.0f   100,000 held %.0f   ratio %.2f\n", few,
                many, many / few);
  }
  return 0;
}

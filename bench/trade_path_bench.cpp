// Costs on the trade path: a new code entering the order-number map (and its
// shared file, under the file's lock) with 1,000 and with 100,000 entries
// already held, beside the same work without the lock and the catching up
// that sharing the file takes; a login's load of the file for scale; and
// reqOrderInsert down to the gateway call, against a gateway that does
// nothing, with every risk limit off and with every one on (none reached).
// Run with scripts/bench.

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ZR_QuantApi.h"
#include "median_reporter.h"
#include "null_gateways.h"
#include "quote_messages.h"
#include "veltrane_risk.h"

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
  api.LoadOrderMap();  // as after a login
  std::vector<std::string> codes;
  for (int i = 0; i < kNewCodes; ++i) codes.push_back("NEW" + std::to_string(i));
  size_t next = 0;
  for (auto _ : state) benchmark::DoNotOptimize(api.GenSaveOrderId(codes[next++]));
}
BENCHMARK(NewCode)->Arg(1000)->Arg(100000)->Iterations(kNewCodes)->Repetitions(5);

// A new code as it was numbered before the file was shared: both map
// entries, a stat of the path to see the file is still the one written,
// and one appended line; no lock, nothing read back.
void NewCodeUnshared(benchmark::State& state) {
  ScratchDirectory directory;
  std::map<long long, std::string> byNumber;
  std::map<std::string, long long> byCode;
  const int fd = ::open("orders", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  long long next = 0;
  for (; next < state.range(0); ++next) {
    const std::string code = "HELD" + std::to_string(next);
    byNumber.emplace(next, code);
    byCode.emplace(code, next);
    const std::string line = std::to_string(next) + " " + code + "\n";
    if (::write(fd, line.data(), line.size()) < 0) state.SkipWithError("write");
  }
  std::vector<std::string> codes;
  for (int i = 0; i < kNewCodes; ++i) codes.push_back("NEW" + std::to_string(i));
  size_t at = 0;
  for (auto _ : state) {
    const std::string& code = codes[at++];
    if (byCode.count(code) != 0) continue;
    const long long number = next++;
    byNumber.emplace(number, code);
    byCode.emplace(code, number);
    struct stat current {};
    benchmark::DoNotOptimize(::stat("orders", &current));
    const std::string line = std::to_string(number) + " " + code + "\n";
    if (::write(fd, line.data(), line.size()) < 0) state.SkipWithError("write");
  }
  ::close(fd);
}
BENCHMARK(NewCodeUnshared)->Arg(1000)->Arg(100000)->Iterations(kNewCodes)->Repetitions(5);

// A login's load: the whole file read back into a fresh map, for scale.
void LoginLoad(benchmark::State& state) {
  ScratchDirectory directory;
  {
    TraderApiGo writer;
    for (int64_t i = 0; i < state.range(0); ++i) writer.GenSaveOrderId("HELD" + std::to_string(i));
  }
  for (auto _ : state) {
    TraderApiGo api;
    api.LoadOrderMap();
    benchmark::DoNotOptimize(api.iNextOrderId);
  }
}
BENCHMARK(LoginLoad)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

class IdleSpi : public Corvane::ZR_QuantSpi {
 public:
  void OnConnect(int) override {}
  void OnDisconnect(int) override {}
};

constexpr int kCodes = 10;
constexpr int kBatch = 100;

// Every limit on and none reached: each check does its whole work.
veltrane::RiskLimits EveryLimit() {
  veltrane::RiskLimits limits;
  limits.max_orders_per_second = 1000000000;
  limits.max_orders_per_day = 1000000000000;
  limits.max_cancels_per_day = 1000000000000;
  limits.max_order_quantity = 1000000;
  limits.max_order_value = 1000000000;
  limits.max_working_orders = 2 * kBatch;
  limits.max_working_orders_per_code = 2 * kBatch;
  limits.price_band = 0.1;
  limits.refuse_without_price = true;
  limits.refuse_self_cross = true;
  limits.max_position_per_code = 1000000000;
  return limits;
}

// A batch of 100 orders over ten codes (one iteration), then refused by their
// insert answers (untimed), so that at most 100 are working: the argument
// says whether every limit is on.
void OrderInsert(benchmark::State& state) {
  IdleSpi spi;
  Corvane::ZR_QuantApi* api = Corvane::ZR_QuantApi::createApi(
      &spi, false, Corvane::ZR_QuantTdApp_Default, Corvane::ZR_QuantMdApp_Level2);
  const bool limited = state.range(0) != 0;
  veltrane::SetRiskLimits(limited ? EveryLimit() : veltrane::RiskLimits{});
  const ItgCallbacks& itg = NullItgCallbacks();
  const QuoteCallbacks& quote = NullQuoteCallbacks();
  std::vector<Corvane::TD_ReqOrderInsert> requests(kBatch);
  for (int i = 0; i < kBatch; ++i) {
    Corvane::TD_ReqOrderInsert& request = requests[i];
    request.nReqID = i + 1;
    std::snprintf(request.szContractCode, sizeof request.szContractCode, "60000%d", i % kCodes);
    request.nTradeType = 1;
    request.nOrderPrice = 123400;
    request.nOrderVol = 100;
    if (i < kCodes) {
      lmvproto::SSEL2_Transaction trade = testing_support::ShanghaiTrade();
      trade.set_symbol(request.szContractCode);
      const std::string bytes = testing_support::Encode(trade);
      quote.onData(1, 0, 0, "SSEL2_Transaction", bytes.data(), static_cast<int32_t>(bytes.size()));
    }
  }
  // As the gateway refuses them, so that they stop working.
  auto refuse = [&](int count) {
    for (int i = 0; i < count; ++i) {
      itg.onInsert(requests[i].nReqID, 1, "refused", requests[i].szContractCode, "", "",
                   LIBITG_SIDE_BUY, 12.34, 100);
    }
  };
  // Timed by hand, a batch at a time: pausing the benchmark's own timers
  // costs system calls that would land in the figure.
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    for (Corvane::TD_ReqOrderInsert& request : requests) {
      benchmark::DoNotOptimize(api->reqOrderInsert(&request));
    }
    const auto end = std::chrono::steady_clock::now();
    refuse(kBatch);
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
  }
  // A refused order costs less than a sent one: none may be refused here.
  if (!veltrane::LastRiskRefusal().empty()) state.SkipWithError(veltrane::LastRiskRefusal().c_str());
  veltrane::SetRiskLimits(veltrane::RiskLimits{});
  Corvane::ZR_QuantApi::deleteApi(api);
}
BENCHMARK(OrderInsert)->Arg(0)->Arg(1)->UseManualTime()->Repetitions(5);

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
  const double unsharedFew = reporter.Median("NewCodeUnshared/1000");
  const double unsharedMany = reporter.Median("NewCodeUnshared/100000");
  if (few > 0 && unsharedFew > 0 && unsharedMany > 0) {
    std::printf("without the file's lock: 1,000 held %.0f   100,000 held %.0f   "
                "the lock's cost: %.2fx and %.2fx\n",
                unsharedFew, unsharedMany, few / unsharedFew, many / unsharedMany);
  }
  const double open = reporter.Median("OrderInsert/0") / kBatch;
  const double limited = reporter.Median("OrderInsert/1") / kBatch;
  if (open > 0 && limited > 0) {
    std::printf("reqOrderInsert, median ns an order: every limit off %.0f   every limit on %.0f   "
                "the checks' cost %.0f\n",
                open, limited, limited - open);
  }
  return 0;
}

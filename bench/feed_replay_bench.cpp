// feed_replay_bench: a whole day of the simulated feed, replayed as fast as it
// goes, through veltrane to a C++ client that counts what arrives.
//
//   feed_replay_bench CODE...
//
// The feed's settings come from the VELTRANE_SIM_* variables (a tape, or the
// generated market); the speed is "max" unless set. Prints the messages
// delivered, the time from the subscription's answer to the last message,
// and the rate. The day is over when nothing has arrived for a second.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "ZR_QuantApi.h"

namespace {

using Clock = std::chrono::steady_clock;

class CountingSpi : public Corvane::ZR_QuantSpi {
 public:
  void OnConnect(int) override {}
  void OnDisconnect(int) override {}
  void OnRtnUserInfo(Corvane::ZR_QuantUserBase* pUser) override {
    if (pUser->nReserved26 == 2) Signal(loggedIn_);
  }
  void OnRtnLoginWarn(int nErrorId) override {
    std::fprintf(stderr, "login refused: %d\n", nErrorId);
    std::exit(1);
  }
  void OnRspSubQuote(int, int, int, const char (*)[32], int, const char*, const char*, int nErrorId,
                     const char* errDesc) override {
    if (nErrorId != 0) {
      std::fprintf(stderr, "subscription refused: %d %s\n", nErrorId, errDesc);
      std::exit(1);
    }
    answeredAt_ = Clock::now();
    Signal(subscribed_);
  }
  void OnRtnMarket(int, Corvane::MD_Market*) override { Count(snapshots_); }
  void OnRtnTransaction(int, Corvane::MD_Transaction*) override { Count(trades_); }

  // Waits for the quote library's login answer (the trade gateway's may
  // come too, or not).
  bool WaitForLogin() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return loggedIn_ > 0; });
  }
  bool WaitForSubscription() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return subscribed_ > 0; });
  }
  // Returns once no message has come for `quiet`.
  void WaitForQuiet(std::chrono::milliseconds quiet) {
    int64_t seen = -1;
    while (seen != Total()) {
      seen = Total();
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_for(lock, quiet);
    }
  }

  int64_t Total() const { return snapshots_.load() + trades_.load(); }
  int64_t snapshots() const { return snapshots_.load(); }
  int64_t trades() const { return trades_.load(); }
  double Seconds() const {
    return std::chrono::duration<double>(Clock::time_point(Clock::duration(lastAt_.load())) -
                                         answeredAt_)
        .count();
  }

 private:
  void Signal(int& flag) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      ++flag;
    }
    changed_.notify_all();
  }
  // One event: counted, stamped; nothing else, so the feed sets the pace.
  void Count(std::atomic<int64_t>& counter) {
    counter.fetch_add(1, std::memory_order_relaxed);
    lastAt_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  int loggedIn_ = 0;
  int subscribed_ = 0;
  Clock::time_point answeredAt_;
  std::atomic<int64_t> snapshots_{0};
  std::atomic<int64_t> trades_{0};
  std::atomic<Clock::rep> lastAt_{0};
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: feed_replay_bench CODE...\n");
    return 2;
  }
  setenv("VELTRANE_SIM_SPEED", "max", 0);
  std::vector<std::array<char, 32>> codes(argc - 1);
  for (int i = 1; i < argc; ++i) {
    codes[i - 1] = {};
    std::strncpy(codes[i - 1].data(), argv[i], 31);
  }

  CountingSpi spi;
  Corvane::ZR_QuantApi* api = Corvane::ZR_QuantApi::createApi(
      &spi, false, Corvane::ZR_QuantTdApp_Default, Corvane::ZR_QuantMdApp_Level2);
  Corvane::ZR_QuantApi::Init();
  // The demo account: the venue then follows every message, as it does for
  // a strategy that trades.
  char user[] = "demo";
  char password[] = "demo";
  api->Login(user, password);
  if (!spi.WaitForLogin()) {
    std::fprintf(stderr, "no login answer\n");
    return 1;
  }
  const auto* table = reinterpret_cast<const char(*)[32]>(codes.data());
  if (api->ReqSubQuote(1, 1 | 4, 0, table, static_cast<int>(codes.size()), "", "") != 0 ||
      !spi.WaitForSubscription()) {
    std::fprintf(stderr, "the subscription failed\n");
    return 1;
  }
  spi.WaitForQuiet(std::chrono::milliseconds(1000));
  if (spi.Total() == 0) {
    // No first message, so no time to measure from.
    std::printf("0 messages: nothing arrived for these codes\n");
    Corvane::ZR_QuantApi::deleteApi(api);
    return 1;
  }
  std::printf("%lld messages (%lld snapshots, %lld trades) in %.3f s: %.0f messages/s\n",
              static_cast<long long>(spi.Total()), static_cast<long long>(spi.snapshots()),
              static_cast<long long>(spi.trades()), spi.Seconds(),
              static_cast<double>(spi.Total()) / spi.Seconds());
  Corvane::ZR_QuantApi::deleteApi(api);
  return 0;
}

// paper_client: a small trend-following strategy written against ZR_QuantApi,
// paper trading against the simulated exchange of the stand-ins (or against
// whatever libitg.so / libquote.so come first on LD_LIBRARY_PATH).
//
// It subscribes to three stocks, buys up to 1000 shares at the best ask when
// a fast average of the mid price rises above a slow one and sells at the
// best bid when it falls below, one order at a time per stock. Shares settle
// the next day (T+1), so it sells only what it held when the day began. When
// the market falls quiet (the simulated day is over) or after a minute it
// queries its positions and capital and prints a summary.
//
// Every callback runs on a library's thread; the strategy places its orders
// from inside them, and the main thread only waits and prints.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "ZR_QuantApi.h"
#include "veltrane_risk.h"

namespace {

constexpr const char kCodes[3][32] = {"600000.SH", "000001.SZ", "601318.SH"};
constexpr int kLot = 1000;
constexpr double kFast = 0.3, kSlow = 0.05, kBand = 0.0005;

struct Stock {
  double fast = 0, slow = 0;
  int position = 0;
  int sellable = 0;      // held when the day began, less what was sold since
  bool pending = false;  // an order is working; wait for its end
};

class Strategy : public Corvane::ZR_QuantSpi {
 public:
  // Before Init: no callback comes earlier.
  void Attach(Corvane::ZR_QuantApi* api) { api_ = api; }

  void OnConnect(int) override {}
  void OnDisconnect(int) override {}
  void OnRtnUserInfo(Corvane::ZR_QuantUserBase* user) override {
    if (user->errDesc[0] != '\0') std::printf("trade login: %s\n", user->errDesc);
  }
  void OnRtnLoginWarn(int error) override { std::printf("login refused: %d\n", error); }

  void OnRtnMarket(int, Corvane::MD_Market* market) override {
    std::lock_guard<std::mutex> hold(lock_);
    lastEvent_ = std::chrono::steady_clock::now();
    int32_t bid = market->nBidPrice[0], ask = market->nAskPrice[0];
    // A call auction's snapshot shows its indicative price on both sides: no
    // book to trade against yet.
    if (bid <= 0 || ask <= bid) return;
    Stock& stock = stocks_[market->szWindCode];
    double mid = (bid + ask) / 2.0;
    bool first = stock.slow == 0;
    stock.fast = first ? mid : stock.fast + kFast * (mid - stock.fast);
    stock.slow = first ? mid : stock.slow + kSlow * (mid - stock.slow);
    if (stock.pending) return;
    if (stock.position < kLot && stock.fast > stock.slow * (1 + kBand)) {
      Place(market->szCode, 1, ask, (kLot - stock.position) / 100 * 100, stock);
    } else if (stock.sellable > 0 && stock.fast < stock.slow * (1 - kBand)) {
      Place(market->szCode, 2, bid, stock.sellable, stock);
    }
  }

  void OnRtnOrderMatchNotice(Corvane::TD_RtnOrderMatchNotice* match) override {
    std::lock_guard<std::mutex> hold(lock_);
    const bool buy = match->nTradeType == 1;
    Stock& stock = stocks_[match->szContractCode];
    stock.position += buy ? match->nMatchVol : -match->nMatchVol;
    if (!buy) stock.sellable -= match->nMatchVol;
    ++fills_;
    std::printf("%s %s %s %d @ %.2f (order %lld)\n", match->szMatchTime, buy ? "bought" : "sold  ",
                match->szContractCode, match->nMatchVol, match->nMatchPrice / 10000,
                static_cast<long long>(match->nOrderId));
  }

  void OnRtnOrderStatusChangeNotice(Corvane::TD_RspOrderInsert* order) override {
    std::lock_guard<std::mutex> hold(lock_);
    // 6 filled, -8 rejected, -9 cancelled or expired: the order is over.
    if (order->nStatus == 6 || order->nStatus == -8 || order->nStatus == -9) {
      stocks_[order->szContractCode].pending = false;
    }
    if (order->nStatus == -8) std::printf("order rejected: %s\n", order->errDesc);
  }

  void OnRspQryPosition(Corvane::TD_RspQryPosition* row, int, bool last) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (row->szContractCode[0] != '\0') {
      // The first answer is what the day began with: all of it may be sold.
      if (!started_) {
        Stock& stock = stocks_[row->szContractCode];
        stock.position = stock.sellable = row->nPosition;
      }
      positions_ +=
          std::string("  ") + row->szContractCode + " " + std::to_string(row->nPosition) + "\n";
    }
    positionsDone_ = last;
    answered_.notify_all();
  }

  void OnRspQryAccountMaxEntrustCount(Corvane::TD_RspQryAccountMaxEntrustCount* capital, int error,
                                      bool) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (error == 0) {
      (startTotal_ < 0 ? startTotal_ : endTotal_) = capital->nTotalCaptial;
      available_ = capital->nAvailableCaptial;
    }
    ++capitalAnswers_;
    answered_.notify_all();
  }

  // Waits until no market event has come for two seconds, or a minute.
  void WaitForTheClose() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    std::unique_lock<std::mutex> hold(lock_);
    while (std::chrono::steady_clock::now() < deadline) {
      answered_.wait_for(hold, std::chrono::milliseconds(200));
      if (lastEvent_ && std::chrono::steady_clock::now() - *lastEvent_ > std::chrono::seconds(2)) {
        return;
      }
    }
  }

  // Waits up to five seconds for `done`.
  template <class Done>
  bool Await(Done done) {
    std::unique_lock<std::mutex> hold(lock_);
    return answered_.wait_for(hold, std::chrono::seconds(5), [&] { return done(*this); });
  }

  void PrintSummary() {
    std::lock_guard<std::mutex> hold(lock_);
    std::printf("\nsummary: %d orders, %d fills\npositions:\n%s", orders_, fills_,
                positions_.empty() ? "  none\n" : positions_.c_str());
    std::printf("capital: %d available, %d total; profit and loss %d\n", available_, endTotal_,
                endTotal_ - startTotal_);
  }

  // The day begins: later position answers are the summary's.
  void Start() {
    std::lock_guard<std::mutex> hold(lock_);
    started_ = true;
    positions_.clear();
    positionsDone_ = false;
  }

  int capitalAnswers_ = 0;
  bool positionsDone_ = false;

 private:
  void Place(const char* code, int tradeType, int32_t price, int volume, Stock& stock) {
    Corvane::TD_ReqOrderInsert order;
    order.nReqID = ++requests_;
    std::strncpy(order.szContractCode, code, sizeof order.szContractCode - 1);
    order.nTradeType = tradeType;
    order.nOrderPrice = price;
    order.nOrderVol = volume;
    const int result = api_->reqOrderInsert(&order);
    if (result == 0) {
      stock.pending = true;
      ++orders_;
    } else if (result == -1) {
      std::printf("%s\n", veltrane::LastRiskRefusal().c_str());
    }
  }

  Corvane::ZR_QuantApi* api_ = nullptr;
  std::mutex lock_;
  std::condition_variable answered_;
  std::map<std::string, Stock> stocks_;
  std::optional<std::chrono::steady_clock::time_point> lastEvent_;
  int requests_ = 100, orders_ = 0, fills_ = 0;
  std::string positions_;
  bool started_ = false;
  int startTotal_ = -1, endTotal_ = 0, available_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  char user[64] = "demo", password[64] = "demo";
  if (argc == 3) {
    std::snprintf(user, sizeof user, "%s", argv[1]);
    std::snprintf(password, sizeof password, "%s", argv[2]);
  }
  // Hard limits checked before an order reaches the broker: far above what
  // this strategy means to do, so only a bug meets them.
  veltrane::RiskLimits limits;
  limits.max_orders_per_second = 20;
  limits.max_orders_per_day = 2000;
  limits.max_cancels_per_day = 2000;
  limits.max_order_quantity = 2000;
  limits.max_order_value = 200000;  // yuan
  limits.max_working_orders = 6;
  limits.max_working_orders_per_code = 2;
  limits.price_band = 0.02;  // 2% from the last traded price
  limits.refuse_self_cross = true;
  limits.max_position_per_code = 3000;
  veltrane::SetRiskLimits(limits);

  Strategy strategy;
  Corvane::ZR_QuantApi* api = Corvane::ZR_QuantApi::createApi(
      &strategy, false, Corvane::ZR_QuantTdApp_Default, Corvane::ZR_QuantMdApp_Level2);
  strategy.Attach(api);
  Corvane::ZR_QuantApi::Init();
  api->Login(user, password);

  Corvane::TD_ReqQryAccountMaxEntrustCount capital;
  capital.nReqID = 1;
  api->reqQryAccountMaxEntrustCount(&capital);
  Corvane::TD_ReqQryPosition positions;
  positions.nReqID = 0;
  api->reqQryPosition(&positions);
  strategy.Await([](const Strategy& s) { return s.capitalAnswers_ == 1 && s.positionsDone_; });
  strategy.Start();
  api->ReqSubQuote(2, 1, 0, kCodes, 3, "", "");
  strategy.WaitForTheClose();

  positions.nReqID = 3;
  api->reqQryPosition(&positions);
  capital.nReqID = 4;
  api->reqQryAccountMaxEntrustCount(&capital);
  strategy.Await([](const Strategy& s) { return s.positionsDone_ && s.capitalAnswers_ == 2; });
  strategy.PrintSummary();
  Corvane::ZR_QuantApi::deleteApi(api);
  return 0;
}

// TraderApiGo: construction, destruction, callback registration, and the
// operations of the interface that this library does not carry out.

#include <memory>

#include "ZR_QuantApi.h"
#include "active_instance.h"
#include "callback_tables.h"
#include "order_file.h"

namespace {
constexpr int kNotCarriedOut = -1;
}

TraderApiGo::TraderApiGo() {
  auto lock = std::make_unique<std::mutex>();
  pOrderFile = new veltrane::OrderFile;
  pOrderLock = lock.release();
}

TraderApiGo::~TraderApiGo() {
  veltrane::RetireInstance(this);
  delete pOrderFile;
  delete pOrderLock;
}

void TraderApiGo::RegisterSpi(Corvane::ZR_QuantSpi* spi) {
  // Callbacks may be reading it on the libraries' threads.
  __atomic_store_n(&pSpi, spi, __ATOMIC_RELEASE);
  // The libraries copy the tables during the call; they need not outlive it.
  const ItgCallbacks trade = veltrane::TradeCallbackTable();
  Set_CallbackInterface(&trade);
  const QuoteCallbacks quote = veltrane::QuoteCallbackTable();
  Set_QCallbackInterface(&quote);
}

int TraderApiGo::SetNewBackTest(Corvane::ZR_BackTestReq*) { return kNotCarriedOut; }
int TraderApiGo::GetCode() { return kNotCarriedOut; }
void TraderApiGo::Run() {}
void TraderApiGo::BreakExec() {}
int TraderApiGo::reqQryMaxEntrustCount(Corvane::TD_ReqQryMaxEntrustCount*) {
  return kNotCarriedOut;
}
int TraderApiGo::reqQryAccountInitMaxEntrustCount(Corvane::TD_ReqQryAccountMaxEntrustCount*) {
  return kNotCarriedOut;
}
int TraderApiGo::reqSubscribeMaxEntrustCount() { return kNotCarriedOut; }
int TraderApiGo::ReqTradingDay(int, const char (*)[32], int, const char* const, const char* const) {
  return kNotCarriedOut;
}
int TraderApiGo::ReqHaltingDay(int, const char (*)[32], int, const char* const, const char* const) {
  return kNotCarriedOut;
}

// The trade gateway's callbacks: each translates one event into a record and
// hands it to the client's spi, on the gateway's thread.

#include "active_instance.h"
#include "callback_tables.h"
#include "login_events.h"
#include "trade_events.h"

namespace veltrane {
namespace {

using Corvane::ZR_QuantSpi;

void OnItgLogin(int32_t, int32_t status, const char* message) noexcept {
  DeliverToClient(
      [&](TraderApiGo&, ZR_QuantSpi& spi) { ReportLogin(spi, kTradeService, status, message); });
}

// Order, match, insert and capital reports carry order numbers that come from
// the order-number map; they are dropped until the map exists.
void OnItgOrder(int32_t, int32_t, const char*, const char*, const char*, const char*, int32_t,
                double, int32_t, double, int32_t, char, const char*, int32_t) noexcept {}

void OnItgMatch(int32_t, int32_t, const char*, const char*, const char*, const char*, const char*,
                int32_t, double, int32_t, const char*, int32_t) noexcept {}

void OnItgPosition(int32_t reqId, int32_t errorId, const char* message, const char* securityCode,
                   int32_t position, int32_t isLast) noexcept {
  DeliverToClient([&](TraderApiGo&, ZR_QuantSpi& spi) {
    Corvane::TD_RspQryPosition row = PositionRow(reqId, message, securityCode, position);
    spi.OnRspQryPosition(&row, errorId, isLast != 0);
  });
}

void OnItgInsert(int32_t, int32_t, const char*, const char*, const char*, const char*, int32_t,
                 double, int32_t) noexcept {}

void OnItgCancel(int32_t reqId, int32_t errorId, const char* message) noexcept {
  DeliverToClient([&](TraderApiGo&, ZR_QuantSpi& spi) {
    Corvane::TD_ReqOrderDelete answer = CancelAnswer(reqId, message);
    spi.OnRspOrderDelete(&answer, errorId);
  });
}

void OnItgBalance(int32_t, int32_t, const char*, const char*, const char*, const char*) noexcept {}

}  // namespace

ItgCallbacks TradeCallbackTable() {
  return ItgCallbacks{OnItgLogin,  OnItgOrder,  OnItgMatch,  OnItgPosition,
                      OnItgInsert, OnItgCancel, OnItgBalance};
}

}  // namespace veltrane

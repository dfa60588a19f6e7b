// The trade gateway's callbacks: each translates one event into a record and
// hands it to the client's spi, on the gateway's thread. Order codes and
// match ids become order numbers here, through the instance's map.

#include <optional>

#include "active_instance.h"
#include "callback_tables.h"
#include "login_events.h"
#include "risk_checks.h"
#include "text_copy.h"
#include "trade_events.h"

namespace veltrane {
namespace {

using Corvane::ZR_QuantSpi;

// The order number of a gateway order code: the code itself read as a
// decimal number when the gateway login said codes are numbers, else the
// map's number (a code not seen before gets a new one, saved at once).
// Nothing when the code should be a number and is not.
std::optional<long long> ResolveOrderId(TraderApiGo& api, const char* orderCode) {
  if (conf_merge_position.load(std::memory_order_relaxed) != 0) {
    return ReadDecimalOrderCode(orderCode);
  }
  return api.GetOrderId(TextOrEmpty(orderCode));
}

void OnItgLogin(int32_t, int32_t status, const char* message) noexcept {
  DeliverToClient(
      [&](TraderApiGo&, ZR_QuantSpi& spi) { ReportLogin(spi, kTradeService, status, message); });
}

// Order and match reports update the map even when no spi is registered, so
// that numbers follow the order in which codes were first seen.
void OnItgOrder(int32_t reqId, int32_t errorId, const char* message, const char* securityCode,
                const char* orderCode, const char*, int32_t side, double orderPrice,
                int32_t orderQty, double tradedPrice, int32_t tradedQty, char status,
                const char* orderTime, int32_t reportKind) noexcept {
  NoteOrderReport(orderCode, status, tradedQty, reportKind == LIBITG_REPORT_NOTICE);
  WithInstance([&](TraderApiGo& api, ZR_QuantSpi* spi) {
    const std::optional<long long> orderId = ResolveOrderId(api, orderCode);
    if (!orderId || spi == nullptr) return;
    Corvane::TD_RspQryOrder report =
        OrderReport(reqId, errorId, message, securityCode, orderCode, *orderId, side, orderPrice,
                    orderQty, tradedPrice, tradedQty, status, orderTime);
    if (reportKind == LIBITG_REPORT_NOTICE) {
      spi->OnRtnOrderStatusChangeNotice(&report);
    } else {
      spi->OnRspQryOrder(&report, errorId, reportKind != 0);
    }
  });
}

void OnItgMatch(int32_t reqId, int32_t errorId, const char* message, const char* securityCode,
                const char* orderCode, const char*, const char* matchId, int32_t side,
                double matchPrice, int32_t matchQty, const char* matchTime,
                int32_t reportKind) noexcept {
  if (reportKind == LIBITG_REPORT_NOTICE) NoteMatch(securityCode, orderCode, side, matchQty);
  WithInstance([&](TraderApiGo& api, ZR_QuantSpi* spi) {
    const std::optional<long long> orderId = ResolveOrderId(api, orderCode);
    if (!orderId) return;
    // Match ids are numbered in both modes, from the orders' sequence.
    const long long matchNumber = api.GetOrderId(TextOrEmpty(matchId));
    if (spi == nullptr) return;
    Corvane::TD_RspQryMatch report =
        MatchReport(reqId, errorId, message, securityCode, orderCode, *orderId, matchNumber, side,
                    matchPrice, matchQty, matchTime);
    if (reportKind == LIBITG_REPORT_NOTICE) {
      spi->OnRtnOrderMatchNotice(&report);
    } else {
      spi->OnRspQryMatch(&report, errorId, reportKind != 0);
    }
  });
}

void OnItgPosition(int32_t reqId, int32_t errorId, const char* message, const char* securityCode,
                   int32_t position, int32_t isLast) noexcept {
  if (errorId == 0) NotePosition(securityCode, position);
  DeliverToClient([&](TraderApiGo&, ZR_QuantSpi& spi) {
    Corvane::TD_RspQryPosition row = PositionRow(reqId, message, securityCode, position);
    spi.OnRspQryPosition(&row, errorId, isLast != 0);
  });
}

// A refused order gets no number. An accepted one whose code should be a
// decimal number and is not is still answered, with order number 0: the
// client learns the outcome and finds the gateway's code in errDesc.
void OnItgInsert(int32_t reqId, int32_t errorId, const char* message, const char* securityCode,
                 const char* orderCode, const char*, int32_t side, double price,
                 int32_t quantity) noexcept {
  NoteInsertAnswer(reqId, errorId, securityCode, orderCode, side, price, quantity);
  WithInstance([&](TraderApiGo& api, ZR_QuantSpi* spi) {
    long long orderId = 0;
    if (errorId == 0) {
      orderId = conf_merge_position.load(std::memory_order_relaxed) != 0
                    ? ReadDecimalOrderCode(orderCode).value_or(0)
                    : api.GenSaveOrderId(TextOrEmpty(orderCode));
    }
    if (spi == nullptr) return;
    Corvane::TD_RspOrderInsert answer = InsertAnswer(reqId, errorId, message, securityCode,
                                                     orderCode, orderId, side, price, quantity);
    spi->OnRspOrderInsert(&answer, errorId);
  });
}

void OnItgCancel(int32_t reqId, int32_t errorId, const char* message) noexcept {
  DeliverToClient([&](TraderApiGo&, ZR_QuantSpi& spi) {
    Corvane::TD_ReqOrderDelete answer = CancelAnswer(reqId, message);
    spi.OnRspOrderDelete(&answer, errorId);
  });
}

void OnItgBalance(int32_t reqId, int32_t errorId, const char* message, const char*,
                  const char* available, const char* total) noexcept {
  DeliverToClient([&](TraderApiGo&, ZR_QuantSpi& spi) {
    Corvane::TD_RspQryAccountMaxEntrustCount answer =
        CapitalAnswer(reqId, message, available, total);
    spi.OnRspQryAccountMaxEntrustCount(&answer, errorId, true);
  });
}

}  // namespace

ItgCallbacks TradeCallbackTable() {
  return ItgCallbacks{OnItgLogin,  OnItgOrder,  OnItgMatch,  OnItgPosition,
                      OnItgInsert, OnItgCancel, OnItgBalance};
}

}  // namespace veltrane

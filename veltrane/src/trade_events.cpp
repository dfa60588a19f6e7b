#include "trade_events.h"

#include <cerrno>
#include <cstdlib>

#include "libitg.h"
#include "saturate.h"
#include "text_copy.h"

namespace veltrane {
namespace {

constexpr size_t kTextLimit = 127;
constexpr size_t kCodeLimit = 32;

// errDesc of a report that carries an order code: the code when the gateway
// reported no error, its text otherwise.
template <class Record>
void CodeOrMessage(Record& record, int32_t errorId, const char* orderCode, const char* message) {
  CopyText(record.errDesc, errorId == 0 ? orderCode : message, kTextLimit);
}

}  // namespace

std::string AddExchangeSuffix(const char* securityCode) {
  const std::string code = TextOrEmpty(securityCode);
  if (code.empty()) return code;
  return code + (code[0] == '6' ? ".SH" : ".SZ");
}

int32_t TradeTypeFromSide(int32_t side) { return side == LIBITG_SIDE_SELL ? 2 : 1; }

int32_t OrderStatusFromGateway(char status) {
  switch (status) {
    case LIBITG_STATUS_PENDING:
    case LIBITG_STATUS_ACCEPTED:
    case LIBITG_STATUS_SENT:
      return 2;
    case LIBITG_STATUS_PART_FILLED:
      return 5;
    case LIBITG_STATUS_CANCELLED:
      return -9;
    case LIBITG_STATUS_FILLED:
      return 6;
    case LIBITG_STATUS_REJECTED:
      return -8;
    default:
      return 0;
  }
}

int64_t FixedPointPrice(double price) { return SaturatingTruncation<int64_t>(price * 10000 + 0.5); }

std::optional<long long> ReadDecimalOrderCode(const char* orderCode) {
  const char* text = TextOrEmpty(orderCode);
  char* end = nullptr;
  errno = 0;
  const long long number = std::strtoll(text, &end, 10);
  if (end == text || errno == ERANGE) return std::nullopt;
  return number;
}

int32_t CapitalFromText(const char* text) {
  const char* start = TextOrEmpty(text);
  char* end = nullptr;
  // Out of range, strtod gives an infinity or a value near zero, which the
  // truncation below saturates or turns into 0.
  const double value = std::strtod(start, &end);
  return end == start ? 0 : SaturatingTruncation<int32_t>(value);
}

Corvane::TD_RspQryOrder OrderReport(int32_t reqId, int32_t errorId, const char* message,
                                    const char* securityCode, const char* orderCode,
                                    int64_t orderId, int32_t side, double orderPrice,
                                    int32_t orderQty, double tradedPrice, int32_t tradedQty,
                                    char status, const char* orderTime) {
  Corvane::TD_RspQryOrder report;
  report.nReqID = reqId;
  CopyText(report.szContractCode, AddExchangeSuffix(securityCode).c_str(), kCodeLimit);
  report.nOrderId = orderId;
  report.nTradeType = TradeTypeFromSide(side);
  report.nOrderPrice = FixedPointPrice(orderPrice);
  report.nOrderVol = orderQty;
  report.nDealedPrice = FixedPointPrice(tradedPrice);
  report.nDealedVol = tradedQty;
  report.nStatus = OrderStatusFromGateway(status);
  CopyText(report.szInsertTime, orderTime, 20);
  if (errorId == 0) {
    CopyTexts(report.errDesc, kTextLimit, {orderCode, ":", message});
  } else {
    CopyText(report.errDesc, message, kTextLimit);
  }
  return report;
}

Corvane::TD_RspQryMatch MatchReport(int32_t reqId, int32_t errorId, const char* message,
                                    const char* securityCode, const char* orderCode,
                                    int64_t orderId, int64_t matchNumber, int32_t side,
                                    double matchPrice, int32_t matchQty, const char* matchTime) {
  Corvane::TD_RspQryMatch report;
  report.nReqID = reqId;
  CopyText(report.szContractCode, AddExchangeSuffix(securityCode).c_str(), kCodeLimit);
  CopyText(report.szOrderCode, orderCode, 63);
  report.nOrderId = orderId;
  CopyText(report.szMatchTime, matchTime, 20);
  report.nTradeType = TradeTypeFromSide(side);
  report.nMatchPrice = matchPrice * 10000;
  report.nMatchVol = matchQty;
  report.nMatchStreamId = matchNumber;
  CodeOrMessage(report, errorId, orderCode, message);
  return report;
}

Corvane::TD_RspQryPosition PositionRow(int32_t reqId, const char* message, const char* securityCode,
                                       int32_t position) {
  Corvane::TD_RspQryPosition row;
  row.nReqID = reqId;
  CopyText(row.szContractCode, AddExchangeSuffix(securityCode).c_str(), 31);
  row.nPosition = position;
  CopyText(row.errDesc, message, kTextLimit);
  return row;
}

Corvane::TD_RspOrderInsert InsertAnswer(int32_t reqId, int32_t errorId, const char* message,
                                        const char* securityCode, const char* orderCode,
                                        int64_t orderId, int32_t side, double price,
                                        int32_t quantity) {
  Corvane::TD_RspOrderInsert answer;
  answer.nReqID = reqId;
  answer.nOrderId = orderId;
  CopyText(answer.szContractCode, AddExchangeSuffix(securityCode).c_str(), kCodeLimit);
  answer.nTradeType = TradeTypeFromSide(side);
  answer.nOrderPrice = FixedPointPrice(price);
  answer.nOrderVol = quantity;
  answer.nStatus = 0;
  CodeOrMessage(answer, errorId, orderCode, message);
  return answer;
}

Corvane::TD_ReqOrderDelete CancelAnswer(int32_t reqId, const char* message) {
  Corvane::TD_ReqOrderDelete answer;
  answer.nReqID = reqId;
  CopyText(answer.errDesc, message, kTextLimit);
  return answer;
}

Corvane::TD_RspQryAccountMaxEntrustCount CapitalAnswer(int32_t reqId, const char* message,
                                                       const char* available, const char* total) {
  Corvane::TD_RspQryAccountMaxEntrustCount answer;
  answer.nReqID = reqId;
  answer.nAvailableCaptial = CapitalFromText(available);
  answer.nTotalCaptial = CapitalFromText(total);
  CopyText(answer.errDesc, message, kTextLimit);
  return answer;
}

}  // namespace veltrane

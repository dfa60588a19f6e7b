#include "trade_events.h"

#include "text_copy.h"

namespace veltrane {

std::string AddExchangeSuffix(const char* securityCode) {
  const std::string code = TextOrEmpty(securityCode);
  if (code.empty()) return code;
  return code + (code[0] == '6' ? ".SH" : ".SZ");
}

Corvane::TD_RspQryPosition PositionRow(int32_t reqId, const char* message, const char* securityCode,
                                       int32_t position) {
  Corvane::TD_RspQryPosition row;
  row.nReqID = reqId;
  CopyText(row.szContractCode, AddExchangeSuffix(securityCode).c_str(), 31);
  row.nPosition = position;
  CopyText(row.errDesc, message, 127);
  return row;
}

Corvane::TD_ReqOrderDelete CancelAnswer(int32_t reqId, const char* message) {
  Corvane::TD_ReqOrderDelete answer;
  answer.nReqID = reqId;
  CopyText(answer.errDesc, message, 127);
  return answer;
}

}  // namespace veltrane

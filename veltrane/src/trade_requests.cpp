// Login and the trade requests of TraderApiGo: each turns a request record
// into one call of the trade gateway and returns that call's result; the
// answers come later through the trade callbacks.

#include <cstdio>
#include <string>

#include "ZR_QuantApi.h"
#include "active_instance.h"
#include "gateway_args.h"
#include "libitg.h"
#include "libquote.h"
#include "risk_checks.h"
#include "text_copy.h"

namespace {

using veltrane::kRefused;
using veltrane::kUseQuote;
using veltrane::kUseTrade;
using veltrane::RequestResult;
// Prices travel in whole currency units with six decimals, as printf "%f".
std::string PriceText(int64_t price) {
  char text[64];
  const int length = std::snprintf(text, sizeof text, "%f", static_cast<double>(price) / 10000.0);
  return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

// nTradeType 1 buys and 2 sells; any other is refused before this.
int64_t GatewaySide(int32_t tradeType) {
  return tradeType == 2 ? LIBITG_SIDE_SELL : LIBITG_SIDE_BUY;
}

}  // namespace

int TraderApiGo::Login(char* pszUserId, char* pszPassword) {
  strUserId = veltrane::TextOrEmpty(pszUserId);
  strPassword = veltrane::TextOrEmpty(pszPassword);
  // Before any login goes out: the reports it sets off use the loaded map.
  LoadOrderMap();
  strGatewayParam.clear();

  // The libraries are the ones the latest createApi chose; an object made
  // without the factory, with no instance about, uses its own choice.
  const TraderApiGo* instance = g_pTraderApi.load();
  const int apiType = (instance != nullptr ? instance : this)->nApiType;
  if (apiType & kUseTrade) {
    const TextView param = veltrane::ViewOf(strGatewayParam);
    const TextView user = veltrane::ViewOf(strUserId);
    const TextView password = veltrane::ViewOf(strPassword);
    const TextView empty{"", 0};
    conf_merge_position.store(
        RequestResult(LibITG_ReqUserLogin(0, &param, &user, &password, &empty, &empty, &empty)));
  }
  std::printf("conf_merge_position %d\n", conf_merge_position.load());
  std::fflush(stdout);
  if (apiType & kUseQuote) {
    const TextView param = veltrane::ViewOf(strGatewayParam);
    LibQuote_ReqUserLogin(1, &param);
  }
  return 0;
}

int TraderApiGo::reqOrderInsert(Corvane::TD_ReqOrderInsert* pReq) {
  // A direction, quantity or price that means nothing is refused whatever
  // the limits: sent, it would be taken as some order no one meant.
  if (pReq == nullptr || !veltrane::CheckOrderRequest(pReq->nReqID, pReq->nTradeType,
                                                      pReq->nOrderPrice, pReq->nOrderVol)) {
    return kRefused;
  }
  const std::string price = PriceText(pReq->nOrderPrice);
  const TextView account{"", 0};
  const TextView product = veltrane::FieldView(pReq->szProductCode, 128);
  // Six-digit security code; a suffix such as ".SH" is not sent.
  const TextView security = veltrane::FieldView(pReq->szContractCode, 6);
  const TextView priceView = veltrane::ViewOf(price);
  // Checked once everything that may throw is built: an admitted order is
  // counted as sent, and its answer may come before the gateway call returns.
  const int64_t side = GatewaySide(pReq->nTradeType);
  const uint64_t ticket = veltrane::AdmitOrder(
      std::string(security.data, static_cast<size_t>(security.size)), side == LIBITG_SIDE_BUY,
      pReq->nOrderPrice, pReq->nOrderVol, pReq->nReqID);
  if (ticket == 0) return kRefused;
  const int result = RequestResult(LibITG_ReqPlaceOrder(pReq->nReqID, &account, &product, &security,
                                                        side, &priceView, pReq->nOrderVol));
  veltrane::OrderHandedOver(ticket, result);
  return result;
}

int TraderApiGo::reqOrderDelete(Corvane::TD_ReqOrderDelete* pReq) {
  if (pReq == nullptr) return kRefused;
  // A code in errDesc names the order; otherwise nOrderId does, as the
  // gateway's own decimal code or through the map.
  const TextView given = veltrane::FieldView(pReq->errDesc, 128);
  std::string code;
  if (given.size > 0) {
    code.assign(given.data, static_cast<size_t>(given.size));
  } else if (conf_merge_position.load() != 0) {
    code = std::to_string(pReq->nOrderId);
  } else {
    code = GetAppointOrderCode(pReq->nOrderId);
  }
  const TextView product = veltrane::FieldView(pReq->szProductCode, 128);
  const TextView orderCode = veltrane::ViewOf(code);
  if (!veltrane::AdmitCancel()) return kRefused;
  return RequestResult(LibITG_ReqCancelOrder(pReq->nReqID, &product, &orderCode));
}

int TraderApiGo::reqQryOrder(Corvane::TD_ReqQryOrder* pReq) {
  return pReq != nullptr ? RequestResult(LibITG_ReqQueryOrders(pReq->nReqID)) : kRefused;
}

int TraderApiGo::reqQryMatch(Corvane::TD_ReqQryMatch* pReq) {
  return pReq != nullptr ? RequestResult(LibITG_ReqQueryTrades(pReq->nReqID)) : kRefused;
}

int TraderApiGo::reqQryPosition(Corvane::TD_ReqQryPosition* pReq) {
  return pReq != nullptr ? RequestResult(LibITG_ReqQueryPosition(pReq->nReqID)) : kRefused;
}

int TraderApiGo::reqQryAccountMaxEntrustCount(Corvane::TD_ReqQryAccountMaxEntrustCount* pReq) {
  return pReq != nullptr ? RequestResult(LibITG_ReqGetAccountBalance(pReq->nReqID)) : kRefused;
}

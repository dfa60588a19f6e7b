// Test double of the trade gateway library: records every call (see
// call_log.h) and keeps the registered callback table for tests to fire.

#include "fake_gateways.h"

namespace {
fake::RegisteredTable<ItgCallbacks> g_table;
}

namespace fake {
ItgCallbacks RegisteredItgCallbacks() { return g_table.Get(); }
}  // namespace fake

using fake::Int;
using fake::ReadText;

int64_t LibITG_Init(void) { return fake::Record({"LibITG_Init", {}}); }

void Set_CallbackInterface(const ItgCallbacks* table) {
  g_table.Register("Set_CallbackInterface", table);
}

int64_t LibITG_ReqUserLogin(int64_t mode, const TextView* param, const TextView* user,
                            const TextView* password, const TextView* extra1,
                            const TextView* extra2, const TextView* extra3) {
  return fake::Record({"LibITG_ReqUserLogin",
                       {Int(mode), ReadText(param), ReadText(user), ReadText(password),
                        ReadText(extra1), ReadText(extra2), ReadText(extra3)}});
}

int64_t LibITG_ReqPlaceOrder(int64_t reqId, const TextView* account, const TextView* productCode,
                             const TextView* securityCode, int64_t side, const TextView* price,
                             int64_t quantity) {
  return fake::Record({"LibITG_ReqPlaceOrder",
                       {Int(reqId), ReadText(account), ReadText(productCode),
                        ReadText(securityCode), Int(side), ReadText(price), Int(quantity)}});
}

int64_t LibITG_ReqCancelOrder(int64_t reqId, const TextView* productCode,
                              const TextView* orderCode) {
  return fake::Record(
      {"LibITG_ReqCancelOrder", {Int(reqId), ReadText(productCode), ReadText(orderCode)}});
}

int64_t LibITG_ReqQueryOrders(int64_t reqId) {
  return fake::Record({"LibITG_ReqQueryOrders", {Int(reqId)}});
}

int64_t LibITG_ReqQueryTrades(int64_t reqId) {
  return fake::Record({"LibITG_ReqQueryTrades", {Int(reqId)}});
}

int64_t LibITG_ReqQueryPosition(int64_t reqId) {
  return fake::Record({"LibITG_ReqQueryPosition", {Int(reqId)}});
}

int64_t LibITG_ReqGetAccountBalance(int64_t reqId) {
  return fake::Record({"LibITG_ReqGetAccountBalance", {Int(reqId)}});
}

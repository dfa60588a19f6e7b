// Stand-in for the outside trade gateway library, built as libitg.so with the
// vendor library's C interface: the simulated exchange's venue, a paper
// trading account against the simulated market (see venue.h for its rules
// and answers, exchange_settings.h for its configuration).
//
// Requests are copied and posted to the exchange, and return 0 at once (the
// login returns the order-code mode); they reach the venue after the order
// latency, and their answers come on the exchange's thread, never inside the
// request call.

#include <cstring>
#include <string>

#include "exchange.h"
#include "libitg.h"

namespace {

// A view's text up to its first NUL; a null view or pointer is empty.
std::string Copy(const TextView* text) {
  if (text == nullptr || text->data == nullptr || text->size <= 0) return {};
  return std::string(text->data, strnlen(text->data, static_cast<size_t>(text->size)));
}

int32_t RequestId(int64_t reqId) { return static_cast<int32_t>(reqId); }

template <class Task>
int64_t Queue(Task task, bool startsDay = false) {
  sim::SharedExchange().Trade(std::move(task), startsDay);
  return 0;
}

}  // namespace

int64_t LibITG_Init(void) {
  sim::SharedExchange();
  return 0;
}

void Set_CallbackInterface(const ItgCallbacks* table) {
  ItgCallbacks copy = table != nullptr ? *table : ItgCallbacks{};
  sim::SharedExchange().SetTradeCallbacks(copy);
}

int64_t LibITG_ReqUserLogin(int64_t, const TextView*, const TextView* user,
                            const TextView* password, const TextView*, const TextView*,
                            const TextView*) {
  return sim::SharedExchange().TradeLogin(Copy(user), Copy(password));
}

int64_t LibITG_ReqPlaceOrder(int64_t reqId, const TextView*, const TextView*,
                             const TextView* securityCode, int64_t side, const TextView* price,
                             int64_t quantity) {
  return Queue([id = RequestId(reqId), code = Copy(securityCode), side, price = Copy(price),
                quantity](sim::Venue& venue) { venue.Insert(id, code, side, price, quantity); },
               true);
}

int64_t LibITG_ReqCancelOrder(int64_t reqId, const TextView*, const TextView* orderCode) {
  return Queue([id = RequestId(reqId), code = Copy(orderCode)](sim::Venue& venue) {
    venue.Cancel(id, code);
  });
}

int64_t LibITG_ReqQueryOrders(int64_t reqId) {
  return Queue([id = RequestId(reqId)](sim::Venue& venue) { venue.QueryOrders(id); });
}

int64_t LibITG_ReqQueryTrades(int64_t reqId) {
  return Queue([id = RequestId(reqId)](sim::Venue& venue) { venue.QueryMatches(id); });
}

int64_t LibITG_ReqQueryPosition(int64_t reqId) {
  return Queue([id = RequestId(reqId)](sim::Venue& venue) { venue.QueryPositions(id); });
}

int64_t LibITG_ReqGetAccountBalance(int64_t reqId) {
  return Queue([id = RequestId(reqId)](sim::Venue& venue) { venue.QueryBalance(id); });
}

// Stand-in for the outside trade gateway library, built as libitg.so with the
// vendor library's C interface, so that veltrane runs where the vendor library
// is not installed. It accepts every request and answers 0; it keeps the
// callback table it is given but sends no events yet.

#include <mutex>

#include "libitg.h"

namespace {
std::mutex g_lock;
ItgCallbacks g_callbacks{};
}  // namespace

int64_t LibITG_Init(void) { return 0; }

void Set_CallbackInterface(const ItgCallbacks* table) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_callbacks = table != nullptr ? *table : ItgCallbacks{};
}

int64_t LibITG_ReqUserLogin(int64_t, const TextView*, const TextView*, const TextView*,
                            const TextView*, const TextView*, const TextView*) {
  return 0;
}

int64_t LibITG_ReqPlaceOrder(int64_t, const TextView*, const TextView*, const TextView*, int64_t,
                             const TextView*, int64_t) {
  return 0;
}

int64_t LibITG_ReqCancelOrder(int64_t, const TextView*, const TextView*) { return 0; }
int64_t LibITG_ReqQueryOrders(int64_t) { return 0; }
int64_t LibITG_ReqQueryTrades(int64_t) { return 0; }
int64_t LibITG_ReqQueryPosition(int64_t) { return 0; }
int64_t LibITG_ReqGetAccountBalance(int64_t) { return 0; }

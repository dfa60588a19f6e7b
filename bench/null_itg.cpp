// A trade gateway that does nothing, built as libitg.so for the benchmarks,
// so that a measurement ends at the gateway call and includes no gateway's
// own work. A benchmark may set a hook that every order placement calls, to
// see when an order reached the gateway, and fire the registered callbacks
// itself.

#include <atomic>

#include "libitg.h"

namespace {
std::atomic<void (*)()> g_placeOrderHook{nullptr};
ItgCallbacks g_callbacks{};
}  // namespace

extern "C" GATEWAY_EXPORT const ItgCallbacks* NullItg_RegisteredCallbacks() { return &g_callbacks; }

extern "C" GATEWAY_EXPORT void NullItg_SetPlaceOrderHook(void (*hook)()) {
  g_placeOrderHook.store(hook);
}

int64_t LibITG_Init(void) { return 0; }
void Set_CallbackInterface(const ItgCallbacks* table) {
  g_callbacks = table != nullptr ? *table : ItgCallbacks{};
}
int64_t LibITG_ReqUserLogin(int64_t, const TextView*, const TextView*, const TextView*,
                            const TextView*, const TextView*, const TextView*) {
  return 0;
}
int64_t LibITG_ReqPlaceOrder(int64_t, const TextView*, const TextView*, const TextView*, int64_t,
                             const TextView*, int64_t) {
  if (void (*hook)() = g_placeOrderHook.load(std::memory_order_acquire)) hook();
  return 0;
}
int64_t LibITG_ReqCancelOrder(int64_t, const TextView*, const TextView*) { return 0; }
int64_t LibITG_ReqQueryOrders(int64_t) { return 0; }
int64_t LibITG_ReqQueryTrades(int64_t) { return 0; }
int64_t LibITG_ReqQueryPosition(int64_t) { return 0; }
int64_t LibITG_ReqGetAccountBalance(int64_t) { return 0; }

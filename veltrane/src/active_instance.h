// active_instance.h: which API object the gateway callbacks deliver to, and
// how a callback is kept from touching an object that is being destroyed.
//
// The outside libraries call back on their own threads at any time, also
// while the client destroys the API object or replaces it with a second
// createApi. A callback therefore reaches the client only through a
// CallbackScope, and the object's destructor retires it: once the destructor
// has retired an object, no callback running or to come can still reach it.

#ifndef VELTRANE_ACTIVE_INSTANCE_H
#define VELTRANE_ACTIVE_INSTANCE_H

#include <atomic>

#include "ZR_QuantApi.h"

// The object made by the latest createApi; null before it and once that object
// is destroyed. Written on the client's thread, read on the libraries'.
extern std::atomic<TraderApiGo*> g_pTraderApi;

// Result of the latest trade gateway login. Non-zero: gateway order codes are
// the decimal text of the order numbers; 0: they go through the order map.
extern std::atomic<int> conf_merge_position;

namespace veltrane {

// Bit values of TraderApiGo::nApiType: the libraries in use.
constexpr int kUseTrade = 1;
constexpr int kUseQuote = 2;

// Makes `api` the object that callbacks deliver to.
void PublishInstance(TraderApiGo* api);

// Makes sure no callback reaches `api` any more: stops publishing it if it is
// the current instance, then waits for callbacks already running to return.
// A callback that destroys the API object itself is not waited for.
void RetireInstance(TraderApiGo* api);

// Held by a gateway callback for as long as it uses the instance it found.
class CallbackScope {
 public:
  CallbackScope() noexcept;
  ~CallbackScope();
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;

  struct ThreadRecord;

  TraderApiGo* api() const { return api_; }
  // RegisterSpi may replace the spi while callbacks run.
  Corvane::ZR_QuantSpi* spi() const {
    return api_ != nullptr ? __atomic_load_n(&api_->pSpi, __ATOMIC_ACQUIRE) : nullptr;
  }

 private:
  ThreadRecord* record_;
  TraderApiGo* api_;
};

// Calls `use(api, spi)` when there is an instance; `spi` is null when none is
// registered. Nothing thrown by the translation or by the client escapes: the
// callers are the outside libraries' C threads.
template <class Use>
void WithInstance(Use&& use) noexcept {
  try {
    CallbackScope scope;
    if (TraderApiGo* api = scope.api()) use(*api, scope.spi());
  } catch (...) {
    // Unwinding into the gateway's thread would end the process; the one
    // event is lost instead.
  }
}

// Calls `deliver(api, spi)` when there is an instance with a registered spi;
// otherwise the event is dropped.
template <class Deliver>
void DeliverToClient(Deliver&& deliver) noexcept {
  WithInstance([&](TraderApiGo& api, Corvane::ZR_QuantSpi* spi) {
    if (spi != nullptr) deliver(api, *spi);
  });
}

}  // namespace veltrane

#endif  // VELTRANE_ACTIVE_INSTANCE_H

// Stand-in for the outside Level-2 quote library, built as libquote.so with
// the vendor library's C interface: the simulated exchange's feed, which
// replays a tape or generates a market (see exchange_settings.h for its
// configuration and quote_feed.h for its answers). With an upstream, every
// call goes to the vendor's library unchanged instead (upstream.h).

#include "exchange.h"
#include "libquote.h"

namespace {

constexpr int64_t kQueued = 0;
constexpr int64_t kRefused = -1;

sim::SimulatedExchange& Feed() { return sim::SharedExchange(); }
sim::Upstream* Vendor() { return sim::SharedExchange().upstream(); }

bool IsWellFormed(const TextList* codes) {
  if (codes == nullptr || codes->count < 0 || (codes->count > 0 && codes->items == nullptr)) {
    return false;
  }
  for (int64_t i = 0; i < codes->count; ++i) {
    if (codes->items[i].size < 0 || (codes->items[i].size > 0 && codes->items[i].data == nullptr)) {
      return false;
    }
  }
  return true;
}

}  // namespace

int64_t LibQuote_Init(void) {
  if (sim::Upstream* vendor = Vendor()) return vendor->Init();
  return 0;
}

void Set_QCallbackInterface(const QuoteCallbacks* table) {
  if (sim::Upstream* vendor = Vendor()) return vendor->SetCallbacks(table);
  Feed().SetQuoteCallbacks(table != nullptr ? *table : QuoteCallbacks{});
}

int64_t LibQuote_ReqUserLogin(int64_t mode, const TextView* param) {
  if (sim::Upstream* vendor = Vendor()) return vendor->Login(mode, param);
  Feed().QuoteLogin();
  return kQueued;
}

int64_t LibQuote_ReqSubscribe(int64_t reqId, int64_t kinds, const TextList* codes) {
  if (sim::Upstream* vendor = Vendor()) return vendor->Subscribe(reqId, kinds, codes);
  if (!IsWellFormed(codes) || kinds < 1 || kinds > (sim::kSnapshots | sim::kTrades)) {
    return kRefused;
  }
  Feed().Subscribe(reqId, kinds, sim::CopyCodes(*codes));
  return kQueued;
}

int64_t LibQuote_ReqUnsubscribe(int64_t reqId, const TextList* codes) {
  if (sim::Upstream* vendor = Vendor()) return vendor->Unsubscribe(reqId, codes);
  if (!IsWellFormed(codes)) return kRefused;
  Feed().Unsubscribe(reqId, sim::CopyCodes(*codes));
  return kQueued;
}

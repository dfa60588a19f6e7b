// Stand-in for the outside Level-2 quote library, built as libquote.so with
// the vendor library's C interface: a simulated feed that replays a tape or
// generates a market (see feed_settings.h for its configuration and
// quote_feed.h for its answers).

#include <cstdio>
#include <cstdlib>

#include "feed_settings.h"
#include "libquote.h"
#include "quote_feed.h"

namespace {

constexpr int64_t kQueued = 0;
constexpr int64_t kRefused = -1;

// One feed for the process, made on first use. It is never destroyed, so a
// late call from another thread during exit finds it; its thread is stopped
// at exit, before the objects of whoever made the first request go away.
sim::QuoteFeed& Feed() {
  static sim::QuoteFeed* feed = [] {
    sim::FeedSettings settings;
    std::string error;
    if (!sim::LoadFeedSettings(sim::FromEnvironment, settings, error)) {
      std::fprintf(stderr, "libquote (simulated feed): every login will be refused:\n%s",
                   error.c_str());
    }
    auto* made = new sim::QuoteFeed(std::move(settings), std::move(error));
    std::atexit([] { Feed().Stop(); });
    return made;
  }();
  return *feed;
}

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
  Feed();
  return 0;
}

void Set_QCallbackInterface(const QuoteCallbacks* table) {
  Feed().SetCallbacks(table != nullptr ? *table : QuoteCallbacks{});
}

int64_t LibQuote_ReqUserLogin(int64_t, const TextView*) {
  Feed().Login();
  return kQueued;
}

int64_t LibQuote_ReqSubscribe(int64_t reqId, int64_t kinds, const TextList* codes) {
  if (!IsWellFormed(codes) || kinds < 1 || kinds > (sim::kSnapshots | sim::kTrades)) {
    return kRefused;
  }
  Feed().Subscribe(reqId, kinds, sim::CopyCodes(*codes));
  return kQueued;
}

int64_t LibQuote_ReqUnsubscribe(int64_t reqId, const TextList* codes) {
  if (!IsWellFormed(codes)) return kRefused;
  Feed().Unsubscribe(reqId, sim::CopyCodes(*codes));
  return kQueued;
}

#include "active_instance.h"

#include <thread>

std::atomic<TraderApiGo*> g_pTraderApi{nullptr};
std::atomic<int> conf_merge_position{0};

namespace veltrane {
namespace {

// Callbacks count themselves in one of two slots, chosen by the parity of the
// epoch when they start. Retiring flips the epoch and waits only for the old
// slot, which no new callback joins, so a steady stream of events cannot keep
// the destructor waiting. Retirements run one after another (the client
// destroys its API objects from one thread).
std::atomic<unsigned> g_epoch{0};
std::atomic<long> g_running[2]{};

// Scopes of this thread per slot, so that a callback which destroys the API
// object does not wait for itself.
thread_local long t_held[2];

}  // namespace

void PublishInstance(TraderApiGo* api) { g_pTraderApi.store(api); }

void RetireInstance(TraderApiGo* api) {
  TraderApiGo* expected = api;
  g_pTraderApi.compare_exchange_strong(expected, nullptr);
  // A callback that read the pointer before the exchange above is counted in
  // the slot of the epoch before this flip, or an earlier retirement already
  // waited for it to end.
  const unsigned old_slot = g_epoch.fetch_add(1) & 1u;
  while (g_running[old_slot].load() > t_held[old_slot]) std::this_thread::yield();
}

CallbackScope::CallbackScope() noexcept {
  for (;;) {
    const unsigned epoch = g_epoch.load();
    slot_ = epoch & 1u;
    g_running[slot_].fetch_add(1);
    // Every retirement that flips the epoch from here on sees our count. One
    // that flipped between the two reads may have looked before we counted.
    if (g_epoch.load() == epoch) break;
    g_running[slot_].fetch_sub(1);
  }
  ++t_held[slot_];
  // Read only after counting ourselves: a retirement that misses our count has
  // already withdrawn the object we would read.
  api_ = g_pTraderApi.load();
}

CallbackScope::~CallbackScope() {
  --t_held[slot_];
  g_running[slot_].fetch_sub(1);
}

}  // namespace veltrane

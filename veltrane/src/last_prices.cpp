#include "last_prices.h"

#include <cstring>

namespace veltrane {
namespace {

constexpr int kCodes = 1000000;
constexpr int kNoCode = -1;

std::atomic<std::atomic<int32_t>*> g_table{nullptr};

// The slot of a code whose first six characters are digits.
int SlotOf(const char* code, size_t length) noexcept {
  if (length < 6) return kNoCode;
  int slot = 0;
  for (int i = 0; i < 6; ++i) {
    if (code[i] < '0' || code[i] > '9') return kNoCode;
    slot = slot * 10 + (code[i] - '0');
  }
  return slot;
}

void Note(const char (&code)[32], int32_t price) noexcept {
  if (price <= 0) return;
  std::atomic<int32_t>* table = g_table.load(std::memory_order_acquire);
  const int slot = SlotOf(code, strnlen(code, sizeof code));
  if (table != nullptr && slot != kNoCode) table[slot].store(price, std::memory_order_relaxed);
}

}  // namespace

std::atomic<bool> g_followLastPrices{false};

void FollowLastPrices(bool follow) {
  if (!follow) {
    g_followLastPrices.store(false, std::memory_order_relaxed);
    return;
  }
  if (g_followLastPrices.load(std::memory_order_relaxed)) return;
  std::atomic<int32_t>* table = g_table.load(std::memory_order_acquire);
  if (table == nullptr) {
    table = new std::atomic<int32_t>[kCodes]();
    g_table.store(table, std::memory_order_release);
  } else {
    // Prices from before a pause may be stale by now.
    for (int slot = 0; slot < kCodes; ++slot) table[slot].store(0, std::memory_order_relaxed);
  }
  g_followLastPrices.store(true, std::memory_order_release);
}

void NoteLastPrice(const Corvane::MD_Market& snapshot) noexcept {
  Note(snapshot.szCode, snapshot.nMatch);
}

void NoteLastPrice(const Corvane::MD_Transaction& trade) noexcept {
  Note(trade.szCode, trade.nPrice);
}

int32_t LastPrice(const std::string& code) noexcept {
  std::atomic<int32_t>* table = g_table.load(std::memory_order_acquire);
  const int slot = SlotOf(code.data(), code.size());
  if (table == nullptr || slot == kNoCode) return 0;
  return table[slot].load(std::memory_order_relaxed);
}

}  // namespace veltrane

// The ring: each cell's sequence number says whose turn it is, so that any
// number of producers claim cells with one compare-and-swap and the consumer
// needs none.

#include "message_ring.h"

#include <cstring>

namespace sim {
namespace {

uint64_t PowerOfTwoAtLeast(size_t wanted) {
  uint64_t size = 2;
  while (size < wanted) size <<= 1;
  return size;
}

}  // namespace

MessageRing::MessageRing(size_t capacity)
    : cells_(new Cell[PowerOfTwoAtLeast(capacity)]), mask_(PowerOfTwoAtLeast(capacity) - 1) {
  for (uint64_t i = 0; i <= mask_; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
}

bool MessageRing::Offer(const char* typeName, int64_t time, const char* payload,
                        size_t length) noexcept {
  size_t nameLength = typeName == nullptr ? 0 : strnlen(typeName, kLongestTypeName + 1);
  if (nameLength == 0 || nameLength > kLongestTypeName || (payload == nullptr && length > 0)) {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  uint64_t position = head_.load(std::memory_order_relaxed);
  Cell* cell = nullptr;
  for (;;) {
    cell = &cells_[position & mask_];
    const uint64_t sequence = cell->sequence.load(std::memory_order_acquire);
    const int64_t lead = static_cast<int64_t>(sequence - position);
    if (lead == 0) {
      if (head_.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) break;
    } else if (lead < 0) {
      dropped_.fetch_add(1, std::memory_order_relaxed);  // full: the consumer is a lap behind
      return false;
    } else {
      position = head_.load(std::memory_order_relaxed);
    }
  }
  // A claimed cell is always handed on, even when the copy fails, or the
  // consumer would wait for it forever.
  bool carried = true;
  try {
    cell->payload.assign(payload, length);
  } catch (...) {
    carried = false;
    dropped_.fetch_add(1, std::memory_order_relaxed);
  }
  cell->carried = carried;
  std::memcpy(cell->typeName, typeName, nameLength);
  cell->typeName[nameLength] = '\0';
  cell->nameLength = nameLength;
  cell->time = time;
  cell->sequence.store(position + 1, std::memory_order_release);
  return carried;
}

bool MessageRing::Take(RingMessage& out) {
  for (;;) {
    Cell& cell = cells_[tail_ & mask_];
    if (cell.sequence.load(std::memory_order_acquire) != tail_ + 1) return false;
    const bool carried = cell.carried;
    if (carried) {
      out.typeName.assign(cell.typeName, cell.nameLength);
      out.time = cell.time;
      out.payload.swap(cell.payload);  // the cell keeps the consumer's old buffer
    }
    cell.sequence.store(tail_ + mask_ + 1, std::memory_order_release);
    ++tail_;
    if (carried) return true;
  }
}

}  // namespace sim

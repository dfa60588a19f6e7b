// message_ring.h: a bounded queue of market messages from the quote library's
// threads to one consumer (the exchange's thread, or the tape recorder's).
//
// Offer never waits and never calls into the system beyond the payload's
// copy: when the ring is full the message is dropped and counted, so that a
// consumer that falls behind costs the vendor's thread nothing. A cell keeps
// the payload's buffer from one use to the next, so once the ring has gone
// round a copy allocates only for a payload larger than any before it in
// that cell.

#ifndef VELTRANE_SIM_MESSAGE_RING_H
#define VELTRANE_SIM_MESSAGE_RING_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sim {

// One message as it went in.
struct RingMessage {
  std::string typeName;
  int64_t time = -1;  // exchange time HHMMSSmmm, or -1 when only the payload tells it
  std::string payload;
};

class MessageRing {
 public:
  // Type names longer than this cannot be kept (nor put on a tape).
  static constexpr size_t kLongestTypeName = 255;

  // `capacity` is rounded up to a power of two.
  explicit MessageRing(size_t capacity);
  MessageRing(const MessageRing&) = delete;
  MessageRing& operator=(const MessageRing&) = delete;

  // From any thread; never throws. False, with the message counted as
  // dropped, when the ring is full, the type name is missing or too long, or
  // the copy fails.
  bool Offer(const char* typeName, int64_t time, const char* payload, size_t length) noexcept;

  // From the one consumer thread: the oldest message into `out`; false if
  // none is waiting.
  bool Take(RingMessage& out);

  uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  struct Cell {
    std::atomic<uint64_t> sequence{0};
    bool carried = false;  // false: claimed but the copy failed
    int64_t time = -1;
    size_t nameLength = 0;
    char typeName[kLongestTypeName + 1] = {};
    std::string payload;
  };

  std::unique_ptr<Cell[]> cells_;
  const uint64_t mask_;
  alignas(64) std::atomic<uint64_t> head_{0};  // the next cell to fill
  alignas(64) uint64_t tail_ = 0;              // the next cell to take; the consumer's
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace sim

#endif  // VELTRANE_SIM_MESSAGE_RING_H

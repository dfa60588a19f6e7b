// The ring between the vendor's thread and the exchange's: nothing is lost
// without being counted, nothing waits, and each producer's messages come
// out in the order it offered them.

#include "message_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(MessageRingTest, AFullRingDropsAndCountsWhatItCannotHold) {
  const std::string longName(sim::MessageRing::kLongestTypeName + 1, 'X');
  struct Case {
    const char* name;
    size_t capacity;
    int offered;       // good messages, offered before any is taken
    size_t kept;       // the ring's size
    const char* type;  // of one more message offered after them
    bool payload;      // it has a payload
  };
  const Case cases[] = {
      {"room to spare", 8, 5, 5, nullptr, true},
      {"exactly full", 8, 8, 8, nullptr, true},
      {"overflowing", 8, 20, 8, nullptr, true},
      {"rounded up to a power of two", 5, 20, 8, nullptr, true},
      {"no type name", 8, 1, 1, "", true},
      {"a type name too long for a tape", 8, 1, 1, longName.c_str(), true},
      {"a length without a payload", 8, 1, 1, "SSEL2_Quotation", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::MessageRing ring(c.capacity);
    for (int i = 0; i < c.offered; ++i) {
      std::string payload = "payload " + std::to_string(i);
      ring.Offer("SSEL2_Quotation", i, payload.data(), payload.size());
    }
    uint64_t dropped = static_cast<uint64_t>(c.offered) - c.kept;
    if (c.type != nullptr) {
      EXPECT_FALSE(ring.Offer(c.type, 0, c.payload ? "x" : nullptr, 1));
      ++dropped;
    }
    EXPECT_EQ(ring.Dropped(), dropped);
    sim::RingMessage taken;
    for (size_t i = 0; i < c.kept; ++i) {
      ASSERT_TRUE(ring.Take(taken));
      EXPECT_EQ(taken.typeName, "SSEL2_Quotation");
      EXPECT_EQ(taken.time, static_cast<int64_t>(i));
      EXPECT_EQ(taken.payload, "payload " + std::to_string(i));
    }
    EXPECT_FALSE(ring.Take(taken));
    // Room again once taken.
    EXPECT_TRUE(ring.Offer("SZSEL2_Transaction", 7, "", 0));
    ASSERT_TRUE(ring.Take(taken));
    EXPECT_EQ(taken.typeName, "SZSEL2_Transaction");
    EXPECT_EQ(taken.payload, "");
  }
}

// Two producers against a consumer that keeps up only now and then.
TEST(MessageRingTest, EveryMessageIsTakenOrCountedAndEachProducerKeepsItsOrder) {
  constexpr int kEach = 200000;
  sim::MessageRing ring(64);
  std::atomic<int> running{2};
  auto produce = [&](const char* type) {
    for (int i = 0; i < kEach; ++i) {
      std::string payload = std::to_string(i);
      ring.Offer(type, i, payload.data(), payload.size());
    }
    --running;
  };
  std::thread first(produce, "A"), second(produce, "B");
  int64_t taken = 0;
  int64_t last[2] = {-1, -1};
  sim::RingMessage message;
  for (;;) {
    const bool done = running.load() == 0;
    while (ring.Take(message)) {
      ++taken;
      int64_t& previous = last[message.typeName == "A" ? 0 : 1];
      EXPECT_GT(message.time, previous);
      EXPECT_EQ(message.payload, std::to_string(message.time));
      previous = message.time;
    }
    if (done) break;
    std::this_thread::yield();
  }
  first.join();
  second.join();
  EXPECT_EQ(taken + static_cast<int64_t>(ring.Dropped()), 2 * kEach);
  EXPECT_GT(taken, 0);
}

}  // namespace

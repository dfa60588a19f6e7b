// sim_days.h: generated market days and tapes of them, for the tests of the
// simulated feed.

#ifndef VELTRANE_TESTS_SIM_DAYS_H
#define VELTRANE_TESTS_SIM_DAYS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "market_generator.h"
#include "tape.h"

namespace testing_support {

// Every message of the day `settings` describe, in order.
inline std::vector<sim::QuoteMessage> GenerateDay(const sim::MarketSettings& settings) {
  sim::MarketGenerator generator(settings);
  std::vector<sim::QuoteMessage> messages;
  while (generator.NextInterval(messages)) {
  }
  return messages;
}

// Writes `messages` to a tape at `path`; fails the test on any error.
inline void WriteTape(const std::string& path, const std::vector<sim::QuoteMessage>& messages) {
  sim::TapeWriter writer;
  std::string error;
  ASSERT_TRUE(writer.Open(path, error)) << error;
  for (const sim::QuoteMessage& m : messages) ASSERT_TRUE(writer.Write(m));
  ASSERT_TRUE(writer.Close(error)) << error;
}

}  // namespace testing_support

#endif  // VELTRANE_TESTS_SIM_DAYS_H

// spi_waits.h: waiting with a deadline for what a RecordingSpi has recorded,
// for tests whose events come from the outside libraries' threads.

#ifndef VELTRANE_TESTS_SPI_WAITS_H
#define VELTRANE_TESTS_SPI_WAITS_H

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "recording_spi.h"

namespace testing_support {

// Polls the recorded events until `done` holds or ten seconds pass.
inline bool WaitUntil(const RecordingSpi& spi,
                      const std::function<bool(const std::vector<SpiEvent>&)>& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done(spi.Events())) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline size_t CountOf(const std::vector<SpiEvent>& events, const std::string& op) {
  size_t count = 0;
  for (const SpiEvent& e : events) count += e.op == op;
  return count;
}

}  // namespace testing_support

#endif  // VELTRANE_TESTS_SPI_WAITS_H

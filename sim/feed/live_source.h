// live_source.h: the vendor's live feed as the simulated exchange's market.
//
// The quote stand-in offers each message the vendor's library delivers to
// a ring (message_ring.h); the exchange's thread takes them from it here, so
// that the paper venue trades against the live book. The messages come in
// real time and never end: Next returns null when none is waiting, and the
// loop goes on (MessageSource::Live).
//
// A message's time is its payload's Time; a type without one (index and
// static data) takes the time of the message before it. Messages the ring
// had to drop (the exchange fell behind) are reported on standard error, at
// most once a second; the exchange reports their total when it stops.

#ifndef VELTRANE_SIM_LIVE_SOURCE_H
#define VELTRANE_SIM_LIVE_SOURCE_H

#include <chrono>
#include <cstdint>

#include "message_ring.h"
#include "message_source.h"

namespace sim {

class LiveSource : public MessageSource {
 public:
  // The ring outlives the source.
  explicit LiveSource(MessageRing& ring) : ring_(ring) {}

  const QuoteMessage* Next() override;
  bool Live() const override { return true; }

 private:
  void ReportDrops();

  MessageRing& ring_;
  RingMessage taken_;
  QuoteMessage message_;
  TypeNames typeNames_;
  int64_t latest_ = 0;
  uint64_t reportedDrops_ = 0;
  std::chrono::steady_clock::time_point reportedAt_{};
};

}  // namespace sim

#endif  // VELTRANE_SIM_LIVE_SOURCE_H

// Live messages into the exchange's loop.

#include "live_source.h"

#include <cstdio>

#include "payload_fields.h"

namespace sim {

const QuoteMessage* LiveSource::Next() {
  if (ring_.Dropped() != reportedDrops_ &&
      std::chrono::steady_clock::now() - reportedAt_ >= std::chrono::seconds(1)) {
    ReportDrops();
  }
  if (!ring_.Take(taken_)) return nullptr;
  int64_t time = taken_.time;
  if (time < 0 && !TimeOf(taken_.typeName, taken_.payload, time)) time = latest_;
  latest_ = time;
  message_.typeName = typeNames_.Intern(taken_.typeName);
  message_.time = time;
  message_.kind = KindOfType(taken_.typeName);
  message_.payload.swap(taken_.payload);
  if (!SymbolOf(taken_.typeName, message_.payload, message_.code)) message_.code.clear();
  return &message_;
}

void LiveSource::ReportDrops() {
  const uint64_t dropped = ring_.Dropped();
  if (dropped == reportedDrops_) return;
  std::fprintf(stderr,
               "simulated exchange: %llu live market messages dropped so far: the exchange fell "
               "behind the feed, and the venue's book may be stale until the next snapshot\n",
               static_cast<unsigned long long>(dropped));
  reportedDrops_ = dropped;
  reportedAt_ = std::chrono::steady_clock::now();
}

}  // namespace sim

// tape_text.h: tapes as readable text, for the tape tool: one line per
// message, and a tape's statistics.

#ifndef VELTRANE_SIM_TAPE_TEXT_H
#define VELTRANE_SIM_TAPE_TEXT_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "quote_message.h"

namespace sim {

// 93000500 -> "09:30:00.500".
std::string ClockText(int64_t time);
// The other way: "09:30", "09:30:00", "09:30:00.5" (tenths), "09:30:00.500",
// or the exchange's own 93000500; false for anything else or a time of day
// that cannot be (hour 24, minute 60, ...).
bool ReadClock(std::string_view text, int64_t& time);

// Time, type name, code and the message's fields, read straight from the
// wire: snapshots and trades by name, other types as "#number=value".
std::string DescribeMessage(const QuoteMessage& message);

class TapeStats {
 public:
  void Add(const QuoteMessage& message);
  // The report the tool prints, one fact per line.
  std::string Report() const;

 private:
  struct Uncrossed {
    double price = 0;
    double volume = 0;
  };
  struct PerCode {
    int64_t snapshots = 0;
    int64_t trades = 0;
    double tradedVolume = 0;
    double snapshotVolume = 0;  // TotalVolume of the latest snapshot
    double last = 0;
    std::map<int64_t, Uncrossed> uncrosses;  // by exchange time
  };

  int64_t messages_ = 0;
  int64_t payloadBytes_ = 0;
  int64_t firstTime_ = 0;
  int64_t lastTime_ = 0;
  int64_t backwards_ = 0;  // messages earlier than the one before
  int64_t unreadable_ = 0;
  int64_t callSnapshots_ = 0;
  int64_t uncrossTrades_ = 0;
  std::map<std::string, int64_t> types_;
  std::map<std::string, PerCode> codes_;
};

}  // namespace sim

#endif  // VELTRANE_SIM_TAPE_TEXT_H

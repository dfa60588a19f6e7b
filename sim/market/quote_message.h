// quote_message.h: one message of the simulated feed, as the generator makes
// it, a tape holds it and the feed hands it to the quote library's client.

#ifndef VELTRANE_SIM_QUOTE_MESSAGE_H
#define VELTRANE_SIM_QUOTE_MESSAGE_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "libquote.h"

namespace sim {

// What a subscription asks for: the bits of the library's kinds mask.
enum FeedKind : int64_t { kSnapshots = LIBQUOTE_KIND_SNAPSHOTS, kTrades = LIBQUOTE_KIND_TRADES };

struct QuoteMessage {
  const char* typeName = "";  // "SSEL2_Quotation" etc.; outlives the message
  int64_t time = 0;           // exchange time, HHMMSSmmm
  std::string code;           // the message's Symbol; empty if it names none
  FeedKind kind = kSnapshots;
  std::string payload;  // the protobuf message
};

// Type names kept once each for the table's life, so that messages can
// point at them; a feed carries a handful.
class TypeNames {
 public:
  const char* Intern(std::string_view name) {
    for (const auto& known : names_) {
      if (*known == name) return known->c_str();
    }
    return names_.emplace_back(std::make_unique<std::string>(name))->c_str();
  }

 private:
  std::vector<std::unique_ptr<std::string>> names_;
};

// Sees every message of the market on the exchange's thread, at its exchange
// time, and the end of the day.
class MarketListener {
 public:
  virtual ~MarketListener() = default;
  virtual void OnMarket(const QuoteMessage& message) = 0;
  virtual void OnClose() = 0;
};

// Exchange times HHMMSSmmm to milliseconds after midnight and back.
inline int64_t MillisecondsOfDay(int64_t time) {
  return time / 10000000 * 3600000 + time / 100000 % 100 * 60000 + time % 100000;
}
inline int64_t ExchangeTime(int64_t milliseconds) {
  return milliseconds / 3600000 * 10000000 + milliseconds / 60000 % 60 * 100000 +
         milliseconds % 60000;
}

}  // namespace sim

#endif  // VELTRANE_SIM_QUOTE_MESSAGE_H

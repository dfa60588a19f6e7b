// message_source.h: where the simulated feed's messages come from, a tape or
// the generator, one message at a time in the order they are to be sent.

#ifndef VELTRANE_SIM_MESSAGE_SOURCE_H
#define VELTRANE_SIM_MESSAGE_SOURCE_H

#include <memory>
#include <string>

#include "market_generator.h"
#include "quote_message.h"

namespace sim {

// Where the market's messages come from: a tape, or else the generator.
struct SourceSettings {
  MarketSettings market;
  std::string tapePath;      // empty: generate the market
  std::string upstreamPath;  // the vendor's quote library, whose live feed is the market
};

class MessageSource {
 public:
  virtual ~MessageSource() = default;

  // The next message, valid until the next call; null once the day is over.
  virtual const QuoteMessage* Next() = 0;

  // A live source's messages come in real time and never end: Next returns
  // null when none is waiting yet, and the day goes on.
  virtual bool Live() const { return false; }

  // Why the source ended early (a damaged tape), or empty.
  virtual std::string Problem() const { return {}; }
};

// The tape of `settings` if it names one, else the generated market. Null,
// with the reason in `error`, if the tape cannot be opened.
std::unique_ptr<MessageSource> OpenSource(const SourceSettings& settings, std::string& error);

}  // namespace sim

#endif  // VELTRANE_SIM_MESSAGE_SOURCE_H

// exchange.h: the simulated exchange of the process, shared by the two
// stand-ins: the Level-2 feed behind libquote.so and the venue behind
// libitg.so trade one market, on the feed's one thread.
//
// Both stand-ins link this library, so the process holds one exchange
// whichever of them (or both) it loads. Made on first use from the
// environment (feed_settings.h); never destroyed, so that a late call from
// another thread during exit still finds it. Its thread stops at exit.

#ifndef VELTRANE_SIM_EXCHANGE_H
#define VELTRANE_SIM_EXCHANGE_H

#include <functional>
#include <string>

#include "feed_settings.h"
#include "quote_feed.h"
#include "venue.h"

namespace sim {

class SimulatedExchange {
 public:
  SimulatedExchange(FeedSettings settings, std::string settingsError);

  QuoteFeed& feed() { return feed_; }

  // Runs `task` with the venue on the exchange's thread, in turn with every
  // other request. A task that `startsDay` starts the market's day if the
  // source is open (an order placed before any subscription does).
  void Trade(std::function<void(Venue&)> task, bool startsDay);

  // Logs in to the venue: the account's credentials are checked on the
  // exchange's thread. Returns the order-code mode at once: 1 when codes are
  // decimal numbers, else 0.
  int64_t Login(std::string user, std::string password);

 private:
  const std::string settingsError_;
  const bool decimalCodes_;
  QuoteFeed feed_;
  Venue venue_;  // touched on the feed's thread only
};

SimulatedExchange& SharedExchange();

}  // namespace sim

#endif  // VELTRANE_SIM_EXCHANGE_H

// exchange.h: the simulated exchange of the process, shared by the two
// stand-ins: the Level-2 feed behind libquote.so and the venue behind
// libitg.so are listeners of one exchange loop and trade one market.
//
// Both stand-ins link this library, so the process holds one exchange
// whichever of them (or both) it loads. Made on first use from the
// environment (exchange_settings.h); never destroyed, so that a late call
// from another thread during exit still finds it. Its thread stops at exit.
//
// Each request is copied and posted to the loop, and returns at once; its
// answer comes on the loop's thread. Requests to the venue reach it after
// the order latency; the feed's requests reach it at once.

#ifndef VELTRANE_SIM_EXCHANGE_H
#define VELTRANE_SIM_EXCHANGE_H

#include <functional>
#include <string>
#include <vector>

#include "exchange_loop.h"
#include "exchange_settings.h"
#include "quote_feed.h"
#include "venue.h"

namespace sim {

class SimulatedExchange {
 public:
  // A non-empty `settingsError` (from LoadExchangeSettings) refuses every login.
  SimulatedExchange(ExchangeSettings settings, std::string settingsError);
  // Stops the loop before the feed and the venue it calls go.
  ~SimulatedExchange() { loop_.Stop(); }

  // The quote stand-in's requests. The table takes effect for everything
  // sent after the requests made before it.
  void SetQuoteCallbacks(const QuoteCallbacks& table);
  void QuoteLogin();
  // `kinds` is a mask of FeedKind bits.
  void Subscribe(int64_t reqId, int64_t kinds, std::vector<std::string> codes);
  void Unsubscribe(int64_t reqId, std::vector<std::string> codes);

  // The trade stand-in's requests. `task` runs with the venue when the
  // request arrives; one that `startsDay` (an order) starts the market's
  // day if the source is open.
  void SetTradeCallbacks(const ItgCallbacks& table);
  void Trade(std::function<void(Venue&)> task, bool startsDay);
  // Logs in to the venue: the account's credentials are checked on arrival.
  // Returns the order-code mode at once: 1 when codes are decimal numbers, else 0.
  int64_t TradeLogin(std::string user, std::string password);

  // Ends the loop's thread; see ExchangeLoop::Stop.
  void Stop() { loop_.Stop(); }

 private:
  const std::string settingsError_;
  const ExchangeSettings settings_;
  ExchangeLoop loop_;
  QuoteFeed feed_;  // touched on the loop's thread only, as the venue is
  Venue venue_;
};

SimulatedExchange& SharedExchange();

}  // namespace sim

#endif  // VELTRANE_SIM_EXCHANGE_H

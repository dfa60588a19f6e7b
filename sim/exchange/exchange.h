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
//
// With an upstream (the vendor's quote library) the quote stand-in passes
// its requests to the vendor instead, and the vendor's messages are the
// market: handed over through a ring without waiting, shown to the venue on
// the loop's thread. With a recording, every market message also goes to
// the recorder: the vendor's as they come, or the simulated market's as the
// loop shows them.

#ifndef VELTRANE_SIM_EXCHANGE_H
#define VELTRANE_SIM_EXCHANGE_H

#include <functional>
#include <string>
#include <vector>

#include "exchange_loop.h"
#include "exchange_settings.h"
#include "message_ring.h"
#include "quote_feed.h"
#include "tape_recorder.h"
#include "upstream.h"
#include "venue.h"

namespace sim {

class SimulatedExchange {
 public:
  // A non-empty `settingsError` (from LoadExchangeSettings) refuses every login.
  SimulatedExchange(ExchangeSettings settings, std::string settingsError);
  // Stops the loop before the feed and the venue it calls go.
  ~SimulatedExchange() { Stop(); }

  // The vendor's library when the settings name one and it loaded; null for
  // the simulated feed (and when it failed to load: every login is then
  // refused with the reason).
  Upstream* upstream() { return upstream_.get(); }

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

  // Ends the loop's thread (see ExchangeLoop::Stop), then the recording,
  // and reports live messages the exchange had to drop.
  void Stop();

 private:
  // Every message of the simulated market to the recorder, on the loop's thread.
  class Recording : public MarketListener {
   public:
    explicit Recording(TapeRecorder& recorder) : recorder_(recorder) {}
    void OnMarket(const QuoteMessage& message) override {
      recorder_.Offer(message.typeName, message.time, message.payload.data(),
                      message.payload.size());
    }
    void OnClose() override {}

   private:
    TapeRecorder& recorder_;
  };

  // The vendor's message after the client has had it.
  static void HandOver(void* exchange, const char* typeName, const char* payload, int32_t length);

  std::string settingsError_;  // set before the loop's thread starts
  const ExchangeSettings settings_;
  std::unique_ptr<MessageRing> live_;  // the vendor's messages on their way to the loop
  std::unique_ptr<Upstream> upstream_;
  std::unique_ptr<TapeRecorder> recorder_;
  std::unique_ptr<Recording> recording_;
  ExchangeLoop loop_;
  QuoteFeed feed_;  // touched on the loop's thread only, as the venue is
  Venue venue_;
};

SimulatedExchange& SharedExchange();

}  // namespace sim

#endif  // VELTRANE_SIM_EXCHANGE_H

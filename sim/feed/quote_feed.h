// quote_feed.h: the simulated Level-2 feed behind the stand-in libquote.so:
// subscriptions, their answers and the delivery of market data.
//
// A listener of the exchange loop: every call comes on the loop's thread,
// and the feed reaches the client through the loop's line, which delays the
// market data by the feed's latency. No callback ever runs inside a request
// call, since requests reach the feed through the loop.
//
// The market day starts with the first subscription after a login: from
// then on the source's messages go out in order, whether or not anyone
// subscribes to them. A subscription therefore sees the market from the
// moment it is answered, and an unsubscription stops its codes before its
// answer is sent.
//
// Answers: a login gets status 0, or 1 when the settings or the tape are
// unusable (the reason goes to standard error). A subscription gets 0 "OK",
// 1 "not logged in", or 2 "unknown codes: ..." when the generated market does
// not list some of them (the others are subscribed). An unsubscription gets
// 0 "OK" or 1 "not logged in".

#ifndef VELTRANE_SIM_QUOTE_FEED_H
#define VELTRANE_SIM_QUOTE_FEED_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "client_line.h"
#include "libquote.h"
#include "quote_message.h"

namespace sim {

// Codes as a request hands them over: copies of the caller's texts.
std::vector<std::string> CopyCodes(const TextList& list);

class QuoteFeed : public MarketListener {
 public:
  // `listed` holds the codes a subscription may name; with `anyCode` (a
  // tape's market, known only from its messages) every code may be named.
  // Market data reach the client `latencyMs` after their stamp.
  QuoteFeed(const std::vector<std::string>& listed, bool anyCode, int64_t latencyMs,
            ClientLine& line);

  void SetCallbacks(const QuoteCallbacks& table) { callbacks_ = table; }

  // `sourceOpen`: the market's messages can be had.
  void AnswerLogin(bool sourceOpen);
  // True when the subscription was made (logged in): the day is to start.
  bool AnswerSubscribe(int32_t reqId, int64_t kinds, const std::vector<std::string>& codes);
  void AnswerUnsubscribe(int32_t reqId, const std::vector<std::string>& codes);

  void OnMarket(const QuoteMessage& message) override;
  void OnClose() override {}

 private:
  struct Subscription {
    int64_t kinds = 0;
    int32_t reqId[2] = {};  // of the latest subscription to snapshots, to trades
  };

  void Send(int32_t reqId, int64_t sequence, const QuoteMessage& message);

  const std::unordered_set<std::string> listed_;
  const bool anyCode_;
  const int64_t latencyMs_;
  ClientLine& line_;
  QuoteCallbacks callbacks_{};
  bool loggedIn_ = false;
  std::unordered_map<std::string, Subscription> subscriptions_;
  int64_t sequence_ = 0;
};

}  // namespace sim

#endif  // VELTRANE_SIM_QUOTE_FEED_H

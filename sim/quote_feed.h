// quote_feed.h: the simulated Level-2 feed behind the stand-in libquote.so.
//
// Requests are queued and return at once; one thread of the feed's own
// answers them, in order, through the registered callbacks and sends the
// market data of the subscribed codes and kinds. No callback ever runs inside
// a request call.
//
// The market day starts with the first subscription after a login: from
// then on the source's messages go out in order, paced by their exchange
// times (or as fast as possible), whether or not anyone subscribes to them.
// A subscription therefore sees the market from the moment it is answered,
// and an unsubscription stops its codes before its answer is sent.
//
// Answers: a login gets status 0, or 1 when the settings or the tape are
// unusable (the reason goes to standard error). A subscription gets 0 "OK",
// 1 "not logged in", or 2 "unknown codes: ..." when the generated market does
// not list some of them (the others are subscribed). An unsubscription gets
// 0 "OK" or 1 "not logged in".

#ifndef VELTRANE_SIM_QUOTE_FEED_H
#define VELTRANE_SIM_QUOTE_FEED_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "feed_settings.h"
#include "libquote.h"
#include "message_source.h"

namespace sim {

// Codes as a request hands them over: copies of the caller's texts.
std::vector<std::string> CopyCodes(const TextList& list);

class QuoteFeed {
 public:
  // A non-empty `settingsError` (from LoadFeedSettings) refuses every login.
  QuoteFeed(FeedSettings settings, std::string settingsError);
  QuoteFeed(const QuoteFeed&) = delete;
  QuoteFeed& operator=(const QuoteFeed&) = delete;
  // Stops the feed; not to be called from inside one of its callbacks.
  ~QuoteFeed();

  // The table takes effect for everything the feed sends after the requests
  // made before this call have been answered.
  void SetCallbacks(const QuoteCallbacks& table);

  // Each returns 0 once the request is queued; its answer follows on the
  // feed's thread. `kinds` is a mask of FeedKind bits.
  void Login();
  void Subscribe(int64_t reqId, int64_t kinds, std::vector<std::string> codes);
  void Unsubscribe(int64_t reqId, std::vector<std::string> codes);

  // Set before the first request; called on the feed's thread.
  void SetListener(MarketListener* listener) { listener_ = listener; }

  // Runs `task` on the feed's thread, in turn with the requests.
  void Post(std::function<void()> task);

  // On the feed's thread only. Opens the message source if it is not open;
  // false, with the reason on standard error, if it cannot be.
  bool OpenSource();
  // On the feed's thread only: starts the market's day if it has not
  // started and the source is open.
  void StartDay();

  // Ends the feed's thread after the callback it is running, if any, returns;
  // nothing is sent afterwards. Safe from inside a callback, where it returns
  // at once and the thread ends when the callback does.
  void Stop();

 private:
  struct Command {
    enum Type { kCallbacks, kLogin, kSubscribe, kUnsubscribe, kTask } type;
    QuoteCallbacks table;
    int64_t reqId;
    int64_t kinds;
    std::vector<std::string> codes;
    std::function<void()> task;
  };
  struct Subscription {
    int64_t kinds = 0;
    int32_t reqId[2] = {};  // of the latest subscription to snapshots, to trades
  };

  void Post(Command command);
  void Run();
  void Apply(Command& command);
  void AnswerLogin();
  void AnswerSubscribe(const Command& command);
  void AnswerUnsubscribe(const Command& command);
  // Sends messages until a command arrives, the feed stops or the day ends.
  void Replay(std::unique_lock<std::mutex>& lock);
  bool WaitForTimeOf(const QuoteMessage& message);
  void Deliver(const QuoteMessage& message);
  void Send(const QuoteMessage& message);

  const FeedSettings settings_;
  const std::string settingsError_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Command> commands_;  // guarded by mutex_
  std::atomic<bool> commandsWaiting_{false};
  std::atomic<bool> stopping_{false};
  std::thread thread_;  // started by the first request

  // The feed thread's own state.
  QuoteCallbacks callbacks_{};
  MarketListener* listener_ = nullptr;
  bool loggedIn_ = false;
  std::unique_ptr<MessageSource> source_;
  std::string sourceError_;
  bool dayStarted_ = false;
  bool dayOver_ = false;
  const QuoteMessage* held_ = nullptr;  // taken from the source, not yet sent
  std::chrono::steady_clock::time_point startedAt_;
  bool paceSet_ = false;
  int64_t firstMilliseconds_ = 0;
  std::unordered_map<std::string, Subscription> subscriptions_;
  int64_t sequence_ = 0;
};

}  // namespace sim

#endif  // VELTRANE_SIM_QUOTE_FEED_H

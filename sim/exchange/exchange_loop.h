// exchange_loop.h: the simulated exchange's clock, its thread and its one
// queue of events in exchange time.
//
// Everything the exchange does happens on the loop's thread, one event at a
// time, in the order of exchange time: the market's messages (from a tape or
// the generator), requests arriving from the client, and answers, reports and
// market data on their way back to it. The loop owns the clock; its listeners
// (the feed and the venue) are shown each market message in turn and put
// what they send back on the queue at the time it is due. Neither runs the
// other, and neither looks at the wall clock.
//
// Times are milliseconds after midnight, exchange time. Events due at the
// same time go in the order they were queued, and before a market message
// stamped with that time: an order that arrives at t meets the market as its
// messages before t left it.
//
// The client's clock is the time at which the client was last called (a
// message delivered, an answer or a report); a request it makes reaches the
// exchange the request's latency later by that clock. Requests that the
// client makes inside a callback are taken before the loop goes on, so at
// speed "max" a session runs the same way every time, however fast the
// machine. At other speeds each event waits until its time has come in real
// time (the day's first message goes out when the day starts).
//
// A live market (MessageSource::Live) runs in real time whatever the speed:
// each message is shown as it comes, and exchange time runs on from the
// latest one by the wall clock, so that what is due between messages (an
// order arriving, a report on its way) comes when it would on the exchange.
// A live day has no end of its own.
//
// Before the day starts (the first subscription or order after a login),
// exchange time stands still: requests and answers go at once, whatever the
// latencies, as a connection made before the open would.

#ifndef VELTRANE_SIM_EXCHANGE_LOOP_H
#define VELTRANE_SIM_EXCHANGE_LOOP_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client_line.h"
#include "message_source.h"
#include "quote_message.h"

namespace sim {

// Milliseconds of exchange time. A retail client reaches its broker over the
// public network and the broker's systems check an order before passing it
// on; market data comes through a vendor's relay.
struct LatencySettings {
  int64_t feedMs = 30;    // a message stamped t reaches the client at t + feedMs
  int64_t orderMs = 20;   // a request reaches the venue this long after the client's clock
  int64_t reportMs = 20;  // the venue's answers and reports reach the client this long after
};

class ExchangeLoop : public ClientLine {
 public:
  using Task = std::function<void()>;
  // Opens the market's messages; null, with the reason in `error`, if it cannot.
  using SourceOpener = std::function<std::unique_ptr<MessageSource>(std::string& error)>;

  // `speed` is a factor of real time, 0 for as fast as possible.
  ExchangeLoop(double speed, SourceOpener open);
  ExchangeLoop(const ExchangeLoop&) = delete;
  ExchangeLoop& operator=(const ExchangeLoop&) = delete;
  // Stops the loop; not to be called on its thread.
  ~ExchangeLoop() override;

  // Listeners see each market message in the order added. Before the first Post.
  void AddListener(MarketListener* listener) { listeners_.push_back(listener); }
  // `ended` runs once on the loop's thread when the day is over and nothing
  // is left to run: the close, the expiries and every answer and report the
  // client was owed have gone. Before the first Post.
  void SetDayEnded(Task ended) { dayEnded_ = std::move(ended); }

  // From any thread: `task` runs on the loop's thread `delayMs` after the
  // client's clock (at once before the day starts), after every task posted
  // before it that is due no later. One that `startsDay` starts the market's
  // day (if its source is open) before its time is set.
  void Post(int64_t delayMs, bool startsDay, Task task);

  // On the loop's thread only.
  int64_t Now() const { return now_; }
  // Runs `task` at `time`, or now if that has passed.
  void At(int64_t time, Task task);
  // Opens the market's source unless it is open; false, with the reason on
  // standard error, if it cannot be.
  bool OpenSource();
  // Starts the market's day if it has not started and the source is open.
  void StartDay();

  // ClientLine, on the loop's thread.
  void Calling() override { clientClock_ = now_; }
  void Later(int64_t delayMs, std::function<void()> call) override;

  // Ends the loop's thread after the event it is running, if any; nothing
  // runs afterwards. Safe on the loop's thread, where it returns at once and
  // the thread ends when the event does.
  void Stop();

 private:
  struct Event {
    int64_t time;
    uint64_t sequence;  // keeps events of one time in the order queued
    Task task;
  };
  struct Posted {
    int64_t delayMs;
    bool startsDay;
    Task task;
  };

  void Run();
  void Schedule(Posted& posted);
  int64_t ClientClock() const;
  void ShowArrived();
  // Runs the next event or market message; false if there is none.
  bool Step();
  const QuoteMessage* NextMessage();
  // Waits until `time` is due in real time; false if a post or a stop came first.
  bool WaitUntilDue(int64_t time);
  void PopEvent();

  const double speed_;
  const SourceOpener open_;
  std::vector<MarketListener*> listeners_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Posted> posted_;  // guarded by mutex_
  std::atomic<bool> postsWaiting_{false};
  std::atomic<bool> stopping_{false};
  std::thread thread_;  // started by the first post

  // The loop thread's own state.
  std::vector<Event> events_;  // a heap, earliest first
  uint64_t sequence_ = 0;
  int64_t now_ = 0;
  int64_t clientClock_ = 0;
  std::unique_ptr<MessageSource> source_;
  std::string sourceError_;
  bool dayStarted_ = false;
  bool dayOver_ = false;
  Task dayEnded_;  // run once, when the day is over and nothing is due
  const QuoteMessage* held_ = nullptr;  // taken from the source, not yet shown
  std::chrono::steady_clock::time_point startedAt_;
  int64_t firstMs_ = 0;  // the time of the day's first message
};

}  // namespace sim

#endif  // VELTRANE_SIM_EXCHANGE_LOOP_H

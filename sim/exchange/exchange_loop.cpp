// The exchange loop: posts taken in, events and market messages run in
// exchange time, paced when the speed asks for it.

#include "exchange_loop.h"

#include <algorithm>
#include <cstdio>

namespace sim {
namespace {

void Warn(const std::string& text) {
  std::fprintf(stderr, "simulated exchange: %s\n", text.c_str());
}

// How often an idle loop on a live market looks for a message: the vendor's
// thread hands messages over without waking anyone.
constexpr auto kLivePoll = std::chrono::milliseconds(1);
constexpr int kMostShownBeforeRequests = 1 << 16;

// Work on the loop's thread that fails (out of memory) is dropped, and the
// loop goes on.
template <class Work>
void Guarded(const char* what, const Work& work) {
  try {
    work();
  } catch (const std::exception& failure) {
    Warn(std::string("could not handle ") + what + ": " + failure.what());
  }
}

// The heap's order: the earliest time first, then the earliest queued.
struct ComesAfter {
  template <class Event>
  bool operator()(const Event& a, const Event& b) const {
    return a.time != b.time ? a.time > b.time : a.sequence > b.sequence;
  }
};

}  // namespace

ExchangeLoop::ExchangeLoop(double speed, SourceOpener open)
    : speed_(speed), open_(std::move(open)) {}

ExchangeLoop::~ExchangeLoop() { Stop(); }

void ExchangeLoop::Post(int64_t delayMs, bool startsDay, Task task) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopping_.load()) return;
    posted_.push_back({delayMs, startsDay, std::move(task)});
    postsWaiting_.store(true, std::memory_order_release);
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  wake_.notify_all();
}

void ExchangeLoop::Stop() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_.store(true);
    // On its own thread the loop cannot wait for itself; it sees the flag
    // when the event returns and leaves.
    if (thread_.get_id() != std::this_thread::get_id()) thread.swap(thread_);
  }
  wake_.notify_all();
  if (thread.joinable()) thread.join();
}

void ExchangeLoop::At(int64_t time, Task task) {
  events_.push_back({std::max(time, now_), sequence_++, std::move(task)});
  std::push_heap(events_.begin(), events_.end(), ComesAfter());
}

void ExchangeLoop::PopEvent() {
  std::pop_heap(events_.begin(), events_.end(), ComesAfter());
  Event event = std::move(events_.back());
  events_.pop_back();
  now_ = std::max(now_, event.time);
  Guarded("an event", event.task);
}

void ExchangeLoop::Later(int64_t delayMs, std::function<void()> call) {
  if (delayMs <= 0 || !dayStarted_) {
    Calling();
    return call();
  }
  At(now_ + delayMs, [this, call = std::move(call)] {
    Calling();
    call();
  });
}

bool ExchangeLoop::OpenSource() {
  if (source_ == nullptr && sourceError_.empty()) {
    source_ = open_(sourceError_);
    if (source_ == nullptr && sourceError_.empty()) sourceError_ = "the market has no source";
    if (!sourceError_.empty()) Warn(sourceError_);
  }
  return source_ != nullptr;
}

void ExchangeLoop::StartDay() {
  if (dayStarted_ || source_ == nullptr) return;
  dayStarted_ = true;
  startedAt_ = std::chrono::steady_clock::now();
  // Exchange time jumps from before the open to the day's first message.
  if (const QuoteMessage* first = NextMessage(); first != nullptr) {
    firstMs_ = MillisecondsOfDay(first->time);
    now_ = std::max(now_, firstMs_);
  }
  clientClock_ = now_;
}

void ExchangeLoop::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  std::vector<Posted> taken;
  while (!stopping_.load()) {
    if (!posted_.empty()) {
      taken.swap(posted_);
      postsWaiting_.store(false, std::memory_order_relaxed);
      lock.unlock();
      ShowArrived();
      for (Posted& posted : taken) Schedule(posted);
      taken.clear();
      lock.lock();
      continue;
    }
    // Between events only the two flags are looked at, so that a session
    // at full speed takes no lock per message.
    lock.unlock();
    bool idle = false;
    while (!postsWaiting_.load(std::memory_order_acquire) && !stopping_.load()) {
      if (!Step()) {
        idle = true;
        break;
      }
    }
    lock.lock();
    auto woken = [&] { return stopping_.load() || !posted_.empty(); };
    if (idle && source_ != nullptr && source_->Live()) {
      wake_.wait_for(lock, kLivePoll, woken);
    } else if (idle) {
      wake_.wait(lock, woken);
    }
  }
}

void ExchangeLoop::Schedule(Posted& posted) {
  if (posted.startsDay) StartDay();
  int64_t time = now_;
  if (dayStarted_ && posted.delayMs > 0) time = std::max(now_, ClientClock() + posted.delayMs);
  At(time, std::move(posted.task));
}

// The vendor calls the client directly as each message comes, so on a live
// market the client's clock is the market's, run on in real time.
int64_t ExchangeLoop::ClientClock() const {
  if (source_ == nullptr || !source_->Live() || !dayStarted_) return clientClock_;
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - startedAt_);
  return std::max(clientClock_, firstMs_ + elapsed.count());
}

// Live messages handed over before a request was made come before it: the
// client may have seen them. Bounded, so that a flood cannot hold requests.
void ExchangeLoop::ShowArrived() {
  if (source_ == nullptr || !source_->Live()) return;
  for (int shown = 0; shown < kMostShownBeforeRequests && NextMessage() != nullptr; ++shown) {
    Step();
  }
}

const QuoteMessage* ExchangeLoop::NextMessage() {
  if (!dayStarted_ || dayOver_) return nullptr;
  if (held_ == nullptr && (held_ = source_->Next()) == nullptr) {
    if (source_->Live()) return nullptr;  // none yet
    dayOver_ = true;
    if (std::string problem = source_->Problem(); !problem.empty()) Warn(problem);
    // What is due at the last message's time still comes before the close.
    At(now_, [this] {
      for (MarketListener* listener : listeners_)
        Guarded("the close", [&] { listener->OnClose(); });
    });
  }
  return held_;
}

bool ExchangeLoop::Step() {
  const QuoteMessage* message = NextMessage();
  // A live message is due as it comes, and so is what is due before it.
  const bool live = source_ != nullptr && source_->Live();
  if (!events_.empty() &&
      (message == nullptr || events_.front().time <= MillisecondsOfDay(message->time))) {
    if ((live && message != nullptr) || WaitUntilDue(events_.front().time)) PopEvent();
    return true;
  }
  if (message == nullptr) {
    if (dayOver_ && dayEnded_) {
      Task ended = std::move(dayEnded_);
      dayEnded_ = nullptr;
      Guarded("the day's end", ended);
    }
    return false;
  }
  int64_t time = MillisecondsOfDay(message->time);
  if (!live && !WaitUntilDue(time)) return true;
  held_ = nullptr;
  now_ = std::max(now_, time);
  if (live) {
    // The clock runs on in real time from the latest message.
    startedAt_ = std::chrono::steady_clock::now();
    firstMs_ = now_;
  }
  for (MarketListener* listener : listeners_) {
    Guarded("a message", [&] { listener->OnMarket(*message); });
  }
  return true;
}

// Times are measured from the day's first message, sent when the day
// started; on a live market from its latest message, which runs in real time.
bool ExchangeLoop::WaitUntilDue(int64_t time) {
  const bool live = source_ != nullptr && source_->Live();
  const double speed = live ? 1.0 : speed_;
  if (speed <= 0 || !dayStarted_ || dayOver_) return true;
  auto due =
      startedAt_ +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double, std::milli>(static_cast<double>(time - firstMs_) / speed));
  auto now = std::chrono::steady_clock::now();
  if (now >= due) return true;
  // A live message may come first; the loop looks for one every poll.
  if (live) due = std::min(due, now + kLivePoll);
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_until(lock, due, [&] { return stopping_.load() || !posted_.empty(); });
  return false;
}

}  // namespace sim

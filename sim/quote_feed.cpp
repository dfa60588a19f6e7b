// The simulated feed's thread: answers, subscriptions and paced replay.

#include "quote_feed.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "client_call.h"

namespace sim {
namespace {

constexpr int32_t kAnswerOk = 0;
constexpr int32_t kNotLoggedIn = 1;
constexpr int32_t kUnknownCodes = 2;
constexpr int32_t kLoginRefused = 1;

void Warn(const std::string& text) {
  std::fprintf(stderr, "libquote (simulated feed): %s\n", text.c_str());
}

// Work on the feed's thread that fails (out of memory) is dropped, and the
// feed goes on.
template <class Work>
void Guarded(const char* what, const Work& work) {
  try {
    work();
  } catch (const std::exception& failure) {
    Warn(std::string("could not handle ") + what + ": " + failure.what());
  }
}

bool IsListed(const std::vector<Instrument>& instruments, const std::string& code) {
  return std::any_of(instruments.begin(), instruments.end(),
                     [&](const Instrument& instrument) { return instrument.code == code; });
}

}  // namespace

std::vector<std::string> CopyCodes(const TextList& list) {
  std::vector<std::string> codes;
  for (int64_t i = 0; i < list.count; ++i) {
    const TextView& text = list.items[i];
    // A code shorter than six characters comes padded with NULs.
    size_t length = text.data == nullptr ? 0 : strnlen(text.data, static_cast<size_t>(text.size));
    codes.emplace_back(text.data == nullptr ? "" : std::string(text.data, length));
  }
  return codes;
}

QuoteFeed::QuoteFeed(FeedSettings settings, std::string settingsError)
    : settings_(std::move(settings)), settingsError_(std::move(settingsError)) {}

QuoteFeed::~QuoteFeed() { Stop(); }

void QuoteFeed::SetCallbacks(const QuoteCallbacks& table) {
  Post({Command::kCallbacks, table, 0, 0, {}, {}});
}

void QuoteFeed::Login() { Post({Command::kLogin, {}, 0, 0, {}, {}}); }

void QuoteFeed::Subscribe(int64_t reqId, int64_t kinds, std::vector<std::string> codes) {
  Post({Command::kSubscribe, {}, reqId, kinds, std::move(codes), {}});
}

void QuoteFeed::Unsubscribe(int64_t reqId, std::vector<std::string> codes) {
  Post({Command::kUnsubscribe, {}, reqId, 0, std::move(codes), {}});
}

void QuoteFeed::Post(std::function<void()> task) {
  Post({Command::kTask, {}, 0, 0, {}, std::move(task)});
}

void QuoteFeed::Stop() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_.store(true);
    // From inside a callback the thread cannot wait for itself; it sees the
    // flag when the callback returns and leaves its loop.
    if (thread_.get_id() != std::this_thread::get_id()) thread.swap(thread_);
  }
  wake_.notify_all();
  if (thread.joinable()) thread.join();
}

void QuoteFeed::Post(Command command) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopping_.load()) return;
    commands_.push_back(std::move(command));
    commandsWaiting_.store(true, std::memory_order_release);
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  wake_.notify_all();
}

void QuoteFeed::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  std::vector<Command> taken;
  while (!stopping_.load()) {
    if (!commands_.empty()) {
      taken.swap(commands_);
      commandsWaiting_.store(false, std::memory_order_relaxed);
      lock.unlock();
      for (Command& command : taken) {
        if (stopping_.load()) break;
        Apply(command);
      }
      taken.clear();
      lock.lock();
    } else if (dayStarted_ && !dayOver_) {
      Replay(lock);
    } else {
      wake_.wait(lock, [&] { return stopping_.load() || !commands_.empty(); });
    }
  }
}

void QuoteFeed::Apply(Command& command) {
  switch (command.type) {
    case Command::kCallbacks:
      callbacks_ = command.table;
      return;
    case Command::kLogin:
      return AnswerLogin();
    case Command::kSubscribe:
      return AnswerSubscribe(command);
    case Command::kUnsubscribe:
      return AnswerUnsubscribe(command);
    case Command::kTask:
      return Guarded("a request", command.task);
  }
}

bool QuoteFeed::OpenSource() {
  if (settingsError_.empty() && source_ == nullptr && sourceError_.empty()) {
    source_ = sim::OpenSource(settings_, sourceError_);
    if (!sourceError_.empty()) Warn(sourceError_);
  }
  return source_ != nullptr;
}

void QuoteFeed::StartDay() {
  if (dayStarted_ || source_ == nullptr) return;
  dayStarted_ = true;
  startedAt_ = std::chrono::steady_clock::now();
}

void QuoteFeed::AnswerLogin() {
  loggedIn_ = OpenSource();
  CallClient(callbacks_.onLogin, 0, loggedIn_ ? kAnswerOk : kLoginRefused);
}

void QuoteFeed::AnswerSubscribe(const Command& command) {
  auto reqId = static_cast<int32_t>(command.reqId);
  if (!loggedIn_) return CallClient(callbacks_.onSubscribe, reqId, kNotLoggedIn, "not logged in");
  std::string unknown;
  for (const std::string& code : command.codes) {
    // A tape may hold any code, so only the generated market can say no.
    if (settings_.tapePath.empty() && !IsListed(settings_.market.instruments, code)) {
      unknown += (unknown.empty() ? "" : ", ") + code;
      continue;
    }
    Subscription& subscription = subscriptions_[code];
    subscription.kinds |= command.kinds;
    if (command.kinds & kSnapshots) subscription.reqId[0] = reqId;
    if (command.kinds & kTrades) subscription.reqId[1] = reqId;
  }
  StartDay();
  if (unknown.empty()) return CallClient(callbacks_.onSubscribe, reqId, kAnswerOk, "OK");
  std::string text = "unknown codes: " + unknown;
  CallClient(callbacks_.onSubscribe, reqId, kUnknownCodes, text.c_str());
}

void QuoteFeed::AnswerUnsubscribe(const Command& command) {
  auto reqId = static_cast<int32_t>(command.reqId);
  if (!loggedIn_) return CallClient(callbacks_.onUnsubscribe, reqId, kNotLoggedIn, "not logged in");
  for (const std::string& code : command.codes) subscriptions_.erase(code);
  CallClient(callbacks_.onUnsubscribe, reqId, kAnswerOk, "OK");
}

void QuoteFeed::Replay(std::unique_lock<std::mutex>& lock) {
  // Between messages only the two flags are looked at, so that an unpaced
  // replay takes no lock per message.
  lock.unlock();
  while (!commandsWaiting_.load(std::memory_order_acquire) && !stopping_.load()) {
    if (held_ == nullptr && (held_ = source_->Next()) == nullptr) {
      dayOver_ = true;
      if (std::string problem = source_->Problem(); !problem.empty()) Warn(problem);
      if (listener_ != nullptr) Guarded("the close", [this] { listener_->OnClose(); });
      break;
    }
    if (settings_.speed > 0 && !WaitForTimeOf(*held_)) break;
    const QuoteMessage* message = held_;
    held_ = nullptr;
    Deliver(*message);
  }
  lock.lock();
}

// Waits until the message is due; false if a command or a stop came first.
// Times are measured from the first message, sent when the day started.
bool QuoteFeed::WaitForTimeOf(const QuoteMessage& message) {
  int64_t milliseconds = MillisecondsOfDay(message.time);
  if (!paceSet_) {
    paceSet_ = true;
    firstMilliseconds_ = milliseconds;
  }
  auto due = startedAt_ +
             std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                 std::chrono::duration<double, std::milli>(
                     static_cast<double>(milliseconds - firstMilliseconds_) / settings_.speed));
  if (std::chrono::steady_clock::now() >= due) return true;
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_until(lock, due, [&] { return stopping_.load() || !commands_.empty(); });
}

void QuoteFeed::Deliver(const QuoteMessage& message) {
  Send(message);
  if (listener_ != nullptr) Guarded("a message", [&] { listener_->OnMarket(message); });
}

void QuoteFeed::Send(const QuoteMessage& message) {
  if (message.code.empty()) return;
  auto found = subscriptions_.find(message.code);
  if (found == subscriptions_.end() || (found->second.kinds & message.kind) == 0) return;
  int32_t reqId = found->second.reqId[message.kind == kTrades ? 1 : 0];
  CallClient(callbacks_.onData, reqId, ++sequence_, message.time, message.typeName,
             message.payload.data(), static_cast<int32_t>(message.payload.size()));
}

}  // namespace sim

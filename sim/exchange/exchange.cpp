// The process's one simulated exchange.

#include "exchange.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "live_source.h"

namespace sim {
namespace {

// Milliseconds since local midnight: the stem that keeps the venue's codes
// apart from those of an earlier run on the same day.
int64_t MillisecondsSinceMidnight() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) * 1000 + milliseconds;
}

std::vector<std::string> CodesOf(const std::vector<Instrument>& instruments) {
  std::vector<std::string> codes;
  for (const Instrument& instrument : instruments) codes.push_back(instrument.code);
  return codes;
}

// One byte to whoever waits for the day's end. A reader that has gone must
// not kill the process: SIGPIPE is held back for the write and a pending one
// taken away.
void TellDayEnded(int fd) {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &pipe, &before);
  ssize_t written;
  do {
    written = ::write(fd, "\n", 1);
  } while (written < 0 && errno == EINTR);
  if (written < 0 && errno == EPIPE) {
    const timespec none{0, 0};
    sigtimedwait(&pipe, nullptr, &none);
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (written != 1) {
    std::fprintf(stderr,
                 "simulated exchange: VELTRANE_SIM_DAY_END_FD: the day's end could not be told\n");
  }
}

// Messages that may wait between the vendor's thread and the exchange's: a
// few seconds of a whole market.
constexpr size_t kLiveRing = 1 << 15;

VenueMarket VenueMarketOf(const SourceSettings& source) {
  // The instruments of a tape or the live market are known from their
  // snapshots only, with the marks the instrument list gives them.
  bool tape = !source.tapePath.empty() || !source.upstreamPath.empty();
  return {tape ? std::vector<Instrument>{} : source.market.instruments,
          tape ? source.market.instruments : std::vector<Instrument>{}, source.market.Schedule(),
          source.market.rules, source.market.suspensions};
}

}  // namespace

SimulatedExchange::SimulatedExchange(ExchangeSettings settings, std::string settingsError)
    : settingsError_(std::move(settingsError)),
      settings_(std::move(settings)),
      loop_(settings_.speed,
            [this](std::string& error) -> std::unique_ptr<MessageSource> {
              if (!settingsError_.empty()) {
                error = "the simulator's settings are unusable";
                return nullptr;
              }
              if (live_ != nullptr) return std::make_unique<LiveSource>(*live_);
              return OpenSource(settings_.source, error);
            }),
      // A tape may hold any code, so only the generated market can say no.
      feed_(CodesOf(settings_.source.market.instruments), !settings_.source.tapePath.empty(),
            settings_.latency.feedMs, loop_),
      venue_(settings_.venue, VenueMarketOf(settings_.source), MillisecondsSinceMidnight()) {
  venue_.SetClientLine(&loop_, settings_.latency.reportMs);
  const std::string given = settingsError_;  // reported by whoever found it
  const bool live = settingsError_.empty() && !settings_.source.upstreamPath.empty();
  if (settingsError_.empty() && !settings_.recordPath.empty()) {
    recorder_ = std::make_unique<TapeRecorder>();
    std::string error;
    if (!recorder_->Start(settings_.recordPath, error)) {
      settingsError_ = "VELTRANE_SIM_RECORD: " + error + "\n";
      recorder_.reset();
    } else if (!live) {
      recording_ = std::make_unique<Recording>(*recorder_);
      loop_.AddListener(recording_.get());
    }
  }
  if (live) {
    live_ = std::make_unique<MessageRing>(kLiveRing);
    upstream_ = std::make_unique<Upstream>();
    std::string error;
    if (!upstream_->Load(settings_.source.upstreamPath, &HandOver, this, error)) {
      settingsError_ += "VELTRANE_SIM_UPSTREAM: " + error + "\n";
      upstream_.reset();
    }
  }
  if (!settingsError_.empty() && settingsError_ != given) {
    std::fprintf(stderr, "simulated exchange: every login will be refused:\n%s",
                 settingsError_.c_str());
  }
  // The feed first: a message reaches its subscribers before the venue acts
  // on it. The vendor's feed reaches the client by itself.
  if (!live) loop_.AddListener(&feed_);
  loop_.AddListener(&venue_);
  if (settings_.dayEndFd >= 0) loop_.SetDayEnded([fd = settings_.dayEndFd] { TellDayEnded(fd); });
  // The live market runs whether or not anyone trades, so that the venue's
  // book is the market's when the first order comes.
  if (upstream_ != nullptr) {
    loop_.Post(0, false, [this] {
      if (loop_.OpenSource()) loop_.StartDay();
    });
  }
}

void SimulatedExchange::Stop() {
  loop_.Stop();
  if (recorder_ != nullptr) recorder_->Stop();
  if (live_ != nullptr && live_->Dropped() > 0) {
    std::fprintf(stderr,
                 "simulated exchange: %llu live market messages were dropped in all: the "
                 "exchange fell behind the feed\n",
                 static_cast<unsigned long long>(live_->Dropped()));
  }
}

void SimulatedExchange::HandOver(void* exchange, const char* typeName, const char* payload,
                                 int32_t length) {
  auto* self = static_cast<SimulatedExchange*>(exchange);
  self->live_->Offer(typeName, -1, payload, static_cast<size_t>(length));
  if (self->recorder_ != nullptr) {
    self->recorder_->Offer(typeName, -1, payload, static_cast<size_t>(length));
  }
}

void SimulatedExchange::SetQuoteCallbacks(const QuoteCallbacks& table) {
  loop_.Post(0, false, [this, table] { feed_.SetCallbacks(table); });
}

void SimulatedExchange::QuoteLogin() {
  loop_.Post(0, false, [this] { feed_.AnswerLogin(loop_.OpenSource()); });
}

void SimulatedExchange::Subscribe(int64_t reqId, int64_t kinds, std::vector<std::string> codes) {
  loop_.Post(0, false, [this, reqId, kinds, codes = std::move(codes)] {
    if (feed_.AnswerSubscribe(static_cast<int32_t>(reqId), kinds, codes)) loop_.StartDay();
  });
}

void SimulatedExchange::Unsubscribe(int64_t reqId, std::vector<std::string> codes) {
  loop_.Post(0, false, [this, reqId, codes = std::move(codes)] {
    feed_.AnswerUnsubscribe(static_cast<int32_t>(reqId), codes);
  });
}

void SimulatedExchange::SetTradeCallbacks(const ItgCallbacks& table) {
  loop_.Post(0, false, [this, table] { venue_.SetCallbacks(table); });
}

void SimulatedExchange::Trade(std::function<void(Venue&)> task, bool startsDay) {
  loop_.Post(settings_.latency.orderMs, startsDay, [this, task = std::move(task)] {
    venue_.AdvanceTo(ExchangeTime(loop_.Now()));
    task(venue_);
  });
}

int64_t SimulatedExchange::TradeLogin(std::string user, std::string password) {
  Trade(
      [this, user = std::move(user), password = std::move(password)](Venue& venue) {
        std::string error = settingsError_;
        if (error.empty() && !loop_.OpenSource()) error = "the market's source cannot be opened";
        venue.Login(user, password, error);
      },
      false);
  return settings_.venue.decimalCodes ? 1 : 0;
}

SimulatedExchange& SharedExchange() {
  static SimulatedExchange* exchange = [] {
    ExchangeSettings settings;
    std::string error;
    if (!LoadExchangeSettings(EnvironmentSettings(), settings, error)) {
      std::fprintf(stderr, "simulated exchange: every login will be refused:\n%s", error.c_str());
    }
    auto* made = new SimulatedExchange(std::move(settings), std::move(error));
    std::atexit([] { SharedExchange().Stop(); });
    return made;
  }();
  return *exchange;
}

}  // namespace sim

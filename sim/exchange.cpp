// The process's one simulated exchange.

#include "exchange.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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

}  // namespace

SimulatedExchange::SimulatedExchange(FeedSettings settings, std::string settingsError)
    : settingsError_(std::move(settingsError)),
      decimalCodes_(settings.venue.decimalCodes),
      feed_(settings, settingsError_),
      // A tape's instruments are known from its snapshots only.
      venue_(settings.venue,
             settings.tapePath.empty() ? settings.market.instruments : std::vector<Instrument>{},
             MillisecondsSinceMidnight(), ExchangeTime(settings.market.sessions.front().start)) {
  feed_.SetListener(&venue_);
}

void SimulatedExchange::Trade(std::function<void(Venue&)> task, bool startsDay) {
  feed_.Post([this, task = std::move(task), startsDay] {
    if (startsDay) feed_.StartDay();
    task(venue_);
  });
}

int64_t SimulatedExchange::Login(std::string user, std::string password) {
  feed_.Post([this, user = std::move(user), password = std::move(password)] {
    std::string error = settingsError_;
    if (error.empty() && !feed_.OpenSource()) error = "the market's source cannot be opened";
    venue_.Login(user, password, error);
  });
  return decimalCodes_ ? 1 : 0;
}

SimulatedExchange& SharedExchange() {
  static SimulatedExchange* exchange = [] {
    FeedSettings settings;
    std::string error;
    if (!LoadFeedSettings(FromEnvironment, settings, error)) {
      std::fprintf(stderr, "simulated exchange: every login will be refused:\n%s", error.c_str());
    }
    auto* made = new SimulatedExchange(std::move(settings), std::move(error));
    std::atexit([] { SharedExchange().feed().Stop(); });
    return made;
  }();
  return *exchange;
}

}  // namespace sim

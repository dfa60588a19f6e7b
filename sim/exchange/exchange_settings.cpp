// Reading the exchange's settings from the environment and a config file.

#include "exchange_settings.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

#include "regular_file.h"

namespace sim {
namespace {

constexpr const char* kConfig = "VELTRANE_SIM_CONFIG";
// Far more than any list of these settings; a file beyond it is not one.
constexpr size_t kLargestConfig = 1 << 20;
constexpr const char* kNames[] = {
    "VELTRANE_SIM_TAPE",         "VELTRANE_SIM_SEED",        "VELTRANE_SIM_INSTRUMENTS",
    "VELTRANE_SIM_SESSIONS",     "VELTRANE_SIM_SNAPSHOT_MS", "VELTRANE_SIM_TRADE_RATE",
    "VELTRANE_SIM_SPEED",        "VELTRANE_SIM_USER",        "VELTRANE_SIM_PASSWORD",
    "VELTRANE_SIM_CAPITAL",      "VELTRANE_SIM_ORDER_CODES", "VELTRANE_SIM_COMMISSION_BP",
    "VELTRANE_SIM_STAMP_DUTY_BP", "VELTRANE_SIM_FEED_LATENCY_MS", "VELTRANE_SIM_ORDER_LATENCY_MS",
    "VELTRANE_SIM_REPORT_LATENCY_MS"};

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool IsKnown(const std::string& name) {
  for (const char* known : kNames) {
    if (name == known) return true;
  }
  return false;
}

bool ReadConfigFile(const std::string& path, std::map<std::string, std::string>& values,
                    std::string& error) {
  std::string content;
  std::string why;
  if (!ReadRegularFile(path, kLargestConfig, content, why)) {
    error += why + "\n";
    return false;
  }
  std::istringstream in(content);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    size_t equals = line.find('=');
    std::string name = Trim(line.substr(0, equals));
    if (equals == std::string::npos || !IsKnown(name)) {
      error += path + ":" + std::to_string(number) + ": not a NAME=value line with a known name\n";
      continue;
    }
    values[name] = Trim(line.substr(equals + 1));
  }
  return true;
}

bool ParseNumber(const std::string& text, double low, double high, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value) || value < low || value > high) {
    return false;
  }
  out = value;
  return true;
}

bool ParseSeed(const std::string& text, uint64_t& out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0) return false;
  out = value;
  return true;
}

// "0930" or "093000" -> milliseconds after midnight; up to 2400.
bool ParseClock(const std::string& text, int64_t& out) {
  if ((text.size() != 4 && text.size() != 6) ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  int64_t hours = std::stoll(text.substr(0, 2));
  int64_t minutes = std::stoll(text.substr(2, 2));
  int64_t seconds = text.size() == 6 ? std::stoll(text.substr(4, 2)) : 0;
  if (minutes > 59 || seconds > 59 || hours * 3600 + minutes * 60 + seconds > 24 * 3600) {
    return false;
  }
  out = (hours * 3600 + minutes * 60 + seconds) * 1000;
  return true;
}

bool ParseSessions(const std::string& text, std::vector<Session>& out) {
  std::vector<Session> sessions;
  size_t from = 0;
  while (true) {
    size_t comma = text.find(',', from);
    std::string entry = Trim(text.substr(from, comma - from));
    size_t dash = entry.find('-');
    Session session{};
    if (dash == std::string::npos || !ParseClock(Trim(entry.substr(0, dash)), session.start) ||
        !ParseClock(Trim(entry.substr(dash + 1)), session.end) || session.start >= session.end ||
        (!sessions.empty() && session.start < sessions.back().end)) {
      return false;
    }
    sessions.push_back(session);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  out = std::move(sessions);
  return true;
}

// Basis points with up to two decimals, as millionths: "2.5" -> 250.
bool ParseBasisPoints(const std::string& text, int64_t& ppm) {
  return ParseCents(text, ppm) && ppm <= 1000000;
}

template <class Given, class Complain>
void LoadVenueSettings(const Given& given, const Complain& complain, VenueSettings& venue) {
  std::string value;
  given("VELTRANE_SIM_USER", venue.user);
  given("VELTRANE_SIM_PASSWORD", venue.password);
  if (given("VELTRANE_SIM_CAPITAL", value) &&
      (!ParseCents(value, venue.capital) || venue.capital <= 0 || venue.capital > 10000000000000)) {
    complain("VELTRANE_SIM_CAPITAL", value,
             "expected yuan with at most two decimals, above 0 and up to 100000000000");
  }
  if (given("VELTRANE_SIM_ORDER_CODES", value)) {
    if (value == "text" || value == "decimal") {
      venue.decimalCodes = value == "decimal";
    } else {
      complain("VELTRANE_SIM_ORDER_CODES", value, "expected \"text\" or \"decimal\"");
    }
  }
  const std::pair<const char*, int64_t*> rates[] = {
      {"VELTRANE_SIM_COMMISSION_BP", &venue.fees.commissionPpm},
      {"VELTRANE_SIM_STAMP_DUTY_BP", &venue.fees.stampDutyPpm}};
  for (const auto& [name, ppm] : rates) {
    if (given(name, value) && !ParseBasisPoints(value, *ppm)) {
      complain(name, value, "expected basis points with at most two decimals, up to 10000");
    }
  }
}

}  // namespace

const char* FromEnvironment(const char* name) { return std::getenv(name); }

bool LoadExchangeSettings(const SettingLookup& lookup, ExchangeSettings& settings,
                          std::string& error) {
  error.clear();
  std::map<std::string, std::string> values;
  if (const char* path = lookup(kConfig); path != nullptr && *path != '\0') {
    ReadConfigFile(path, values, error);
  }
  for (const char* name : kNames) {
    if (const char* value = lookup(name); value != nullptr) values[name] = Trim(value);
  }
  auto given = [&](const char* name, std::string& value) {
    auto found = values.find(name);
    if (found == values.end()) return false;
    value = found->second;
    return true;
  };
  auto complain = [&](const char* name, const std::string& value, const char* expected) {
    error += std::string(name) + "='" + value + "': " + expected + "\n";
  };

  settings = ExchangeSettings{};
  std::string value;
  given("VELTRANE_SIM_TAPE", settings.source.tapePath);
  if (given("VELTRANE_SIM_SEED", value) && !ParseSeed(value, settings.source.market.seed)) {
    complain("VELTRANE_SIM_SEED", value, "expected an unsigned 64-bit decimal number");
  }
  if (given("VELTRANE_SIM_INSTRUMENTS", value)) {
    std::string why;
    if (!ParseInstruments(value, settings.source.market.seed, settings.source.market.instruments, why)) {
      complain("VELTRANE_SIM_INSTRUMENTS", value, why.c_str());
    }
  }
  if (given("VELTRANE_SIM_SESSIONS", value) && !ParseSessions(value, settings.source.market.sessions)) {
    complain("VELTRANE_SIM_SESSIONS", value,
             "expected ascending HHMM[SS]-HHMM[SS] ranges separated by commas");
  }
  double number = 0;
  if (given("VELTRANE_SIM_SNAPSHOT_MS", value)) {
    if (ParseNumber(value, 100, 60000, number) && number == std::floor(number)) {
      settings.source.market.snapshotIntervalMs = static_cast<int64_t>(number);
    } else {
      complain("VELTRANE_SIM_SNAPSHOT_MS", value, "expected whole milliseconds, 100 to 60000");
    }
  }
  if (given("VELTRANE_SIM_TRADE_RATE", value)) {
    if (ParseNumber(value, 0, 1000, number)) {
      settings.source.market.tradesPerInterval = number;
    } else {
      complain("VELTRANE_SIM_TRADE_RATE", value, "expected a number from 0 to 1000");
    }
  }
  if (given("VELTRANE_SIM_SPEED", value)) {
    if (value == "max") {
      settings.speed = 0;
    } else if (ParseNumber(value, 1e-3, 1e6, number)) {
      settings.speed = number;
    } else {
      complain("VELTRANE_SIM_SPEED", value, "expected \"max\" or a factor from 0.001 to 1000000");
    }
  }
  const std::pair<const char*, int64_t*> latencies[] = {
      {"VELTRANE_SIM_FEED_LATENCY_MS", &settings.latency.feedMs},
      {"VELTRANE_SIM_ORDER_LATENCY_MS", &settings.latency.orderMs},
      {"VELTRANE_SIM_REPORT_LATENCY_MS", &settings.latency.reportMs}};
  for (const auto& [name, milliseconds] : latencies) {
    if (!given(name, value)) continue;
    if (ParseNumber(value, 0, 60000, number) && number == std::floor(number)) {
      *milliseconds = static_cast<int64_t>(number);
    } else {
      complain(name, value, "expected whole milliseconds, 0 to 60000");
    }
  }
  LoadVenueSettings(given, complain, settings.venue);
  return error.empty();
}

}  // namespace sim

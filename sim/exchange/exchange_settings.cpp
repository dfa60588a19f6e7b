// Reading the exchange's settings from the environment and a config file.

#include "exchange_settings.h"

#include <fcntl.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "regular_file.h"

namespace sim {
namespace {

constexpr const char* kConfig = "VELTRANE_SIM_CONFIG";
// Far more than any list of these settings; a file beyond it is not one.
constexpr size_t kLargestConfig = 1 << 20;
constexpr const char* kNames[] = {"VELTRANE_SIM_TAPE",
                                  "VELTRANE_SIM_SEED",
                                  "VELTRANE_SIM_INSTRUMENTS",
                                  "VELTRANE_SIM_SESSIONS",
                                  "VELTRANE_SIM_SNAPSHOT_MS",
                                  "VELTRANE_SIM_TRADE_RATE",
                                  "VELTRANE_SIM_SPEED",
                                  "VELTRANE_SIM_USER",
                                  "VELTRANE_SIM_PASSWORD",
                                  "VELTRANE_SIM_CAPITAL",
                                  "VELTRANE_SIM_ORDER_CODES",
                                  "VELTRANE_SIM_COMMISSION_BP",
                                  "VELTRANE_SIM_STAMP_DUTY_BP",
                                  "VELTRANE_SIM_FEED_LATENCY_MS",
                                  "VELTRANE_SIM_ORDER_LATENCY_MS",
                                  "VELTRANE_SIM_REPORT_LATENCY_MS",
                                  "VELTRANE_SIM_MIN_COMMISSION",
                                  "VELTRANE_SIM_TRANSFER_FEE_BP",
                                  "VELTRANE_SIM_POSITIONS",
                                  "VELTRANE_SIM_ACCOUNT_REPORT",
                                  "VELTRANE_SIM_ACCOUNT_START",
                                  "VELTRANE_SIM_SUSPENDED",
                                  "VELTRANE_SIM_BOARD_RULES",
                                  "VELTRANE_SIM_AUCTIONS",
                                  "VELTRANE_SIM_QUEUE_MODEL",
                                  "VELTRANE_SIM_UPSTREAM",
                                  "VELTRANE_SIM_RECORD",
                                  "VELTRANE_SIM_DAY_END_FD"};
// An account report of a day of many thousands of orders is still far below.
constexpr size_t kLargestAccountStart = 256 << 20;
constexpr int64_t kLargestCapital = 10000000000000;  // cents
constexpr int64_t kLargestPosition = 10000000000;    // shares

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

// "10.6353" with at most `decimals` decimals -> 106353 (decimals 4).
bool ParseFixed(const std::string& text, int decimals, int64_t& out) {
  size_t point = text.find('.');
  std::string whole = text.substr(0, point);
  std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
  if (whole.empty() || whole.size() > 12 || fraction.size() > static_cast<size_t>(decimals) ||
      (whole + fraction).find_first_not_of("0123456789") != std::string::npos ||
      (point != std::string::npos && fraction.empty())) {
    return false;
  }
  fraction.resize(static_cast<size_t>(decimals), '0');
  out = std::stoll(whole + fraction);
  return true;
}

// "600000:1000:10.5" entries: code, shares, and what a share cost in yuan
// (up to four decimals; none: 0).
bool ParsePositions(const std::string& text, std::vector<StartPosition>& out, std::string& why) {
  std::vector<StartPosition> positions;
  std::istringstream entries(text);
  for (std::string entry; std::getline(entries, entry, ',');) {
    entry = Trim(entry);
    std::vector<std::string> fields;
    std::istringstream parts(entry);
    for (std::string field; std::getline(parts, field, ':');) fields.push_back(Trim(field));
    StartPosition position;
    position.code = fields.empty() ? "" : fields[0].substr(0, fields[0].find('.'));
    int64_t quantity = 0;
    int64_t cost = 0;  // ten-thousandths of a yuan a share
    if (fields.size() < 2 || fields.size() > 3 || position.code.size() != 6 ||
        position.code.find_first_not_of("0123456789") != std::string::npos ||
        !ParseFixed(fields[1], 0, quantity) || quantity < 1 || quantity > kLargestPosition ||
        (fields.size() == 3 && (!ParseFixed(fields[2], 4, cost) || cost > 10000000000LL))) {
      why = "'" + entry + "' is not CODE:QUANTITY[:COST], whole shares and yuan a share";
      return false;
    }
    position.quantity = quantity;
    position.cost = static_cast<int64_t>((static_cast<__int128>(cost) * quantity + 50) / 100);
    positions.push_back(std::move(position));
  }
  if (positions.empty()) {
    why = "no positions";
    return false;
  }
  out = std::move(positions);
  return true;
}

// Cash and positions from an account report: its "cash" and its
// "positions" with their "code", "quantity" and "cost".
bool ReadAccountStart(const std::string& path, VenueSettings& venue, std::string& why) {
  std::string content;
  if (!ReadRegularFile(path, kLargestAccountStart, content, why)) return false;
  nlohmann::json report = nlohmann::json::parse(content, nullptr, false);
  auto yuan = [](const nlohmann::json& value, int64_t& cents) {
    if (!value.is_number() || value.get<double>() < 0 ||
        value.get<double>() > static_cast<double>(kLargestCapital) / 100) {
      return false;
    }
    cents = std::llround(value.get<double>() * 100);
    return true;
  };
  if (!report.is_object() || !report.contains("cash") || !yuan(report["cash"], venue.capital) ||
      !report.contains("positions") || !report["positions"].is_array()) {
    why = path + ": not an account report with \"cash\" and \"positions\"";
    return false;
  }
  venue.positions.clear();
  for (const nlohmann::json& row : report["positions"]) {
    StartPosition position;
    bool good = row.is_object() && row.contains("code") && row["code"].is_string() &&
                row.contains("quantity") && row["quantity"].is_number_integer();
    if (good) {
      position.code = row["code"].get<std::string>();
      position.quantity = row["quantity"].get<int64_t>();
      good = position.code.size() == 6 &&
             position.code.find_first_not_of("0123456789") == std::string::npos &&
             position.quantity > 0 && position.quantity <= kLargestPosition &&
             (!row.contains("cost") || yuan(row["cost"], position.cost));
    }
    if (!good) {
      why = path + ": a position is not {\"code\", \"quantity\", \"cost\"}";
      return false;
    }
    venue.positions.push_back(std::move(position));
  }
  return true;
}

// "CODE[@HHMM]" entries: suspended for the day, or from that time.
bool ParseSuspensions(const std::string& text, std::vector<Suspension>& out) {
  std::vector<Suspension> suspensions;
  std::istringstream entries(text);
  for (std::string entry; std::getline(entries, entry, ',');) {
    entry = Trim(entry);
    Suspension suspension;
    size_t at = entry.find('@');
    suspension.code = Trim(entry.substr(0, at));
    if (suspension.code.size() != 6 ||
        suspension.code.find_first_not_of("0123456789") != std::string::npos ||
        (at != std::string::npos && !ParseClock(Trim(entry.substr(at + 1)), suspension.fromMs))) {
      return false;
    }
    suspensions.push_back(std::move(suspension));
  }
  if (suspensions.empty()) return false;
  out = std::move(suspensions);
  return true;
}

// "star.max_quantity=50000,sh_main.st_limit_pct=5": figures of the boards'
// rules, whole numbers.
bool ParseBoardRules(const std::string& text, RuleBook& rules, std::string& why) {
  std::istringstream entries(text);
  for (std::string entry; std::getline(entries, entry, ',');) {
    entry = Trim(entry);
    size_t dot = entry.find('.');
    size_t equals = entry.find('=');
    Board board{};
    double number = 0;
    if (dot == std::string::npos || equals == std::string::npos || equals < dot ||
        !BoardOfKey(entry.substr(0, dot), board) ||
        !ParseNumber(Trim(entry.substr(equals + 1)), 0, 1e9, number) ||
        number != std::floor(number)) {
      why = "'" + entry + "' is not BOARD.FIELD=WHOLE_NUMBER with a board of sh_main, star, " +
            "sz_main, chinext";
      return false;
    }
    std::string field = Trim(entry.substr(dot + 1, equals - dot - 1));
    auto value = static_cast<int64_t>(number);
    BoardRules& board_rules = rules.Of(board);
    bool known = false;
#define SIM_SET_BOARD_FIELD(member, key) \
  if (field == key) {                    \
    board_rules.member = value;          \
    known = true;                        \
  }
    SIM_BOARD_RULE_FIELDS(SIM_SET_BOARD_FIELD)
#undef SIM_SET_BOARD_FIELD
    if (!known) {
      why = "'" + entry + "' names no field of a board's rules";
      return false;
    }
  }
  for (size_t i = 0; i < kBoardCount; ++i) {
    const BoardRules& board = rules.boards[i];
    if (board.limitPct < 1 || board.limitPct > 99 || board.stLimitPct < 1 ||
        board.stLimitPct > 99 || board.minimum < 1 || board.step < 1 ||
        board.maxQuantity < board.minimum || board.cagePct > 99) {
      why = std::string("the rules of ") + BoardKey(static_cast<Board>(i)) +
            " want bands from 1 to 99 %, a minimum and step of at least 1, a largest order " +
            "not below the minimum and a cage below 100 %";
      return false;
    }
  }
  return true;
}

template <class Given, class Complain>
void LoadVenueSettings(const Given& given, const Complain& complain, VenueSettings& venue) {
  std::string value;
  given("VELTRANE_SIM_USER", venue.user);
  given("VELTRANE_SIM_PASSWORD", venue.password);
  if (given("VELTRANE_SIM_CAPITAL", value) &&
      (!ParseCents(value, venue.capital) || venue.capital > kLargestCapital)) {
    complain("VELTRANE_SIM_CAPITAL", value,
             "expected yuan with at most two decimals, from 0 to 100000000000");
  }
  if (given("VELTRANE_SIM_POSITIONS", value)) {
    std::string why;
    if (!ParsePositions(value, venue.positions, why)) {
      complain("VELTRANE_SIM_POSITIONS", value, why.c_str());
    }
  }
  if (given("VELTRANE_SIM_ACCOUNT_START", value)) {
    std::string why;
    std::string other;
    if (given("VELTRANE_SIM_CAPITAL", other) || given("VELTRANE_SIM_POSITIONS", other)) {
      complain("VELTRANE_SIM_ACCOUNT_START", value,
               "sets cash and positions, so neither VELTRANE_SIM_CAPITAL nor "
               "VELTRANE_SIM_POSITIONS may be set beside it");
    } else if (!ReadAccountStart(value, venue, why)) {
      complain("VELTRANE_SIM_ACCOUNT_START", value, why.c_str());
    }
  }
  given("VELTRANE_SIM_ACCOUNT_REPORT", venue.reportPath);
  if (given("VELTRANE_SIM_QUEUE_MODEL", value) && !ParseQueueModel(value, venue.queueModel)) {
    std::string expected = std::string("expected one of ") + QueueModelNames();
    complain("VELTRANE_SIM_QUEUE_MODEL", value, expected.c_str());
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
      {"VELTRANE_SIM_STAMP_DUTY_BP", &venue.fees.stampDutyPpm},
      {"VELTRANE_SIM_TRANSFER_FEE_BP", &venue.fees.transferPpm}};
  for (const auto& [name, ppm] : rates) {
    if (given(name, value) && !ParseBasisPoints(value, *ppm)) {
      complain(name, value, "expected basis points with at most two decimals, up to 10000");
    }
  }
  if (given("VELTRANE_SIM_MIN_COMMISSION", value) &&
      (!ParseCents(value, venue.fees.minCommission) || venue.fees.minCommission > 100000000)) {
    complain("VELTRANE_SIM_MIN_COMMISSION", value,
             "expected yuan with at most two decimals, up to 1000000");
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
  given("VELTRANE_SIM_UPSTREAM", settings.source.upstreamPath);
  given("VELTRANE_SIM_RECORD", settings.recordPath);
  if (!settings.source.tapePath.empty() && !settings.source.upstreamPath.empty()) {
    complain("VELTRANE_SIM_UPSTREAM", settings.source.upstreamPath,
             "the market comes from the vendor's feed or from VELTRANE_SIM_TAPE, not both");
  }
  if (!settings.recordPath.empty() && settings.recordPath == settings.source.tapePath) {
    complain("VELTRANE_SIM_RECORD", settings.recordPath, "the tape being replayed");
  }
  if (given("VELTRANE_SIM_DAY_END_FD", value)) {
    double fd = -1;
    const int flags = ParseNumber(value, 0, 1 << 30, fd) && fd == std::floor(fd)
                          ? ::fcntl(static_cast<int>(fd), F_GETFL)
                          : -1;
    if (flags != -1 && (flags & O_ACCMODE) != O_RDONLY) {
      settings.dayEndFd = static_cast<int>(fd);
    } else {
      complain("VELTRANE_SIM_DAY_END_FD", value,
               "expected a file descriptor open for writing in this process");
    }
  }
  if (given("VELTRANE_SIM_SEED", value) && !ParseSeed(value, settings.source.market.seed)) {
    complain("VELTRANE_SIM_SEED", value, "expected an unsigned 64-bit decimal number");
  }
  if (given("VELTRANE_SIM_INSTRUMENTS", value)) {
    std::string why;
    if (!ParseInstruments(value, settings.source.market.seed, settings.source.market.instruments,
                          why)) {
      complain("VELTRANE_SIM_INSTRUMENTS", value, why.c_str());
    }
  }
  if (given("VELTRANE_SIM_SESSIONS", value) &&
      !ParseSessions(value, settings.source.market.sessions)) {
    complain("VELTRANE_SIM_SESSIONS", value,
             "expected ascending HHMM[SS]-HHMM[SS] ranges separated by commas");
  }
  if (given("VELTRANE_SIM_AUCTIONS", value)) {
    if (value == "on" || value == "off") {
      settings.source.market.auctions = value == "on";
    } else {
      complain("VELTRANE_SIM_AUCTIONS", value, "expected \"on\" or \"off\"");
    }
  }
  if (given("VELTRANE_SIM_SUSPENDED", value) &&
      !ParseSuspensions(value, settings.source.market.suspensions)) {
    complain("VELTRANE_SIM_SUSPENDED", value, "expected CODE[@HHMM] entries separated by commas");
  }
  if (given("VELTRANE_SIM_BOARD_RULES", value)) {
    std::string why;
    if (!ParseBoardRules(value, settings.source.market.rules, why)) {
      complain("VELTRANE_SIM_BOARD_RULES", value, why.c_str());
    }
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

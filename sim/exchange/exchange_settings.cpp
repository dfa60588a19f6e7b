// Reading the exchange's settings from the environment and a settings file,
// through one table with a row per setting.

#include "exchange_settings.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>

#include "regular_file.h"

extern char** environ;

namespace sim {
namespace {

constexpr const char* kPrefix = "VELTRANE_SIM_";
constexpr const char* kConfig = "VELTRANE_SIM_CONFIG";
// Far more than any list of these settings; a file beyond it is not one.
constexpr size_t kLargestConfig = 1 << 20;
// An account report of a day of many thousands of orders is still far below.
constexpr size_t kLargestAccountStart = 256 << 20;
constexpr int64_t kLargestCapital = 10000000000000;  // cents
constexpr int64_t kLargestPosition = 10000000000;    // shares

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
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

// What a parser reads: the value, everything given beside it (a few settings
// rule others out), and the settings it fills in.
struct Reading {
  const std::string& value;
  const SettingValues& given;
  ExchangeSettings& settings;
};
// False with what was expected in `why`.
using Parser = bool (*)(const Reading& reading, std::string& why);

struct Row {
  SettingRow doc;
  Parser parse;
};

bool Given(const SettingValues& given, const char* name) { return given.count(name) != 0; }

// A text setting, taken as it is.
bool Keep(std::string& field, const std::string& value) {
  field = value;
  return true;
}

// A whole number of milliseconds from `low` to `high`.
bool ParseMilliseconds(const std::string& text, int64_t low, int64_t high, int64_t& out) {
  double number = 0;
  if (!ParseNumber(text, static_cast<double>(low), static_cast<double>(high), number) ||
      number != std::floor(number)) {
    return false;
  }
  out = static_cast<int64_t>(number);
  return true;
}

bool ParseLatency(const std::string& text, int64_t& out, std::string& why) {
  why = "expected whole milliseconds, 0 to 60000";
  return ParseMilliseconds(text, 0, 60000, out);
}

bool ParseRate(const std::string& text, int64_t& ppm, std::string& why) {
  why = "expected basis points with at most two decimals, up to 10000";
  return ParseBasisPoints(text, ppm);
}

// The rows, in the order they are read.
const Row kRows[] = {
    {{kConfig, "file", "a regular file of at most 1 MiB", "none",
      "a file of `NAME=value` lines of the settings below (`#` starts a comment; the "
      "environment wins)"},
     // Read before every other row.
     [](const Reading&, std::string&) { return true; }},
    {{"VELTRANE_SIM_TAPE", "file", "a tape", "none (generate)",
      "replay this tape instead of generating"},
     [](const Reading& r, std::string&) { return Keep(r.settings.source.tapePath, r.value); }},
    {{"VELTRANE_SIM_UPSTREAM", "file",
      "the vendor's library, a regular file other than the quote stand-in", "none",
      "the vendor's `libquote.so`: pass its live feed through and trade the venue against it "
      "(\"Live data\")"},
     [](const Reading& r, std::string& why) {
       r.settings.source.upstreamPath = r.value;
       why = "the market comes from the vendor's feed or from VELTRANE_SIM_TAPE, not both";
       return r.value.empty() || !Given(r.given, "VELTRANE_SIM_TAPE") ||
              r.given.at("VELTRANE_SIM_TAPE").empty();
     }},
    {{"VELTRANE_SIM_RECORD", "file", "a tape other than the one replayed", "none",
      "append every market message to this tape (\"Live data\")"},
     [](const Reading& r, std::string& why) {
       r.settings.recordPath = r.value;
       why = "the tape being replayed";
       return r.value.empty() || !Given(r.given, "VELTRANE_SIM_TAPE") ||
              r.given.at("VELTRANE_SIM_TAPE") != r.value;
     }},
    {{"VELTRANE_SIM_DAY_END_FD", "descriptor", "a file descriptor open for writing", "none",
      "gets one byte when the day is over and everything owed to the client has reached it "
      "(\"Backtests\")"},
     [](const Reading& r, std::string& why) {
       why = "expected a file descriptor open for writing in this process";
       double fd = -1;
       if (!ParseNumber(r.value, 0, 1 << 30, fd) || fd != std::floor(fd)) return false;
       const int flags = ::fcntl(static_cast<int>(fd), F_GETFL);
       if (flags == -1 || (flags & O_ACCMODE) == O_RDONLY) return false;
       r.settings.dayEndFd = static_cast<int>(fd);
       return true;
     }},
    {{"VELTRANE_SIM_SPEED", "speed", "`max`, or a factor from 0.001 to 1000000", "`1`",
      "`max` (as fast as it goes) or a factor of real time, `60` = a minute a second"},
     [](const Reading& r, std::string& why) {
       why = "expected \"max\" or a factor from 0.001 to 1000000";
       if (r.value == "max") {
         r.settings.speed = 0;
         return true;
       }
       return ParseNumber(r.value, 1e-3, 1e6, r.settings.speed);
     }},
    {{"VELTRANE_SIM_SEED", "integer", "0 to 18446744073709551615", "`1`", "the generator's seed"},
     [](const Reading& r, std::string& why) {
       why = "expected an unsigned 64-bit decimal number";
       return ParseSeed(r.value, r.settings.source.market.seed);
     }},
    {{"VELTRANE_SIM_INSTRUMENTS", "list", "`CODE[.SH|.SZ][:PREVIOUS_CLOSE][:ST][:NEW],...`",
      "the six stocks",
      "the market's codes; without a suffix 5, 6 and 9 codes are Shanghai's; without a price "
      "one is drawn from the seed; `ST` marks a share under risk warning, `NEW` a new listing "
      "(no price limit)"},
     [](const Reading& r, std::string& why) {
       return ParseInstruments(r.value, r.settings.source.market.seed,
                               r.settings.source.market.instruments, why);
     }},
    {{"VELTRANE_SIM_SUSPENDED", "list", "`CODE[@HHMM],...`", "none",
      "no trades for the code all day, or from then (\"The exchanges' rules\")"},
     [](const Reading& r, std::string& why) {
       why = "expected CODE[@HHMM] entries separated by commas";
       return ParseSuspensions(r.value, r.settings.source.market.suspensions);
     }},
    {{"VELTRANE_SIM_BOARD_RULES", "list", "`BOARD.FIELD=N,...`", "the exchanges'",
      "figures of the boards' rules (\"The exchanges' rules\")"},
     [](const Reading& r, std::string& why) {
       return ParseBoardRules(r.value, r.settings.source.market.rules, why);
     }},
    {{"VELTRANE_SIM_SESSIONS", "list", "`HHMM[SS]-HHMM[SS],...`, ascending",
      "`0930-1130,1300-1500`", "the sessions of continuous trading"},
     [](const Reading& r, std::string& why) {
       why = "expected ascending HHMM[SS]-HHMM[SS] ranges separated by commas";
       return ParseSessions(r.value, r.settings.source.market.sessions);
     }},
    {{"VELTRANE_SIM_AUCTIONS", "choice", "`on`, `off`", "`on`",
      "`on`: an opening call auction before the first session and a closing one ending the "
      "last; `off`: none"},
     [](const Reading& r, std::string& why) {
       why = "expected \"on\" or \"off\"";
       r.settings.source.market.auctions = r.value == "on";
       return r.value == "on" || r.value == "off";
     }},
    {{"VELTRANE_SIM_SNAPSHOT_MS", "milliseconds", "100 to 60000", "`3000`",
      "the generated market's snapshot interval"},
     [](const Reading& r, std::string& why) {
       why = "expected whole milliseconds, 100 to 60000";
       return ParseMilliseconds(r.value, 100, 60000, r.settings.source.market.snapshotIntervalMs);
     }},
    {{"VELTRANE_SIM_TRADE_RATE", "number", "0 to 1000", "`4`",
      "the generated market's mean trades per instrument and interval"},
     [](const Reading& r, std::string& why) {
       why = "expected a number from 0 to 1000";
       return ParseNumber(r.value, 0, 1000, r.settings.source.market.tradesPerInterval);
     }},
    {{"VELTRANE_SIM_FEED_LATENCY_MS", "milliseconds", "0 to 60000", "`30`",
      "a message stamped t reaches the client at t + this (\"Exchange time\")"},
     [](const Reading& r, std::string& why) {
       return ParseLatency(r.value, r.settings.latency.feedMs, why);
     }},
    {{"VELTRANE_SIM_ORDER_LATENCY_MS", "milliseconds", "0 to 60000", "`20`",
      "a request reaches the venue this long after the client's clock"},
     [](const Reading& r, std::string& why) {
       return ParseLatency(r.value, r.settings.latency.orderMs, why);
     }},
    {{"VELTRANE_SIM_REPORT_LATENCY_MS", "milliseconds", "0 to 60000", "`20`",
      "an answer or report reaches the client this long after the venue made it"},
     [](const Reading& r, std::string& why) {
       return ParseLatency(r.value, r.settings.latency.reportMs, why);
     }},
    {{"VELTRANE_SIM_USER", "text", "any", "`demo`", "the venue's account"},
     [](const Reading& r, std::string&) { return Keep(r.settings.venue.user, r.value); }},
    {{"VELTRANE_SIM_PASSWORD", "text", "any", "`demo`", "its password"},
     [](const Reading& r, std::string&) { return Keep(r.settings.venue.password, r.value); }},
    {{"VELTRANE_SIM_CAPITAL", "yuan", "0 to 100000000000, two decimals", "`1000000`",
      "cash at the start"},
     [](const Reading& r, std::string& why) {
       why = "expected yuan with at most two decimals, from 0 to 100000000000";
       return ParseCents(r.value, r.settings.venue.capital) &&
              r.settings.venue.capital <= kLargestCapital;
     }},
    {{"VELTRANE_SIM_POSITIONS", "list", "`CODE:QUANTITY[:COST],...`", "none",
      "shares held at the start, COST in yuan a share (up to four decimals; none: 0)"},
     [](const Reading& r, std::string& why) {
       return ParsePositions(r.value, r.settings.venue.positions, why);
     }},
    {{"VELTRANE_SIM_ACCOUNT_START", "file",
      "an account report; not beside `VELTRANE_SIM_CAPITAL` or `VELTRANE_SIM_POSITIONS`", "none",
      "take the cash and positions from this account report"},
     [](const Reading& r, std::string& why) {
       if (Given(r.given, "VELTRANE_SIM_CAPITAL") || Given(r.given, "VELTRANE_SIM_POSITIONS")) {
         why =
             "sets cash and positions, so neither VELTRANE_SIM_CAPITAL nor "
             "VELTRANE_SIM_POSITIONS may be set beside it";
         return false;
       }
       return ReadAccountStart(r.value, r.settings.venue, why);
     }},
    {{"VELTRANE_SIM_ACCOUNT_REPORT", "file", "a path", "none",
      "where the account's state is written at the day's end"},
     [](const Reading& r, std::string&) { return Keep(r.settings.venue.reportPath, r.value); }},
    {{"VELTRANE_SIM_ORDER_CODES", "choice", "`text`, `decimal`", "`text`",
      "order codes like `S34512345-7` (login result 0) or decimal numbers (1)"},
     [](const Reading& r, std::string& why) {
       why = "expected \"text\" or \"decimal\"";
       r.settings.venue.decimalCodes = r.value == "decimal";
       return r.value == "text" || r.value == "decimal";
     }},
    {{"VELTRANE_SIM_QUEUE_MODEL", "choice", "`risk-averse`, `proportional`", "`risk-averse`",
      "where cancels at a resting order's price come from (\"How an order fills\")"},
     [](const Reading& r, std::string& why) {
       why = std::string("expected one of ") + QueueModelNames();
       return ParseQueueModel(r.value, r.settings.venue.queueModel);
     }},
    {{"VELTRANE_SIM_COMMISSION_BP", "basis points", "0 to 10000, two decimals", "`2.5`",
      "the broker's commission on both sides"},
     [](const Reading& r, std::string& why) {
       return ParseRate(r.value, r.settings.venue.fees.commissionPpm, why);
     }},
    {{"VELTRANE_SIM_MIN_COMMISSION", "yuan", "0 to 1000000, two decimals", "`5`",
      "the least commission of an order that trades"},
     [](const Reading& r, std::string& why) {
       why = "expected yuan with at most two decimals, up to 1000000";
       return ParseCents(r.value, r.settings.venue.fees.minCommission) &&
              r.settings.venue.fees.minCommission <= 100000000;
     }},
    {{"VELTRANE_SIM_STAMP_DUTY_BP", "basis points", "0 to 10000, two decimals", "`5`",
      "stamp duty on sells (0.05%, the rate since 28 August 2023)"},
     [](const Reading& r, std::string& why) {
       return ParseRate(r.value, r.settings.venue.fees.stampDutyPpm, why);
     }},
    {{"VELTRANE_SIM_TRANSFER_FEE_BP", "basis points", "0 to 10000, two decimals", "`0.1`",
      "the transfer fee on both sides (0.001%, since 29 April 2022)"},
     [](const Reading& r, std::string& why) {
       return ParseRate(r.value, r.settings.venue.fees.transferPpm, why);
     }},
};

const Row* FindRow(const std::string& name) {
  for (const Row& row : kRows) {
    if (name == row.doc.name) return &row;
  }
  return nullptr;
}

// Levenshtein's distance between two names.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> previous(b.size() + 1);
  std::vector<size_t> current(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      current[j] = std::min(
          {previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
    }
    std::swap(previous, current);
  }
  return previous[b.size()];
}

std::string Unknown(const std::string& name) {
  return name + " is not a setting of the simulated exchange; did you mean " +
         NearestSetting(name) + "?";
}

// The file's NAME=value lines into `values`, with a line of `error` per bad one.
void ReadConfigFile(const std::string& path, SettingValues& values, std::string& error) {
  std::string content;
  std::string why;
  if (!ReadRegularFile(path, kLargestConfig, content, why)) {
    error += why + "\n";
    return;
  }
  std::istringstream in(content);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    size_t equals = line.find('=');
    std::string name = Trim(line.substr(0, equals));
    if (equals == std::string::npos) {
      error += where + "not a NAME=value line\n";
    } else if (FindRow(name) == nullptr) {
      error += where + Unknown(name) + "\n";
    } else if (name == kConfig) {
      error += where + "a settings file cannot name another\n";
    } else {
      values[name] = Trim(line.substr(equals + 1));
    }
  }
}

}  // namespace

const std::vector<SettingRow>& SettingRows() {
  static const std::vector<SettingRow> rows = [] {
    std::vector<SettingRow> all;
    for (const Row& row : kRows) all.push_back(row.doc);
    return all;
  }();
  return rows;
}

const char* NearestSetting(const std::string& name) {
  const Row* nearest = &kRows[0];
  size_t best = EditDistance(name, nearest->doc.name);
  for (const Row& row : kRows) {
    const size_t distance = EditDistance(name, row.doc.name);
    if (distance < best) {
      best = distance;
      nearest = &row;
    }
  }
  return nearest->doc.name;
}

SettingValues EnvironmentSettings() {
  SettingValues values;
  const size_t prefix = std::strlen(kPrefix);
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals == nullptr || std::strncmp(*entry, kPrefix, prefix) != 0) continue;
    values.emplace(std::string(*entry, static_cast<size_t>(equals - *entry)), equals + 1);
  }
  return values;
}

bool LoadExchangeSettings(const SettingValues& given, ExchangeSettings& settings,
                          std::string& error) {
  error.clear();
  SettingValues values;
  if (auto config = given.find(kConfig); config != given.end() && !config->second.empty()) {
    ReadConfigFile(config->second, values, error);
  }
  for (const auto& [name, value] : given) {
    if (FindRow(name) == nullptr) {
      error += Unknown(name) + "\n";
    } else {
      values[name] = Trim(value);
    }
  }
  settings = ExchangeSettings{};
  for (const Row& row : kRows) {
    auto found = values.find(row.doc.name);
    if (found == values.end()) continue;
    std::string why;
    if (!row.parse(Reading{found->second, values, settings}, why)) {
      error += std::string(row.doc.name) + "='" + found->second + "': " + why + "\n";
    }
  }
  return error.empty();
}

}  // namespace sim

// The simulated exchange's settings from the environment and from a config
// file.

#include "exchange_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

using Variables = sim::SettingValues;

TEST(ExchangeSettingsTest, NothingSetGivesTheDefaultMarketInRealTime) {
  Variables none;
  sim::ExchangeSettings settings;
  std::string error;
  ASSERT_TRUE(sim::LoadExchangeSettings(none, settings, error)) << error;
  EXPECT_TRUE(settings.source.tapePath.empty());
  EXPECT_EQ(settings.speed, 1.0);
  EXPECT_EQ(settings.source.market.seed, 1u);
  EXPECT_EQ(settings.source.market.instruments.size(), sim::DefaultInstruments().size());
  ASSERT_EQ(settings.source.market.sessions.size(), 2u);
  EXPECT_EQ(settings.source.market.sessions[0].start, 34200000);  // 09:30
  EXPECT_EQ(settings.source.market.sessions[1].end, 54000000);    // 15:00
  EXPECT_TRUE(settings.source.market.auctions);
  EXPECT_EQ(settings.venue.queueModel, sim::QueueModelKind::kRiskAverse);
  EXPECT_EQ(settings.venue.user, "demo");
  EXPECT_EQ(settings.venue.password, "demo");
  EXPECT_EQ(settings.venue.capital, 100000000);
  EXPECT_FALSE(settings.venue.decimalCodes);
  EXPECT_EQ(settings.latency.feedMs, 30);
  EXPECT_EQ(settings.latency.orderMs, 20);
  EXPECT_EQ(settings.latency.reportMs, 20);
}

TEST(ExchangeSettingsTest, EachVariableIsReadOrRefused) {
  struct Case {
    const char* name;
    const char* value;
    const char* refusal;  // part of the error, or null when accepted
    std::function<bool(const sim::ExchangeSettings&)> holds;
  };
  const Case cases[] = {
      {"VELTRANE_SIM_TAPE", "/data/day.tape", nullptr,
       [](auto& s) { return s.source.tapePath == "/data/day.tape"; }},
      {"VELTRANE_SIM_SEED", "18446744073709551615", nullptr,
       [](auto& s) { return s.source.market.seed == 18446744073709551615u; }},
      {"VELTRANE_SIM_SEED", "18446744073709551616", "unsigned 64-bit", nullptr},
      {"VELTRANE_SIM_SEED", "-1", "unsigned 64-bit", nullptr},
      {"VELTRANE_SIM_INSTRUMENTS", " 600000:10.5 , 000001.SH:7 ", nullptr,
       [](auto& s) {
         auto& i = s.source.market.instruments;
         return i.size() == 2 && i[0].code == "600000" && i[0].previousClose == 1050 &&
                i[0].exchange == sim::Exchange::kShanghai && i[1].code == "000001" &&
                i[1].exchange == sim::Exchange::kShanghai && i[1].previousClose == 700;
       }},
      {"VELTRANE_SIM_INSTRUMENTS", "300750", nullptr,
       [](auto& s) {
         auto& i = s.source.market.instruments;
         return i.size() == 1 && i[0].exchange == sim::Exchange::kShenzhen &&
                i[0].previousClose >= 500 && i[0].previousClose <= 8000;
       }},
      {"VELTRANE_SIM_INSTRUMENTS", "600203:3.10:ST, 688981:NEW, 000001:st:5.00", nullptr,
       [](auto& s) {
         auto& i = s.source.market.instruments;
         return i.size() == 3 && i[0].st && !i[0].newListing && i[0].previousClose == 310 &&
                !i[1].st && i[1].newListing && i[2].st && i[2].previousClose == 500;
       }},
      {"VELTRANE_SIM_INSTRUMENTS", "600000:10.00:HALT", "previous close, ST or NEW", nullptr},
      {"VELTRANE_SIM_INSTRUMENTS", "600000:10.00:11.00", "previous close, ST or NEW", nullptr},
      {"VELTRANE_SIM_INSTRUMENTS", "600000:10.523", "0.01 tick", nullptr},
      {"VELTRANE_SIM_INSTRUMENTS", "600000:0.99", "between 1.00", nullptr},
      {"VELTRANE_SIM_INSTRUMENTS", "60000", "six-digit", nullptr},
      {"VELTRANE_SIM_INSTRUMENTS", "600000.SS", ".SH or .SZ", nullptr},
      {"VELTRANE_SIM_INSTRUMENTS", "600000,600000", "listed twice", nullptr},
      {"VELTRANE_SIM_INSTRUMENTS", "600000,", "empty entry", nullptr},
      {"VELTRANE_SIM_SESSIONS", "093000-093010,1300-130030", nullptr,
       [](auto& s) {
         auto& x = s.source.market.sessions;
         return x.size() == 2 && x[0].start == 34200000 && x[0].end == 34210000 &&
                x[1].start == 46800000 && x[1].end == 46830000;
       }},
      {"VELTRANE_SIM_AUCTIONS", "off", nullptr, [](auto& s) { return !s.source.market.auctions; }},
      {"VELTRANE_SIM_AUCTIONS", "yes", "\"on\" or \"off\"", nullptr},
      {"VELTRANE_SIM_QUEUE_MODEL", "proportional", nullptr,
       [](auto& s) { return s.venue.queueModel == sim::QueueModelKind::kProportional; }},
      {"VELTRANE_SIM_QUEUE_MODEL", "fifo", "one of risk-averse, proportional", nullptr},
      {"VELTRANE_SIM_SESSIONS", "1130-0930", "ascending", nullptr},
      {"VELTRANE_SIM_SESSIONS", "0930-1130,1100-1200", "ascending", nullptr},
      {"VELTRANE_SIM_SESSIONS", "0960-1000", "ascending", nullptr},
      {"VELTRANE_SIM_SNAPSHOT_MS", "500", nullptr,
       [](auto& s) { return s.source.market.snapshotIntervalMs == 500; }},
      {"VELTRANE_SIM_SNAPSHOT_MS", "99", "100 to 60000", nullptr},
      {"VELTRANE_SIM_SNAPSHOT_MS", "1000.5", "100 to 60000", nullptr},
      {"VELTRANE_SIM_TRADE_RATE", "0", nullptr,
       [](auto& s) { return s.source.market.tradesPerInterval == 0; }},
      {"VELTRANE_SIM_TRADE_RATE", "nan", "0 to 1000", nullptr},
      {"VELTRANE_SIM_SPEED", "max", nullptr, [](auto& s) { return s.speed == 0; }},
      {"VELTRANE_SIM_SPEED", "60", nullptr, [](auto& s) { return s.speed == 60; }},
      {"VELTRANE_SIM_SPEED", "0", "\"max\" or a factor", nullptr},
      {"VELTRANE_SIM_SPEED", "fast", "\"max\" or a factor", nullptr},
      {"VELTRANE_SIM_USER", "alice", nullptr, [](auto& s) { return s.venue.user == "alice"; }},
      {"VELTRANE_SIM_PASSWORD", "", nullptr, [](auto& s) { return s.venue.password.empty(); }},
      {"VELTRANE_SIM_CAPITAL", "2500.5", nullptr,
       [](auto& s) { return s.venue.capital == 250050; }},
      {"VELTRANE_SIM_CAPITAL", "0", nullptr, [](auto& s) { return s.venue.capital == 0; }},
      {"VELTRANE_SIM_CAPITAL", "100000000000.01", "from 0 to", nullptr},
      {"VELTRANE_SIM_CAPITAL", "1.005", "at most two decimals", nullptr},
      {"VELTRANE_SIM_ORDER_CODES", "decimal", nullptr,
       [](auto& s) { return s.venue.decimalCodes; }},
      {"VELTRANE_SIM_ORDER_CODES", "text", nullptr, [](auto& s) { return !s.venue.decimalCodes; }},
      {"VELTRANE_SIM_ORDER_CODES", "1", "\"text\" or \"decimal\"", nullptr},
      {"VELTRANE_SIM_COMMISSION_BP", "3", nullptr,
       [](auto& s) {
         return s.venue.fees.commissionPpm == 300 && s.venue.fees.stampDutyPpm == 500;
       }},
      {"VELTRANE_SIM_STAMP_DUTY_BP", "0", nullptr,
       [](auto& s) { return s.venue.fees.stampDutyPpm == 0 && s.venue.fees.commissionPpm == 250; }},
      {"VELTRANE_SIM_STAMP_DUTY_BP", "10000.01", "up to 10000", nullptr},
      {"VELTRANE_SIM_COMMISSION_BP", "-1", "basis points", nullptr},
      {"VELTRANE_SIM_TRANSFER_FEE_BP", "0.2", nullptr,
       [](auto& s) { return s.venue.fees.transferPpm == 20; }},
      {"VELTRANE_SIM_MIN_COMMISSION", "0", nullptr,
       [](auto& s) { return s.venue.fees.minCommission == 0 && s.venue.fees.transferPpm == 10; }},
      {"VELTRANE_SIM_MIN_COMMISSION", "5.001", "yuan", nullptr},
      {"VELTRANE_SIM_POSITIONS", "600000:1000:10.6353, 000001.SZ:150", nullptr,
       [](auto& s) {
         auto& p = s.venue.positions;
         return p.size() == 2 && p[0].code == "600000" && p[0].quantity == 1000 &&
                p[0].cost == 1063530 && p[1].code == "000001" && p[1].quantity == 150 &&
                p[1].cost == 0;
       }},
      {"VELTRANE_SIM_POSITIONS", "600000:1000:10.63531", "CODE:QUANTITY[:COST]", nullptr},
      {"VELTRANE_SIM_POSITIONS", "600000:0", "CODE:QUANTITY[:COST]", nullptr},
      {"VELTRANE_SIM_POSITIONS", "600000:1.5", "CODE:QUANTITY[:COST]", nullptr},
      {"VELTRANE_SIM_POSITIONS", "60000:100", "CODE:QUANTITY[:COST]", nullptr},
      {"VELTRANE_SIM_ACCOUNT_REPORT", "/tmp/day1.json", nullptr,
       [](auto& s) { return s.venue.reportPath == "/tmp/day1.json"; }},
      {"VELTRANE_SIM_ACCOUNT_START", "/nonexistent/day1.json", "No such file", nullptr},
      {"VELTRANE_SIM_SUSPENDED", "600000, 000001@1030", nullptr,
       [](auto& s) {
         auto& x = s.source.market.suspensions;
         return x.size() == 2 && x[0].code == "600000" && x[0].fromMs == 0 &&
                x[1].code == "000001" && x[1].fromMs == 37800000;
       }},
      {"VELTRANE_SIM_SUSPENDED", "600000@2500", "CODE[@HHMM]", nullptr},
      {"VELTRANE_SIM_SUSPENDED", "6000", "CODE[@HHMM]", nullptr},
      {"VELTRANE_SIM_BOARD_RULES", "star.max_quantity=50000, sh_main.st_limit_pct=5", nullptr,
       [](auto& s) {
         auto& r = s.source.market.rules;
         return r.Of(sim::Board::kStar).maxQuantity == 50000 &&
                r.Of(sim::Board::kShanghaiMain).stLimitPct == 5 &&
                r.Of(sim::Board::kShenzhenMain).stLimitPct == 10;
       }},
      {"VELTRANE_SIM_BOARD_RULES", "nasdaq.limit_pct=5", "BOARD.FIELD", nullptr},
      {"VELTRANE_SIM_BOARD_RULES", "star.lot=5", "names no field", nullptr},
      {"VELTRANE_SIM_BOARD_RULES", "star.limit_pct=2.5", "BOARD.FIELD", nullptr},
      {"VELTRANE_SIM_BOARD_RULES", "chinext.limit_pct=100", "from 1 to 99", nullptr},
      {"VELTRANE_SIM_BOARD_RULES", "star.max_quantity=100", "not below the minimum", nullptr},
      {"VELTRANE_SIM_FEED_LATENCY_MS", "0", nullptr,
       [](auto& s) { return s.latency.feedMs == 0 && s.latency.orderMs == 20; }},
      {"VELTRANE_SIM_ORDER_LATENCY_MS", "250", nullptr,
       [](auto& s) { return s.latency.orderMs == 250 && s.latency.reportMs == 20; }},
      {"VELTRANE_SIM_REPORT_LATENCY_MS", "60000", nullptr,
       [](auto& s) { return s.latency.reportMs == 60000 && s.latency.feedMs == 30; }},
      {"VELTRANE_SIM_ORDER_LATENCY_MS", "-5", "0 to 60000", nullptr},
      {"VELTRANE_SIM_FEED_LATENCY_MS", "2.5", "whole milliseconds", nullptr},
      {"VELTRANE_SIM_REPORT_LATENCY_MS", "60001", "0 to 60000", nullptr},
      {"VELTRANE_SIM_DAY_END_FD", "2", nullptr, [](auto& s) { return s.dayEndFd == 2; }},
      {"VELTRANE_SIM_DAY_END_FD", "1000000", "open for writing", nullptr},
      {"VELTRANE_SIM_DAY_END_FD", "-1", "open for writing", nullptr},
      {"VELTRANE_SIM_DAY_END_FD", "pipe", "open for writing", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    Variables variables{{c.name, c.value}};
    sim::ExchangeSettings settings;
    std::string error;
    bool loaded = sim::LoadExchangeSettings(variables, settings, error);
    if (c.refusal == nullptr) {
      ASSERT_TRUE(loaded) << error;
      EXPECT_TRUE(c.holds(settings));
    } else {
      EXPECT_FALSE(loaded);
      EXPECT_NE(error.find(c.name), std::string::npos) << error;
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
    }
  }
}

// A day's account report gives the next day its cash and positions; set
// beside the variables it replaces, it is refused rather than mixed.
TEST(ExchangeSettingsTest, AnAccountReportStartsTheNextDay) {
  std::string path = ::testing::TempDir() + "account" + std::to_string(getpid()) + ".json";
  struct Case {
    const char* name;
    const char* content;
    Variables more;
    const char* refusal;  // null: accepted with 12345.67 and two positions
  };
  const char* report = R"({"schema": "veltrane-sim-account", "cash": 12345.67, "positions": [
      {"code": "600000", "quantity": 1000, "cost": 10635.32},
      {"code": "000001", "quantity": 150}], "orders": [], "fills": []})";
  const Case cases[] = {
      {"a report", report, {}, nullptr},
      {"with the capital beside it", report, {{"VELTRANE_SIM_CAPITAL", "5"}}, "neither"},
      {"with positions beside it", report, {{"VELTRANE_SIM_POSITIONS", "600000:100"}}, "neither"},
      {"not JSON", "cash=5", {}, "not an account report"},
      {"no positions", R"({"cash": 5})", {}, "not an account report"},
      {"negative cash", R"({"cash": -5, "positions": []})", {}, "not an account report"},
      {"a position without a quantity",
       R"({"cash": 5, "positions": [{"code": "600000"}]})",
       {},
       "a position is not"},
      {"a fractional quantity",
       R"({"cash": 5, "positions": [{"code": "600000", "quantity": 1.5}]})",
       {},
       "a position is not"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(path) << c.content;
    Variables variables = c.more;
    variables["VELTRANE_SIM_ACCOUNT_START"] = path;
    sim::ExchangeSettings settings;
    std::string error;
    bool loaded = sim::LoadExchangeSettings(variables, settings, error);
    if (c.refusal != nullptr) {
      EXPECT_FALSE(loaded);
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(settings.venue.capital, 1234567);
    ASSERT_EQ(settings.venue.positions.size(), 2u);
    EXPECT_EQ(settings.venue.positions[0].cost, 1063532);
    EXPECT_EQ(settings.venue.positions[1].quantity, 150);
    EXPECT_EQ(settings.venue.positions[1].cost, 0);
  }
  std::remove(path.c_str());
}

TEST(ExchangeSettingsTest, ConfigFileFillsInAndTheEnvironmentWins) {
  std::string path = ::testing::TempDir() + "feed" + std::to_string(getpid()) + ".conf";
  std::ofstream(path) << "# a day of two stocks\n"
                         "VELTRANE_SIM_INSTRUMENTS = 600000:10.00, 000001:12.00\n"
                         "\n"
                         "VELTRANE_SIM_SPEED=max   # as fast as it goes\n"
                         "VELTRANE_SIM_SEED=5\n";
  Variables variables{{"VELTRANE_SIM_CONFIG", path}, {"VELTRANE_SIM_SEED", "9"}};
  sim::ExchangeSettings settings;
  std::string error;
  ASSERT_TRUE(sim::LoadExchangeSettings(variables, settings, error)) << error;
  EXPECT_EQ(settings.source.market.instruments.size(), 2u);
  EXPECT_EQ(settings.speed, 0);
  EXPECT_EQ(settings.source.market.seed, 9u);

  std::ofstream(path) << "VELTRANE_SIM_SPEED=max\nVELTRANE_SIM_SPED=2\nnonsense\n";
  EXPECT_FALSE(sim::LoadExchangeSettings(variables, settings, error));
  EXPECT_NE(error.find(path + ":2:"), std::string::npos) << error;
  EXPECT_NE(error.find(path + ":3:"), std::string::npos) << error;

  variables["VELTRANE_SIM_CONFIG"] = path + ".missing";
  EXPECT_FALSE(sim::LoadExchangeSettings(variables, settings, error));
  EXPECT_NE(error.find(".missing"), std::string::npos) << error;
  std::remove(path.c_str());
}

// Only a regular file of sensible size is read: a FIFO would block the
// login for ever, /dev/zero would fill the memory.
TEST(ExchangeSettingsTest, AConfigFileThatIsNotASmallRegularFileIsRefused) {
  const std::string base = ::testing::TempDir() + "settings" + std::to_string(getpid());
  const std::string fifo = base + ".fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string directory = base + ".d";
  ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
  const std::string large = base + ".large";
  std::ofstream(large) << "VELTRANE_SIM_SPEED=max\n" << std::string(1 << 20, '#') << "\n";
  const std::string fits = base + ".fits";
  std::ofstream(fits) << "VELTRANE_SIM_SPEED=max\n" << std::string((1 << 20) - 30, '#') << "\n";
  struct Case {
    std::string path;
    const char* reason;  // null: accepted
  };
  const Case cases[] = {{fifo, "not a regular file"},
                        {directory, "not a regular file"},
                        {"/dev/zero", "not a regular file"},
                        {large, "larger than 1048576 bytes"},
                        {fits, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Variables variables{{"VELTRANE_SIM_CONFIG", c.path}};
    sim::ExchangeSettings settings;
    std::string error;
    const bool loaded = sim::LoadExchangeSettings(variables, settings, error);
    if (c.reason == nullptr) {
      EXPECT_TRUE(loaded) << error;
      EXPECT_EQ(settings.speed, 0);
    } else {
      EXPECT_FALSE(loaded);
      EXPECT_NE(error.find(c.path + ": " + c.reason), std::string::npos) << error;
    }
  }
  for (const std::string& path : {fifo, large, fits}) std::remove(path.c_str());
  rmdir(directory.c_str());
}

// A name that is no setting, in the environment or in the file, is refused
// with the setting it most likely meant: ignored, a typo in the speed would
// leave the day running in real time.
TEST(ExchangeSettingsTest, AnUnknownNameIsRefusedWithTheNearestSetting) {
  const std::string path = ::testing::TempDir() + "typo" + std::to_string(getpid()) + ".conf";
  const struct {
    const char* name;
    std::string fileLine;  // empty: the name is in the environment
    const char* refusal;
  } cases[] = {
      {"VELTRANE_SIM_SPEEED", "",
       "VELTRANE_SIM_SPEEED is not a setting of the simulated exchange; did you mean "
       "VELTRANE_SIM_SPEED?"},
      {"VELTRANE_SIM_QUEUE_MODELS", "",
       "VELTRANE_SIM_QUEUE_MODELS is not a setting of the simulated exchange; did you mean "
       "VELTRANE_SIM_QUEUE_MODEL?"},
      {"VELTRANE_SIM_FEE_LATENCY_MS", "",
       "VELTRANE_SIM_FEE_LATENCY_MS is not a setting of the simulated exchange; did you mean "
       "VELTRANE_SIM_FEED_LATENCY_MS?"},
      {"VELTRANE_SIM_SEDE", "VELTRANE_SIM_SEDE=3",
       ":1: VELTRANE_SIM_SEDE is not a setting of the simulated exchange; did you mean "
       "VELTRANE_SIM_SEED?"},
      {"VELTRANE_SIM_CONFIG", "VELTRANE_SIM_CONFIG=/etc/other.conf",
       ":1: a settings file cannot name another"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Variables variables{{"VELTRANE_SIM_SPEED", "max"}};
    if (c.fileLine.empty()) {
      variables[c.name] = "max";
    } else {
      std::ofstream(path) << c.fileLine << "\n";
      variables["VELTRANE_SIM_CONFIG"] = path;
    }
    sim::ExchangeSettings settings;
    std::string error;
    EXPECT_FALSE(sim::LoadExchangeSettings(variables, settings, error));
    EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
  }
  std::remove(path.c_str());

  setenv("VELTRANE_SIM_SPEEED", "max", 1);
  const sim::SettingValues environment = sim::EnvironmentSettings();
  unsetenv("VELTRANE_SIM_SPEEED");
  EXPECT_EQ(environment.count("VELTRANE_SIM_SPEEED"), 1u) << "unknown names are read too";
}

// The README's table of settings is the table the exchange reads, row for
// row: name, kind, values, default and meaning.
TEST(ExchangeSettingsTest, TheReadmeListsEverySetting) {
  auto cell = [](std::string text) {
    for (size_t at = text.find('|'); at != std::string::npos; at = text.find('|', at + 2)) {
      text.insert(at, "\\");
    }
    return text;
  };
  std::vector<std::string> expected;
  for (const sim::SettingRow& row : sim::SettingRows()) {
    expected.push_back("| `" + std::string(row.name) + "` | " + cell(row.kind) + " | " +
                       cell(row.values) + " | " + cell(row.defaultValue) + " | " +
                       cell(row.meaning) + " |");
  }
  std::ifstream readme(VELTRANE_README);
  ASSERT_TRUE(readme) << VELTRANE_README;
  std::vector<std::string> documented;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("| `VELTRANE_SIM_", 0) == 0) documented.push_back(line);
  }
  EXPECT_EQ(documented, expected);
}

}  // namespace

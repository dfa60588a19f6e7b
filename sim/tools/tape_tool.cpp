// quotetape: makes, shows, sums up, converts and cuts tapes of the feed.
//
//   quotetape generate FILE [--seed N] [--instruments LIST] [--sessions LIST]
//                           [--snapshot-ms N] [--trade-rate X] [--auctions on|off]
//   quotetape dump FILE [--code CODE] [--limit N]
//   quotetape stats FILE
//   quotetape check FILE
//   quotetape export FILE DIR
//   quotetape import DIR FILE [--columns THEIRS=OURS,...] [--snapshots-only]
//   quotetape slice IN OUT [--from HH:MM[:SS[.mmm]]] [--to ...] [--codes LIST]
//   quotetape merge OUT IN...
//   quotetape settings [NAME=VALUE...]
//
// generate writes the day the feed would generate with the same settings:
// the options override the VELTRANE_SIM_* variables, which fill in the rest.
// dump shows each snapshot's phase and, in a call auction, its indicative
// uncross; stats counts the auctions' snapshots and lists each uncross;
// check says whether a replay of the tape would give the whole day.
// export writes DIR/snapshots.csv and DIR/trades.csv, import makes a tape of
// them; slice keeps a time range (both ends included) and a set of codes;
// merge joins tapes in exchange time. settings lists the simulated exchange's
// settings, or checks the ones given as the exchange would read them.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "exchange_settings.h"
#include "market_generator.h"
#include "progress_bar.h"
#include "tape.h"
#include "tape_commands.h"
#include "tape_text.h"
#include "tool_files.h"

namespace {

using sim::Fail;

constexpr const char* kUsage =
    "usage: quotetape generate FILE [--seed N] [--instruments LIST] [--sessions LIST]\n"
    "                               [--snapshot-ms N] [--trade-rate X] [--auctions on|off]\n"
    "       quotetape dump FILE [--code CODE] [--limit N]\n"
    "       quotetape stats FILE\n"
    "       quotetape check FILE\n"
    "       quotetape export FILE DIR\n"
    "       quotetape import DIR FILE [--columns THEIRS=OURS,...] [--snapshots-only]\n"
    "       quotetape slice IN OUT [--from HH:MM[:SS[.mmm]]] [--to HH:MM[:SS[.mmm]]]\n"
    "                              [--codes LIST]\n"
    "       quotetape merge OUT IN...\n"
    "       quotetape settings [NAME=VALUE...]\n";

// "--seed 7" -> options["--seed"] = "7"; false on an option not in `known`.
bool ReadOptions(int argc, char** argv, int first, const std::vector<std::string>& known,
                 std::map<std::string, std::string>& options) {
  for (int i = first; i < argc; i += 2) {
    bool listed = false;
    for (const std::string& name : known) listed = listed || name == argv[i];
    if (!listed || i + 1 >= argc) return false;
    options[argv[i]] = argv[i + 1];
  }
  return true;
}

int Generate(const std::string& path, const std::map<std::string, std::string>& options) {
  static const std::map<std::string, std::string> kVariables = {
      {"--seed", "VELTRANE_SIM_SEED"},
      {"--instruments", "VELTRANE_SIM_INSTRUMENTS"},
      {"--sessions", "VELTRANE_SIM_SESSIONS"},
      {"--snapshot-ms", "VELTRANE_SIM_SNAPSHOT_MS"},
      {"--trade-rate", "VELTRANE_SIM_TRADE_RATE"},
      {"--auctions", "VELTRANE_SIM_AUCTIONS"}};
  // A tape is made from the generator, whatever the feed would replay.
  sim::SettingValues values = sim::EnvironmentSettings();
  values.erase("VELTRANE_SIM_TAPE");
  for (const auto& [option, variable] : kVariables) {
    auto given = options.find(option);
    if (given != options.end()) values[variable] = given->second;
  }
  sim::ExchangeSettings settings;
  std::string error;
  if (!sim::LoadExchangeSettings(values, settings, error)) return Fail("bad settings:\n" + error);

  sim::TapeWriter writer;
  if (!writer.Open(path, error)) return Fail(error);
  sim::MarketGenerator generator(settings.source.market);
  std::vector<sim::QuoteMessage> batch;
  int64_t messages = 0;
  {
    sim::ProgressBar progress;
    while (generator.NextInterval(batch)) {
      for (const sim::QuoteMessage& message : batch) {
        if (!writer.Write(message)) break;
      }
      messages += static_cast<int64_t>(batch.size());
      batch.clear();
      progress.Show(generator.Progress(), messages);
    }
  }
  if (!writer.Close(error)) return Fail(error);
  std::printf("wrote %lld messages for %zu instruments to %s\n", static_cast<long long>(messages),
              settings.source.market.instruments.size(), path.c_str());
  return 0;
}

// Reads every record, handing each to `use`; reports a damaged record with
// where it starts, after those before it.
template <class Use>
int ReadTape(const std::string& path, Use use) {
  sim::TapeReader reader;
  std::string error;
  if (!reader.Open(path, error)) return Fail(error);
  sim::QuoteMessage message;
  sim::TapeStatus status;
  while ((status = reader.Next(message)) == sim::TapeStatus::kRecord) {
    if (!use(message)) return 0;
  }
  if (status == sim::TapeStatus::kEnd) return 0;
  return Fail(path + ": " + reader.Damage(status));
}

int Dump(const std::string& path, const std::map<std::string, std::string>& options) {
  std::string code = options.count("--code") ? options.at("--code") : "";
  long long limit = -1;
  if (options.count("--limit")) {
    char* end = nullptr;
    limit = std::strtoll(options.at("--limit").c_str(), &end, 10);
    if (*end != '\0' || limit < 0) return Fail("--limit wants a count");
  }
  long long shown = 0;
  return ReadTape(path, [&](const sim::QuoteMessage& message) {
    if (limit >= 0 && shown >= limit) return false;
    if (!code.empty() && message.code != code) return true;
    std::printf("%s\n", sim::DescribeMessage(message).c_str());
    ++shown;
    return true;
  });
}

int Stats(const std::string& path) {
  sim::TapeStats stats;
  int result = ReadTape(path, [&](const sim::QuoteMessage& message) {
    stats.Add(message);
    return true;
  });
  std::printf("tape           %s\n%s", path.c_str(), stats.Report().c_str());
  return result;
}

// Whether a replay of the tape gives its whole day, as a backtest asks before
// a day runs: every record whole, and market data among them. A damaged
// record is stepped over to count those after it (its lengths still hold); a
// record cut short or with impossible lengths ends the count.
int Check(const std::string& path) {
  sim::TapeReader reader;
  std::string error;
  if (!reader.Open(path, error)) return Fail(error);
  sim::QuoteMessage message;
  int64_t messages = 0;
  int64_t replayed = -1;  // before the first damage; -1: none
  int64_t market[2] = {0, 0};
  uint64_t damagedAt = 0;
  std::string damage;
  for (sim::TapeStatus status; (status = reader.Next(message)) != sim::TapeStatus::kEnd;) {
    if (status != sim::TapeStatus::kRecord && replayed < 0) {
      replayed = messages;
      damagedAt = reader.RecordOffset();
      const std::string text = reader.Damage(status);
      damage = text.substr(text.find(": ") + 2);
    }
    ++messages;
    if (status == sim::TapeStatus::kRecord) {
      if (message.kind == sim::kSnapshots) ++market[0];
      if (message.kind == sim::kTrades) ++market[1];
    } else if (status != sim::TapeStatus::kDamaged) {
      break;
    }
  }
  if (replayed >= 0) {
    return Fail(path + ": tape damaged at byte " + std::to_string(damagedAt) + " (" + damage +
                "); only " + std::to_string(replayed) + " of " + std::to_string(messages) +
                " messages can be replayed");
  }
  if (market[0] + market[1] == 0) {
    return Fail(path + ": no market data: none of its " + std::to_string(messages) +
                " messages is a snapshot or a trade");
  }
  std::printf("%s: %lld messages, %lld snapshots, %lld trades\n", path.c_str(),
              static_cast<long long>(messages), static_cast<long long>(market[0]),
              static_cast<long long>(market[1]));
  return 0;
}

int Slice(const std::string& in, const std::string& out,
          const std::map<std::string, std::string>& options) {
  sim::SliceOptions slice;
  for (auto [name, time] : {std::pair{"--from", &slice.from}, std::pair{"--to", &slice.to}}) {
    auto given = options.find(name);
    if (given == options.end()) continue;
    if (!sim::ReadClock(given->second, *time)) {
      return Fail(std::string(name) + " wants a time like 09:30, 09:30:00 or 09:30:00.500");
    }
  }
  if (options.count("--codes")) {
    const std::string& list = options.at("--codes");
    for (size_t start = 0; start <= list.size();) {
      size_t end = std::min(list.find(',', start), list.size());
      if (end == start) return Fail("--codes wants codes like 600000,000001.SZ");
      slice.codes.push_back(list.substr(start, end - start));
      start = end + 1;
    }
  }
  if (slice.from > slice.to) return Fail("--from is after --to");
  return sim::SliceTape(in, out, slice);
}

// Without arguments, every setting a line: name, kind, values, default and
// meaning, separated by tabs. With NAME=VALUE arguments, those settings alone
// read as the exchange reads them: nothing printed when they would do, else
// each problem on a line.
int Settings(int count, char** given) {
  if (count == 0) {
    for (const sim::SettingRow& row : sim::SettingRows()) {
      std::printf("%s\t%s\t%s\t%s\t%s\n", row.name, row.kind, row.values, row.defaultValue,
                  row.meaning);
    }
    return 0;
  }
  sim::SettingValues values;
  for (int i = 0; i < count; ++i) {
    const char* equals = std::strchr(given[i], '=');
    if (equals == nullptr) return Fail(std::string("settings wants NAME=VALUE, not ") + given[i]);
    values[std::string(given[i], static_cast<size_t>(equals - given[i]))] = equals + 1;
  }
  sim::ExchangeSettings settings;
  std::string error;
  if (sim::LoadExchangeSettings(values, settings, error)) return 0;
  std::fputs(error.c_str(), stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "settings") == 0) return Settings(argc - 2, argv + 2);
  if (argc < 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string command = argv[1];
  std::string path = argv[2];
  std::map<std::string, std::string> options;
  if (command == "generate" && ReadOptions(argc, argv, 3,
                                           {"--seed", "--instruments", "--sessions",
                                            "--snapshot-ms", "--trade-rate", "--auctions"},
                                           options)) {
    return Generate(path, options);
  }
  if (command == "dump" && ReadOptions(argc, argv, 3, {"--code", "--limit"}, options)) {
    return Dump(path, options);
  }
  if (command == "stats" && argc == 3) return Stats(path);
  if (command == "check" && argc == 3) return Check(path);
  if (command == "export" && argc == 4) return sim::ExportCsv(path, argv[3]);
  if (command == "import" && argc >= 4) {
    // The one option without a value, wherever it stands.
    std::vector<char*> rest(argv, argv + argc);
    auto flag = std::find_if(rest.begin() + 4, rest.end(), [](const char* word) {
      return std::strcmp(word, "--snapshots-only") == 0;
    });
    const bool snapshotsOnly = flag != rest.end();
    if (snapshotsOnly) rest.erase(flag);
    if (ReadOptions(static_cast<int>(rest.size()), rest.data(), 4, {"--columns"}, options)) {
      std::map<std::string, std::string> renames;
      std::string error;
      if (options.count("--columns") && !sim::ReadRenames(options["--columns"], renames, error)) {
        return Fail(error);
      }
      return sim::ImportCsv(path, argv[3], renames, snapshotsOnly);
    }
  }
  if (command == "slice" && argc >= 4 &&
      ReadOptions(argc, argv, 4, {"--from", "--to", "--codes"}, options)) {
    return Slice(path, argv[3], options);
  }
  if (command == "merge" && argc >= 4) {
    return sim::MergeTapes(path, std::vector<std::string>(argv + 3, argv + argc));
  }
  std::fputs(kUsage, stderr);
  return 2;
}

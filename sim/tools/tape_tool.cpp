// quotetape: makes, shows and sums up tapes of the simulated feed.
//
//   quotetape generate FILE [--seed N] [--instruments LIST] [--sessions LIST]
//                           [--snapshot-ms N] [--trade-rate X] [--auctions on|off]
//   quotetape dump FILE [--code CODE] [--limit N]
//   quotetape stats FILE
//
// generate writes the day the feed would generate with the same settings:
// the options override the VELTRANE_SIM_* variables, which fill in the rest.
// dump shows each snapshot's phase and, in a call auction, its indicative
// uncross; stats counts the auctions' snapshots and lists each uncross.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "exchange_settings.h"
#include "market_generator.h"
#include "tape.h"
#include "tape_text.h"

namespace {

constexpr const char* kUsage =
    "usage: quotetape generate FILE [--seed N] [--instruments LIST] [--sessions LIST]\n"
    "                               [--snapshot-ms N] [--trade-rate X] [--auctions on|off]\n"
    "       quotetape dump FILE [--code CODE] [--limit N]\n"
    "       quotetape stats FILE\n";

int Fail(const std::string& why) {
  std::fprintf(stderr, "quotetape: %s\n", why.c_str());
  return 1;
}

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

class ProgressBar {
 public:
  ProgressBar() : shown_(isatty(STDERR_FILENO) != 0) {}

  void Show(double share, int64_t messages) {
    int percent = static_cast<int>(share * 100);
    if (!shown_ || percent == percent_) return;
    percent_ = percent;
    char bar[41];
    int filled = percent * 40 / 100;
    for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
    bar[40] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%% %lld messages", bar, percent,
                 static_cast<long long>(messages));
    std::fflush(stderr);
  }

  ~ProgressBar() {
    if (shown_ && percent_ >= 0) std::fputc('\n', stderr);
  }

 private:
  bool shown_;
  int percent_ = -1;
};

int Generate(const std::string& path, const std::map<std::string, std::string>& options) {
  static const std::map<std::string, std::string> kVariables = {
      {"--seed", "VELTRANE_SIM_SEED"},
      {"--instruments", "VELTRANE_SIM_INSTRUMENTS"},
      {"--sessions", "VELTRANE_SIM_SESSIONS"},
      {"--snapshot-ms", "VELTRANE_SIM_SNAPSHOT_MS"},
      {"--trade-rate", "VELTRANE_SIM_TRADE_RATE"},
      {"--auctions", "VELTRANE_SIM_AUCTIONS"}};
  sim::ExchangeSettings settings;
  std::string error;
  auto lookup = [&](const char* name) -> const char* {
    for (const auto& [option, variable] : kVariables) {
      auto given = options.find(option);
      if (variable == name && given != options.end()) return given->second.c_str();
    }
    // A tape is made from the generator, whatever the feed would replay.
    return std::strcmp(name, "VELTRANE_SIM_TAPE") == 0 ? nullptr : sim::FromEnvironment(name);
  };
  if (!sim::LoadExchangeSettings(lookup, settings, error)) return Fail("bad settings:\n" + error);

  sim::TapeWriter writer;
  if (!writer.Open(path, error)) return Fail(error);
  sim::MarketGenerator generator(settings.source.market);
  std::vector<sim::QuoteMessage> batch;
  int64_t messages = 0;
  {
    ProgressBar progress;
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

}  // namespace

int main(int argc, char** argv) {
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
  std::fputs(kUsage, stderr);
  return 2;
}

// queue_model_check: how optimistic or pessimistic each queue model is,
// against the generated market's own queues.
//
// The generator keeps every resting order in its queue, so it knows when an
// order joining the best bid would really have filled: once the trades at
// that price have taken an order that came after it (everything before it is
// gone by then), or a trade or a snapshot has gone through its price. Each
// probe is a buy of 100 shares at the best bid of one code, placed at a
// snapshot in continuous trading, given ten minutes of exchange time; one
// code has one probe at a time. The same probes go to one venue per queue
// model, which sees only the feed's messages. The account's orders do not
// move the generated market, so the truth holds for the venues' probes too.
//
//   queue_model_check [DAYS] [FIRST_SEED]     (default 5 days from seed 1)

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "market_generator.h"
#include "market_view.h"
#include "tape_text.h"
#include "venue.h"

namespace {

constexpr int64_t kProbeShares = 100;
constexpr int64_t kHorizonMs = 10 * 60000;
constexpr size_t kModels = 2;
constexpr sim::QueueModelKind kModelKinds[kModels] = {sim::QueueModelKind::kRiskAverse,
                                                      sim::QueueModelKind::kProportional};

struct Probe {
  std::string code;
  int64_t placed = 0;   // ms after midnight
  int64_t price = 0;    // cents
  uint64_t newest = 0;  // the last order in the queue when the probe joined it
  int64_t truthFilled = 0;
  int64_t truthDone = -1;  // ms; -1: not filled
  std::string orderCodes[kModels];
  int64_t modelFilled[kModels] = {};
  int64_t modelDone[kModels] = {-1, -1};
  bool closed = false;
};

std::vector<Probe> g_probes;
size_t g_model = 0;           // the venue being called
std::string g_lastOrderCode;  // of its last insert answer

int64_t MsOfClock(const char* text) {  // "09:31:02.500"
  int h = 0, m = 0, s = 0, ms = 0;
  std::sscanf(text, "%d:%d:%d.%d", &h, &m, &s, &ms);
  return ((h * 60 + m) * 60 + s) * 1000 + ms;
}

void OnMatch(int32_t, int32_t, const char*, const char*, const char* orderCode, const char*,
             const char*, int32_t, double, int32_t quantity, const char* time, int32_t) {
  for (Probe& probe : g_probes) {
    if (probe.closed || probe.orderCodes[g_model] != orderCode) continue;
    probe.modelFilled[g_model] += quantity;
    if (probe.modelFilled[g_model] >= kProbeShares) probe.modelDone[g_model] = MsOfClock(time);
  }
}

void OnInsert(int32_t, int32_t, const char*, const char*, const char* orderCode, const char*,
              int32_t, double, int32_t) {
  g_lastOrderCode = orderCode;
}

// The generator's trades against resting buys, as they happen.
class Truth : public sim::QueueWatch {
 public:
  void OnTaken(const std::string& code, int64_t time, bool bid,
               const sim::TakenOrder& taken) override {
    if (!bid) return;
    for (Probe& probe : g_probes) {
      if (probe.closed || probe.truthDone >= 0 || probe.code != code) continue;
      bool behind = taken.price == probe.price && taken.order > probe.newest;
      if (!behind && taken.price >= probe.price) continue;
      probe.truthFilled += taken.volume;
      if (probe.truthFilled >= kProbeShares) probe.truthDone = sim::MillisecondsOfDay(time);
    }
  }
};

bool IsDone(const Probe& probe) {
  if (probe.truthDone < 0) return false;
  for (size_t m = 0; m < kModels; ++m) {
    if (probe.modelDone[m] < 0) return false;
  }
  return true;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void RunDay(uint64_t seed) {
  sim::MarketSettings settings;
  settings.seed = seed;
  sim::MarketGenerator generator(settings);
  Truth truth;
  generator.Watch(&truth);
  sim::TradingDay day = settings.Schedule();

  std::vector<sim::Venue> venues;
  venues.reserve(kModels);
  for (size_t m = 0; m < kModels; ++m) {
    sim::VenueSettings venueSettings;
    venueSettings.capital = 100000000000;
    venueSettings.queueModel = kModelKinds[m];
    sim::VenueMarket market;
    market.instruments = settings.instruments;
    market.day = day;
    venues.emplace_back(venueSettings, market, 1);
  }
  ItgCallbacks callbacks{};
  callbacks.onMatch = OnMatch;
  callbacks.onInsert = OnInsert;
  for (size_t m = 0; m < kModels; ++m) {
    g_model = m;
    venues[m].SetCallbacks(callbacks);
    venues[m].Login("demo", "demo", "");
  }

  std::map<std::string, int64_t> bestBids;
  std::map<std::string, int64_t> bestAsks;
  int32_t reqId = 0;
  std::vector<sim::QuoteMessage> batch;
  while (generator.NextInterval(batch)) {
    int64_t now = -1;
    for (const sim::QuoteMessage& message : batch) {
      for (size_t m = 0; m < kModels; ++m) {
        g_model = m;
        venues[m].OnMarket(message);
      }
      now = sim::MillisecondsOfDay(message.time);
      sim::SnapshotView snapshot;
      if (!sim::ReadSnapshot(message.typeName, message.payload, snapshot)) continue;
      bestBids[message.code] = snapshot.bids.empty() ? 0 : snapshot.bids.front().price;
      bestAsks[message.code] = snapshot.asks.empty() ? 0 : snapshot.asks.front().price;
      // A snapshot through the probe's price: the ask there would have met it.
      for (Probe& probe : g_probes) {
        if (!probe.closed && probe.truthDone < 0 && probe.code == message.code &&
            !snapshot.asks.empty() && snapshot.asks.front().price <= probe.price &&
            day.PhaseAt(now) == sim::Phase::kContinuous) {
          probe.truthDone = now;
        }
      }
    }
    batch.clear();
    if (now < 0) continue;
    // Probes are over once every side has filled or the horizon has passed.
    for (Probe& probe : g_probes) {
      if (probe.closed || (!IsDone(probe) && now < probe.placed + kHorizonMs)) continue;
      probe.closed = true;
      for (size_t m = 0; m < kModels; ++m) {
        g_model = m;
        if (probe.modelDone[m] < 0) venues[m].Cancel(++reqId, probe.orderCodes[m]);
      }
    }
    if (day.PhaseAt(now) != sim::Phase::kContinuous ||
        day.PhaseAt(now + kHorizonMs) != sim::Phase::kContinuous) {
      continue;
    }
    for (const sim::Instrument& instrument : settings.instruments) {
      const std::string& code = instrument.code;
      bool busy = std::any_of(g_probes.begin(), g_probes.end(), [&](const Probe& probe) {
        return !probe.closed && probe.code == code;
      });
      int64_t bid = bestBids[code];
      if (busy || bid == 0 || bestAsks[code] == 0) continue;
      Probe probe;
      probe.code = code;
      probe.placed = now;
      probe.price = bid;
      probe.newest = generator.NewestOrderAt(code, true, bid);
      std::string price = sim::CentsText(bid);
      for (size_t m = 0; m < kModels; ++m) {
        g_model = m;
        venues[m].Insert(++reqId, code, LIBITG_SIDE_BUY, price, kProbeShares);
        probe.orderCodes[m] = g_lastOrderCode;
      }
      g_probes.push_back(probe);
    }
  }
  for (Probe& probe : g_probes) probe.closed = true;
}

}  // namespace

int main(int argc, char** argv) {
  int days = argc > 1 ? std::atoi(argv[1]) : 5;
  uint64_t firstSeed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
  for (int d = 0; d < days; ++d) RunDay(firstSeed + static_cast<uint64_t>(d));

  auto within = [](int64_t placed, int64_t done) {
    return done >= 0 && done <= placed + kHorizonMs;
  };
  size_t truthFilled = 0;
  for (const Probe& probe : g_probes) truthFilled += within(probe.placed, probe.truthDone);
  std::printf(
      "queue models against the generated market's queues: %zu probes over %d days "
      "(100 shares at the best bid, %" PRId64 " minutes each)\n",
      g_probes.size(), days, kHorizonMs / 60000);
  std::vector<double> truthWaits;
  for (const Probe& probe : g_probes) {
    if (within(probe.placed, probe.truthDone)) {
      truthWaits.push_back(static_cast<double>(probe.truthDone - probe.placed) / 1000.0);
    }
  }
  std::printf("%-14s %8s %12s %14s %12s %8s %8s\n", "", "filled", "median wait", "median error",
              "mean error", "early", "late");
  std::printf("%-14s %7.1f%% %11.1fs %14s %12s %8s %8s\n", "truth",
              100.0 * static_cast<double>(truthFilled) / static_cast<double>(g_probes.size()),
              Median(truthWaits), "-", "-", "-", "-");
  for (size_t m = 0; m < kModels; ++m) {
    size_t filled = 0;
    size_t early = 0;
    size_t late = 0;
    double sum = 0;
    std::vector<double> errors;
    std::vector<double> waits;
    for (const Probe& probe : g_probes) {
      bool model = within(probe.placed, probe.modelDone[m]);
      bool real = within(probe.placed, probe.truthDone);
      filled += model;
      if (model) waits.push_back(static_cast<double>(probe.modelDone[m] - probe.placed) / 1000.0);
      // Filled when the truth did not, or the other way round, counts as
      // early or late as well.
      if (model != real) (model ? early : late) += 1;
      if (!model || !real) continue;
      double error = static_cast<double>(probe.modelDone[m] - probe.truthDone) / 1000.0;
      errors.push_back(error);
      sum += error;
      if (error < 0) ++early;
      if (error > 0) ++late;
    }
    double probes = static_cast<double>(g_probes.size());
    std::printf("%-14s %7.1f%% %11.1fs %13.1fs %11.2fs %7.1f%% %7.1f%%\n",
                sim::QueueModelName(kModelKinds[m]), 100.0 * static_cast<double>(filled) / probes,
                Median(waits), Median(errors),
                errors.empty() ? 0.0 : sum / static_cast<double>(errors.size()),
                100.0 * static_cast<double>(early) / probes,
                100.0 * static_cast<double>(late) / probes);
  }
  std::printf(
      "(error: the model's fill time less the truth's, over the probes both filled; "
      "early: the model filled sooner, or when the truth did not: optimistic)\n");
  return 0;
}

// venue_bench: the simulated venue's cost per market message while it
// follows codes with working orders: every snapshot re-matches them, moves
// their place in the queue and re-checks the held ones against the price
// cage; every trade is matched against them. A generated morning of ten
// instruments is replayed into a venue that has, on each code, buys resting
// below the bid, sells resting above the ask, and a buy held above the cage.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "market_generator.h"
#include "venue.h"

namespace {

constexpr const char* kInstruments =
    "600000:10.52,600036:35.10,601318:45.36,601988:4.25,600519:1688.00,"
    "000001:11.23,000333:62.40,000858:138.50,002594:245.80,300750:195.20";

std::vector<sim::QuoteMessage> Morning(std::vector<sim::Instrument>& instruments) {
  sim::MarketSettings settings;
  std::string error;
  sim::ParseInstruments(kInstruments, 1, settings.instruments, error);
  settings.sessions = {{34200000, 41400000}};  // 09:30 to 11:30
  settings.auctions = false;                   // continuous trading throughout
  instruments = settings.instruments;
  sim::MarketGenerator generator(settings);
  std::vector<sim::QuoteMessage> messages;
  while (generator.NextInterval(messages)) {
  }
  return messages;
}

std::string PriceText(int64_t cents) { return sim::CentsText(cents); }

void BM_VenueFollowsWorkingOrders(benchmark::State& state) {
  std::vector<sim::Instrument> instruments;
  const std::vector<sim::QuoteMessage> messages = Morning(instruments);
  const int64_t ordersPerSide = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    sim::VenueSettings settings;
    settings.capital = 100000000000;
    for (const sim::Instrument& instrument : instruments) {
      settings.positions.push_back({instrument.code, 1000000, 0});
    }
    sim::VenueMarket market;
    market.instruments = instruments;
    market.day.auctions = false;
    sim::Venue venue(settings, market, 1);
    venue.Login("demo", "demo", "");
    int32_t reqId = 0;
    for (const sim::Instrument& instrument : instruments) {
      int64_t close = instrument.previousClose;
      for (int64_t k = 1; k <= ordersPerSide; ++k) {
        venue.Insert(++reqId, instrument.code, LIBITG_SIDE_BUY, PriceText(close - 5 * k), 100);
        venue.Insert(++reqId, instrument.code, LIBITG_SIDE_SELL, PriceText(close + 5 * k), 100);
      }
      venue.Insert(++reqId, instrument.code, LIBITG_SIDE_BUY, PriceText(close * 105 / 100), 100);
    }
    state.ResumeTiming();
    for (const sim::QuoteMessage& message : messages) venue.OnMarket(message);
    benchmark::DoNotOptimize(venue);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(messages.size()));
}
BENCHMARK(BM_VenueFollowsWorkingOrders)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

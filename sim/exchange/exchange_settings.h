// exchange_settings.h: how the simulated exchange (its market, pacing,
// latencies and venue) is configured. Everything comes from VELTRANE_SIM_*
// environment variables, or from a file that one of them names; with none set
// the feed generates the default market in real time and the venue keeps the
// demo account.
//
// Every setting is one row of one table (exchange_settings.cpp): its name,
// the kind of value, the values it takes, its default, a line saying what it
// does, and the parser that reads it. The environment reader, the settings
// file's reader, `quotetape settings` (which the backtest runner asks) and the
// README's table all come from those rows; `SettingRows()` lists them.
//
//   auto values = sim::EnvironmentSettings();        // VELTRANE_SIM_* of the process
//   sim::ExchangeSettings settings;
//   std::string error;
//   if (!sim::LoadExchangeSettings(values, settings, error)) ...  // one line per problem
//
// A name with the VELTRANE_SIM_ prefix that is no setting (a typo such as
// VELTRANE_SIM_SPEEED), in the environment or in the file, is refused with the
// nearest name, never ignored: a setting that silently does nothing leaves a
// day running in real time on the default market.

#ifndef VELTRANE_SIM_EXCHANGE_SETTINGS_H
#define VELTRANE_SIM_EXCHANGE_SETTINGS_H

#include <map>
#include <string>
#include <vector>

#include "exchange_loop.h"
#include "message_source.h"
#include "venue.h"

namespace sim {

struct ExchangeSettings {
  SourceSettings source;
  double speed = 1.0;  // 0: as fast as possible
  LatencySettings latency;
  VenueSettings venue;
  std::string recordPath;  // empty: no recording
  int dayEndFd = -1;       // -1: the day's end is told to nobody
};

// What a row of the table says of its setting, as the README shows it.
struct SettingRow {
  const char* name;          // "VELTRANE_SIM_SPEED"
  const char* kind;          // what sort of value: "file", "milliseconds", ...
  const char* values;        // the values it takes: "`max`, or 0.001 to 1000000"
  const char* defaultValue;  // "`1`", "none"
  const char* meaning;       // one line
};

// Every setting, in the order they are read (a row may use one read before
// it: the instruments' drawn prices use the seed).
const std::vector<SettingRow>& SettingRows();

// Settings by name: VELTRANE_SIM_* names and their values.
using SettingValues = std::map<std::string, std::string>;

// Every variable of the process's environment whose name starts with
// VELTRANE_SIM_, known or not.
SettingValues EnvironmentSettings();

// Reads `given`, with the file VELTRANE_SIM_CONFIG names beneath it (the
// values given win). On failure returns false and sets `error` to one line
// per problem; `settings` is then unspecified.
bool LoadExchangeSettings(const SettingValues& given, ExchangeSettings& settings,
                          std::string& error);

// The setting nearest to `name` by edit distance: what a typo likely meant.
const char* NearestSetting(const std::string& name);

}  // namespace sim

#endif  // VELTRANE_SIM_EXCHANGE_SETTINGS_H

// tape_commands.h: the tape tool's commands that copy tapes: to and from CSV
// files, and cut or joined. Each returns the tool's exit status, having
// printed its summary, or its reason on standard error.

#ifndef VELTRANE_SIM_TAPE_COMMANDS_H
#define VELTRANE_SIM_TAPE_COMMANDS_H

#include <map>
#include <string>
#include <vector>

namespace sim {

// DIR/snapshots.csv and DIR/trades.csv from a tape; other types are left
// out and counted.
int ExportCsv(const std::string& tape, const std::string& dir);

// A tape from DIR's files: trades.csv, which must be there unless
// `snapshotsOnly` leaves it out, and snapshots.csv, which may be missing.
// `renames` maps the files' own column names to ours ("TradeTime" -> "time").
int ImportCsv(const std::string& dir, const std::string& tape,
              const std::map<std::string, std::string>& renames, bool snapshotsOnly);

// "TradeTime=time,Price=price" -> renames; false with the reason.
bool ReadRenames(const std::string& text, std::map<std::string, std::string>& renames,
                 std::string& error);

struct SliceOptions {
  int64_t from = 0;  // exchange time, HHMMSSmmm, both ends included
  int64_t to = 235959999;
  std::vector<std::string> codes;  // "600000" or "600000.SH"; empty: every code
};
int SliceTape(const std::string& in, const std::string& out, const SliceOptions& options);

// One tape of the inputs' messages in exchange time, those of an earlier
// input first at equal times.
int MergeTapes(const std::string& out, const std::vector<std::string>& ins);

}  // namespace sim

#endif  // VELTRANE_SIM_TAPE_COMMANDS_H

// tool_files.h: the tape tool's inputs and outputs. Every file a command
// makes is written under a temporary name beside its own and renamed to it
// only when whole, so that a command that fails leaves nothing half-written
// under the name; tapes are read with what their damage means for a command
// that copies them.

#ifndef VELTRANE_SIM_TOOL_FILES_H
#define VELTRANE_SIM_TOOL_FILES_H

#include <cstdint>
#include <string>

#include "tape.h"

namespace sim {

// "quotetape: WHY" on standard error; returns the tool's failure status, 1.
int Fail(const std::string& why);

class PendingFile {
 public:
  explicit PendingFile(std::string path);
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  // Removes the temporary file unless it was committed.
  ~PendingFile();

  // Where to write meanwhile.
  const std::string& Temporary() const { return temporary_; }
  // Renames the temporary file to the path; false with the reason.
  bool Commit(std::string& error);

 private:
  std::string path_;
  std::string temporary_;
  bool committed_ = false;
};

enum class InputStatus { kRecord, kEnd, kFailed };

// A tape read to the end by a command that copies it. A last record cut
// short (a writer that died) ends the tape with a warning: the records
// before it stand. Any other damage fails the command.
class TapeInput {
 public:
  bool Open(const std::string& path, std::string& error);
  InputStatus Next(QuoteMessage& message, std::string& error);
  // The share of the file read so far, for a progress bar.
  double Share() const;
  uint64_t Bytes() const { return size_; }
  const std::string& Path() const { return path_; }

 private:
  TapeReader reader_;
  std::string path_;
  uint64_t size_ = 0;
};

}  // namespace sim

#endif  // VELTRANE_SIM_TOOL_FILES_H

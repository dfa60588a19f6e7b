// The tape tool's pending outputs and copied inputs.

#include "tool_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sim {

int Fail(const std::string& why) {
  std::fprintf(stderr, "quotetape: %s\n", why.c_str());
  return 1;
}

PendingFile::PendingFile(std::string path)
    : path_(std::move(path)), temporary_(path_ + ".partial-" + std::to_string(getpid())) {}

PendingFile::~PendingFile() {
  if (!committed_) std::remove(temporary_.c_str());
}

bool PendingFile::Commit(std::string& error) {
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    error = path_ + ": " + std::strerror(errno);
    return false;
  }
  committed_ = true;
  return true;
}

bool TapeInput::Open(const std::string& path, std::string& error) {
  path_ = path;
  if (!reader_.Open(path, error)) return false;
  struct stat status {};
  if (stat(path.c_str(), &status) == 0) size_ = static_cast<uint64_t>(status.st_size);
  return true;
}

InputStatus TapeInput::Next(QuoteMessage& message, std::string& error) {
  TapeStatus status = reader_.Next(message);
  switch (status) {
    case TapeStatus::kRecord:
      return InputStatus::kRecord;
    case TapeStatus::kEnd:
      return InputStatus::kEnd;
    case TapeStatus::kTruncated:
      std::fprintf(stderr, "quotetape: warning: %s: %s; the records before it are used\n",
                   path_.c_str(), reader_.Damage(status).c_str());
      return InputStatus::kEnd;
    case TapeStatus::kCorrupt:
    case TapeStatus::kDamaged:
      break;
  }
  error = path_ + ": " + reader_.Damage(status);
  return InputStatus::kFailed;
}

double TapeInput::Share() const {
  return size_ == 0 ? 1.0
                    : static_cast<double>(reader_.RecordOffset()) / static_cast<double>(size_);
}

}  // namespace sim

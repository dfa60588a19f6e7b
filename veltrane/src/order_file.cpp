#include "order_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

#include "veltrane_counters.h"

namespace veltrane {
namespace {

// How long a writer waits for another one's lock before it numbers its code
// in memory only: far beyond the microseconds a writer holds it, short
// enough that a process stopped while holding it (in a debugger) does not
// stall the gateway's thread for long.
constexpr std::chrono::milliseconds kLockPatience{1000};

std::atomic<uint64_t> g_errors{0};
std::mutex g_lastErrorLock;
std::string g_lastError;

// White space as the file's reader splits at it, whatever the locale.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal 64-bit number after optional white space and sign; `pos` ends
// after it. False when there is no digit or the value is out of range.
bool ReadNumber(std::string_view line, size_t& pos, long long& number) {
  while (pos < line.size() && IsSpace(line[pos])) ++pos;
  const bool negative = pos < line.size() && line[pos] == '-';
  if (pos < line.size() && (line[pos] == '-' || line[pos] == '+')) ++pos;
  if (pos == line.size() || !IsDigit(line[pos])) return false;
  // Accumulated as a negative value, which reaches LLONG_MIN.
  long long value = 0;
  for (; pos < line.size() && IsDigit(line[pos]); ++pos) {
    const int digit = line[pos] - '0';
    if (value < (LLONG_MIN + digit) / 10) return false;
    value = value * 10 - digit;
  }
  if (!negative && value == LLONG_MIN) return false;
  number = negative ? value : -value;
  return true;
}

void AppendLine(std::string& out, long long number, const std::string& code) {
  out += std::to_string(number);
  out += ' ';
  if (CodeFitsOrderFile(code)) out += code;
  out += '\n';
}

// Everything from `offset` to the end of the file.
bool ReadFrom(int fd, off_t offset, std::string& bytes) {
  bytes.clear();
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    bytes.append(buffer, static_cast<size_t>(got));
    offset += got;
  }
}

// "orders.temp.YYYYMMDD.partial-PID-N" -> PID; 0 for any other name.
pid_t CopyOwner(const std::string& name) {
  static const std::string kPrefix = "orders.temp.";
  static const std::string kMark = ".partial-";
  size_t pos = kPrefix.size();
  if (name.compare(0, pos, kPrefix) != 0 || name.size() < pos + 8) return 0;
  for (size_t end = pos + 8; pos < end; ++pos) {
    if (!IsDigit(name[pos])) return 0;
  }
  if (name.compare(pos, kMark.size(), kMark) != 0) return 0;
  pos += kMark.size();
  long long pid = 0;
  const size_t pidStart = pos;
  for (; pos < name.size() && IsDigit(name[pos]) && pid <= INT_MAX; ++pos) {
    pid = pid * 10 + (name[pos] - '0');
  }
  if (pos == pidStart || pid <= 0 || pid > INT_MAX || pos == name.size() || name[pos] != '-') {
    return 0;
  }
  const size_t serialStart = ++pos;
  while (pos < name.size() && IsDigit(name[pos])) ++pos;
  return pos > serialStart && pos == name.size() ? static_cast<pid_t>(pid) : 0;
}

}  // namespace

uint64_t OrderFileErrors() noexcept { return g_errors.load(std::memory_order_relaxed); }

std::string LastOrderFileError() {
  std::lock_guard<std::mutex> hold(g_lastErrorLock);
  return g_lastError;
}

std::string OrderFileName(std::time_t when) {
  char date[16] = "";
  std::tm local{};
  if (localtime_r(&when, &local) != nullptr) std::strftime(date, sizeof date, "%Y%m%d", &local);
  return std::string("./orders.temp.") + date;
}

bool CodeFitsOrderFile(std::string_view code) {
  if (code.empty()) return false;
  for (char c : code) {
    if (IsSpace(c)) return false;
  }
  return true;
}

std::vector<OrderLine> ParseOrderFile(std::string_view content, std::vector<OrderLine>* unusable) {
  std::vector<OrderLine> lines;
  for (size_t start = 0; start < content.size();) {
    size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    const std::string_view line = content.substr(start, end - start);
    start = end + 1;
    size_t pos = 0;
    long long number = 0;
    if (!ReadNumber(line, pos, number)) continue;
    while (pos < line.size() && IsSpace(line[pos])) ++pos;
    size_t codeEnd = pos;
    while (codeEnd < line.size() && !IsSpace(line[codeEnd])) ++codeEnd;
    OrderLine read{number, std::string(line.substr(pos, codeEnd - pos))};
    if (number < 0 || number == kNoOrderNumber) {
      // A number alone there is a cancel's of an order that never was.
      if (unusable != nullptr && !read.code.empty()) unusable->push_back(std::move(read));
      continue;
    }
    lines.push_back(std::move(read));
  }
  return lines;
}

void RemoveAbandonedCopies() {
  DIR* directory = ::opendir(".");
  if (directory == nullptr) return;
  while (const dirent* entry = ::readdir(directory)) {
    const std::string name = entry->d_name;
    const pid_t owner = CopyOwner(name);
    // A copy carrying this process's number is an earlier process's: this
    // one makes none.
    if (owner != 0 && (owner == ::getpid() || (::kill(owner, 0) != 0 && errno == ESRCH))) {
      ::unlink(name.c_str());
    }
  }
  ::closedir(directory);
}

OrderFile::~OrderFile() { Close(); }

void OrderFile::Fail(const std::string& what, int error) const {
  std::string text = name_ + ": " + what;
  if (error != 0) text += ": " + std::error_code(error, std::generic_category()).message();
  g_errors.fetch_add(1, std::memory_order_relaxed);
  std::lock_guard<std::mutex> hold(g_lastErrorLock);
  g_lastError = std::move(text);
}

void OrderFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  writable_ = false;
  fresh_ = true;
}

bool OrderFile::Open(const std::string& name, bool create) {
  Close();
  name_ = name;
  // Non-blocking, so that a FIFO put in the file's place cannot hang the
  // open; it is refused below as any file that is not a regular one.
  constexpr int kFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = ::open(name.c_str(), O_RDWR | O_APPEND | kFlags | (create ? O_CREAT : 0), 0666);
  writable_ = fd >= 0;
  writeError_ = writable_ ? 0 : errno;
  if (fd < 0 && errno != ENOENT) fd = ::open(name.c_str(), O_RDONLY | kFlags);
  if (fd < 0) {
    // Nothing to load is no failure; nowhere to save is.
    if (create || errno != ENOENT) Fail(create ? "cannot create or open" : "cannot open", errno);
    return false;
  }
  struct stat opened {};
  const bool known = ::fstat(fd, &opened) == 0;
  if (!known || !S_ISREG(opened.st_mode)) {
    const int error = known ? 0 : errno;
    ::close(fd);
    writable_ = false;
    Fail(known ? "not a regular file" : "cannot inspect", error);
    return false;
  }
  fd_ = fd;
  device_ = opened.st_dev;
  inode_ = opened.st_ino;
  fresh_ = true;
  lockless_ = false;
  return true;
}

// A file opened for reading only may have become writable since; what an
// append could reach, it should.
bool OrderFile::ReopenWritable(const std::string& name) {
  const int fd = ::open(name.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    writeError_ = errno;
    return false;
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || opened.st_dev != device_ || opened.st_ino != inode_) {
    ::close(fd);
    return false;
  }
  // A new open file: its lock is not the one held, so read it all anew.
  ::close(fd_);
  fd_ = fd;
  writable_ = true;
  fresh_ = true;
  return true;
}

bool OrderFile::Lock() {
  const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
  auto pause = std::chrono::microseconds(20);
  for (;;) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) {
      // A file system without advisory locks: the file is still this
      // process's to keep, only not safely shared. Said once per file.
      if (!lockless_) Fail("no advisory locks here; the file is not shared safely", errno);
      lockless_ = true;
      return true;
    }
    if (errno != EWOULDBLOCK) {
      Fail("cannot lock", errno);
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      Fail("another writer holds the lock for too long; numbering in memory", 0);
      return false;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(5000));
  }
}

void OrderFile::End() { ::flock(fd_, LOCK_UN); }

bool OrderFile::Begin(const std::string& name, bool create, Merge merge, OrderMapRef map) {
  if (fd_ >= 0 && name != name_) Close();  // a new day: a new file
  if (fd_ >= 0 && !writable_) ReopenWritable(name);
  // The file may be replaced or removed behind our back; the one at `name`
  // is the one to share, so its lock is the one that counts.
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (fd_ < 0 && !Open(name, create)) return false;
    // A file read whole under the lock would keep the others waiting for as
    // long as the parse of the whole day takes, and a writer that loads
    // again and again would starve them; its finished lines are read first,
    // and only what follows them is read under the lock.
    if (fresh_ && !CatchUp(kUnlocked, merge, map)) return false;
    if (!Lock()) return false;
    struct stat current {};
    if (::stat(name.c_str(), &current) == 0 && current.st_dev == device_ &&
        current.st_ino == inode_) {
      if (CatchUp(current.st_size, merge, map)) return true;
      End();
      return false;
    }
    End();
    Close();
  }
  Fail("the file keeps being replaced", 0);
  return false;
}

bool OrderFile::CatchUp(off_t size, Merge merge, OrderMapRef map) {
  const bool locked = size != kUnlocked;
  const bool whole = fresh_ || (locked && size < end_);
  if (!whole && size == end_) return true;
  const off_t from = whole ? 0 : read_;
  std::string bytes;
  if (!ReadFrom(fd_, from, bytes)) {
    Fail("cannot read", errno);
    return false;
  }
  const size_t lastNewline = bytes.rfind('\n');
  const size_t wholeLines = lastNewline == std::string::npos ? 0 : lastNewline + 1;
  read_ = from + static_cast<off_t>(wholeLines);
  // Without the lock a line after the last newline may be one that another
  // writer is still writing: it is left for the read under the lock.
  if (!locked) bytes.resize(wholeLines);
  end_ = from + static_cast<off_t>(bytes.size());

  std::vector<OrderLine> unusable;
  const std::vector<OrderLine> lines = ParseOrderFile(bytes, &unusable);
  for (const OrderLine& line : unusable) {
    Fail("the line \"" + std::to_string(line.number) + " " + line.code +
             "\" is skipped: order numbers run from 0 to " + std::to_string(kNoOrderNumber - 1),
         0);
  }
  if (whole) {
    // Everything held that the file does not mention must be written.
    unsaved_.clear();
    for (const auto& entry : map.byNumber) unsaved_.insert(unsaved_.end(), entry.first);
    fresh_ = false;
  }
  for (const OrderLine& line : lines) {
    MergeLine(line, merge, map);
    unsaved_.erase(line.number);
  }
  return true;
}

void OrderFile::MergeLine(const OrderLine& line, Merge merge, OrderMapRef map) {
  // Numbers from the parser stop below kNoOrderNumber.
  if (line.number >= map.next) map.next = line.number + 1;
  if (line.code.empty() || NumberedElsewhere(line, merge, map)) {
    map.byNumber.emplace(line.number, std::string());
    return;
  }
  const auto [entry, added] = map.byNumber.emplace(line.number, line.code);
  if (!added && entry->second != line.code) {
    if (merge == Merge::kHeldWins && !entry->second.empty()) {
      // Another writer gave a number this object has handed out to a code of
      // its own, which can happen only while one of them could not use the
      // file. Here the number keeps its code; the file keeps the other's.
      Fail("order number " + std::to_string(line.number) + " stands for another code in the file",
           0);
      return;
    }
    const auto earlier = map.byCode.find(entry->second);
    if (earlier != map.byCode.end() && earlier->second == line.number) map.byCode.erase(earlier);
    entry->second = line.code;
  }
  if (merge == Merge::kFileWins) {
    map.byCode.insert_or_assign(line.code, line.number);
  } else {
    map.byCode.emplace(line.code, line.number);
  }
}

bool OrderFile::NumberedElsewhere(const OrderLine& line, Merge merge, OrderMapRef map) const {
  const auto known = map.byCode.find(line.code);
  if (known == map.byCode.end() || known->second == line.number) return false;
  const auto holder = map.byNumber.find(known->second);
  if (holder == map.byNumber.end() || holder->second != line.code) return false;
  // While loading, an entry held from before that the file has not shown
  // yet gives way to the file.
  return merge == Merge::kHeldWins || unsaved_.count(known->second) == 0;
}

void OrderFile::AppendUnsaved(OrderMapRef map) {
  if (unsaved_.empty()) return;
  if (!writable_) {
    Fail("cannot open for writing", writeError_);
    return;
  }
  std::string lines;
  // A line someone left without its newline must not swallow the next one.
  if (read_ < end_) lines += '\n';
  for (long long number : unsaved_) {
    const auto entry = map.byNumber.find(number);
    if (entry != map.byNumber.end()) AppendLine(lines, number, entry->second);
  }
  // One write: a kill leaves all of it, or a tail that loading reads as a
  // line naming no number twice.
  ssize_t written;
  do {
    written = ::write(fd_, lines.data(), lines.size());
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(lines.size())) {
    end_ += written;
    read_ = end_;
    unsaved_.clear();
    return;
  }
  const int error = written < 0 ? errno : ENOSPC;
  // Cut back what a full disk let through, so that no part of a line stays;
  // if even that fails, the next look reads the file whole again.
  if (written > 0 && ::ftruncate(fd_, end_) != 0) fresh_ = true;
  Fail("cannot append", error);
}

void OrderFile::Reconcile(const std::string& name, bool create, Merge merge, OrderMapRef map) {
  Close();  // read it whole, whatever was read before
  if (!Begin(name, create, merge, map)) return;
  const Unlocker unlock{this};
  AppendUnsaved(map);
}

void OrderFile::Load(const std::string& name, OrderMapRef map) {
  Reconcile(name, false, Merge::kFileWins, map);
}

void OrderFile::Save(const std::string& name, OrderMapRef map) {
  Reconcile(name, true, Merge::kHeldWins, map);
}

long long OrderFile::Enter(const std::string& name, std::string code, OrderMapRef map) {
  const bool shared = Begin(name, true, Merge::kHeldWins, map);
  const Unlocker unlock{shared ? this : nullptr};

  const auto known = map.byCode.find(code);
  if (known != map.byCode.end()) {
    if (shared) AppendUnsaved(map);
    return known->second;
  }
  if (map.next >= kNoOrderNumber) {
    Fail("no order number left after " + std::to_string(kNoOrderNumber - 1), 0);
    return kNoOrderNumber;
  }
  const long long number = map.next++;
  map.byNumber.insert_or_assign(number, code);
  map.byCode.emplace(std::move(code), number);
  unsaved_.insert(number);
  if (shared) AppendUnsaved(map);
  return number;
}

}  // namespace veltrane

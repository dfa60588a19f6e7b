#include "order_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace veltrane {
namespace {

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

bool WriteFully(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

// Two objects of one process may write the same day's file.
std::atomic<unsigned> g_copies{0};

}  // namespace

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

std::vector<OrderLine> ParseOrderFile(std::string_view content) {
  std::vector<OrderLine> lines;
  size_t start = 0;
  for (size_t end; (end = content.find('\n', start)) != std::string_view::npos; start = end + 1) {
    const std::string_view line = content.substr(start, end - start);
    size_t pos = 0;
    long long number = 0;
    if (!ReadNumber(line, pos, number) || number == LLONG_MAX) continue;
    while (pos < line.size() && IsSpace(line[pos])) ++pos;
    size_t codeEnd = pos;
    while (codeEnd < line.size() && !IsSpace(line[codeEnd])) ++codeEnd;
    lines.push_back({number, std::string(line.substr(pos, codeEnd - pos))});
  }
  return lines;
}

bool ReadOrderFile(const std::string& name, std::string& content) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return false;
  content = bytes.str();
  return true;
}

OrderFile::~OrderFile() { Forget(); }

void OrderFile::Forget() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  name_.clear();
}

bool OrderFile::WriteAll(const std::string& name, const std::map<long long, std::string>& entries) {
  Forget();
  std::string content;
  for (const auto& entry : entries) AppendLine(content, entry.first, entry.second);

  // A finished copy beside the file, renamed over it: a reader or a crash
  // sees the old file or the new one, never a part of either.
  const std::string copy =
      name + ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(g_copies.fetch_add(1));
  const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  struct stat written {};
  if (!WriteFully(fd, content) || ::fdatasync(fd) != 0 || ::fstat(fd, &written) != 0 ||
      ::rename(copy.c_str(), name.c_str()) != 0) {
    ::close(fd);
    ::unlink(copy.c_str());
    return false;
  }
  fd_ = fd;
  name_ = name;
  device_ = written.st_dev;
  inode_ = written.st_ino;
  size_ = written.st_size;
  return true;
}

bool OrderFile::Append(const std::string& name, const std::string& line) {
  if (fd_ < 0 || name != name_) return false;
  struct stat current {};
  if (::stat(name.c_str(), &current) != 0 || current.st_dev != device_ ||
      current.st_ino != inode_ || current.st_size != size_) {
    return false;
  }
  // One write of the whole line: a crash leaves all of it or a tail without
  // its newline, which loading skips.
  if (!WriteFully(fd_, line)) return false;
  size_ += static_cast<off_t>(line.size());
  return true;
}

bool OrderFile::WriteNew(const std::string& name, long long number, const std::string& code,
                         const std::map<long long, std::string>& entries) {
  std::string line;
  AppendLine(line, number, code);
  return Append(name, line) || WriteAll(name, entries);
}

}  // namespace veltrane

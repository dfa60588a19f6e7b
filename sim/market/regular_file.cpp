// Opening input files, regular ones only.

#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

std::FILE* OpenRegularFile(const std::string& path, std::string& error) {
  // Non-blocking, so that a FIFO cannot hold the open until a writer comes.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    error = path + ": not a regular file";
    ::close(fd);
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  std::FILE* file = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0
                        ? ::fdopen(fd, "rb")
                        : nullptr;
  if (file == nullptr) {
    error = path + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return file;
}

bool ReadRegularFile(const std::string& path, size_t limit, std::string& content,
                     std::string& error) {
  std::FILE* file = OpenRegularFile(path, error);
  if (file == nullptr) return false;
  content.clear();
  char buffer[1 << 14];
  bool fits = true;
  size_t got;
  while (fits && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    fits = content.size() + got <= limit;
    if (fits) content.append(buffer, got);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (!fits) {
    error = path + ": larger than " + std::to_string(limit) + " bytes";
    return false;
  }
  if (failed) {
    error = path + ": cannot be read";
    return false;
  }
  return true;
}

}  // namespace sim

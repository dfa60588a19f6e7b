// regular_file.h: opening the simulated exchange's input files (settings
// and tapes). Only a regular file is opened: a FIFO would block the open
// for ever, a directory reads as an empty file, and a device such as
// /dev/zero never ends.

#ifndef VELTRANE_SIM_REGULAR_FILE_H
#define VELTRANE_SIM_REGULAR_FILE_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace sim {

// `path` opened for reading, or null with the reason in `error`
// ("<path>: not a regular file", "<path>: No such file or directory").
std::FILE* OpenRegularFile(const std::string& path, std::string& error);

// The whole of the regular file `path`, refused when it holds more than
// `limit` bytes.
bool ReadRegularFile(const std::string& path, size_t limit, std::string& content,
                     std::string& error);

}  // namespace sim

#endif  // VELTRANE_SIM_REGULAR_FILE_H

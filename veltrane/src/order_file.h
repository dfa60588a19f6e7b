// order_file.h: the per-day file that keeps the order-number map across a
// restart of the process on the same day.
//
// Format: one line per entry, the number in decimal, one space, the gateway
// code, a newline. A code that is empty or holds white space could not be
// read back from such a line, so its line holds the number alone ("17 "):
// that keeps the number from going to another code after any number of
// restarts, while the code itself gets a new number when it is next seen.
//
// A process may be killed at any instant and leave a file that loads to the
// entries of its last finished write: the file is replaced whole only by
// renaming a finished copy over it, and a new entry is appended as one line;
// a last line without its newline is what is left of an append that did not
// finish, and loading skips it. The file is not synced after an append, so a
// power failure (unlike a crash of the process) can lose the latest lines.

#ifndef VELTRANE_ORDER_FILE_H
#define VELTRANE_ORDER_FILE_H

#include <sys/types.h>

#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

// "./orders.temp.YYYYMMDD" for the local date of `when`.
std::string OrderFileName(std::time_t when);

// Whether a line can carry `code` so that loading reads it back unchanged.
bool CodeFitsOrderFile(std::string_view code);

// One readable line of the file. An empty code means the line holds the
// number alone.
struct OrderLine {
  long long number;
  std::string code;
};

// The readable lines of a file's content, in file order. A line that does
// not start with a decimal number in the 64-bit range, or whose number is the
// largest 64-bit value (no number could follow it), is skipped, and so is a
// last line that lacks its newline. Anything after the code is ignored.
std::vector<OrderLine> ParseOrderFile(std::string_view content);

// The file's content, or false when it cannot be read.
bool ReadOrderFile(const std::string& name, std::string& content);

// Writes one object's map to its file. Not thread-safe: the owner's order
// lock guards it.
class OrderFile {
 public:
  OrderFile() = default;
  OrderFile(const OrderFile&) = delete;
  OrderFile& operator=(const OrderFile&) = delete;
  ~OrderFile();

  // Replaces the file `name` with every entry of `entries`, in ascending
  // order. False when the file could not be written; it then stays as it was.
  bool WriteAll(const std::string& name, const std::map<long long, std::string>& entries);

  // Puts the new entry (`number`, `code`), which `entries` already holds,
  // into the file `name`: as one appended line when `name` is the file this
  // object wrote last and it is still in place, otherwise by writing every
  // entry anew (so a new day's file starts with all of them). A failed
  // append is mended the same way.
  bool WriteNew(const std::string& name, long long number, const std::string& code,
                const std::map<long long, std::string>& entries);

 private:
  bool Append(const std::string& name, const std::string& line);
  void Forget();

  // The file this object wrote last, kept open for appends and identified by
  // device, inode and size, so that a file replaced, removed or changed
  // behind our back is written anew rather than appended to.
  int fd_ = -1;
  std::string name_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  off_t size_ = 0;
};

}  // namespace veltrane

#endif  // VELTRANE_ORDER_FILE_H

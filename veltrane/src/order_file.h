// order_file.h: the per-day file that keeps the order-number map across a
// restart of the process on the same day, shared by every API object and
// every process working in the same directory.
//
// Format: one line per entry, the number in decimal, one space, the gateway
// code, a newline. A code that is empty or holds white space could not be
// read back from such a line, so its line holds the number alone ("17 "):
// that keeps the number from going to another code after any number of
// restarts, while the code itself gets a new number when it is next seen.
//
// Sharing: a writer takes an advisory lock (flock) on the file, reads what
// others appended since it last looked, and appends its own lines before it
// lets go, so that a new number is always the next after everything in the
// file, whoever wrote it. A file opened anew has its finished lines read
// before the lock is taken, so that loading a long file keeps the others
// waiting only for what was appended meanwhile. The file is only ever appended to, never rewritten
// or replaced: other writers' lines, its owner and its mode stay as they are.
//
// A process killed at any instant leaves a file that loads to the entries of
// its last finished write: each batch of lines goes out in one write call,
// and one that comes back short (a full disk) is cut off again. A kill can
// cut a write only where it crosses a page boundary; the torn last line then
// holds a prefix of a number already in the file, or the new number with a
// prefix of its code. That prefix may be another code, which an earlier line
// numbered: a code keeps the number of its first line, and a later line for
// it only keeps its own number taken, so the torn line names no number twice
// and moves no code. The file is not synced,
// so a power failure (unlike a crash of the process) can lose the latest
// lines.
//
// When the file cannot be opened, locked or written, new codes are still
// numbered in memory; the entries the file lacks are appended with the next
// write that succeeds. Every failure is counted (veltrane_counters.h).

#ifndef VELTRANE_ORDER_FILE_H
#define VELTRANE_ORDER_FILE_H

#include <sys/types.h>

#include <climits>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

// What a new code gets once every number up to it is taken. It is never
// entered in the map, so it names no code: a cancel by it sends the empty
// code, which the gateway refuses.
constexpr long long kNoOrderNumber = LLONG_MAX;

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

// The readable lines of a file's content, in file order, a last line without
// its newline included. A line that does not start with a decimal number in
// the 64-bit range is skipped. So is one whose number no code can have (a
// negative one, or kNoOrderNumber): numbers are given from 0, and taken, such
// a line would hand its code a number the map never gives. Those that name a
// code go to `unusable`. Anything after the code is ignored.
std::vector<OrderLine> ParseOrderFile(std::string_view content,
                                      std::vector<OrderLine>* unusable = nullptr);

// Removes the copies "orders.temp.YYYYMMDD.partial-PID-N" in the current
// directory that processes no longer running left behind (earlier versions
// replaced the file by renaming such a copy over it).
void RemoveAbandonedCopies();

// The owner's map, which the file's lines are merged into.
struct OrderMapRef {
  std::map<long long, std::string>& byNumber;
  std::map<std::string, long long>& byCode;
  long long& next;  // never lowered; at most kNoOrderNumber
};

// One object's view of the day's file. Not thread-safe: the owner's order
// lock guards it.
class OrderFile {
 public:
  OrderFile() = default;
  OrderFile(const OrderFile&) = delete;
  OrderFile& operator=(const OrderFile&) = delete;
  ~OrderFile();

  // Reads the whole file `name` into `map`. A line replaces an entry of the
  // same number: the code that held it loses it (and gets a new number when
  // next seen); a line with the number alone, or one for a code that an
  // earlier line numbered otherwise, only keeps the number taken.
  // Then appends the entries held that the file lacks. A missing file
  // changes nothing.
  void Load(const std::string& name, OrderMapRef map);

  // Makes the file `name` hold every entry of `map`, appending those it
  // lacks; what others wrote stays.
  void Save(const std::string& name, OrderMapRef map);

  // Numbers `code`, which `map` does not hold: first takes in what others
  // appended (they may have numbered this very code), then gives it the
  // next number and appends its line. Returns its number, kNoOrderNumber
  // once the numbers are used up.
  long long Enter(const std::string& name, std::string code, OrderMapRef map);

 private:
  // Whether a line read from the file may take a number from a held code.
  // While loading it may; later, what this object has handed out stands.
  enum class Merge { kFileWins, kHeldWins };

  // Ends what Begin started on every way out, a failed allocation included.
  struct Unlocker {
    OrderFile* file;  // null: nothing to end
    ~Unlocker() {
      if (file != nullptr) file->End();
    }
  };

  // Takes the file's lock and catches up with what others wrote; false when
  // the file cannot be opened, locked or read (nothing is then held).
  bool Begin(const std::string& name, bool create, Merge merge, OrderMapRef map);
  void End();
  // Reads the whole file and appends what it lacks.
  void Reconcile(const std::string& name, bool create, Merge merge, OrderMapRef map);
  bool Open(const std::string& name, bool create);
  bool ReopenWritable(const std::string& name);
  void Close();
  bool Lock();
  // Reads what was appended since the last look, the whole file when it is
  // fresh or has shrunk below what was read. `size` is the file's size under
  // the lock, or kUnlocked: then only whole lines are read.
  static constexpr off_t kUnlocked = -1;
  bool CatchUp(off_t size, Merge merge, OrderMapRef map);
  void MergeLine(const OrderLine& line, Merge merge, OrderMapRef map);
  // Whether `line`'s code has another number that still names it and
  // stands: one this object holds while it catches up, or one from an
  // earlier line while it loads. A writer killed in the middle of a line
  // leaves a prefix of its code, which can be another code; such a line, as
  // the later line of any code on two lines, then only keeps its number
  // taken.
  bool NumberedElsewhere(const OrderLine& line, Merge merge, OrderMapRef map) const;
  void AppendUnsaved(OrderMapRef map);
  void Fail(const std::string& what, int error) const;

  int fd_ = -1;
  std::string name_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool writable_ = false;
  int writeError_ = 0;           // why it could not be opened for writing
  bool lockless_ = false;        // its file system has no advisory locks
  bool fresh_ = true;            // nothing read since it was opened: read it whole
  off_t read_ = 0;               // where the last whole line read ends; below end_
                                 // when the file ends in a line without its newline
  off_t end_ = 0;                // the file's size when last read or written
  std::set<long long> unsaved_;  // numbers held that the file lacks
};

}  // namespace veltrane

#endif  // VELTRANE_ORDER_FILE_H

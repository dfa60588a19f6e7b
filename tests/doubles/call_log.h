// call_log.h: what the test doubles of the outside libraries record, and how
// a test drives them.
//
// Both doubles (libitg.so and libquote.so under tests/doubles) append to this
// one log, so a test sees the calls of both libraries in the order they were
// made, with every argument exactly as received. Events are fired on the
// doubles' own gateway thread, never on the test's.

#ifndef VELTRANE_TESTS_CALL_LOG_H
#define VELTRANE_TESTS_CALL_LOG_H

#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <variant>
#include <vector>

#include "gateway_text.h"

#define FAKE_API __attribute__((visibility("default")))

namespace fake {

// A TextView argument: `size` as received and the `size` bytes it covered.
// `present` is false for a null TextView pointer.
struct Text {
  bool present = true;
  std::string bytes;
  int64_t size = 0;
};

// A TextList argument: its count and capacity as received and its items.
struct List {
  bool present = true;
  std::vector<Text> items;
  int64_t count = 0;
  int64_t capacity = 0;
};

using Arg = std::variant<int64_t, Text, List>;

struct Call {
  std::string function;
  std::vector<Arg> args;
};

inline bool operator==(const Text& a, const Text& b) {
  return std::tie(a.present, a.bytes, a.size) == std::tie(b.present, b.bytes, b.size);
}
inline bool operator!=(const Text& a, const Text& b) { return !(a == b); }
inline bool operator==(const List& a, const List& b) {
  return std::tie(a.present, a.items, a.count, a.capacity) ==
         std::tie(b.present, b.items, b.count, b.capacity);
}
inline bool operator!=(const List& a, const List& b) { return !(a == b); }
inline bool operator==(const Call& a, const Call& b) {
  return a.function == b.function && a.args == b.args;
}
FAKE_API std::ostream& operator<<(std::ostream& out, const Call& call);

// Builders for expected calls.
inline Arg Int(int64_t value) { return value; }
inline Arg TextArg(const std::string& bytes) {
  return Text{true, bytes, static_cast<int64_t>(bytes.size())};
}
inline Arg ListArg(const std::vector<std::string>& items) {
  List list{true, {}, static_cast<int64_t>(items.size()), static_cast<int64_t>(items.size())};
  for (const std::string& item : items) list.items.push_back(std::get<Text>(TextArg(item)));
  return list;
}

// Used by the doubles.
FAKE_API Text ReadText(const TextView* view);
FAKE_API List ReadList(const TextList* list);
// Appends `call` and returns the result set for its function (0 by default).
FAKE_API int64_t Record(Call call);

// Used by tests.
FAKE_API std::vector<Call> Calls();
FAKE_API std::vector<std::string> CalledFunctions();
// Forgets the calls and the results set; registered callback tables stay.
FAKE_API void Reset();
FAKE_API void SetResult(const std::string& function, int64_t result);
// Runs `event` on the gateway thread; the future is ready once it has run
// (and carries what it threw).
FAKE_API std::future<void> PostToGatewayThread(std::function<void()> event);
// As above and waits for it.
FAKE_API void RunOnGatewayThread(std::function<void()> event);
FAKE_API std::thread::id GatewayThreadId();

// A callback table as a double keeps it: copied during registration, as the
// real libraries do, and recorded as the addresses of its entries in order.
template <class Table>
class RegisteredTable {
 public:
  void Register(const char* function, const Table* table) {
    Call call{function, {}};
    if (table != nullptr) {
      using Entry = void (*)();
      constexpr size_t kEntries = sizeof(Table) / sizeof(Entry);
      static_assert(sizeof(Table) == kEntries * sizeof(Entry), "a table holds only entries");
      Entry entries[kEntries];
      std::memcpy(entries, table, sizeof entries);
      for (Entry entry : entries) call.args.push_back(Int(reinterpret_cast<int64_t>(entry)));
      std::lock_guard<std::mutex> hold(lock_);
      table_ = *table;
    }
    Record(std::move(call));
  }

  Table Get() const {
    std::lock_guard<std::mutex> hold(lock_);
    return table_;
  }

 private:
  mutable std::mutex lock_;
  Table table_{};
};

}  // namespace fake

#endif  // VELTRANE_TESTS_CALL_LOG_H

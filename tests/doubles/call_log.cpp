#include "call_log.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

namespace fake {
namespace {

struct Log {
  std::mutex lock;
  std::vector<Call> calls;
  std::map<std::string, int64_t> results;
};

Log& TheLog() {
  static Log log;
  return log;
}

// One thread that runs posted events in order, standing for the thread on
// which a real gateway library calls back.
class GatewayThread {
 public:
  GatewayThread() : worker_([this] { Loop(); }) {}
  ~GatewayThread() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      stopping_ = true;
    }
    wake_.notify_one();
    worker_.join();
  }

  std::future<void> Post(std::function<void()> event) {
    std::packaged_task<void()> task(std::move(event));
    std::future<void> done = task.get_future();
    {
      std::lock_guard<std::mutex> hold(lock_);
      queue_.push_back(std::move(task));
    }
    wake_.notify_one();
    return done;
  }

  std::thread::id id() const { return worker_.get_id(); }

 private:
  void Loop() {
    for (;;) {
      std::packaged_task<void()> task;
      {
        std::unique_lock<std::mutex> hold(lock_);
        wake_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      task();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::packaged_task<void()>> queue_;
  bool stopping_ = false;
  std::thread worker_;  // last: starts once the members above exist
};

GatewayThread& TheGatewayThread() {
  static GatewayThread thread;
  return thread;
}

std::ostream& operator<<(std::ostream& out, const Text& text) {
  if (!text.present) return out << "null";
  return out << '"' << text.bytes << "\"/" << text.size;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Call& call) {
  out << call.function << '(';
  const char* separator = "";
  for (const Arg& arg : call.args) {
    out << separator;
    separator = ", ";
    if (const int64_t* value = std::get_if<int64_t>(&arg)) {
      out << *value;
    } else if (const Text* text = std::get_if<Text>(&arg)) {
      out << *text;
    } else {
      const List& list = std::get<List>(arg);
      if (!list.present) {
        out << "null";
        continue;
      }
      out << '[';
      for (const Text& item : list.items) out << item << ' ';
      out << "]/" << list.count << '/' << list.capacity;
    }
  }
  return out << ')';
}

Text ReadText(const TextView* view) {
  if (view == nullptr) return Text{false, {}, 0};
  Text text{true, {}, view->size};
  if (view->data != nullptr && view->size > 0) {
    text.bytes.assign(view->data, static_cast<size_t>(view->size));
  }
  return text;
}

List ReadList(const TextList* list) {
  if (list == nullptr) return List{false, {}, 0, 0};
  List read{true, {}, list->count, list->capacity};
  if (list->items != nullptr) {
    for (int64_t i = 0; i < list->count; ++i) read.items.push_back(ReadText(&list->items[i]));
  }
  return read;
}

int64_t Record(Call call) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> hold(log.lock);
  const auto result = log.results.find(call.function);
  log.calls.push_back(std::move(call));
  return result != log.results.end() ? result->second : 0;
}

std::vector<Call> Calls() {
  Log& log = TheLog();
  std::lock_guard<std::mutex> hold(log.lock);
  return log.calls;
}

std::vector<std::string> CalledFunctions() {
  std::vector<std::string> names;
  for (const Call& call : Calls()) names.push_back(call.function);
  return names;
}

void Reset() {
  Log& log = TheLog();
  std::lock_guard<std::mutex> hold(log.lock);
  log.calls.clear();
  log.results.clear();
}

void SetResult(const std::string& function, int64_t result) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> hold(log.lock);
  log.results[function] = result;
}

std::future<void> PostToGatewayThread(std::function<void()> event) {
  return TheGatewayThread().Post(std::move(event));
}

void RunOnGatewayThread(std::function<void()> event) {
  PostToGatewayThread(std::move(event)).get();
}

std::thread::id GatewayThreadId() { return TheGatewayThread().id(); }

}  // namespace fake

// A vendor's quote library, as the stand-in finds it through
// VELTRANE_SIM_UPSTREAM: the same C interface and names as the stand-in
// itself, answers and market data from a thread of its own, and results of
// its own, so that a test can tell what was passed through. Tests drive it
// through its FakeVendor_* functions (found with dlsym, as it is loaded
// apart from the process's symbols):
//
//   FakeVendor_Send(reqId, type, payload, length)  queues a market message
//       for the library's thread, which calls the registered data callback
//       with it (reqId, a running sequence from 1, timestamp 0)
//   FakeVendor_SendHere(reqId, type, payload, length, count)  the message
//       `count` times on the caller's thread, each call stamped first
//   FakeVendor_SentAt()                            that stamp of the call under
//       way, steady-clock nanoseconds: a client subtracts it from its own
//   FakeVendor_WaitSent(count, timeoutMs)          1 once `count` messages have
//       been delivered (each callback returned), 0 at the timeout
//   FakeVendor_Calls(out, capacity)                the calls so far, one line each,
//       e.g. "LibQuote_ReqSubscribe 5 3 600000,000001"; returns the length
//
// Results: Init 101, login 102, subscribe 1000 + reqId, unsubscribe
// 2000 + reqId. Login is answered with status 0 and session 77;
// subscriptions with 0 "vendor: subscribed", unsubscriptions with 0
// "vendor: unsubscribed".

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "libquote.h"

#define FAKE_VENDOR_API extern "C" __attribute__((visibility("default")))

namespace {

class VendorThread {
 public:
  VendorThread() : thread_([this] { Run(); }) {}
  ~VendorThread() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void Post(std::function<void()> task) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  int64_t delivered_ = 0;  // guarded by mutex_

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
  }

  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::thread thread_;
};

std::mutex g_lock;  // guards the two below
QuoteCallbacks g_table{};
std::string g_calls;
int64_t g_sequence = 0;

VendorThread& Thread() {
  static VendorThread thread;
  return thread;
}

QuoteCallbacks Table() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_table;
}

void Log(const std::string& line) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_calls += line + "\n";
}

std::string Text(const TextView& text) {
  return text.data == nullptr ? "" : std::string(text.data, strnlen(text.data, text.size));
}

std::string Codes(const TextList* codes) {
  if (codes == nullptr) return "(null)";
  std::string joined;
  for (int64_t i = 0; i < codes->count; ++i) joined += (i ? "," : "") + Text(codes->items[i]);
  return joined;
}

void Deliver(int32_t reqId, const std::string& type, const std::string& payload) {
  QuoteCallbacks table = Table();
  int64_t sequence;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    sequence = ++g_sequence;
  }
  if (table.onData != nullptr) {
    table.onData(reqId, sequence, 0, type.c_str(), payload.data(),
                 static_cast<int32_t>(payload.size()));
  }
}

}  // namespace

FAKE_VENDOR_API int64_t LibQuote_Init(void) {
  Thread();
  Log("LibQuote_Init");
  return 101;
}

FAKE_VENDOR_API void Set_QCallbackInterface(const QuoteCallbacks* table) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_table = table != nullptr ? *table : QuoteCallbacks{};
  g_calls += "Set_QCallbackInterface\n";
}

FAKE_VENDOR_API int64_t LibQuote_ReqUserLogin(int64_t mode, const TextView* param) {
  Log("LibQuote_ReqUserLogin " + std::to_string(mode) + " " +
      (param != nullptr ? Text(*param) : "(null)"));
  Thread().Post([] {
    if (auto onLogin = Table().onLogin) onLogin(77, 0);
  });
  return 102;
}

FAKE_VENDOR_API int64_t LibQuote_ReqSubscribe(int64_t reqId, int64_t kinds, const TextList* codes) {
  Log("LibQuote_ReqSubscribe " + std::to_string(reqId) + " " + std::to_string(kinds) + " " +
      Codes(codes));
  Thread().Post([reqId] {
    if (auto onSubscribe = Table().onSubscribe) {
      onSubscribe(static_cast<int32_t>(reqId), 0, "vendor: subscribed");
    }
  });
  return 1000 + reqId;
}

FAKE_VENDOR_API int64_t LibQuote_ReqUnsubscribe(int64_t reqId, const TextList* codes) {
  Log("LibQuote_ReqUnsubscribe " + std::to_string(reqId) + " " + Codes(codes));
  Thread().Post([reqId] {
    if (auto onUnsubscribe = Table().onUnsubscribe) {
      onUnsubscribe(static_cast<int32_t>(reqId), 0, "vendor: unsubscribed");
    }
  });
  return 2000 + reqId;
}

FAKE_VENDOR_API void FakeVendor_Send(int32_t reqId, const char* type, const char* payload,
                                     int32_t length) {
  VendorThread& thread = Thread();
  thread.Post([&thread, reqId, type = std::string(type), bytes = std::string(payload, length)] {
    Deliver(reqId, type, bytes);
    {
      std::lock_guard<std::mutex> hold(thread.mutex_);
      ++thread.delivered_;
    }
    thread.wake_.notify_all();
  });
}

std::atomic<int64_t> g_sentAt{0};

FAKE_VENDOR_API void FakeVendor_SendHere(int32_t reqId, const char* type, const char* payload,
                                         int32_t length, int64_t count) {
  QuoteCallbacks table = Table();
  if (table.onData == nullptr) return;
  for (int64_t sequence = 1; sequence <= count; ++sequence) {
    g_sentAt.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count(),
                   std::memory_order_relaxed);
    table.onData(reqId, sequence, 0, type, payload, length);
  }
}

FAKE_VENDOR_API int64_t FakeVendor_SentAt() { return g_sentAt.load(std::memory_order_relaxed); }

FAKE_VENDOR_API int FakeVendor_WaitSent(int64_t count, int64_t timeoutMs) {
  VendorThread& thread = Thread();
  std::unique_lock<std::mutex> lock(thread.mutex_);
  return thread.wake_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return thread.delivered_ >= count; })
             ? 1
             : 0;
}

FAKE_VENDOR_API size_t FakeVendor_Calls(char* out, size_t capacity) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (capacity > 0) {
    size_t length = std::min(capacity - 1, g_calls.size());
    std::memcpy(out, g_calls.data(), length);
    out[length] = '\0';
  }
  return g_calls.size();
}

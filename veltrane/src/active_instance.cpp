#include "active_instance.h"

#include <linux/membarrier.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <new>
#include <thread>

std::atomic<TraderApiGo*> g_pTraderApi{nullptr};
std::atomic<int> conf_merge_position{0};

namespace veltrane {

// Each thread that runs callbacks has a record whose phase is odd while the
// thread is inside a callback. Entering and leaving cost a plain store each,
// with no cache line shared between threads; a retirement pays instead, by
// making every running thread pass a full barrier (membarrier) and reading
// every record. Where the kernel refuses membarrier, entering takes a locked
// exchange instead.
struct CallbackScope::ThreadRecord {
  // Grows by one at each entry into and exit from the thread's outermost scope.
  std::atomic<uint64_t> phase{0};
  unsigned depth = 0;  // scopes the owning thread holds
  std::atomic<bool> inUse{true};
  ThreadRecord* next = nullptr;  // fixed once the record is published
};

namespace {

using ThreadRecord = CallbackScope::ThreadRecord;

// Records are never freed: a retirement may be reading one while its thread
// ends. A thread that ends hands its record to the next new thread.
std::atomic<ThreadRecord*> g_records{nullptr};
thread_local ThreadRecord* t_record = nullptr;

bool RegisterForMembarrier() {
#ifdef VELTRANE_LOCKED_CALLBACK_ENTRY
  return false;  // a test build of the fallback
#else
  return syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
#endif
}

const bool g_membarrier = RegisterForMembarrier();

pthread_key_t g_recordKey;

void ReleaseRecord(void* record) {
  t_record = nullptr;
  static_cast<ThreadRecord*>(record)->inUse.store(false, std::memory_order_release);
}

const bool g_recordKeyCreated = pthread_key_create(&g_recordKey, ReleaseRecord) == 0;

// This thread's record, taken over from an ended thread or made new; null
// only when memory has run out.
ThreadRecord* AcquireRecord() noexcept {
  ThreadRecord* record = nullptr;
  for (ThreadRecord* r = g_records.load(std::memory_order_acquire); r != nullptr; r = r->next) {
    bool used = false;
    if (!r->inUse.load(std::memory_order_relaxed) &&
        r->inUse.compare_exchange_strong(used, true, std::memory_order_acquire)) {
      record = r;
      break;
    }
  }
  if (record == nullptr) {
    record = new (std::nothrow) ThreadRecord;
    if (record == nullptr) return nullptr;
    ThreadRecord* head = g_records.load(std::memory_order_relaxed);
    do {
      record->next = head;
    } while (!g_records.compare_exchange_weak(head, record, std::memory_order_release,
                                              std::memory_order_relaxed));
  }
  // Without the key the record is never handed on, which wastes it but is safe.
  if (g_recordKeyCreated) pthread_setspecific(g_recordKey, record);
  t_record = record;
  return record;
}

}  // namespace

void PublishInstance(TraderApiGo* api) { g_pTraderApi.store(api); }

void RetireInstance(TraderApiGo* api) {
  TraderApiGo* expected = api;
  // Either a callback's entry is seen below, or that callback reads the
  // pointer as it is from here on. Without membarrier, the callbacks' locked
  // exchanges and this exchange order themselves.
  g_pTraderApi.compare_exchange_strong(expected, nullptr);
  if (g_membarrier && syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) != 0) {
    // Not seen once registration has succeeded. An entry still held in a
    // processor's store buffer becomes visible long before this ends.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (ThreadRecord* r = g_records.load(std::memory_order_acquire); r != nullptr; r = r->next) {
    if (r == t_record) continue;  // a callback that destroys the object
    const uint64_t phase = r->phase.load();
    // Only the callback running now is waited for: a thread that takes event
    // after event changes phase each time, so it cannot keep us here.
    if ((phase & 1) != 0) {
      while (r->phase.load() == phase) std::this_thread::yield();
    }
  }
}

CallbackScope::CallbackScope() noexcept
    : record_(t_record != nullptr ? t_record : AcquireRecord()), api_(nullptr) {
  if (record_ == nullptr) return;  // no memory for a record: the event is dropped
  if (record_->depth++ == 0) {
    const uint64_t inside = record_->phase.load(std::memory_order_relaxed) + 1;
    if (g_membarrier) {
      // The retirement's membarrier stands in for a barrier here.
      record_->phase.store(inside, std::memory_order_relaxed);
      std::atomic_signal_fence(std::memory_order_seq_cst);
    } else {
      record_->phase.exchange(inside);  // locked: the load below cannot pass it
    }
  }
  api_ = g_pTraderApi.load();
}

CallbackScope::~CallbackScope() {
  if (record_ != nullptr && --record_->depth == 0) {
    record_->phase.store(record_->phase.load(std::memory_order_relaxed) + 1,
                         std::memory_order_release);
  }
}

}  // namespace veltrane

// The queue between the outside libraries' threads and Python, its
// producer (the spi) and its consumer (the dispatcher thread).

#include "event_bridge.h"

#include <sys/resource.h>

#include <atomic>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "event_dicts.h"
#include "quant_callback.h"

namespace ombrel {
namespace {

using namespace Corvane;

// Events are kept in blocks that are allocated while the queue is deeper
// than it has ever been and reused after: allocating on a library thread and
// freeing on the dispatcher would cost both threads the allocator's locks,
// and fresh memory its page faults, at every event of a burst.
constexpr size_t kBlockEvents = 256;
struct EventBlock {
  BridgeEvent events[kBlockEvents];
  size_t count = 0;
};

// How long the dispatcher looks for new events before it sleeps. On a core
// of its own a spin pays: waking a sleeping thread costs the producer a
// system call and the event several microseconds. On busy cores it does not:
// a spinner uses up its share of the core and, once preempted, waits out
// other processes' time slices, while a thread that mostly sleeps is woken
// ahead of them. So the dispatcher spins (up to 50 µs, then yields a few
// times) only while the scheduler rarely takes its core away. Measured on
// two cores, a spinning thread is preempted about 25 times a second beside
// one other spinner and about 130 times beside three: 16 involuntary
// context switches (which a hypervisor's pauses are not) in a quarter of a
// second make it sleep at once for the next two seconds, after which it
// tries spinning again.
constexpr std::chrono::nanoseconds kSpin{std::chrono::microseconds(50)};
constexpr std::chrono::nanoseconds kSpinWindow{std::chrono::milliseconds(250)};
constexpr long kBusyPreemptions = 16;  // in one window of spinning
constexpr std::chrono::nanoseconds kSleepOnly{std::chrono::seconds(2)};
constexpr unsigned kYields = 4;

// Created at module load and never destroyed: library threads may still
// queue events while the process exits. The queue is first in, first out:
// producers fill the last block of `filled`, and the dispatcher takes all of
// them at once by swapping in its own emptied list, then hands the blocks
// back once delivered.
struct EventQueue {
  boost::mutex mutex;
  boost::condition_variable ready;
  std::vector<EventBlock*> filled;   // in queue order
  std::vector<EventBlock*> spare;    // its capacity holds every block
  size_t blocks = 0;                 // allocated so far
  std::atomic<bool> pending{false};  // `filled` holds an event; read while spinning
  bool dispatcherWaiting = false;    // the dispatcher sleeps on `ready`
  bool stopRequested = false;        // the dispatcher is to end
  bool closed = false;               // events are dropped, not queued
  // The bound of SetEventQueueLimit: producers wait while the events queued
  // and not yet delivered reach it; 0 for none. The two counts have one
  // writer each (producers under the mutex; the dispatcher) and a cache line
  // each, so that counting costs a burst no line passed between the cores.
  std::atomic<size_t> limit{0};
  size_t queued = 0;
  alignas(64) std::atomic<size_t> delivered{0};
  alignas(64) std::atomic<int> producersWaiting{0};
  boost::condition_variable room;
};

EventQueue& Queue() {
  static EventQueue* const queue = new EventQueue;
  return *queue;
}

// The delivery target and the dispatcher; read and written only with the
// interpreter lock held.
PyObject* g_callbackObject = nullptr;  // owned reference
QuantCallBack* g_callback = nullptr;   // the native object inside it
boost::thread* g_dispatcher = nullptr;
bool g_stopping = false;

// Ends the records of `block`'s events (a subscription answer's codes are
// freed here, on the dispatcher) and empties it.
void Empty(EventBlock& block) noexcept {
  for (size_t i = 0; i < block.count; ++i) block.events[i].record.emplace<kEventKindCount>();
  block.count = 0;
}

// The slot for the next event: the first free one of the last block, else
// one of a spare block, else of a new one. Needs the queue's mutex; null
// when there is no memory for a new block.
BridgeEvent* NextSlot(EventQueue& queue) noexcept {
  if (queue.filled.empty() || queue.filled.back()->count == kBlockEvents) {
    try {
      // Room first, so that nothing can fail once a block is taken.
      if (queue.filled.size() == queue.filled.capacity()) {
        queue.filled.reserve(queue.filled.size() * 2 + 16);
      }
      if (queue.spare.empty()) {
        if (queue.spare.capacity() <= queue.blocks) queue.spare.reserve(2 * queue.blocks + 16);
        queue.spare.push_back(new EventBlock);
        ++queue.blocks;
      }
    } catch (...) {
      return nullptr;
    }
    queue.filled.push_back(queue.spare.back());
    queue.spare.pop_back();
  }
  EventBlock& block = *queue.filled.back();
  return &block.events[block.count];
}

// A producer that holds the interpreter lock (the dispatcher itself, or a
// library calling back inside a request made from Python) would wait for a
// delivery that cannot start.
bool MayWait() noexcept { return Py_IsInitialized() && PyGILState_Check() == 0; }

// Waits, with the queue's mutex held in `hold`, until fewer events than the
// limit are outstanding or the queue is closed.
void WaitForRoom(EventQueue& queue, boost::unique_lock<boost::mutex>& hold) {
  queue.producersWaiting.fetch_add(1);
  while (!queue.closed) {
    const size_t limit = queue.limit.load();
    if (limit == 0 || queue.queued - queue.delivered.load() < limit) break;
    queue.room.wait(hold);
  }
  queue.producersWaiting.fetch_sub(1);
}

// After each delivery: one more delivered, and a waiting producer told so.
// The count rises before the waiters are looked at, and a waiter counts
// itself before it looks at the count, so one of the two sees the other.
void Delivered(EventQueue& queue) {
  queue.delivered.store(queue.delivered.load(std::memory_order_relaxed) + 1);
  if (queue.producersWaiting.load() > 0) {
    boost::lock_guard<boost::mutex> hold(queue.mutex);
    queue.room.notify_all();
  }
}

// Producers. None throws: an event that cannot be queued (no memory) is
// dropped rather than unwinding into the library's thread. The record is
// made in its slot under the queue's mutex, so the copy and the append are
// one step. Kinds without a record of their own pass none.
template <EventKind kKind, class... Record>
void Publish(const EventFields& beside, Record&&... record) noexcept {
  constexpr size_t kIndex = static_cast<size_t>(kKind);
  static_assert(!std::is_same_v<RecordOf<kKind>, NotQueued>, "a kind that is never queued");
  EventQueue& queue = Queue();
  bool wake = false;
  try {
    boost::unique_lock<boost::mutex> hold(queue.mutex);
    if (queue.closed) return;
    BridgeEvent* slot = NextSlot(queue);
    if (slot == nullptr) return;
    try {
      slot->record.emplace<kIndex>(std::forward<Record>(record)...);
    } catch (...) {
      slot->record.emplace<kEventKindCount>();
      return;
    }
    static_cast<EventFields&>(*slot) = beside;
    ++queue.filled.back()->count;
    queue.pending.store(true, std::memory_order_release);
    wake = queue.dispatcherWaiting;
    ++queue.queued;
    const size_t limit = queue.limit.load(std::memory_order_relaxed);
    if (limit != 0 && queue.queued - queue.delivered.load() >= limit && MayWait()) {
      if (wake) queue.ready.notify_one();
      wake = false;
      WaitForRoom(queue, hold);
    }
  } catch (...) {
    return;
  }
  if (wake) queue.ready.notify_one();
}

// Queues a copy of `record`; the library's pointer is not kept. An event
// without its record is not queued.
template <EventKind kKind, class Record>
void PublishCopy(const EventFields& beside, const Record* record) noexcept {
  static_assert(std::is_same_v<Record, RecordOf<kKind>>, "the record of the event's kind");
  if (record != nullptr) Publish<kKind>(beside, *record);
}

EventFields Beside(int32_t errorId = 0, bool isLast = true) {
  EventFields fields;
  fields.nErrorId = errorId;
  fields.bIsLast = isLast;
  return fields;
}

// Each kind's spi operation is the module's own.
#define OMBREL_CHECK_SPI_OPERATION(Name, Record, SpiOperation, ...)             \
  static_assert(!std::is_same_v<decltype(&CCallback::SpiOperation),             \
                                decltype(&Corvane::ZR_QuantSpi::SpiOperation)>, \
                "CCallback overrides " #SpiOperation);
OMBREL_EVENT_MAP(OMBREL_CHECK_SPI_OPERATION)
#undef OMBREL_CHECK_SPI_OPERATION

// The native operation that calls each kind's Python method, and whether the
// method's "errorid" and "isend" come from the event.
struct KindDelivery {
  void (QuantCallBack::*call)();
  bool statusFromEvent;
};
constexpr KindDelivery kDeliveries[kEventKindCount] = {
#define OMBREL_DELIVERY(Name, Record, SpiOperation, Status, ...) \
  {&QuantCallBack::Rtn##Name, EventStatus::Status == EventStatus::kFromEvent},
    OMBREL_EVENT_MAP(OMBREL_DELIVERY)
#undef OMBREL_DELIVERY
};

// Prints the pending Python error the way an uncaught exception is printed
// (through sys.excepthook), after a line that names the event, and clears it.
void ReportFailure(EventKind kind, const char* what) {
  PyObject* type;
  PyObject* value;
  PyObject* traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
  PySys_WriteStderr("Exception in Ombrel's dispatcher thread, %s %s:\n", what,
                    kCallbackMethodNames[static_cast<int>(kind)]);
  PyObject* hook = PySys_GetObject("excepthook");
  PyObject* result = hook == nullptr ? nullptr
                                     : PyObject_CallFunctionObjArgs(
                                           hook, type, value != nullptr ? value : Py_None,
                                           traceback != nullptr ? traceback : Py_None, nullptr);
  if (result == nullptr) {
    PyErr_Clear();
    PyErr_Display(type, value, traceback);
  }
  Py_XDECREF(result);
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
}

// Fills the target's attributes from `event` and calls its method. An event
// whose dictionary cannot be made is not delivered.
void Deliver(const BridgeEvent& event) {
  const EventKind kind = event.Kind();
  if (static_cast<int>(kind) >= kEventKindCount || g_callback == nullptr) return;
  const KindDelivery& delivery = kDeliveries[static_cast<int>(kind)];
  // Held for the whole delivery: code that runs while the dict is refilled
  // (a value's finaliser) may call the factory and replace the target.
  PyObject* target = g_callbackObject;
  QuantCallBack* callback = g_callback;
  Py_INCREF(target);
  PyObject* dict = callback->rspdict.ptr();
  Py_INCREF(dict);
  callback->errorid = 0;
  callback->isend = false;
  if (!FillEventDict(dict, event)) {
    ReportFailure(kind, "making the dictionary for");
  } else {
    if (delivery.statusFromEvent) {
      callback->errorid = event.nErrorId;
      callback->isend = event.bIsLast;
    }
    (callback->*delivery.call)();
    if (PyErr_Occurred() != nullptr) ReportFailure(kind, "in");
  }
  Py_DECREF(dict);
  Py_DECREF(target);
}

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// The dispatcher's wait before it sleeps: a spin and a few yields while the
// cores are not busy (see kSpin), else none.
class Waiter {
 public:
  // Returns with an event pending, or when the dispatcher is to sleep.
  void AwaitPending(const EventQueue& queue) {
    if (queue.pending.load(std::memory_order_acquire)) return;
    const Clock::time_point start = Clock::now();
    if (start >= periodEnds_) Review(start);
    if (!spinning_) return;
    for (unsigned i = 1; !queue.pending.load(std::memory_order_acquire); ++i) {
      Pause();
      if (i % 64 == 0 && Clock::now() - start > kSpin) break;
    }
    for (unsigned i = 0; i < kYields && !queue.pending.load(std::memory_order_acquire); ++i) {
      boost::this_thread::yield();
    }
  }

 private:
  using Clock = std::chrono::steady_clock;

  // The calling thread's involuntary context switches so far.
  static long Preemptions() {
    rusage usage{};
    return getrusage(RUSAGE_THREAD, &usage) == 0 ? usage.ru_nivcsw : 0;
  }

  // At the end of a period: a window of spinning that was preempted often
  // is followed by sleeping only; anything else by a window of spinning.
  void Review(Clock::time_point now) {
    const long preemptions = Preemptions();
    spinning_ = !(spinning_ && preemptions - preemptionsAtStart_ >= kBusyPreemptions);
    periodEnds_ = now + (spinning_ ? kSpinWindow : kSleepOnly);
    preemptionsAtStart_ = preemptions;
  }

  bool spinning_ = true;
  Clock::time_point periodEnds_ = Clock::now() + kSpinWindow;
  long preemptionsAtStart_ = Preemptions();
};

// Hands the blocks of delivered events back, then waits for events and
// moves all of them into `batch`. False once the dispatcher is to end.
bool TakeEvents(Waiter& waiter, std::vector<EventBlock*>& batch, std::vector<EventBlock*>& spent) {
  EventQueue& queue = Queue();
  waiter.AwaitPending(queue);
  boost::unique_lock<boost::mutex> hold(queue.mutex);
  // Within `spare`'s capacity, which counts every block: no allocation.
  queue.spare.insert(queue.spare.end(), spent.begin(), spent.end());
  spent.clear();
  while (queue.filled.empty() && !queue.stopRequested) {
    queue.dispatcherWaiting = true;
    queue.ready.wait(hold);
    queue.dispatcherWaiting = false;
  }
  if (queue.stopRequested) return false;
  batch.swap(queue.filled);
  queue.pending.store(false, std::memory_order_relaxed);
  return true;
}

// Delivers the events of `batch` in order, with the interpreter lock held,
// and empties its blocks into `spent`. False when the dispatcher was stopped
// meanwhile (the rest of the batch is dropped).
bool DeliverBatch(std::vector<EventBlock*>& batch, std::vector<EventBlock*>& spent) {
  bool running = true;
  for (EventBlock* block : batch) {
    for (size_t i = 0; i < block->count && running; ++i) {
      running = !g_stopping;
      if (running) {
        Deliver(block->events[i]);
        Delivered(Queue());
      }
    }
    Empty(*block);
  }
  spent.swap(batch);
  return running;
}

// The dispatcher thread. It keeps one Python thread state for its whole life
// and holds the interpreter lock only while it delivers queued events.
void DispatchLoop() noexcept {
  const PyGILState_STATE outer = PyGILState_Ensure();
  PyThreadState* const thread = PyEval_SaveThread();
  std::vector<EventBlock*> batch;
  std::vector<EventBlock*> spent;
  Waiter waiter;
  for (;;) {
    bool running = false;
    try {
      running = TakeEvents(waiter, batch, spent);
      if (running) {
        PyEval_RestoreThread(thread);
        running = DeliverBatch(batch, spent);
        PyEval_SaveThread();
      }
    } catch (...) {
      // Only a broken mutex or a full memory gets here; nothing more can be
      // delivered.
    }
    if (!running) break;
  }
  PyEval_RestoreThread(thread);
  PyGILState_Release(outer);
}

}  // namespace

CCallback& g_spi() {
  static CCallback* const spi = new CCallback;
  return *spi;
}

void CCallback::OnConnect(int nSrvType) {
  EventFields beside = Beside();
  beside.nSrvType = nSrvType;
  Publish<EventKind::kConnect>(beside);
}

// Disconnections never reach Python.
void CCallback::OnDisconnect(int) {}

void CCallback::OnRtnUserInfo(ZR_QuantUserBase* pUser) {
  PublishCopy<EventKind::kUserInfo>(Beside(), pUser);
}

void CCallback::OnRtnLoginWarn(int nErrorId) {
  std::fputs("Login Error \n", stdout);
  std::fflush(stdout);
  Publish<EventKind::kLoginWarn>(Beside(nErrorId));
}

void CCallback::OnRspOrderInsert(TD_RspOrderInsert* pRsp, int nErrorId) {
  PublishCopy<EventKind::kRspOrderInsert>(Beside(nErrorId), pRsp);
}

void CCallback::OnRspOrderDelete(TD_ReqOrderDelete* pRsp, int nErrorId) {
  PublishCopy<EventKind::kRspOrderDelete>(Beside(nErrorId), pRsp);
}

void CCallback::OnRspQryOrder(TD_RspQryOrder* pRsp, int nErrorId, bool bIsLast) {
  PublishCopy<EventKind::kRspQryOrder>(Beside(nErrorId, bIsLast), pRsp);
}

void CCallback::OnRspQryMatch(TD_RspQryMatch* pRsp, int nErrorId, bool bIsLast) {
  PublishCopy<EventKind::kRspQryMatch>(Beside(nErrorId, bIsLast), pRsp);
}

void CCallback::OnRspQryPosition(TD_RspQryPosition* pRsp, int nErrorId, bool bIsLast) {
  PublishCopy<EventKind::kRspQryPosition>(Beside(nErrorId, bIsLast), pRsp);
}

// The capital answer is always a single row, whatever its flag says.
void CCallback::OnRspQryAccountMaxEntrustCount(TD_RspQryAccountMaxEntrustCount* pRsp, int nErrorId,
                                               bool) {
  PublishCopy<EventKind::kQryAccountMaxEntrustCount>(Beside(nErrorId), pRsp);
}

void CCallback::OnRtnOrderStatusChangeNotice(TD_RspOrderInsert* pNotice) {
  PublishCopy<EventKind::kOrderStatusChangeNotice>(Beside(), pNotice);
}

void CCallback::OnRtnOrderMatchNotice(TD_RtnOrderMatchNotice* pNotice) {
  PublishCopy<EventKind::kOrderMatchNotice>(Beside(), pNotice);
}

// A refused subscription must not look like success: the answer's error id
// and text travel with it.
void CCallback::OnRspSubQuote(int nReqID, int, int, const char (*pCodes)[32], int nCount,
                              const char*, const char*, int nErrorId, const char* errDesc) {
  EventFields beside = Beside(nErrorId);
  beside.nEventReqID = nReqID;
  SubQuoteResult result;
  try {
    if (pCodes != nullptr) {
      for (int i = 0; i < nCount; ++i) result.codes.emplace_back(pCodes[i], strnlen(pCodes[i], 32));
    }
    if (errDesc != nullptr) result.errDesc = errDesc;
  } catch (...) {
    return;  // no memory for the codes: the answer is dropped
  }
  Publish<EventKind::kRspSubQuote>(beside, std::move(result));
}

void CCallback::OnRtnMarket(int nReqID, MD_Market* pMarket) {
  EventFields beside = Beside();
  beside.nEventReqID = nReqID;
  PublishCopy<EventKind::kMarket>(beside, pMarket);
}

void CCallback::OnRtnTransaction(int nReqID, MD_Transaction* pTrans) {
  EventFields beside = Beside();
  beside.nEventReqID = nReqID;
  PublishCopy<EventKind::kTransaction>(beside, pTrans);
}

void DeliverTo(PyObject* callbackObject, QuantCallBack* callback) {
  PyObject* previous = g_callbackObject;
  Py_INCREF(callbackObject);
  g_callbackObject = callbackObject;
  g_callback = callback;
  Py_XDECREF(previous);
  if (g_dispatcher == nullptr && !g_stopping) g_dispatcher = new boost::thread(DispatchLoop);
}

void SetEventQueueLimit(size_t limit) {
  EventQueue& queue = Queue();
  boost::lock_guard<boost::mutex> hold(queue.mutex);
  queue.limit.store(limit);
  queue.room.notify_all();
}

void StopDispatcher() {
  if (g_stopping) return;
  g_stopping = true;
  EventQueue& queue = Queue();
  {
    boost::lock_guard<boost::mutex> hold(queue.mutex);
    queue.stopRequested = true;
    queue.closed = true;
    for (EventBlock* block : queue.filled) {
      Empty(*block);
      queue.spare.push_back(block);
    }
    queue.filled.clear();
  }
  queue.ready.notify_all();
  queue.room.notify_all();
  // From inside a handler the dispatcher ends by itself after this event.
  if (g_dispatcher != nullptr && g_dispatcher->get_id() != boost::this_thread::get_id()) {
    PyThreadState* const waiting = PyEval_SaveThread();
    g_dispatcher->join();
    PyEval_RestoreThread(waiting);
  }
  g_callback = nullptr;
  Py_CLEAR(g_callbackObject);
}

}  // namespace ombrel

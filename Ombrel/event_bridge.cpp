// The queue between the outside libraries' threads and Python, its
// producer (the spi) and its consumer (the dispatcher thread).

#include "event_bridge.h"

#include <algorithm>
#include <atomic>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "event_dicts.h"
#include "quant_callback.h"

namespace ombrel {
namespace {

using namespace Corvane;

// Record copies live in slots of one size that the dispatcher hands back to
// the producers. Allocating on a library thread and freeing on the dispatcher
// would make both threads fight over the allocator's locks at every event.
constexpr size_t kSlotSize =
    std::max({sizeof(ZR_QuantUserBase), sizeof(TD_RspQryOrder), sizeof(TD_ReqOrderDelete),
              sizeof(TD_RspQryMatch), sizeof(TD_RspQryPosition), sizeof(SubQuoteResult),
              sizeof(MD_Market), sizeof(MD_Transaction), sizeof(TD_RspQryAccountMaxEntrustCount)});
struct alignas(std::max_align_t) RecordSlot {
  unsigned char bytes[kSlotSize];
};
// Slots kept for reuse beyond this many are freed, so that a burst does not
// hold its memory for ever.
constexpr size_t kSpareSlotLimit = 16384;
// How long the dispatcher looks for new events before it sleeps: waking a
// sleeping thread costs the producer a system call and the event several
// microseconds.
constexpr std::chrono::microseconds kSpinBeforeSleep{50};

// Created at module load and never destroyed: library threads may still
// queue events while the process exits. The queue is first in, first out:
// producers append to `events`, and the dispatcher takes all of them at
// once by swapping in its own emptied vector, so neither side allocates in
// the steady state.
struct EventQueue {
  boost::mutex mutex;
  boost::condition_variable ready;
  std::vector<BridgeEvent> events;
  std::vector<RecordSlot*> spareSlots;
  std::atomic<bool> pending{false};  // `events` is not empty; read while spinning
  bool dispatcherWaiting = false;    // the dispatcher sleeps on `ready`
  bool stopRequested = false;        // the dispatcher is to end
  bool closed = false;               // events are dropped, not queued
};

EventQueue* NewQueue() {
  auto* queue = new EventQueue;
  queue->spareSlots.reserve(kSpareSlotLimit);
  return queue;
}

EventQueue& Queue() {
  static EventQueue* const queue = NewQueue();
  return *queue;
}

// The delivery target and the dispatcher; read and written only with the
// interpreter lock held.
PyObject* g_callbackObject = nullptr;  // owned reference
QuantCallBack* g_callback = nullptr;   // the native object inside it
boost::thread* g_dispatcher = nullptr;
bool g_stopping = false;

template <class Record>
void Destroy(void* record) {
  static_cast<Record*>(record)->~Record();
}

// Ends the life of the record of `event` and returns its slot (null when
// there is none).
RecordSlot* DestroyRecord(BridgeEvent& event) noexcept {
  void* record = event.pRecord;
  if (record == nullptr) return nullptr;
  switch (event.nEventType) {
    case kEventUserInfo:
      Destroy<ZR_QuantUserBase>(record);
      break;
    case kEventRspOrderInsert:
    case kEventOrderStatusChange:
      Destroy<TD_RspOrderInsert>(record);
      break;
    case kEventRspOrderDelete:
      Destroy<TD_ReqOrderDelete>(record);
      break;
    case kEventRspQryOrder:
      Destroy<TD_RspQryOrder>(record);
      break;
    case kEventRspQryMatch:
      Destroy<TD_RspQryMatch>(record);
      break;
    case kEventRspQryPosition:
      Destroy<TD_RspQryPosition>(record);
      break;
    case kEventRspSubQuote:
      Destroy<SubQuoteResult>(record);
      break;
    case kEventOrderMatch:
      Destroy<TD_RtnOrderMatchNotice>(record);
      break;
    case kEventAccountCapital:
      Destroy<TD_RspQryAccountMaxEntrustCount>(record);
      break;
    default:  // the market records have nothing to destroy
      break;
  }
  event.pRecord = nullptr;
  return static_cast<RecordSlot*>(record);
}

// Keeps `slots` for reuse, up to the limit, and frees the rest. Needs the
// queue's mutex.
void SpareSlots(EventQueue& queue, std::vector<RecordSlot*>& slots) noexcept {
  for (RecordSlot* slot : slots) {
    if (queue.spareSlots.size() < kSpareSlotLimit) {
      queue.spareSlots.push_back(slot);
    } else {
      delete slot;
    }
  }
  slots.clear();
}

// Producers. None throws: an event that cannot be queued (no memory) is
// dropped rather than unwinding into the library's thread. `place` puts the
// event's record, if it has one, into a slot; it runs under the queue's
// mutex, so the copy and the append are one step.
template <class Place>
void Publish(BridgeEvent event, Place place) noexcept {
  EventQueue& queue = Queue();
  bool wake = false;
  try {
    boost::lock_guard<boost::mutex> hold(queue.mutex);
    if (queue.closed) return;
    // Grown before the copy, so that the append cannot fail after it.
    if (queue.events.size() == queue.events.capacity()) {
      queue.events.reserve(queue.events.size() * 2 + 256);
    }
    event.pRecord = place(queue);
    queue.events.push_back(event);
    queue.pending.store(true, std::memory_order_release);
    wake = queue.dispatcherWaiting;
  } catch (...) {
    return;
  }
  if (wake) queue.ready.notify_one();
}

void PublishPlain(BridgeEvent event) noexcept {
  Publish(event, [](EventQueue&) -> void* { return nullptr; });
}

// Queues `event` with a copy of `record`; the library's pointer is not kept.
// An event without its record is not queued.
template <class Record>
void PublishCopy(BridgeEvent event, const Record* record) noexcept {
  static_assert(sizeof(Record) <= kSlotSize, "every record fits a slot");
  if (record == nullptr) return;
  Publish(event, [record](EventQueue& queue) -> void* {
    RecordSlot* slot;
    if (queue.spareSlots.empty()) {
      slot = new RecordSlot;
    } else {
      slot = queue.spareSlots.back();
      queue.spareSlots.pop_back();
    }
    try {
      return new (slot) Record(*record);
    } catch (...) {
      delete slot;
      throw;
    }
  });
}

BridgeEvent EventOf(EventCode code, int32_t errorId = 0, bool isLast = true) {
  BridgeEvent event;
  event.nEventType = code;
  event.nErrorId = errorId;
  event.bIsLast = isLast;
  return event;
}

// The Python method of each event code (index 0 unused): the operation that
// calls it and its name.
struct MethodOfCode {
  void (QuantCallBack::*call)();
  CallbackMethod name;
};
constexpr MethodOfCode kMethodOfCode[] = {
    {nullptr, kRtnConnect},
    {&QuantCallBack::RtnConnect, kRtnConnect},
    {&QuantCallBack::RtnUserInfo, kRtnUserInfo},
    {&QuantCallBack::RtnLoginWarn, kRtnLoginWarn},
    {&QuantCallBack::RtnRspOrderInsert, kRtnRspOrderInsert},
    {&QuantCallBack::RtnRspOrderDelete, kRtnRspOrderDelete},
    {&QuantCallBack::RtnRspQryOrder, kRtnRspQryOrder},
    {&QuantCallBack::RtnRspQryMatch, kRtnRspQryMatch},
    {&QuantCallBack::RtnRspQryPosition, kRtnRspQryPosition},
    {&QuantCallBack::RtnRspSubQuote, kRtnRspSubQuote},
    {&QuantCallBack::RtnOrderStatusChangeNotice, kRtnOrderStatusChangeNotice},
    {&QuantCallBack::RtnOrderMatchNotice, kRtnOrderMatchNotice},
    {&QuantCallBack::RtnMarket, kRtnMarket},
    {&QuantCallBack::RtnTransaction, kRtnTransaction},
    {&QuantCallBack::RtnQryAccountMaxEntrustCount, kRtnQryAccountMaxEntrustCount},
};

// Prints the pending Python error the way an uncaught exception is printed
// (through sys.excepthook), after a line that names the event, and clears it.
void ReportFailure(int32_t code, const char* what) {
  PyObject* type;
  PyObject* value;
  PyObject* traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
  PySys_WriteStderr("Exception in Ombrel's dispatcher thread, %s %s:\n", what,
                    kCallbackMethodNames[kMethodOfCode[code].name]);
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
  const int32_t code = event.nEventType;
  if (code < kEventConnect || code > kEventAccountCapital || g_callback == nullptr) return;
  if (code != kEventConnect && code != kEventLoginWarn && event.pRecord == nullptr) return;
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
    ReportFailure(code, "making the dictionary for");
  } else {
    if (code >= kEventRspOrderInsert) {
      callback->errorid = event.nErrorId;
      callback->isend = event.bIsLast;
    }
    (callback->*kMethodOfCode[code].call)();
    if (PyErr_Occurred() != nullptr) ReportFailure(code, "in");
  }
  Py_DECREF(dict);
  Py_DECREF(target);
}

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Hands the slots of delivered events back, then waits for events and moves
// all of them into `batch`. False once the dispatcher is to end.
bool TakeEvents(std::vector<BridgeEvent>& batch, std::vector<RecordSlot*>& spent) {
  EventQueue& queue = Queue();
  const auto spinEnds = std::chrono::steady_clock::now() + kSpinBeforeSleep;
  for (unsigned i = 1; !queue.pending.load(std::memory_order_acquire); ++i) {
    Pause();
    if (i % 64 == 0 && std::chrono::steady_clock::now() > spinEnds) break;
  }
  boost::unique_lock<boost::mutex> hold(queue.mutex);
  SpareSlots(queue, spent);
  while (queue.events.empty() && !queue.stopRequested) {
    queue.dispatcherWaiting = true;
    queue.ready.wait(hold);
    queue.dispatcherWaiting = false;
  }
  if (queue.stopRequested) return false;
  batch.swap(queue.events);
  queue.pending.store(false, std::memory_order_relaxed);
  return true;
}

// Delivers the events of `batch` in order, with the interpreter lock held,
// and ends their records, collecting the slots in `spent`. False when the
// dispatcher was stopped meanwhile (the rest of the batch is dropped).
bool DeliverBatch(std::vector<BridgeEvent>& batch, std::vector<RecordSlot*>& spent) {
  bool running = true;
  for (BridgeEvent& event : batch) {
    running = running && !g_stopping;
    if (running) Deliver(event);
    if (RecordSlot* slot = DestroyRecord(event)) spent.push_back(slot);
  }
  batch.clear();
  return running;
}

// The dispatcher thread. It keeps one Python thread state for its whole life
// and holds the interpreter lock only while it delivers queued events.
void DispatchLoop() noexcept {
  const PyGILState_STATE outer = PyGILState_Ensure();
  PyThreadState* const thread = PyEval_SaveThread();
  std::vector<BridgeEvent> batch;
  std::vector<RecordSlot*> spent;
  for (;;) {
    bool running = false;
    try {
      running = TakeEvents(batch, spent);
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
  BridgeEvent event = EventOf(kEventConnect);
  event.nSrvType = nSrvType;
  PublishPlain(event);
}

// Disconnections never reach Python.
void CCallback::OnDisconnect(int) {}

void CCallback::OnRtnUserInfo(ZR_QuantUserBase* pUser) {
  PublishCopy(EventOf(kEventUserInfo), pUser);
}

void CCallback::OnRtnLoginWarn(int nErrorId) {
  std::fputs("Login Error \n", stdout);
  std::fflush(stdout);
  PublishPlain(EventOf(kEventLoginWarn, nErrorId));
}

void CCallback::OnRspOrderInsert(TD_RspOrderInsert* pRsp, int nErrorId) {
  PublishCopy(EventOf(kEventRspOrderInsert, nErrorId), pRsp);
}

void CCallback::OnRspOrderDelete(TD_ReqOrderDelete* pRsp, int nErrorId) {
  PublishCopy(EventOf(kEventRspOrderDelete, nErrorId), pRsp);
}

void CCallback::OnRspQryOrder(TD_RspQryOrder* pRsp, int nErrorId, bool bIsLast) {
  PublishCopy(EventOf(kEventRspQryOrder, nErrorId, bIsLast), pRsp);
}

void CCallback::OnRspQryMatch(TD_RspQryMatch* pRsp, int nErrorId, bool bIsLast) {
  PublishCopy(EventOf(kEventRspQryMatch, nErrorId, bIsLast), pRsp);
}

void CCallback::OnRspQryPosition(TD_RspQryPosition* pRsp, int nErrorId, bool bIsLast) {
  PublishCopy(EventOf(kEventRspQryPosition, nErrorId, bIsLast), pRsp);
}

// The capital answer is always a single row, whatever its flag says.
void CCallback::OnRspQryAccountMaxEntrustCount(TD_RspQryAccountMaxEntrustCount* pRsp, int nErrorId,
                                               bool) {
  PublishCopy(EventOf(kEventAccountCapital, nErrorId), pRsp);
}

void CCallback::OnRtnOrderStatusChangeNotice(TD_RspOrderInsert* pNotice) {
  PublishCopy(EventOf(kEventOrderStatusChange), pNotice);
}

void CCallback::OnRtnOrderMatchNotice(TD_RtnOrderMatchNotice* pNotice) {
  PublishCopy(EventOf(kEventOrderMatch), pNotice);
}

// A refused subscription must not look like success: the answer's error id
// and text travel with it.
void CCallback::OnRspSubQuote(int nReqID, int, int, const char (*pCodes)[32], int nCount,
                              const char*, const char*, int nErrorId, const char* errDesc) {
  BridgeEvent event = EventOf(kEventRspSubQuote, nErrorId);
  event.nEventReqID = nReqID;
  SubQuoteResult result;
  try {
    if (pCodes != nullptr) {
      for (int i = 0; i < nCount; ++i) result.codes.emplace_back(pCodes[i], strnlen(pCodes[i], 32));
    }
    if (errDesc != nullptr) result.errDesc = errDesc;
  } catch (...) {
    return;  // no memory for the codes: the answer is dropped
  }
  PublishCopy(event, &result);
}

void CCallback::OnRtnMarket(int nReqID, MD_Market* pMarket) {
  BridgeEvent event = EventOf(kEventMarket);
  event.nEventReqID = nReqID;
  PublishCopy(event, pMarket);
}

void CCallback::OnRtnTransaction(int nReqID, MD_Transaction* pTrans) {
  BridgeEvent event = EventOf(kEventTransaction);
  event.nEventReqID = nReqID;
  PublishCopy(event, pTrans);
}

void DeliverTo(PyObject* callbackObject, QuantCallBack* callback) {
  PyObject* previous = g_callbackObject;
  Py_INCREF(callbackObject);
  g_callbackObject = callbackObject;
  g_callback = callback;
  Py_XDECREF(previous);
  if (g_dispatcher == nullptr && !g_stopping) g_dispatcher = new boost::thread(DispatchLoop);
}

void StopDispatcher() {
  if (g_stopping) return;
  g_stopping = true;
  EventQueue& queue = Queue();
  {
    boost::lock_guard<boost::mutex> hold(queue.mutex);
    queue.stopRequested = true;
    queue.closed = true;
    for (BridgeEvent& event : queue.events) {
      if (RecordSlot* slot = DestroyRecord(event)) delete slot;
    }
    queue.events.clear();
  }
  queue.ready.notify_all();
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

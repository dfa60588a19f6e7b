// The queue between the outside libraries' threads and Python, its
// producer (the spi) and its consumer (the dispatcher thread).

#include "event_bridge.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <cstdio>
#include <cstring>
#include <deque>
#include <new>

#include "event_dicts.h"
#include "quant_callback.h"

namespace ombrel {
namespace {

using namespace Corvane;

// Created at module load and never destroyed: library threads may still
// queue events while the process exits.
struct EventQueue {
  boost::mutex mutex;
  boost::condition_variable ready;
  std::deque<BridgeEvent> events;
  bool dispatcherWaiting = false;  // the dispatcher sleeps on `ready`
  bool stopRequested = false;      // the dispatcher is to end
  bool closed = false;             // events are dropped, not queued
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

// Producers. None throws: an event that cannot be copied (no memory) is
// dropped rather than unwinding into the library's thread.
void Enqueue(BridgeEvent& event) noexcept {
  EventQueue& queue = Queue();
  try {
    bool wake;
    {
      boost::lock_guard<boost::mutex> hold(queue.mutex);
      if (queue.closed) {
        FreeRecord(event);
        return;
      }
      queue.events.push_back(event);
      wake = queue.dispatcherWaiting;
    }
    if (wake) queue.ready.notify_one();
  } catch (...) {
    FreeRecord(event);
  }
}

// Queues `event` with a heap copy of `record`. The library's pointer is not
// kept; an event without its record is not queued.
template <class Record>
void EnqueueCopy(BridgeEvent event, const Record* record) noexcept {
  if (record == nullptr) return;
  event.pRecord = new (std::nothrow) Record(*record);
  if (event.pRecord != nullptr) Enqueue(event);
}

BridgeEvent EventOf(EventCode code, int32_t errorId = 0, bool isLast = true) {
  BridgeEvent event;
  event.nEventType = code;
  event.nErrorId = errorId;
  event.bIsLast = isLast;
  return event;
}

// The Python method of each event code (index 0 unused).
constexpr void (QuantCallBack::*kMethodOfCode[])() = {
    nullptr,
    &QuantCallBack::RtnConnect,
    &QuantCallBack::RtnUserInfo,
    &QuantCallBack::RtnLoginWarn,
    &QuantCallBack::RtnRspOrderInsert,
    &QuantCallBack::RtnRspOrderDelete,
    &QuantCallBack::RtnRspQryOrder,
    &QuantCallBack::RtnRspQryMatch,
    &QuantCallBack::RtnRspQryPosition,
    &QuantCallBack::RtnRspSubQuote,
    &QuantCallBack::RtnOrderStatusChangeNotice,
    &QuantCallBack::RtnOrderMatchNotice,
    &QuantCallBack::RtnMarket,
    &QuantCallBack::RtnTransaction,
    &QuantCallBack::RtnQryAccountMaxEntrustCount,
};
constexpr CallbackMethod kNameOfCode[] = {
    kRtnConnect,
    kRtnConnect,
    kRtnUserInfo,
    kRtnLoginWarn,
    kRtnRspOrderInsert,
    kRtnRspOrderDelete,
    kRtnRspQryOrder,
    kRtnRspQryMatch,
    kRtnRspQryPosition,
    kRtnRspSubQuote,
    kRtnOrderStatusChangeNotice,
    kRtnOrderMatchNotice,
    kRtnMarket,
    kRtnTransaction,
    kRtnQryAccountMaxEntrustCount,
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
                    kCallbackMethodNames[kNameOfCode[code]]);
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
    (callback->*kMethodOfCode[code])();
    if (PyErr_Occurred() != nullptr) ReportFailure(code, "in");
  }
  Py_DECREF(dict);
  Py_DECREF(target);
}

// Waits for events and moves all of them into `batch`. False once the
// dispatcher is to end.
bool TakeEvents(std::deque<BridgeEvent>& batch) {
  EventQueue& queue = Queue();
  boost::unique_lock<boost::mutex> hold(queue.mutex);
  while (queue.events.empty() && !queue.stopRequested) {
    queue.dispatcherWaiting = true;
    queue.ready.wait(hold);
    queue.dispatcherWaiting = false;
  }
  if (queue.stopRequested) return false;
  batch.swap(queue.events);
  return true;
}

// Delivers the events of `batch` in order, with the interpreter lock held,
// and frees them. False when the dispatcher was stopped meanwhile (the rest
// of the batch is dropped).
bool DeliverBatch(std::deque<BridgeEvent>& batch) {
  bool running = true;
  for (BridgeEvent& event : batch) {
    running = running && !g_stopping;
    if (running) Deliver(event);
    FreeRecord(event);
  }
  batch.clear();
  return running;
}

// The dispatcher thread. It keeps one Python thread state for its whole life
// and holds the interpreter lock only while it delivers queued events.
void DispatchLoop() noexcept {
  const PyGILState_STATE outer = PyGILState_Ensure();
  PyThreadState* const thread = PyEval_SaveThread();
  std::deque<BridgeEvent> batch;
  for (;;) {
    bool taken = false;
    try {
      taken = TakeEvents(batch);
    } catch (...) {
      // Only a broken mutex gets here; nothing more can be delivered.
    }
    if (!taken) break;
    PyEval_RestoreThread(thread);
    const bool running = DeliverBatch(batch);
    PyEval_SaveThread();
    if (!running) break;
  }
  PyEval_RestoreThread(thread);
  PyGILState_Release(outer);
}

}  // namespace

void FreeRecord(BridgeEvent& event) noexcept {
  switch (event.nEventType) {
    case kEventUserInfo:
      delete static_cast<ZR_QuantUserBase*>(event.pRecord);
      break;
    case kEventRspOrderInsert:
    case kEventOrderStatusChange:
      delete static_cast<TD_RspOrderInsert*>(event.pRecord);
      break;
    case kEventRspOrderDelete:
      delete static_cast<TD_ReqOrderDelete*>(event.pRecord);
      break;
    case kEventRspQryOrder:
      delete static_cast<TD_RspQryOrder*>(event.pRecord);
      break;
    case kEventRspQryMatch:
      delete static_cast<TD_RspQryMatch*>(event.pRecord);
      break;
    case kEventRspQryPosition:
      delete static_cast<TD_RspQryPosition*>(event.pRecord);
      break;
    case kEventRspSubQuote:
      delete static_cast<SubQuoteResult*>(event.pRecord);
      break;
    case kEventOrderMatch:
      delete static_cast<TD_RtnOrderMatchNotice*>(event.pRecord);
      break;
    case kEventMarket:
      delete static_cast<MD_Market*>(event.pRecord);
      break;
    case kEventTransaction:
      delete static_cast<MD_Transaction*>(event.pRecord);
      break;
    case kEventAccountCapital:
      delete static_cast<TD_RspQryAccountMaxEntrustCount*>(event.pRecord);
      break;
  }
  event.pRecord = nullptr;
}

CCallback& g_spi() {
  static CCallback* const spi = new CCallback;
  return *spi;
}

void CCallback::OnConnect(int nSrvType) {
  BridgeEvent event = EventOf(kEventConnect);
  event.nSrvType = nSrvType;
  Enqueue(event);
}

// Disconnections never reach Python.
void CCallback::OnDisconnect(int) {}

void CCallback::OnRtnUserInfo(ZR_QuantUserBase* pUser) {
  EnqueueCopy(EventOf(kEventUserInfo), pUser);
}

void CCallback::OnRtnLoginWarn(int nErrorId) {
  std::fputs("Login Error \n", stdout);
  std::fflush(stdout);
  BridgeEvent event = EventOf(kEventLoginWarn, nErrorId);
  Enqueue(event);
}

void CCallback::OnRspOrderInsert(TD_RspOrderInsert* pRsp, int nErrorId) {
  EnqueueCopy(EventOf(kEventRspOrderInsert, nErrorId), pRsp);
}

void CCallback::OnRspOrderDelete(TD_ReqOrderDelete* pRsp, int nErrorId) {
  EnqueueCopy(EventOf(kEventRspOrderDelete, nErrorId), pRsp);
}

void CCallback::OnRspQryOrder(TD_RspQryOrder* pRsp, int nErrorId, bool bIsLast) {
  EnqueueCopy(EventOf(kEventRspQryOrder, nErrorId, bIsLast), pRsp);
}

void CCallback::OnRspQryMatch(TD_RspQryMatch* pRsp, int nErrorId, bool bIsLast) {
  EnqueueCopy(EventOf(kEventRspQryMatch, nErrorId, bIsLast), pRsp);
}

void CCallback::OnRspQryPosition(TD_RspQryPosition* pRsp, int nErrorId, bool bIsLast) {
  EnqueueCopy(EventOf(kEventRspQryPosition, nErrorId, bIsLast), pRsp);
}

// The capital answer is always a single row, whatever its flag says.
void CCallback::OnRspQryAccountMaxEntrustCount(TD_RspQryAccountMaxEntrustCount* pRsp, int nErrorId,
                                               bool) {
  EnqueueCopy(EventOf(kEventAccountCapital, nErrorId), pRsp);
}

void CCallback::OnRtnOrderStatusChangeNotice(TD_RspOrderInsert* pNotice) {
  EnqueueCopy(EventOf(kEventOrderStatusChange), pNotice);
}

void CCallback::OnRtnOrderMatchNotice(TD_RtnOrderMatchNotice* pNotice) {
  EnqueueCopy(EventOf(kEventOrderMatch), pNotice);
}

// A refused subscription must not look like success: the answer's error id
// and text travel with it.
void CCallback::OnRspSubQuote(int nReqID, int, int, const char (*pCodes)[32], int nCount,
                              const char*, const char*, int nErrorId, const char* errDesc) {
  BridgeEvent event = EventOf(kEventRspSubQuote, nErrorId);
  event.nEventReqID = nReqID;
  try {
    auto* result = new SubQuoteResult;
    event.pRecord = result;
    if (pCodes != nullptr) {
      for (int i = 0; i < nCount; ++i)
        result->codes.emplace_back(pCodes[i], strnlen(pCodes[i], 32));
    }
    if (errDesc != nullptr) result->errDesc = errDesc;
  } catch (...) {
    FreeRecord(event);  // no memory for the codes: the answer is dropped
    return;
  }
  Enqueue(event);
}

void CCallback::OnRtnMarket(int nReqID, MD_Market* pMarket) {
  BridgeEvent event = EventOf(kEventMarket);
  event.nEventReqID = nReqID;
  EnqueueCopy(event, pMarket);
}

void CCallback::OnRtnTransaction(int nReqID, MD_Transaction* pTrans) {
  BridgeEvent event = EventOf(kEventTransaction);
  event.nEventReqID = nReqID;
  EnqueueCopy(event, pTrans);
}

void DeliverTo(PyObject* callbackObject, QuantCallBack* callback) {
  Queue();
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
    for (BridgeEvent& event : queue.events) FreeRecord(event);
    queue.events.clear();
  }
  queue.ready.notify_all();
  // From inside a handler the dispatcher ends by itself after this event.
  if (g_dispatcher != nullptr && g_dispatcher->get_id() != boost::this_thread::get_id()) {
    Py_BEGIN_ALLOW_THREADS g_dispatcher->join();
    Py_END_ALLOW_THREADS
  }
  g_callback = nullptr;
  Py_CLEAR(g_callbackObject);
}

}  // namespace ombrel

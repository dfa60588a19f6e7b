// event_bridge.h: how events travel from the outside libraries' threads to
// the Python callback object.
//
// veltrane calls its spi on threads of the trade gateway and the quote
// library, which hold no interpreter lock. The module's one spi, `g_spi`,
// therefore never touches Python: it copies the event's record into a
// `BridgeEvent` (event_kinds.h) at the end of a process-wide queue, in
// storage that is allocated once and reused. One dispatcher thread takes the
// events in queue order and, holding the interpreter lock, fills the
// callback object's "rspdict", "errorid" and "isend" and calls its `Rtn...`
// method. Events are delivered to the callback object of the latest
// factory call, each exactly once and completely before the next.
//
// The queue has no bound unless SetEventQueueLimit gives it one: a producer
// then waits, after queueing its event, while as many events as the limit
// are queued or being delivered. With 1 a library thread returns only once
// its event has been delivered and its handler has returned, so a simulated
// exchange that calls back on its own thread learns of every request the
// handler made before it moves on. A vendor's library whose thread waits may
// drop data: the bound is meant for simulations and for memory limits.
// Producers that hold the interpreter lock never wait, and waiting producers
// are released (their events dropped) when the interpreter exits.
//
// A handler that raises (or is missing) has its traceback printed to standard
// error; the dispatcher goes on with the next event. At interpreter exit the
// dispatcher is stopped before the interpreter finalises; events that arrive
// afterwards are dropped.

#ifndef OMBREL_EVENT_BRIDGE_H
#define OMBREL_EVENT_BRIDGE_H

#include <Python.h>

#include "ZR_QuantApi.h"

namespace ombrel {

class QuantCallBack;

// The module's spi. Every operation copies and queues its event and returns;
// none throws, none takes the interpreter lock. "Login Error " is written to
// standard output at each login warning.
class CCallback : public Corvane::ZR_QuantSpi {
 public:
  void OnConnect(int nSrvType) override;
  void OnDisconnect(int nSrvType) override;
  void OnRtnUserInfo(Corvane::ZR_QuantUserBase* pUser) override;
  void OnRtnLoginWarn(int nErrorId) override;
  void OnRspOrderInsert(Corvane::TD_RspOrderInsert* pRsp, int nErrorId) override;
  void OnRspOrderDelete(Corvane::TD_ReqOrderDelete* pRsp, int nErrorId) override;
  void OnRspQryOrder(Corvane::TD_RspQryOrder* pRsp, int nErrorId, bool bIsLast) override;
  void OnRspQryMatch(Corvane::TD_RspQryMatch* pRsp, int nErrorId, bool bIsLast) override;
  void OnRspQryPosition(Corvane::TD_RspQryPosition* pRsp, int nErrorId, bool bIsLast) override;
  void OnRspQryAccountMaxEntrustCount(Corvane::TD_RspQryAccountMaxEntrustCount* pRsp, int nErrorId,
                                      bool bIsLast) override;
  void OnRtnOrderStatusChangeNotice(Corvane::TD_RspOrderInsert* pNotice) override;
  void OnRtnOrderMatchNotice(Corvane::TD_RtnOrderMatchNotice* pNotice) override;
  void OnRspSubQuote(int nReqID, int nSubscribe, int nReserved, const char (*pCodes)[32],
                     int nCount, const char* pszReserved1, const char* pszReserved2, int nErrorId,
                     const char* errDesc) override;
  void OnRtnMarket(int nReqID, Corvane::MD_Market* pMarket) override;
  void OnRtnTransaction(int nReqID, Corvane::MD_Transaction* pTrans) override;
};

// The spi handed to createApi. It lives until the process ends (it is never
// destroyed, so a library thread that calls it during exit finds it intact).
CCallback& g_spi();

// Makes `callbackObject` (a "QuantCallBack" instance; `callback` is the native
// object inside it) the object that every later event reaches, and starts
// the dispatcher on the first call. Needs the interpreter lock; takes a new
// reference to `callbackObject`. Throws boost::thread_resource_error when the
// thread cannot be started.
void DeliverTo(PyObject* callbackObject, QuantCallBack* callback);

// Bounds the queue (see above); 0 removes the bound. Callable at any time;
// producers that wait re-check against the new limit.
void SetEventQueueLimit(size_t limit);

// Stops the dispatcher and waits for the event it is delivering, then drops
// every queued and later event. Needs the interpreter lock, which it releases
// while it waits. Registered to run at interpreter exit.
void StopDispatcher();

}  // namespace ombrel

#endif  // OMBREL_EVENT_BRIDGE_H

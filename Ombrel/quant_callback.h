// quant_callback.h: the native side of the Python class "QuantCallBack".
//
// A script subclasses "QuantCallBack" and defines the fifteen `Rtn...`
// methods; the dispatcher fills "rspdict", "errorid" and "isend" and calls
// the method of the event, without arguments. `QuantCallBackWrapper` is the
// object Python actually holds: each of its operations looks up the Python
// method of the same name and calls it.

#ifndef OMBREL_QUANT_CALLBACK_H
#define OMBREL_QUANT_CALLBACK_H

#include <boost/python.hpp>

#include "event_kinds.h"

namespace ombrel {

class QuantCallBack {
 public:
  QuantCallBack() = default;
  QuantCallBack(const QuantCallBack&) = delete;
  QuantCallBack& operator=(const QuantCallBack&) = delete;

  // One per row of the event table, each calls the script's method of the
  // same name. On failure (the method raised, or the script defines none) a
  // Python error is left set; they never throw.
#define OMBREL_RTN_OPERATION(Name, ...) virtual void Rtn##Name() = 0;
  OMBREL_EVENT_MAP(OMBREL_RTN_OPERATION)
#undef OMBREL_RTN_OPERATION

  // Empty methods a script may override or call; the module never calls them.
  void OnConnect(int) {}
  void OnDisconnect(int) {}
  void OnRtnUserInfo(boost::python::dict) {}
  void OnRtnLoginWarn(boost::python::dict, int, bool) {}
  void OnRspSubQuote(boost::python::dict) {}
  void OnRtnTransaction(boost::python::dict) {}
  void OnRtnMarket(boost::python::dict) {}
  void OnRspOrderInsert(boost::python::dict, int) {}
  void OnRspOrderDelete(boost::python::dict, int) {}
  void OnRspQryOrder(boost::python::dict, int, bool) {}
  void OnRspQryMatch(boost::python::dict, int, bool) {}
  void OnRspQryPosition(boost::python::dict, int, bool) {}
  void OnRtnOrderStatusChangeNotice(boost::python::dict) {}
  void OnRtnOrderMatchNotice(boost::python::dict) {}

  // One dictionary for the life of the object, cleared and refilled for
  // every event, so a reference a script keeps sees the next event's data.
  boost::python::dict rspdict;
  int errorid = 0;
  bool isend = false;
};

class QuantCallBackWrapper : public QuantCallBack, public boost::python::wrapper<QuantCallBack> {
 public:
#define OMBREL_RTN_OVERRIDE(Name, ...) \
  void Rtn##Name() override { CallScript(EventKind::k##Name); }
  OMBREL_EVENT_MAP(OMBREL_RTN_OVERRIDE)
#undef OMBREL_RTN_OVERRIDE

 private:
  // Calls the method that a Python subclass defines under the name of
  // `method`, without arguments, and drops its result. A method that is only
  // the one registered on "QuantCallBack" counts as none, and calling none
  // fails as calling None does.
  void CallScript(EventKind kind);
};

// Registers the class "QuantCallBack" in the current module and remembers its
// registered methods, so that CallScript can tell them from a script's own.
void RegisterQuantCallBack();

}  // namespace ombrel

#endif  // OMBREL_QUANT_CALLBACK_H

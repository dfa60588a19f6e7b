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

namespace ombrel {

// The callback methods, in the order of QuantCallBack's operations.
enum CallbackMethod : int {
  kRtnConnect,
  kRtnDisconnect,
  kRtnUserInfo,
  kRtnLoginWarn,
  kRtnRspQryOrder,
  kRtnRspQryMatch,
  kRtnRspQryPosition,
  kRtnRspOrderInsert,
  kRtnRspOrderDelete,
  kRtnOrderStatusChangeNotice,
  kRtnOrderMatchNotice,
  kRtnRspSubQuote,
  kRtnMarket,
  kRtnTransaction,
  kRtnQryAccountMaxEntrustCount,
  kCallbackMethodCount,
};

// The Python name of each method, indexed by CallbackMethod.
extern const char* const kCallbackMethodNames[kCallbackMethodCount];

class QuantCallBack {
 public:
  QuantCallBack() = default;
  QuantCallBack(const QuantCallBack&) = delete;
  QuantCallBack& operator=(const QuantCallBack&) = delete;

  // Each calls the script's method of the same name. On failure (the method
  // raised, or the script defines none) a Python error is left set; they
  // never throw.
  virtual void RtnConnect() = 0;
  virtual void RtnDisconnect() = 0;
  virtual void RtnUserInfo() = 0;
  virtual void RtnLoginWarn() = 0;
  virtual void RtnRspQryOrder() = 0;
  virtual void RtnRspQryMatch() = 0;
  virtual void RtnRspQryPosition() = 0;
  virtual void RtnRspOrderInsert() = 0;
  virtual void RtnRspOrderDelete() = 0;
  virtual void RtnOrderStatusChangeNotice() = 0;
  virtual void RtnOrderMatchNotice() = 0;
  virtual void RtnRspSubQuote() = 0;
  virtual void RtnMarket() = 0;
  virtual void RtnTransaction() = 0;
  virtual void RtnQryAccountMaxEntrustCount() = 0;

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
  void RtnConnect() override { CallScript(kRtnConnect); }
  void RtnDisconnect() override { CallScript(kRtnDisconnect); }
  void RtnUserInfo() override { CallScript(kRtnUserInfo); }
  void RtnLoginWarn() override { CallScript(kRtnLoginWarn); }
  void RtnRspQryOrder() override { CallScript(kRtnRspQryOrder); }
  void RtnRspQryMatch() override { CallScript(kRtnRspQryMatch); }
  void RtnRspQryPosition() override { CallScript(kRtnRspQryPosition); }
  void RtnRspOrderInsert() override { CallScript(kRtnRspOrderInsert); }
  void RtnRspOrderDelete() override { CallScript(kRtnRspOrderDelete); }
  void RtnOrderStatusChangeNotice() override { CallScript(kRtnOrderStatusChangeNotice); }
  void RtnOrderMatchNotice() override { CallScript(kRtnOrderMatchNotice); }
  void RtnRspSubQuote() override { CallScript(kRtnRspSubQuote); }
  void RtnMarket() override { CallScript(kRtnMarket); }
  void RtnTransaction() override { CallScript(kRtnTransaction); }
  void RtnQryAccountMaxEntrustCount() override { CallScript(kRtnQryAccountMaxEntrustCount); }

 private:
  // Calls the method that a Python subclass defines under the name of
  // `method`, without arguments, and drops its result. A method that is only
  // the one registered on "QuantCallBack" counts as none, and calling none
  // fails as calling None does.
  void CallScript(CallbackMethod method);
};

// Registers the class "QuantCallBack" in the current module and remembers its
// registered methods, so that CallScript can tell them from a script's own.
void RegisterQuantCallBack();

}  // namespace ombrel

#endif  // OMBREL_QUANT_CALLBACK_H

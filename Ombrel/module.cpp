// The Python module "Ombrel": its classes, the factory of the API object,
// and the stop of the dispatcher at interpreter exit.
//
// A strategy script subclasses QuantCallBack, creates its callback object cb
// and calls
//     api = ZR_QuantApi_Python36.ZR_QuantApi(cb, False, '', '')
//     ZR_QuantApi_Python36.Init()
//     api.Login(user, password)
// then sends requests with the static functions of PyQuantApi and receives
// every event on cb.

#include <boost/python.hpp>
#include <cstring>
#include <string>
#include <vector>

#include "ZR_QuantApi.h"
#include "event_bridge.h"
#include "event_dicts.h"
#include "quant_callback.h"
#include "requests.h"
#include "risk_functions.h"

namespace ombrel {
namespace {

namespace py = boost::python;

// The native class behind "ZR_QuantApi_Python36": it only carries the factory.
class PyQuantApi {};

int Login(TraderApiGo& api, const std::string& user, const std::string& password) {
  std::vector<char> userText(user.begin(), user.end());
  std::vector<char> passwordText(password.begin(), password.end());
  userText.push_back('\0');
  passwordText.push_back('\0');
  return api.Login(userText.data(), passwordText.data());
}

void Run() {}
void BreakRun(TraderApiGo& api) { api.BreakExec(); }
int GetCode(TraderApiGo& api) { return api.GetCode(); }
std::string GetVersion() { return Corvane::ZR_QuantApi::getVersion(); }

std::string GetErrMsg(int code) {
  char text[2048] = {};
  Corvane::ZR_QuantApi::GetErrMsg(code, text, sizeof text);
  return std::string(text, strnlen(text, sizeof text));
}

void Init() { Corvane::ZR_QuantApi::Init(); }

// Creates the API object with the module's spi, makes `callback` the object
// that every event reaches (starting the dispatcher on the first call), and
// returns a new "PyQuantApi" that owns the API object.
py::object CreateApi(py::object callback, bool flag, const std::string&, const std::string&) {
  py::extract<QuantCallBack&> native(callback);
  if (!native.check()) Raise(PyExc_RuntimeError, "get API fetch callback object error");
  DeliverTo(callback.ptr(), &native());
  TraderApiGo* api = dynamic_cast<TraderApiGo*>(Corvane::ZR_QuantApi::createApi(
      &g_spi(), flag, Corvane::ZR_QuantTdApp_Default, Corvane::ZR_QuantMdApp_Level2));
  py::manage_new_object::apply<TraderApiGo*>::type toOwningObject;
  py::object owner{py::handle<>(toOwningObject(api))};
  SetCurrentApi(api, owner.ptr());
  return owner;
}

const char kModuleDoc[] =
    "Ombrel: the ZR_QuantApi trading API for Python strategy scripts.\n\n"
    "    class Strategy(Ombrel.QuantCallBack):\n"
    "        def __init__(self):\n"
    "            Ombrel.QuantCallBack.__init__(self)\n"
    "        def RtnMarket(self):\n"
    "            print(self.rspdict['szWindCode'], self.rspdict['nMatch'])\n"
    "        ...  # and the fourteen other Rtn... methods\n\n"
    "    cb = Strategy()\n"
    "    api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(cb, False, '', '')\n"
    "    Ombrel.ZR_QuantApi_Python36.Init()\n"
    "    api.Login('user', 'password')\n"
    "    Ombrel.PyQuantApi.ReqSubQuote(1, ['market', 'transaction'], [], ['600000.SH'], '', '')\n\n"
    "Requests return the library's result at once; answers and market data arrive later\n"
    "on the callback object, on a dispatcher thread of the module, one event at a time.\n"
    "Prices are integers in 1/10000 of a currency unit. SetRiskLimits, RiskStatus and\n"
    "SetTradingEnabled set and show the pre-trade limits that orders are checked against.";

const char kApiDoc[] =
    "The API object. Get it from ZR_QuantApi_Python36.ZR_QuantApi(); the static request\n"
    "functions act on the object of the latest such call, which must be kept alive.\n"
    "PyQuantApi() makes an object of its own that no request function uses.";

const char kRequestDoc[] =
    "(request: dict) -> int. Sends the request and returns the library's result (-1 when\n"
    "refused before reaching the gateway). The key 'nReqId' (int) is required; the answer\n"
    "carries it back as 'nReqID'.";

void RegisterApiClasses() {
  py::class_<TraderApiGo, boost::noncopyable>("PyQuantApi", kApiDoc, py::init<>())
      .def("Login", &Login, (py::arg("self"), py::arg("user"), py::arg("password")),
           "Logs in to the trade gateway and the quote library; returns 0. The outcome arrives\n"
           "as RtnConnect followed by RtnUserInfo or RtnLoginWarn, once per library.")
      .def("Run", &Run, "Does nothing; events are delivered without it.")
      .staticmethod("Run")
      .def("BreakRun", &BreakRun, py::arg("self"), "Does nothing; returns at once.")
      .def("getVersion", &GetVersion, "The library's version text.")
      .staticmethod("getVersion")
      .def("GetErrMsg", &GetErrMsg, py::arg("code"), "The text of an error code ('Unknown').")
      .staticmethod("GetErrMsg")
      .def("GetCode", &GetCode, py::arg("self"), "Not carried out: returns -1.")
      .def("ReqSubQuote", &ReqSubQuote,
           (py::arg("nReqID"), py::arg("types"), py::arg("extra"), py::arg("codes"),
            py::arg("text1"), py::arg("text2")),
           "Subscribes codes such as '600000.SH' to snapshots ('market' in types, delivered\n"
           "to RtnMarket) and trades ('transaction', delivered to RtnTransaction); with\n"
           "neither word the codes are unsubscribed. extra, text1 and text2 are not read.\n"
           "Returns the quote library's result; the answer arrives on RtnRspSubQuote.")
      .staticmethod("ReqSubQuote")
      .def("OrderInsert", &OrderInsert, py::arg("request"),
           "Places a limit order. Keys: 'nReqId' (int), 'szContractCode' (str, six digits),\n"
           "'nTradeType' (int: 1 buy, 2 sell), 'nOrderPrice' (int or float, 1/10000 units,\n"
           "truncated), 'nOrderVol' (int), optional 'szProductCode' (str). Returns the\n"
           "gateway's result; the answer arrives on RtnRspOrderInsert with the order number.\n"
           "A direction other than 1 or 2, or a quantity or price of 0 or less, returns -1\n"
           "unsent (RiskStatus()['last_refusal'] says why); a text with a NUL raises\n"
           "ValueError, a code beyond ASCII UnicodeEncodeError.")
      .staticmethod("OrderInsert")
      .def("OrderDelete", &OrderDelete, py::arg("request"),
           "Cancels an order. Keys: 'nReqId' (int), then either 'szOrderOrigId' (str, the\n"
           "gateway's order code) or 'nOrderId' (int, the order number); optional\n"
           "'szProductCode' (str). The answer arrives on RtnRspOrderDelete. Naming neither\n"
           "raises ValueError, an 'nOrderId' of None or a bool TypeError, a value of another\n"
           "type RuntimeError; nothing is sent.")
      .staticmethod("OrderDelete")
      .def("QryOrder", &QryOrder, py::arg("request"),
           (std::string(kRequestDoc) + "\nRows arrive on RtnRspQryOrder.").c_str())
      .staticmethod("QryOrder")
      .def("QryMatch", &QryMatch, py::arg("request"),
           (std::string(kRequestDoc) + "\nRows arrive on RtnRspQryMatch.").c_str())
      .staticmethod("QryMatch")
      .def("QryPosition", &QryPosition, py::arg("request"),
           (std::string(kRequestDoc) + "\nRows arrive on RtnRspQryPosition.").c_str())
      .staticmethod("QryPosition")
      .def("QryAccountMaxEntrustCount", &QryAccountMaxEntrustCount, py::arg("request"),
           (std::string(kRequestDoc) + "\nThe answer arrives on RtnQryAccountMaxEntrustCount.")
               .c_str())
      .staticmethod("QryAccountMaxEntrustCount");

  py::class_<PyQuantApi>("ZR_QuantApi_Python36",
                         "Carries the factory. Call its functions through the class.")
      .def("Init", &Init,
           "ZR_QuantApi_Python36.Init() -> None. Starts the outside libraries; call it after\n"
           "ZR_QuantApi() and before Login.")
      .def("ZR_QuantApi", &CreateApi,
           (py::arg("callback"), py::arg("flag"), py::arg("text1"), py::arg("text2")),
           "ZR_QuantApi_Python36.ZR_QuantApi(callback, flag, text1, text2) -> PyQuantApi.\n"
           "Creates the API object, which the result owns: keep it. From now on every event\n"
           "is delivered to callback (a QuantCallBack), also when it was queued before; a\n"
           "later call moves delivery to its own callback. text1 and text2 are not read.\n"
           "Raises RuntimeError when callback is not an initialised QuantCallBack.");
}

void SetQueueLimit(long long limit) {
  if (limit < 0) Raise(PyExc_ValueError, "the event queue's limit must be 0 or more");
  SetEventQueueLimit(static_cast<size_t>(limit));
}

}  // namespace
}  // namespace ombrel

BOOST_PYTHON_MODULE(Ombrel) {
  namespace py = boost::python;
#if PY_VERSION_HEX < 0x03070000
  PyEval_InitThreads();  // the dispatcher takes the interpreter lock
#endif
  py::docstring_options docs(true, true, false);
  py::scope().attr("__doc__") = ombrel::kModuleDoc;
  ombrel::CreateDictionaryKeys();
  ombrel::RegisterApiClasses();
  ombrel::RegisterQuantCallBack();
  py::def("SetEventQueueLimit", &ombrel::SetQueueLimit, py::arg("limit"),
          "SetEventQueueLimit(limit) -> None. Bounds the event queue: a library thread that\n"
          "hands the module an event waits while limit events are queued or being delivered.\n"
          "1 delivers in lockstep (the thread returns once the handler has); 0, the default,\n"
          "removes the bound. Meant for simulated exchanges and memory limits: a vendor's\n"
          "library whose thread waits may drop data. Callable at any time.");
  ombrel::RegisterRiskFunctions();
  // The dispatcher must end while the interpreter is still whole.
  py::import("atexit").attr("register")(py::make_function(&ombrel::StopDispatcher));
}

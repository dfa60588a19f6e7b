// The class "QuantCallBack" and the calls of a script's callback methods.

#include "quant_callback.h"

#include <string>

namespace ombrel {

const char* const kCallbackMethodNames[kEventKindCount] = {
#define OMBREL_METHOD_NAME(Name, ...) "Rtn" #Name,
    OMBREL_EVENT_MAP(OMBREL_METHOD_NAME)
#undef OMBREL_METHOD_NAME
};

namespace {

// Interned method names, and the functions registered under them on
// "QuantCallBack" (null for a name not registered). Set once at module load
// and kept for the life of the process.
PyObject* g_methodNames[kEventKindCount];
PyObject* g_registeredMethods[kEventKindCount];

bool IsRegisteredMethod(PyObject* handler, PyObject* self, int method) {
  return PyMethod_Check(handler) && PyMethod_GET_SELF(handler) == self &&
         PyMethod_GET_FUNCTION(handler) == g_registeredMethods[method];
}

// Per method, the last class found to define it itself, as of which version
// of that class. Most events then skip the bound method that a full lookup
// makes; the cache is only read and written with the interpreter lock held.
struct DefiningClass {
  PyTypeObject* type = nullptr;
  unsigned int version = 0;
};
DefiningClass g_definingClass[kEventKindCount];

bool IsCurrent(const DefiningClass& known, PyTypeObject* type) {
  return known.type == type && PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG) &&
         known.version == type->tp_version_tag;
}

// Whether the class of `self` (not `self` alone) has a method of this name
// other than the registered one.
bool ClassDefines(PyTypeObject* type, int method) {
  PyObject* found = PyObject_GetAttr(reinterpret_cast<PyObject*>(type), g_methodNames[method]);
  if (found == nullptr) {
    PyErr_Clear();
    return false;
  }
  const bool defines = found != g_registeredMethods[method];
  Py_DECREF(found);
  return defines;
}

PyObject* CallWithoutArguments(PyObject* callable) {
#if PY_VERSION_HEX >= 0x03090000
  return PyObject_CallNoArgs(callable);
#else
  return PyObject_CallFunctionObjArgs(callable, nullptr);
#endif
}

// `text` broken at its spaces into lines of at most 80 characters.
std::string Wrapped(const std::string& text) {
  std::string lines;
  size_t lineStart = 0;
  for (size_t word = 0; word < text.size();) {
    size_t end = text.find(' ', word);
    if (end == std::string::npos) end = text.size();
    if (word > lineStart && end - lineStart > 80) {
      lines.back() = '\n';
      lineStart = word;
    }
    lines.append(text, word, end - word);
    if (end < text.size()) lines += ' ';
    word = end + 1;
  }
  return lines;
}

// The class's documentation, which names every method of the table.
std::string ClassDoc() {
  std::string text =
      "Subclass it, call QuantCallBack.__init__(self) from your __init__, and define the "
      "methods ";
  for (int method = 0; method < kEventKindCount; ++method) {
    text += method == 0 ? "" : method + 1 == kEventKindCount ? " and " : ", ";
    text += kCallbackMethodNames[method];
  }
  text +=
      ". Each is called without arguments on Ombrel's dispatcher thread, one event at a time "
      "and in order; the event's data are in self.rspdict, self.errorid and self.isend. An "
      "exception raised by a method is printed with its traceback and the next event is "
      "delivered as usual.";
  return "Base class of a strategy's callback object.\n\n" + Wrapped(text);
}

const char kRtnDoc[] =
    "Called without arguments for each event of its kind; read self.rspdict, self.errorid "
    "and self.isend. Define it in your subclass.";
const char kOnDoc[] = "Does nothing; the module never calls it. A script may define or call it.";

}  // namespace

void QuantCallBackWrapper::CallScript(EventKind kind) {
  const int method = static_cast<int>(kind);
  PyObject* self = boost::python::detail::wrapper_base_::get_owner(*this);
#if PY_VERSION_HEX >= 0x03090000
  // The class defines the method: a call by name finds it (or an attribute of
  // the object that hides it) without making a bound method.
  if (self != nullptr) {
    DefiningClass& known = g_definingClass[method];
    PyTypeObject* type = Py_TYPE(self);
    if (!IsCurrent(known, type) && ClassDefines(type, method)) {
      known.type = type;
      known.version = type->tp_version_tag;
    }
    if (IsCurrent(known, type)) {
      Py_XDECREF(PyObject_CallMethodNoArgs(self, g_methodNames[method]));
      return;
    }
  }
#endif
  PyObject* handler = self == nullptr ? nullptr : PyObject_GetAttr(self, g_methodNames[method]);
  if (handler == nullptr) {
    PyErr_Clear();
  } else if (IsRegisteredMethod(handler, self, method)) {
    Py_CLEAR(handler);
  }
  PyObject* result = CallWithoutArguments(handler == nullptr ? Py_None : handler);
  Py_XDECREF(result);
  Py_XDECREF(handler);
}

void RegisterQuantCallBack() {
  namespace py = boost::python;
  py::class_<QuantCallBackWrapper, boost::noncopyable> callbackClass("QuantCallBack",
                                                                     ClassDoc().c_str());
  callbackClass.def("OnConnect", &QuantCallBack::OnConnect, kOnDoc)
      .def("OnDisconnect", &QuantCallBack::OnDisconnect, kOnDoc)
      .def("OnRtnUserInfo", &QuantCallBack::OnRtnUserInfo, kOnDoc)
      .def("OnRtnLoginWarn", &QuantCallBack::OnRtnLoginWarn, kOnDoc)
      .def("OnRspSubQuote", &QuantCallBack::OnRspSubQuote, kOnDoc)
      .def("OnRtnTransaction", &QuantCallBack::OnRtnTransaction, kOnDoc)
      .def("OnRtnMarket", &QuantCallBack::OnRtnMarket, kOnDoc)
      .def("OnRspOrderInsert", &QuantCallBack::OnRspOrderInsert, kOnDoc)
      .def("OnRspOrderDelete", &QuantCallBack::OnRspOrderDelete, kOnDoc)
      .def("OnRspQryOrder", &QuantCallBack::OnRspQryOrder, kOnDoc)
      .def("OnRspQryMatch", &QuantCallBack::OnRspQryMatch, kOnDoc)
      .def("OnRspQryPosition", &QuantCallBack::OnRspQryPosition, kOnDoc)
      .def("OnRtnOrderStatusChangeNotice", &QuantCallBack::OnRtnOrderStatusChangeNotice, kOnDoc)
      .def("OnRtnOrderMatchNotice", &QuantCallBack::OnRtnOrderMatchNotice, kOnDoc);
#define OMBREL_REGISTER_RTN(Name, Record, SpiOperation, Status, Registering)              \
  if (Registration::Registering == Registration::kPureVirtual) {                          \
    callbackClass.def("Rtn" #Name, py::pure_virtual(&QuantCallBack::Rtn##Name), kRtnDoc); \
  }
  OMBREL_EVENT_MAP(OMBREL_REGISTER_RTN)
#undef OMBREL_REGISTER_RTN
  callbackClass
      .def_readwrite("rspdict", &QuantCallBack::rspdict,
                     "dict: the current event's data, one dict object refilled for every event")
      .def_readwrite("errorid", &QuantCallBack::errorid,
                     "int: the current event's error id (0 = success)")
      .def_readwrite("isend", &QuantCallBack::isend,
                     "bool: True on the last row of a query answer");

  PyObject* classDict = reinterpret_cast<PyTypeObject*>(callbackClass.ptr())->tp_dict;
  for (int method = 0; method < kEventKindCount; ++method) {
    g_methodNames[method] = PyUnicode_InternFromString(kCallbackMethodNames[method]);
    if (g_methodNames[method] == nullptr) py::throw_error_already_set();
    g_registeredMethods[method] = PyDict_GetItem(classDict, g_methodNames[method]);
    Py_XINCREF(g_registeredMethods[method]);
  }
}

}  // namespace ombrel

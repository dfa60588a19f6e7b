// Request dictionaries to request records.

#include "requests.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "veltrane_sub_quote.h"

namespace ombrel {
namespace {

namespace py = boost::python;

TraderApiGo* g_api = nullptr;
PyObject* g_apiOwner = nullptr;  // weak reference to the object that owns g_api

TraderApiGo& CurrentApi() {
  if (g_api == nullptr) {
    Raise(PyExc_RuntimeError,
          "Ombrel: no API object yet; call ZR_QuantApi_Python36.ZR_QuantApi(callback, flag, '', "
          "'') first");
  }
  if (PyWeakref_GetObject(g_apiOwner) == Py_None) {
    Raise(PyExc_RuntimeError,
          "Ombrel: the API object of the last ZR_QuantApi_Python36.ZR_QuantApi call has been "
          "destroyed; keep a reference to the object it returned");
  }
  return *g_api;
}

// The dictionary's own lookup, for every key: a subclass's get() or
// __getitem__ cannot make two readers see different values.
PyObject* Lookup(const py::dict& request, const char* key) {
  return PyDict_GetItemString(request.ptr(), key);
}

// A text value: null for None, else the bytes of a str (valid while the str
// lives). Any other type raises "Could not convert <key> to char*."; an
// embedded NUL ValueError (the gateway would be sent the part before it); a
// code with a character beyond ASCII (security codes are ASCII on the wire),
// or a text with no UTF-8 form (a lone surrogate), UnicodeEncodeError.
const char* TextOf(PyObject* value, const char* key, TextKind kind) {
  if (value == Py_None) return nullptr;
  if (!PyUnicode_Check(value)) {
    Raise(PyExc_RuntimeError, std::string("Could not convert ") + key + " to char*.");
  }
  if (kind == TextKind::kCode && !PyUnicode_IS_ASCII(value)) {
    PyObject* ascii = PyUnicode_AsEncodedString(value, "ascii", "strict");
    Py_XDECREF(ascii);
    if (ascii == nullptr && PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) {
      PyObject *type, *error, *trace;
      PyErr_Fetch(&type, &error, &trace);
      PyErr_NormalizeException(&type, &error, &trace);
      const std::string reason = std::string(key) + " takes ASCII codes such as 600000";
      PyObject* text = PyUnicode_FromString(reason.c_str());
      if (text != nullptr && error != nullptr) PyObject_SetAttrString(error, "reason", text);
      Py_XDECREF(text);
      PyErr_Restore(type, error, trace);
    }
    py::throw_error_already_set();
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(value, &size);
  if (text == nullptr) py::throw_error_already_set();
  if (std::strlen(text) != static_cast<size_t>(size)) {
    Raise(PyExc_ValueError, std::string(key) + ": embedded null character");
  }
  return text;
}

// A key read by converting its value straight to T, as the binding does: a
// missing key converts None, which fails with the binding's TypeError.
template <class T>
T Direct(const py::dict& request, const char* key) {
  PyObject* value = Lookup(request, key);
  return py::extract<T>(value != nullptr ? value : Py_None)();
}

// Copies at most `limit` bytes of `text` (none for null) into a zeroed field,
// stopping at its end and never inside a UTF-8 character; a text of `limit`
// bytes or more gets no terminator.
template <size_t N>
void CopyBounded(char (&field)[N], const char* text, size_t limit) {
  static_assert(N > 0, "a text field");
  if (text == nullptr) return;
  size_t length = strnlen(text, limit < N ? limit : N);
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  std::memcpy(field, text, length);
}

// A price as float() reads it: a float or an int as it is, any other number
// through its __float__, which must give a float; else the binding's
// TypeError, as for any value it cannot convert.
double PriceOf(const py::dict& request) {
  PyObject* value = Lookup(request, "nOrderPrice");
  PyNumberMethods* number = value != nullptr ? Py_TYPE(value)->tp_as_number : nullptr;
  if (value != nullptr && !PyFloat_Check(value) && !PyLong_Check(value) && number != nullptr &&
      number->nb_float != nullptr) {
    PyObject* real = PyNumber_Float(value);
    if (real == nullptr) py::throw_error_already_set();
    const double price = PyFloat_AS_DOUBLE(real);
    Py_DECREF(real);
    return price;
  }
  return Direct<double>(request, "nOrderPrice");
}

// A price read from a float: truncated toward zero, refused when it has no
// 64-bit integer value, as int() refuses it.
int64_t TruncatedPrice(double price) {
  if (std::isnan(price))
    Raise(PyExc_ValueError, "nOrderPrice: cannot convert float NaN to integer");
  if (!(price > -9223372036854775808.0 && price < 9223372036854775808.0)) {
    Raise(PyExc_OverflowError, "nOrderPrice is out of the range of a 64-bit integer");
  }
  return static_cast<int64_t>(price);
}

template <class Record>
Record QueryRecord(const py::dict& request) {
  Record record;
  record.nReqID = GetIntFromDict(request, "nReqId");
  return record;
}

}  // namespace

[[noreturn]] void Raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  py::throw_error_already_set();
  std::abort();  // throw_error_already_set never returns
}

void SetCurrentApi(TraderApiGo* api, PyObject* owner) {
  PyObject* watch = PyWeakref_NewRef(owner, nullptr);
  if (watch == nullptr) py::throw_error_already_set();
  Py_XDECREF(g_apiOwner);
  g_apiOwner = watch;
  g_api = api;
}

int GetIntFromDict(const py::dict& request, const char* key) {
  PyObject* value = Lookup(request, key);
  if (value == nullptr) Raise(PyExc_RuntimeError, std::string("Could not get key ") + key);
  py::extract<int> number(value);
  if (!number.check()) {
    Raise(PyExc_RuntimeError, std::string("Could not convert ") + key + " to int.");
  }
  return number();
}

const char* GetTextFromDict(const py::dict& request, const char* key, TextKind kind) {
  PyObject* value = Lookup(request, key);
  if (value == nullptr) Raise(PyExc_RuntimeError, std::string("Could not get key ") + key);
  return TextOf(value, key, kind);
}

const char* GetOptionalTextFromDict(const py::dict& request, const char* key) {
  PyObject* value = Lookup(request, key);
  return value != nullptr ? TextOf(value, key, TextKind::kText) : "";
}

long long GetOptionalInt64FromDict(const py::dict& request, const char* key) {
  PyObject* value = Lookup(request, key);
  if (value == nullptr || value == Py_None) return 0;
  // Anything but an int would be read as 0: a request for something the
  // script did not name (order 0 is another order).
  if (!PyLong_Check(value)) {
    Raise(PyExc_RuntimeError, std::string("Could not convert ") + key + " to int.");
  }
  const long long number = PyLong_AsLongLong(value);
  if (number == -1 && PyErr_Occurred() != nullptr) py::throw_error_already_set();
  return number;
}

int OrderInsert(const py::dict& request) {
  TraderApiGo& api = CurrentApi();
  Corvane::TD_ReqOrderInsert record;
  record.nReqID = GetIntFromDict(request, "nReqId");
  CopyBounded(record.szContractCode, GetTextFromDict(request, "szContractCode", TextKind::kCode),
              6);
  record.nTradeType = Direct<int>(request, "nTradeType");
  record.nOrderPrice = TruncatedPrice(PriceOf(request));
  record.nOrderVol = Direct<int>(request, "nOrderVol");
  CopyBounded(record.szProductCode, GetOptionalTextFromDict(request, "szProductCode"), 128);
  return api.reqOrderInsert(&record);
}

int OrderDelete(const py::dict& request) {
  TraderApiGo& api = CurrentApi();
  Corvane::TD_ReqOrderDelete record;
  record.nReqID = GetIntFromDict(request, "nReqId");
  // None or a bool would be read as order 0 or 1: other orders.
  PyObject* number = Lookup(request, "nOrderId");
  if (number == Py_None || (number != nullptr && PyBool_Check(number))) {
    Raise(PyExc_TypeError, std::string("nOrderId must be an int (the order number), not ") +
                               Py_TYPE(number)->tp_name);
  }
  record.nOrderId = GetOptionalInt64FromDict(request, "nOrderId");
  CopyBounded(record.szProductCode, GetOptionalTextFromDict(request, "szProductCode"), 128);
  const char* code = GetOptionalTextFromDict(request, "szOrderOrigId");
  // Numbers start at 0, so a cancel that names nothing would cancel order 0.
  if (number == nullptr && (code == nullptr || *code == '\0')) {
    Raise(PyExc_ValueError,
          "OrderDelete names no order: give 'nOrderId' (the order number) or 'szOrderOrigId' "
          "(the gateway's order code)");
  }
  CopyBounded(record.errDesc, code, 127);
  return api.reqOrderDelete(&record);
}

int QryOrder(const py::dict& request) {
  TraderApiGo& api = CurrentApi();
  Corvane::TD_ReqQryOrder record = QueryRecord<Corvane::TD_ReqQryOrder>(request);
  return api.reqQryOrder(&record);
}

int QryMatch(const py::dict& request) {
  TraderApiGo& api = CurrentApi();
  Corvane::TD_ReqQryMatch record = QueryRecord<Corvane::TD_ReqQryMatch>(request);
  return api.reqQryMatch(&record);
}

int QryPosition(const py::dict& request) {
  TraderApiGo& api = CurrentApi();
  Corvane::TD_ReqQryPosition record = QueryRecord<Corvane::TD_ReqQryPosition>(request);
  return api.reqQryPosition(&record);
}

int QryAccountMaxEntrustCount(const py::dict& request) {
  TraderApiGo& api = CurrentApi();
  Corvane::TD_ReqQryAccountMaxEntrustCount record =
      QueryRecord<Corvane::TD_ReqQryAccountMaxEntrustCount>(request);
  return api.reqQryAccountMaxEntrustCount(&record);
}

int ReqSubQuote(int nReqID, const py::list& types, const py::list& /*extra*/, const py::list& codes,
                const std::string& /*text1*/, const std::string& /*text2*/) {
  TraderApiGo& api = CurrentApi();
  int kinds = 0;
  const Py_ssize_t typeCount = py::len(types);
  for (Py_ssize_t i = 0; i < typeCount; ++i) {
    const std::string type = py::extract<std::string>(types[i]);
    if (type == "market") kinds |= veltrane::kSubQuoteSnapshots;
    if (type == "transaction") kinds |= veltrane::kSubQuoteTrades;
  }
  const Py_ssize_t codeCount = py::len(codes);
  std::unique_ptr<char[][32]> table(new char[codeCount > 0 ? codeCount : 1][32]());
  for (Py_ssize_t i = 0; i < codeCount; ++i) {
    const py::object code = codes[i];
    // Not a str: the binding's TypeError.
    if (!PyUnicode_Check(code.ptr())) static_cast<void>(py::extract<std::string>(code)());
    const char* text = TextOf(code.ptr(), "codes", TextKind::kCode);
    std::memcpy(table[i], text, strnlen(text, 32));
  }
  return api.ReqSubQuote(nReqID, kinds, 0, table.get(), static_cast<int>(codeCount), "", "");
}

}  // namespace ombrel

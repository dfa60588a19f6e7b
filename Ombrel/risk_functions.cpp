// Dictionaries to and from veltrane's risk limits and counters. Every key
// comes from veltrane's one list of limits, so a limit added there is known
// here, in RiskStatus() and in the errors, without a change in this file.

#include "risk_functions.h"

#include <boost/python.hpp>
#include <cstring>
#include <string>
#include <variant>

#include "requests.h"
#include "veltrane_risk.h"

namespace ombrel {
namespace {

namespace py = boost::python;
using veltrane::RiskLimits;

using Member = std::variant<int64_t RiskLimits::*, double RiskLimits::*, bool RiskLimits::*>;

struct LimitKey {
  const char* key;
  Member member;
};

const LimitKey kLimitKeys[] = {
#define OMBREL_LIMIT_KEY(Name, field, type) {#field, &RiskLimits::field},
    VELTRANE_RISK_LIMIT_MAP(OMBREL_LIMIT_KEY)
#undef OMBREL_LIMIT_KEY
};

std::string KnownKeys() {
  std::string keys;
  for (const LimitKey& limit : kLimitKeys)
    keys += (keys.empty() ? "" : ", ") + std::string(limit.key);
  return keys;
}

[[noreturn]] void WrongType(const char* key, const char* expected, PyObject* value) {
  Raise(PyExc_TypeError, std::string("risk limit ") + key + " must be " + expected + ", not " +
                             Py_TYPE(value)->tp_name);
}

// None is "off" for every limit; a bool is no count.
void Read(RiskLimits& limits, const char* key, PyObject* value, int64_t RiskLimits::*member) {
  if (value == Py_None) return void(limits.*member = 0);
  if (!PyLong_Check(value) || PyBool_Check(value)) WrongType(key, "an int", value);
  int overflow = 0;
  const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (overflow != 0) Raise(PyExc_ValueError, std::string("risk limit ") + key + " is out of range");
  limits.*member = number;
}

void Read(RiskLimits& limits, const char* key, PyObject* value, double RiskLimits::*member) {
  if (value == Py_None) return void(limits.*member = 0);
  if (PyBool_Check(value) || !(PyFloat_Check(value) || PyLong_Check(value))) {
    WrongType(key, "a float", value);
  }
  const double number = PyFloat_AsDouble(value);
  if (number == -1.0 && PyErr_Occurred()) py::throw_error_already_set();
  limits.*member = number;
}

void Read(RiskLimits& limits, const char* key, PyObject* value, bool RiskLimits::*member) {
  if (value == Py_None) return void(limits.*member = false);
  if (!PyBool_Check(value)) WrongType(key, "a bool", value);
  limits.*member = value == Py_True;
}

// Replaces every limit: a key left out is off.
void SetRiskLimits(const py::dict& given) {
  RiskLimits limits;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t at = 0;
  while (PyDict_Next(given.ptr(), &at, &key, &value)) {
    if (!PyUnicode_Check(key)) WrongType("keys", "str", key);
    const char* name = PyUnicode_AsUTF8(key);
    if (name == nullptr) py::throw_error_already_set();
    const LimitKey* limit = nullptr;
    for (const LimitKey& known : kLimitKeys) {
      if (std::strcmp(known.key, name) == 0) limit = &known;
    }
    if (limit == nullptr) {
      Raise(PyExc_ValueError,
            std::string("unknown risk limit '") + name + "'; the limits are " + KnownKeys());
    }
    std::visit([&](auto member) { Read(limits, limit->key, value, member); }, limit->member);
  }
  std::string why;
  if (!veltrane::SetRiskLimits(limits, &why)) Raise(PyExc_ValueError, "risk limit " + why);
}

// Texts built from what a client sent may hold bytes that are not UTF-8.
py::object Text(const std::string& text) {
  return py::object(py::handle<>(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace")));
}

py::dict RiskStatus() {
  const RiskLimits limits = veltrane::CurrentRiskLimits();
  const veltrane::RiskCounters counters = veltrane::CurrentRiskCounters();
  py::dict limitValues;
  for (const LimitKey& limit : kLimitKeys) {
    limitValues[limit.key] =
        std::visit([&](auto member) { return py::object(limits.*member); }, limit.member);
  }
  py::dict refused;
  for (int check = 0; check < veltrane::kOrderCheckCount; ++check) {
    const auto which = static_cast<veltrane::OrderCheck>(check);
    refused[veltrane::OrderCheckName(which)] = veltrane::OrdersRefusedBy(which);
  }
  for (int rule = 0; rule < veltrane::kRiskRuleCount; ++rule) {
    refused[veltrane::RiskRuleName(static_cast<veltrane::RiskRule>(rule))] = counters.refused[rule];
  }
  py::dict status;
  status["limits"] = limitValues;
  status["trading_enabled"] = counters.trading_enabled;
  status["trading_day"] = counters.trading_day;
  status["orders_today"] = counters.orders_today;
  status["cancels_today"] = counters.cancels_today;
  status["orders_last_second"] = counters.orders_last_second;
  status["working_orders"] = counters.working_orders;
  status["refused"] = refused;
  status["last_refusal"] = Text(veltrane::LastRiskRefusal());
  return status;
}

void SetTradingEnabled(bool enabled) { veltrane::SetTradingEnabled(enabled); }

}  // namespace

void RegisterRiskFunctions() {
  const std::string keys = KnownKeys();
  py::def("SetRiskLimits", &SetRiskLimits, py::arg("limits"),
          ("SetRiskLimits(limits: dict) -> None. Replaces every pre-trade risk limit of the\n"
           "process; a key left out, 0, False or None is off.\nKeys: " +
           keys +
           ".\n"
           "An order that breaks a limit is not sent: OrderInsert returns -1, and\n"
           "RiskStatus() says which limit refused it and why. Cancels are refused only by\n"
           "max_cancels_per_day. Raises ValueError for an unknown key or a negative value,\n"
           "TypeError for a value of the wrong type, naming the key; the limits then stay.")
              .c_str());
  py::def("RiskStatus", &RiskStatus,
          "RiskStatus() -> dict. The limits ('limits', as SetRiskLimits takes them), the\n"
          "kill switch ('trading_enabled'), the day's counters ('trading_day' YYYYMMDD,\n"
          "'orders_today', 'cancels_today'), 'orders_last_second', 'working_orders', the\n"
          "requests refused by each rule ('refused': first the checks that no limit\n"
          "switches off, 'request_id', 'trade_type', 'order_quantity' and 'order_price',\n"
          "then 'trading_enabled' and the limits) and the text of the latest refusal\n"
          "('last_refusal', '' while there was none).");
  py::def("SetTradingEnabled", &SetTradingEnabled, py::arg("enabled"),
          "SetTradingEnabled(enabled: bool) -> None. The kill switch: with False every new\n"
          "order is refused (OrderInsert returns -1) until it is switched on again; cancels\n"
          "still go out.");
}

}  // namespace ombrel

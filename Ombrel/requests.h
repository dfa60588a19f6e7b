// requests.h: the static request functions of "PyQuantApi", which read a
// Python dictionary into a request record and hand it to the API object of
// the latest factory call.
//
// All of them run on the calling Python thread with the interpreter lock
// held and return the library's result unchanged. Failures reach Python as
// exceptions: RuntimeError with "Could not get key <key>" or "Could not
// convert <key> to int." (or " to char*."), the binding's TypeError for a
// value read by direct conversion, OverflowError for an int out of range,
// ValueError for a text with an embedded NUL or a cancel that names no
// order, UnicodeEncodeError for a code beyond ASCII or a str without UTF-8
// form, and RuntimeError when there is no API object to send to. A request
// that raises sends nothing.

#ifndef OMBREL_REQUESTS_H
#define OMBREL_REQUESTS_H

#include <boost/python.hpp>
#include <string>

#include "ZR_QuantApi.h"

namespace ombrel {

// Makes `api`, owned by the Python object `owner`, the object the request
// functions use. `owner` is only watched (weakly): once it is gone, requests
// raise instead of touching the freed API object.
void SetCurrentApi(TraderApiGo* api, PyObject* owner);

// Raises the Python exception `type` with `message` (through the binding's
// error_already_set, so the module's function returns it to Python).
[[noreturn]] void Raise(PyObject* type, const std::string& message);

// Dictionary readers. The key is looked up with the dictionary's own lookup.
// A value they cannot read raises, so that no request goes out that the
// script did not mean.
// A 32-bit int; missing key, wrong type or None raise RuntimeError.
int GetIntFromDict(const boost::python::dict& request, const char* key);
// How the gateway takes a text: security codes are ASCII, other texts UTF-8.
enum class TextKind { kCode, kText };
// A str's bytes (valid while the dict holds the str), or null for None;
// missing key or wrong type raise RuntimeError, an embedded NUL ValueError, a
// str the kind cannot hold (a code beyond ASCII, a lone surrogate)
// UnicodeEncodeError.
const char* GetTextFromDict(const boost::python::dict& request, const char* key,
                            TextKind kind = TextKind::kText);
// As above, but a missing key gives the empty text.
const char* GetOptionalTextFromDict(const boost::python::dict& request, const char* key);
// A 64-bit int; missing key or None give 0, another type raises
// RuntimeError, an int out of range OverflowError. (OrderDelete refuses a
// None or bool "nOrderId" before it reads one.)
long long GetOptionalInt64FromDict(const boost::python::dict& request, const char* key);

int OrderInsert(const boost::python::dict& request);
int OrderDelete(const boost::python::dict& request);
int QryOrder(const boost::python::dict& request);
int QryMatch(const boost::python::dict& request);
int QryPosition(const boost::python::dict& request);
int QryAccountMaxEntrustCount(const boost::python::dict& request);

// Subscribes `codes` to the kinds named in `types` ("market" for snapshots,
// "transaction" for trades); with neither word the codes are unsubscribed.
// `extra` and the two texts are not read. Returns the quote library's result.
int ReqSubQuote(int nReqID, const boost::python::list& types, const boost::python::list& extra,
                const boost::python::list& codes, const std::string& text1,
                const std::string& text2);

}  // namespace ombrel

#endif  // OMBREL_REQUESTS_H

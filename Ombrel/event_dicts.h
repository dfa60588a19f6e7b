// event_dicts.h: the dictionary a Python callback finds in "rspdict" for
// each event.
//
// Keys come in a fixed order per event kind and keep the record's field
// names ("nReqID" with a capital D). Prices stay in the record's unit of
// 1/10000 except "iTurnover" of a snapshot, which is in currency units.
// Texts are read up to their first zero byte (never past the field) and
// decoded as UTF-8, else as GB18030 (gateways on these markets send GBK),
// else as UTF-8 with replacement characters, so that no event is lost to its
// encoding.
//
// All functions that touch Python objects need the interpreter lock.

#ifndef OMBREL_EVENT_DICTS_H
#define OMBREL_EVENT_DICTS_H

#include <Python.h>

#include <cstdint>

#include "event_kinds.h"

namespace ombrel {

// Creates the interned key strings; once, at module load.
void CreateDictionaryKeys();

// Makes `dict` hold exactly the dictionary of `event`, a queued event. The
// dict object is reused: its previous content is gone afterwards. Returns false, with a Python
// error set, when a value could not be made (the dict is then partly filled and must not be handed
// to a script).
bool FillEventDict(PyObject* dict, const BridgeEvent& event);

// "nHighLimited" (factor 1.1) and "nLowLimited" (factor 0.9) of a snapshot:
// the previous close read as unsigned, times the factor, in whole hundreds of
// the price unit rounded in single precision (123400 gives 135700, 111100).
int64_t PriceLimit(int32_t preClose, double factor);

// A text field as a Python str (new reference; null with a Python error set
// only when memory runs out).
PyObject* TextToPython(const char* field, size_t capacity);

// `size` bytes of text, decoded as a text field is.
PyObject* DecodeText(const char* text, size_t size);

}  // namespace ombrel

#endif  // OMBREL_EVENT_DICTS_H

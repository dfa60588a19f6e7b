// Event records to Python dictionaries.

#include "event_dicts.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace ombrel {
namespace {

using Corvane::MD_Market;
using Corvane::MD_Transaction;

enum Key : int {
  kNSrvType,
  kPInfo,
  kErrDesc,
  kNReqID,
  kSzContractCode,
  kNTradeType,
  kNOrderId,
  kNOrderPrice,
  kNOrderVol,
  kNStatus,
  kNDealedVol,
  kNDealedPrice,
  kSzInsertTime,
  kNMatchPrice,
  kNMatchVol,
  kSzMatchTime,
  kNMatchStreamId,
  kNPosition,
  kPSubWindCode,
  kSzType,
  kSzWindCode,
  kSzCode,
  kSzDatetime,
  kNPreClose,
  kNOpen,
  kNHigh,
  kNLow,
  kNMatch,
  kNHighLimited,
  kNLowLimited,
  kIVolume,
  kITurnover,
  kNAskPrice,
  kNAskVol,
  kNBidPrice,
  kNBidVol,
  kNPrice,
  kNVolume,
  kNTurnover,
  kNBSFlag,
  kNAvailableCaptial,
  kNTotalCaptial,
  kKeyCount,
};

constexpr const char* kKeyNames[kKeyCount] = {
    "nSrvType",
    "pInfo",
    "errDesc",
    "nReqID",
    "szContractCode",
    "nTradeType",
    "nOrderId",
    "nOrderPrice",
    "nOrderVol",
    "nStatus",
    "nDealedVol",
    "nDealedPrice",
    "szInsertTime",
    "nMatchPrice",
    "nMatchVol",
    "szMatchTime",
    "nMatchStreamId",
    "nPosition",
    "pSubWindCode",
    "szType",
    "szWindCode",
    "szCode",
    "szDatetime",
    "nPreClose",
    "nOpen",
    "nHigh",
    "nLow",
    "nMatch",
    "nHighLimited",
    "nLowLimited",
    "iVolume",
    "iTurnover",
    "nAskPrice",
    "nAskVol",
    "nBidPrice",
    "nBidVol",
    "nPrice",
    "nVolume",
    "nTurnover",
    "nBSFlag",
    "nAvailableCaptial",
    "nTotalCaptial",
};

PyObject* g_keys[kKeyCount];
PyObject* g_stockType;        // "stock"
PyObject* g_transactionType;  // "transaction"

// Puts values under a fixed sequence of keys. When the dict already holds
// exactly those keys in that order (the previous event was of the same kind
// and the script left the dict alone), values are replaced in place, which
// gives the same dict as clearing and refilling without reallocating it.
class DictFill {
 public:
  template <size_t N>
  DictFill(PyObject* dict, const Key (&keys)[N]) : dict_(dict), keys_(keys), count_(N) {
    if (!HoldsExactlyTheKeys()) PyDict_Clear(dict_);
  }

  // Takes the reference `value`; a null value (a failed conversion) fails.
  bool Put(PyObject* value) {
    if (value == nullptr) return false;
    const int status = PyDict_SetItem(dict_, g_keys[keys_[next_++]], value);
    Py_DECREF(value);
    return status == 0;
  }

 private:
  bool HoldsExactlyTheKeys() const {
    if (PyDict_Size(dict_) != static_cast<Py_ssize_t>(count_)) return false;
    Py_ssize_t position = 0;
    PyObject* key;
    PyObject* value;
    for (size_t i = 0; i < count_; ++i) {
      if (!PyDict_Next(dict_, &position, &key, &value) || key != g_keys[keys_[i]]) return false;
    }
    return true;
  }

  PyObject* dict_;
  const Key* keys_;
  size_t count_;
  size_t next_ = 0;
};

PyObject* Int(int32_t value) { return PyLong_FromLong(value); }
PyObject* Int64(int64_t value) { return PyLong_FromLongLong(value); }
PyObject* Float(double value) { return PyFloat_FromDouble(value); }
PyObject* NewRef(PyObject* object) {
  Py_INCREF(object);
  return object;
}

template <size_t N>
PyObject* Text(const char (&field)[N]) {
  return TextToPython(field, N);
}

// Ten levels of a packed snapshot; read by copy, as the array may be unaligned.
PyObject* Levels(const MD_Market& market, size_t offset) {
  int32_t levels[10];
  std::memcpy(levels, reinterpret_cast<const char*>(&market) + offset, sizeof levels);
  PyObject* list = PyList_New(10);
  if (list == nullptr) return nullptr;
  for (Py_ssize_t i = 0; i < 10; ++i) {
    PyObject* level = Int(levels[i]);
    if (level == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, i, level);
  }
  return list;
}

// "YYYY-MM-DD " of the local date, recomputed only when the day changes (or
// the clock goes back).
const char* LocalDatePrefix() {
  static char prefix[48];
  static time_t dayBegins = 1;
  static time_t dayEnds = 0;
  const time_t now = std::time(nullptr);
  if (now < dayBegins || now >= dayEnds) {
    std::tm local{};
    localtime_r(&now, &local);
    std::snprintf(prefix, sizeof prefix, "%04d-%02d-%02d ", (local.tm_year + 1900) % 10000,
                  local.tm_mon + 1, local.tm_mday);
    local.tm_hour = local.tm_min = local.tm_sec = 0;
    local.tm_isdst = -1;
    dayBegins = std::mktime(&local);
    ++local.tm_mday;
    local.tm_isdst = -1;
    dayEnds = std::mktime(&local);
  }
  return prefix;
}

// "HH:MM:SS.mmm000" into `out` (at least 40 bytes); returns its length.
int TimeOfDay(int32_t nTime, char* out) {
  if (nTime >= 0 && nTime <= 999999999) {
    char digits[9];
    for (int i = 8; i >= 0; --i, nTime /= 10) digits[i] = static_cast<char>('0' + nTime % 10);
    const char text[15] = {digits[0], digits[1], ':',       digits[2], digits[3],
                           ':',       digits[4], digits[5], '.',       digits[6],
                           digits[7], digits[8], '0',       '0',       '0'};
    std::memcpy(out, text, sizeof text);
    return static_cast<int>(sizeof text);
  }
  // Not a time of day: the digits are cut up as they stand, after a leading
  // "0" when there are not nine characters.
  std::string text = std::to_string(nTime);
  if (text.size() != 9) text.insert(0, "0");
  text.resize(9, ' ');
  return std::snprintf(out, 40, "%.2s:%.2s:%.2s.%.3s000", text.c_str(), text.c_str() + 2,
                       text.c_str() + 4, text.c_str() + 6);
}

PyObject* DateTime(int32_t nTime) {
  char text[64];
  std::memcpy(text, LocalDatePrefix(), 11);
  const int length = 11 + TimeOfDay(nTime, text + 11);
  return PyUnicode_FromStringAndSize(text, length);
}

bool FillUserInfo(PyObject* dict, const Corvane::ZR_QuantUserBase& user) {
  if (user.pInfo == 0) {
    PyDict_Clear(dict);
    return true;
  }
  static constexpr Key kKeys[] = {kPInfo, kErrDesc};
  DictFill fill(dict, kKeys);
  return fill.Put(Int64(user.pInfo)) && fill.Put(Text(user.errDesc));
}

bool FillInsertAnswer(PyObject* dict, const Corvane::TD_RspOrderInsert& r) {
  static constexpr Key kKeys[] = {kNReqID,      kSzContractCode, kNTradeType, kNOrderId,
                                  kNOrderPrice, kNOrderVol,      kNStatus,    kErrDesc};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(r.nReqID)) && fill.Put(Text(r.szContractCode)) &&
         fill.Put(Int(r.nTradeType)) && fill.Put(Int64(r.nOrderId)) &&
         fill.Put(Int64(r.nOrderPrice)) && fill.Put(Int(r.nOrderVol)) && fill.Put(Int(r.nStatus)) &&
         fill.Put(Text(r.errDesc));
}

bool FillCancelAnswer(PyObject* dict, const Corvane::TD_ReqOrderDelete& r) {
  static constexpr Key kKeys[] = {kNReqID, kErrDesc};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(r.nReqID)) && fill.Put(Text(r.errDesc));
}

// An order query row, or (without "nReqID") a status change notice.
bool FillOrderRow(PyObject* dict, const Corvane::TD_RspOrderInsert& r, bool withReqId) {
  const auto rest = [&](DictFill& fill) {
    return fill.Put(Text(r.szContractCode)) && fill.Put(Int(r.nTradeType)) &&
           fill.Put(Int64(r.nOrderId)) && fill.Put(Int(r.nStatus)) &&
           fill.Put(Float(static_cast<double>(r.nOrderPrice))) && fill.Put(Int(r.nOrderVol)) &&
           fill.Put(Int(r.nDealedVol)) && fill.Put(Float(static_cast<double>(r.nDealedPrice))) &&
           fill.Put(Text(r.szInsertTime)) && fill.Put(Text(r.errDesc));
  };
  if (!withReqId) {
    static constexpr Key kKeys[] = {kSzContractCode, kNTradeType, kNOrderId,   kNStatus,
                                    kNOrderPrice,    kNOrderVol,  kNDealedVol, kNDealedPrice,
                                    kSzInsertTime,   kErrDesc};
    DictFill fill(dict, kKeys);
    return rest(fill);
  }
  static constexpr Key kKeys[] = {kNReqID,       kSzContractCode, kNTradeType, kNOrderId,
                                  kNStatus,      kNOrderPrice,    kNOrderVol,  kNDealedVol,
                                  kNDealedPrice, kSzInsertTime,   kErrDesc};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(r.nReqID)) && rest(fill);
}

bool FillMatch(PyObject* dict, const Corvane::TD_RtnOrderMatchNotice& r) {
  static constexpr Key kKeys[] = {kNReqID,      kSzContractCode, kNTradeType,
                                  kNOrderId,    kNMatchPrice,    kNMatchVol,
                                  kSzMatchTime, kNMatchStreamId, kErrDesc};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(r.nReqID)) && fill.Put(Text(r.szContractCode)) &&
         fill.Put(Int(r.nTradeType)) && fill.Put(Int64(r.nOrderId)) &&
         fill.Put(Float(r.nMatchPrice)) && fill.Put(Int(r.nMatchVol)) &&
         fill.Put(Text(r.szMatchTime)) && fill.Put(Int64(r.nMatchStreamId)) &&
         fill.Put(Text(r.errDesc));
}

bool FillPosition(PyObject* dict, const Corvane::TD_RspQryPosition& r) {
  static constexpr Key kKeys[] = {kNReqID, kSzContractCode, kNPosition, kErrDesc};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(r.nReqID)) && fill.Put(Text(r.szContractCode)) &&
         fill.Put(Int(r.nPosition)) && fill.Put(Text(r.errDesc));
}

PyObject* CodeList(const SubQuoteResult& result) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(result.codes.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < result.codes.size(); ++i) {
    PyObject* code = TextToPython(result.codes[i].data(), result.codes[i].size());
    if (code == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), code);
  }
  return list;
}

bool FillSubQuote(PyObject* dict, const BridgeEvent& event, const SubQuoteResult& result) {
  static constexpr Key kKeys[] = {kNReqID, kPSubWindCode, kErrDesc};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(event.nEventReqID)) && fill.Put(CodeList(result)) &&
         fill.Put(TextToPython(result.errDesc.data(), result.errDesc.size()));
}

bool FillMarket(PyObject* dict, const MD_Market& m) {
  static constexpr Key kKeys[] = {kSzType,      kSzWindCode, kSzCode,    kSzDatetime, kNPreClose,
                                  kNOpen,       kNHigh,      kNLow,      kNMatch,     kNHighLimited,
                                  kNLowLimited, kIVolume,    kITurnover, kNAskPrice,  kNAskVol,
                                  kNBidPrice,   kNBidVol};
  DictFill fill(dict, kKeys);
  return fill.Put(NewRef(g_stockType)) && fill.Put(Text(m.szWindCode)) &&
         fill.Put(Text(m.szCode)) && fill.Put(DateTime(m.nTime)) && fill.Put(Int(m.nPreClose)) &&
         fill.Put(Int(m.nOpen)) && fill.Put(Int(m.nHigh)) && fill.Put(Int(m.nLow)) &&
         fill.Put(Int(m.nMatch)) && fill.Put(Int64(PriceLimit(m.nPreClose, 1.1))) &&
         fill.Put(Int64(PriceLimit(m.nPreClose, 0.9))) && fill.Put(Int64(m.iVolume)) &&
         fill.Put(Float(static_cast<double>(m.iTurnover) / 10000.0)) &&
         fill.Put(Levels(m, offsetof(MD_Market, nAskPrice))) &&
         fill.Put(Levels(m, offsetof(MD_Market, nAskVol))) &&
         fill.Put(Levels(m, offsetof(MD_Market, nBidPrice))) &&
         fill.Put(Levels(m, offsetof(MD_Market, nBidVol)));
}

bool FillTransaction(PyObject* dict, const MD_Transaction& t) {
  static constexpr Key kKeys[] = {kSzType, kSzWindCode, kSzCode,    kSzDatetime,
                                  kNPrice, kNVolume,    kNTurnover, kNBSFlag};
  DictFill fill(dict, kKeys);
  return fill.Put(NewRef(g_transactionType)) && fill.Put(Text(t.szWindCode)) &&
         fill.Put(Text(t.szCode)) && fill.Put(DateTime(t.nTime)) && fill.Put(Int(t.nPrice)) &&
         fill.Put(Int(t.nVolume)) && fill.Put(Int(t.nTurnover)) && fill.Put(Int(t.nBSFlag));
}

bool FillCapital(PyObject* dict, const Corvane::TD_RspQryAccountMaxEntrustCount& r) {
  static constexpr Key kKeys[] = {kNAvailableCaptial, kNTotalCaptial};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(r.nAvailableCaptial)) && fill.Put(Int(r.nTotalCaptial));
}

template <class Record>
const Record& RecordOf(const BridgeEvent& event) {
  return *static_cast<const Record*>(event.pRecord);
}

}  // namespace

void CreateDictionaryKeys() {
  for (int key = 0; key < kKeyCount; ++key)
    g_keys[key] = PyUnicode_InternFromString(kKeyNames[key]);
  g_stockType = PyUnicode_InternFromString("stock");
  g_transactionType = PyUnicode_InternFromString("transaction");
}

bool FillEventDict(PyObject* dict, const BridgeEvent& event) {
  switch (event.nEventType) {
    case kEventConnect: {
      static constexpr Key kKeys[] = {kNSrvType};
      DictFill fill(dict, kKeys);
      return fill.Put(Int(event.nSrvType));
    }
    case kEventUserInfo:
      return FillUserInfo(dict, RecordOf<Corvane::ZR_QuantUserBase>(event));
    case kEventLoginWarn: {
      static constexpr Key kKeys[] = {kPInfo};
      DictFill fill(dict, kKeys);
      return fill.Put(Int(event.nErrorId));
    }
    case kEventRspOrderInsert:
      return FillInsertAnswer(dict, RecordOf<Corvane::TD_RspOrderInsert>(event));
    case kEventRspOrderDelete:
      return FillCancelAnswer(dict, RecordOf<Corvane::TD_ReqOrderDelete>(event));
    case kEventRspQryOrder:
      return FillOrderRow(dict, RecordOf<Corvane::TD_RspQryOrder>(event), true);
    case kEventRspQryMatch:
      return FillMatch(dict, RecordOf<Corvane::TD_RspQryMatch>(event));
    case kEventRspQryPosition:
      return FillPosition(dict, RecordOf<Corvane::TD_RspQryPosition>(event));
    case kEventRspSubQuote:
      return FillSubQuote(dict, event, RecordOf<SubQuoteResult>(event));
    case kEventOrderStatusChange:
      return FillOrderRow(dict, RecordOf<Corvane::TD_RspOrderInsert>(event), false);
    case kEventOrderMatch:
      return FillMatch(dict, RecordOf<Corvane::TD_RtnOrderMatchNotice>(event));
    case kEventMarket:
      return FillMarket(dict, RecordOf<MD_Market>(event));
    case kEventTransaction:
      return FillTransaction(dict, RecordOf<MD_Transaction>(event));
    case kEventAccountCapital:
      return FillCapital(dict, RecordOf<Corvane::TD_RspQryAccountMaxEntrustCount>(event));
  }
  return true;
}

int64_t PriceLimit(int32_t preClose, double factor) {
  const double scaled = static_cast<double>(static_cast<uint32_t>(preClose)) * factor / 100.0;
  const float hundreds = std::round(static_cast<float>(scaled));
  return static_cast<int64_t>(hundreds * 100.0f);
}

PyObject* TextToPython(const char* field, size_t capacity) {
  const Py_ssize_t size = static_cast<Py_ssize_t>(strnlen(field, capacity));
  PyObject* text = PyUnicode_DecodeUTF8(field, size, nullptr);
  if (text != nullptr || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return text;
  PyErr_Clear();
  text = PyUnicode_Decode(field, size, "gb18030", nullptr);
  if (text != nullptr || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return text;
  PyErr_Clear();
  return PyUnicode_DecodeUTF8(field, size, "replace");
}

}  // namespace ombrel

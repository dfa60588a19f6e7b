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

// Every key a dictionary can hold, named as the record's field.
// clang-format off
#define OMBREL_DICT_KEY_MAP(XX)                                                              \
  XX(nSrvType) XX(pInfo) XX(errDesc) XX(nReqID) XX(szContractCode) XX(nTradeType)            \
  XX(nOrderId) XX(nOrderPrice) XX(nOrderVol) XX(nStatus) XX(nDealedVol) XX(nDealedPrice)     \
  XX(szInsertTime) XX(nMatchPrice) XX(nMatchVol) XX(szMatchTime) XX(nMatchStreamId)          \
  XX(nPosition) XX(pSubWindCode) XX(szType) XX(szWindCode) XX(szCode) XX(szDatetime)         \
  XX(nPreClose) XX(nOpen) XX(nHigh) XX(nLow) XX(nMatch) XX(nHighLimited) XX(nLowLimited)     \
  XX(iVolume) XX(iTurnover) XX(nAskPrice) XX(nAskVol) XX(nBidPrice) XX(nBidVol) XX(nPrice)   \
  XX(nVolume) XX(nTurnover) XX(nBSFlag) XX(nAvailableCaptial) XX(nTotalCaptial)
// clang-format on

enum class Key : int {
#define OMBREL_KEY_ENUMERATOR(name) name,
  OMBREL_DICT_KEY_MAP(OMBREL_KEY_ENUMERATOR)
#undef OMBREL_KEY_ENUMERATOR
};

#define OMBREL_KEY_COUNT(name) +1
constexpr int kKeyCount = 0 OMBREL_DICT_KEY_MAP(OMBREL_KEY_COUNT);
#undef OMBREL_KEY_COUNT

constexpr const char* kKeyNames[kKeyCount] = {
#define OMBREL_KEY_NAME(name) #name,
    OMBREL_DICT_KEY_MAP(OMBREL_KEY_NAME)
#undef OMBREL_KEY_NAME
};

PyObject* g_keys[kKeyCount];
PyObject* g_stockType;        // "stock"
PyObject* g_transactionType;  // "transaction"

// Every change of a dict gives it a new version, unique in the process, so
// a dict whose version is the one a fill left has not been touched since.
#if PY_VERSION_HEX < 0x030C0000
constexpr bool kDictsHaveVersions = true;
uint64_t VersionOf(PyObject* dict) { return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag; }
#else
constexpr bool kDictsHaveVersions = false;
uint64_t VersionOf(PyObject*) { return 0; }
#endif

// The dict as the last complete fill left it, and the keys of the fill in
// progress (null when it puts none).
struct LastFill {
  PyObject* dict = nullptr;
  uint64_t version = 0;
  const Key* keys = nullptr;
};
LastFill g_lastFill;
const Key* g_fillingKeys = nullptr;
Py_ssize_t g_fillingCount = 0;

// Puts values under a fixed sequence of keys. When the dict already holds
// exactly those keys in that order (the previous event was of the same kind
// and the script left the dict alone), values are replaced in place, which
// gives the same dict as clearing and refilling without reallocating it.
class DictFill {
 public:
  template <size_t N>
  DictFill(PyObject* dict, const Key (&keys)[N]) : dict_(dict), keys_(keys), count_(N) {
    inPlace_ = HoldsExactlyTheKeys();
    if (!inPlace_) PyDict_Clear(dict_);
    g_fillingKeys = keys;
    g_fillingCount = static_cast<Py_ssize_t>(N);
  }

  // What the dict holds under the next key when it is refilled in place
  // (borrowed), else null.
  PyObject* Previous() const {
    return inPlace_ ? PyDict_GetItem(dict_, g_keys[static_cast<int>(keys_[next_])]) : nullptr;
  }

  // Takes the reference `value`; a null value (a failed conversion) fails.
  bool Put(PyObject* value) {
    if (value == nullptr) return false;
    const int status = PyDict_SetItem(dict_, g_keys[static_cast<int>(keys_[next_++])], value);
    Py_DECREF(value);
    return status == 0;
  }

 private:
  bool HoldsExactlyTheKeys() const {
    // Untouched since the last fill: its keys are known without a look.
    if (kDictsHaveVersions && dict_ == g_lastFill.dict && VersionOf(dict_) == g_lastFill.version) {
      return keys_ == g_lastFill.keys;
    }
    if (PyDict_Size(dict_) != static_cast<Py_ssize_t>(count_)) return false;
    Py_ssize_t position = 0;
    PyObject* key;
    PyObject* value;
    for (size_t i = 0; i < count_; ++i) {
      if (!PyDict_Next(dict_, &position, &key, &value) ||
          key != g_keys[static_cast<int>(keys_[i])]) {
        return false;
      }
    }
    return true;
  }

  PyObject* dict_;
  const Key* keys_;
  size_t count_;
  size_t next_ = 0;
  bool inPlace_ = false;
};

// Numbers and short texts repeat from event to event (the prices of a book,
// the codes of the instruments), and ints and strs are immutable, so the
// dictionaries share the objects of recent values instead of making each one
// anew. Each cache is direct-mapped: a slot keeps the object last made for a
// value that falls on it. Used with the interpreter lock held only.
template <class Key, int kSlotBits>
class ObjectCache {
 public:
  // The object kept for `key`, else the one `make()` returns (a new
  // reference, or null with a Python error set), which is kept instead of
  // the slot's earlier one. The slot is chosen by the top bits of `hash`.
  template <class Make>
  PyObject* Get(uint64_t hash, const Key& key, Make make) {
    Slot& slot = slots_[hash >> (64 - kSlotBits)];
    if (slot.object == nullptr || !(slot.key == key)) {
      PyObject* made = make();
      if (made == nullptr) return nullptr;
      Py_XSETREF(slot.object, made);
      slot.key = key;
    }
    Py_INCREF(slot.object);
    return slot.object;
  }

 private:
  struct Slot {
    Key key{};
    PyObject* object = nullptr;
  };
  Slot slots_[size_t{1} << kSlotBits];
};

// A text short enough to be kept in the cache; longer ones are made each time.
struct ShortText {
  static constexpr size_t kLongest = 32;
  size_t size = 0;
  char bytes[kLongest] = {};

  bool operator==(const ShortText& other) const {
    return size == other.size && std::memcmp(bytes, other.bytes, size) == 0;
  }
};

ObjectCache<int64_t, 12> g_ints;
ObjectCache<ShortText, 10> g_texts;

PyObject* Int64(int64_t value) {
  return g_ints.Get(static_cast<uint64_t>(value) * 0x9E3779B97F4A7C15u, value,
                    [value] { return PyLong_FromLongLong(value); });
}

PyObject* Int(int32_t value) { return Int64(value); }
PyObject* Float(double value) { return PyFloat_FromDouble(value); }
PyObject* NewRef(PyObject* object) {
  Py_INCREF(object);
  return object;
}

template <size_t N>
PyObject* Text(const char (&field)[N]) {
  return TextToPython(field, N);
}

// Ten levels of a packed snapshot; read by copy, as the array may be
// unaligned. The previous event's list is refilled when only the dict holds
// it, since then nothing can see it change.
PyObject* Levels(const MD_Market& market, size_t offset, PyObject* previous) {
  int32_t levels[10];
  std::memcpy(levels, reinterpret_cast<const char*>(&market) + offset, sizeof levels);
  PyObject* values[10];
  for (size_t i = 0; i < 10; ++i) {
    values[i] = Int(levels[i]);
    if (values[i] == nullptr) {
      for (size_t made = 0; made < i; ++made) Py_DECREF(values[made]);
      return nullptr;
    }
  }
  if (previous != nullptr && PyList_CheckExact(previous) && Py_REFCNT(previous) == 1 &&
      PyList_GET_SIZE(previous) == 10) {
    PyObject* replaced[10];
    for (Py_ssize_t i = 0; i < 10; ++i) {
      replaced[i] = PyList_GET_ITEM(previous, i);
      PyList_SET_ITEM(previous, i, values[i]);
    }
    Py_INCREF(previous);
    // Only now: a replaced item's finaliser may run any code, the list's
    // change included.
    for (PyObject* item : replaced) Py_DECREF(item);
    return previous;
  }
  PyObject* list = PyList_New(10);
  if (list == nullptr) {
    for (PyObject* value : values) Py_DECREF(value);
    return nullptr;
  }
  for (Py_ssize_t i = 0; i < 10; ++i) PyList_SET_ITEM(list, i, values[i]);
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

bool FillUserInfo(PyObject* dict, const BridgeEvent&, const Corvane::ZR_QuantUserBase& user) {
  if (user.pInfo == 0) {
    PyDict_Clear(dict);
    return true;
  }
  static constexpr Key kKeys[] = {Key::pInfo, Key::errDesc};
  DictFill fill(dict, kKeys);
  return fill.Put(Int64(user.pInfo)) && fill.Put(Text(user.errDesc));
}

bool FillRspOrderInsert(PyObject* dict, const BridgeEvent&, const Corvane::TD_RspOrderInsert& r) {
  static constexpr Key kKeys[] = {Key::nReqID,   Key::szContractCode, Key::nTradeType,
                                  Key::nOrderId, Key::nOrderPrice,    Key::nOrderVol,
                                  Key::nStatus,  Key::errDesc};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(r.nReqID)) && fill.Put(Text(r.szContractCode)) &&
         fill.Put(Int(r.nTradeType)) && fill.Put(Int64(r.nOrderId)) &&
         fill.Put(Int64(r.nOrderPrice)) && fill.Put(Int(r.nOrderVol)) && fill.Put(Int(r.nStatus)) &&
         fill.Put(Text(r.errDesc));
}

bool FillRspOrderDelete(PyObject* dict, const BridgeEvent&, const Corvane::TD_ReqOrderDelete& r) {
  static constexpr Key kKeys[] = {Key::nReqID, Key::errDesc};
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
    static constexpr Key kKeys[] = {Key::szContractCode, Key::nTradeType,   Key::nOrderId,
                                    Key::nStatus,        Key::nOrderPrice,  Key::nOrderVol,
                                    Key::nDealedVol,     Key::nDealedPrice, Key::szInsertTime,
                                    Key::errDesc};
    DictFill fill(dict, kKeys);
    return rest(fill);
  }
  static constexpr Key kKeys[] = {Key::nReqID,       Key::szContractCode, Key::nTradeType,
                                  Key::nOrderId,     Key::nStatus,        Key::nOrderPrice,
                                  Key::nOrderVol,    Key::nDealedVol,     Key::nDealedPrice,
                                  Key::szInsertTime, Key::errDesc};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(r.nReqID)) && rest(fill);
}

bool FillMatch(PyObject* dict, const Corvane::TD_RtnOrderMatchNotice& r) {
  static constexpr Key kKeys[] = {Key::nReqID,      Key::szContractCode, Key::nTradeType,
                                  Key::nOrderId,    Key::nMatchPrice,    Key::nMatchVol,
                                  Key::szMatchTime, Key::nMatchStreamId, Key::errDesc};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(r.nReqID)) && fill.Put(Text(r.szContractCode)) &&
         fill.Put(Int(r.nTradeType)) && fill.Put(Int64(r.nOrderId)) &&
         fill.Put(Float(r.nMatchPrice)) && fill.Put(Int(r.nMatchVol)) &&
         fill.Put(Text(r.szMatchTime)) && fill.Put(Int64(r.nMatchStreamId)) &&
         fill.Put(Text(r.errDesc));
}

bool FillRspQryPosition(PyObject* dict, const BridgeEvent&, const Corvane::TD_RspQryPosition& r) {
  static constexpr Key kKeys[] = {Key::nReqID, Key::szContractCode, Key::nPosition, Key::errDesc};
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

bool FillRspSubQuote(PyObject* dict, const BridgeEvent& event, const SubQuoteResult& result) {
  static constexpr Key kKeys[] = {Key::nReqID, Key::pSubWindCode, Key::errDesc};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(event.nEventReqID)) && fill.Put(CodeList(result)) &&
         fill.Put(TextToPython(result.errDesc.data(), result.errDesc.size()));
}

bool FillMarket(PyObject* dict, const BridgeEvent&, const MD_Market& m) {
  static constexpr Key kKeys[] = {
      Key::szType,      Key::szWindCode, Key::szCode,    Key::szDatetime, Key::nPreClose,
      Key::nOpen,       Key::nHigh,      Key::nLow,      Key::nMatch,     Key::nHighLimited,
      Key::nLowLimited, Key::iVolume,    Key::iTurnover, Key::nAskPrice,  Key::nAskVol,
      Key::nBidPrice,   Key::nBidVol};
  DictFill fill(dict, kKeys);
  return fill.Put(NewRef(g_stockType)) && fill.Put(Text(m.szWindCode)) &&
         fill.Put(Text(m.szCode)) && fill.Put(DateTime(m.nTime)) && fill.Put(Int(m.nPreClose)) &&
         fill.Put(Int(m.nOpen)) && fill.Put(Int(m.nHigh)) && fill.Put(Int(m.nLow)) &&
         fill.Put(Int(m.nMatch)) && fill.Put(Int64(PriceLimit(m.nPreClose, 1.1))) &&
         fill.Put(Int64(PriceLimit(m.nPreClose, 0.9))) && fill.Put(Int64(m.iVolume)) &&
         fill.Put(Float(static_cast<double>(m.iTurnover) / 10000.0)) &&
         fill.Put(Levels(m, offsetof(MD_Market, nAskPrice), fill.Previous())) &&
         fill.Put(Levels(m, offsetof(MD_Market, nAskVol), fill.Previous())) &&
         fill.Put(Levels(m, offsetof(MD_Market, nBidPrice), fill.Previous())) &&
         fill.Put(Levels(m, offsetof(MD_Market, nBidVol), fill.Previous()));
}

bool FillTransaction(PyObject* dict, const BridgeEvent&, const MD_Transaction& t) {
  static constexpr Key kKeys[] = {Key::szType, Key::szWindCode, Key::szCode,    Key::szDatetime,
                                  Key::nPrice, Key::nVolume,    Key::nTurnover, Key::nBSFlag};
  DictFill fill(dict, kKeys);
  return fill.Put(NewRef(g_transactionType)) && fill.Put(Text(t.szWindCode)) &&
         fill.Put(Text(t.szCode)) && fill.Put(DateTime(t.nTime)) && fill.Put(Int(t.nPrice)) &&
         fill.Put(Int(t.nVolume)) && fill.Put(Int(t.nTurnover)) && fill.Put(Int(t.nBSFlag));
}

bool FillQryAccountMaxEntrustCount(PyObject* dict, const BridgeEvent&,
                                   const Corvane::TD_RspQryAccountMaxEntrustCount& r) {
  static constexpr Key kKeys[] = {Key::nAvailableCaptial, Key::nTotalCaptial};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(r.nAvailableCaptial)) && fill.Put(Int(r.nTotalCaptial));
}

bool FillConnect(PyObject* dict, const BridgeEvent& event, const NoRecord&) {
  static constexpr Key kKeys[] = {Key::nSrvType};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(event.nSrvType));
}

bool FillLoginWarn(PyObject* dict, const BridgeEvent& event, const NoRecord&) {
  static constexpr Key kKeys[] = {Key::pInfo};
  DictFill fill(dict, kKeys);
  return fill.Put(Int(event.nErrorId));
}

// The spi drops disconnections, so none is ever queued.
bool FillDisconnect(PyObject*, const BridgeEvent&, const NotQueued&) {
  PyErr_SetString(PyExc_SystemError, "a disconnection reached the dispatcher");
  return false;
}

bool FillRspQryOrder(PyObject* dict, const BridgeEvent&, const Corvane::TD_RspQryOrder& r) {
  return FillOrderRow(dict, r, true);
}

bool FillOrderStatusChangeNotice(PyObject* dict, const BridgeEvent&,
                                 const Corvane::TD_RspOrderInsert& r) {
  return FillOrderRow(dict, r, false);
}

bool FillRspQryMatch(PyObject* dict, const BridgeEvent&, const Corvane::TD_RspQryMatch& r) {
  return FillMatch(dict, r);
}

bool FillOrderMatchNotice(PyObject* dict, const BridgeEvent&,
                          const Corvane::TD_RtnOrderMatchNotice& r) {
  return FillMatch(dict, r);
}

}  // namespace

void CreateDictionaryKeys() {
  for (int key = 0; key < kKeyCount; ++key)
    g_keys[key] = PyUnicode_InternFromString(kKeyNames[key]);
  g_stockType = PyUnicode_InternFromString("stock");
  g_transactionType = PyUnicode_InternFromString("transaction");
}

bool FillEventDict(PyObject* dict, const BridgeEvent& event) {
  g_fillingKeys = nullptr;
  bool filled = false;
  switch (event.Kind()) {
#define OMBREL_FILL(Name, ...)                                                                    \
  case EventKind::k##Name:                                                                        \
    filled =                                                                                      \
        Fill##Name(dict, event, std::get<static_cast<size_t>(EventKind::k##Name)>(event.record)); \
    break;
    OMBREL_EVENT_MAP(OMBREL_FILL)
#undef OMBREL_FILL
  }
  g_lastFill = LastFill{};
  // Code that ran during the fill (a replaced value's finaliser) may have
  // changed the dict; one that no longer holds as many keys is looked at anew.
  if (filled && g_fillingKeys != nullptr && PyDict_Size(dict) == g_fillingCount) {
    g_lastFill = {dict, VersionOf(dict), g_fillingKeys};
  }
  return filled;
}

int64_t PriceLimit(int32_t preClose, double factor) {
  const double scaled = static_cast<double>(static_cast<uint32_t>(preClose)) * factor / 100.0;
  const float hundreds = std::round(static_cast<float>(scaled));
  return static_cast<int64_t>(hundreds * 100.0f);
}

PyObject* TextToPython(const char* field, size_t capacity) {
  const size_t size = strnlen(field, capacity);
  if (size > ShortText::kLongest) return DecodeText(field, size);
  ShortText key;
  key.size = size;
  std::memcpy(key.bytes, field, size);
  uint64_t hash = 14695981039346656037u;  // FNV-1a
  for (size_t i = 0; i < size; ++i)
    hash = (hash ^ static_cast<unsigned char>(field[i])) * 1099511628211u;
  return g_texts.Get(hash, key, [field, size] { return DecodeText(field, size); });
}

PyObject* DecodeText(const char* field, size_t length) {
  const Py_ssize_t size = static_cast<Py_ssize_t>(length);
  PyObject* text = PyUnicode_DecodeUTF8(field, size, nullptr);
  if (text != nullptr || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return text;
  PyErr_Clear();
  text = PyUnicode_Decode(field, size, "gb18030", nullptr);
  if (text != nullptr || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return text;
  PyErr_Clear();
  return PyUnicode_DecodeUTF8(field, size, "replace");
}

}  // namespace ombrel

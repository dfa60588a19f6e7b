// event_kinds.h: the one list of Ombrel's event kinds, and the queued event.
//
// Every callback method of "QuantCallBack" is one row of OMBREL_EVENT_MAP,
// in the order of QuantCallBack's operations. A row names
//   - the kind (`Name`): the method is "Rtn" #Name, the kind's enumerator
//     `EventKind::k##Name`, its dictionary filler `Fill##Name` (event_dicts.cpp);
//   - the record the queue keeps a copy of (`Record`): `NoRecord` for a kind
//     whose data travel beside it, `NotQueued` for one that never reaches
//     Python;
//   - the spi operation that queues it (`SpiOperation`), which the module's
//     spi must override;
//   - whether "errorid" and "isend" come from the event (`kFromEvent`) or are
//     0 and False (`kCleared`);
//   - whether "QuantCallBack" registers the method (`kPureVirtual`) or leaves
//     it to the script alone (`kScriptOnly`).
// The enumerators, the queued record's alternatives, the native callback
// class, the method names and registrations, the dispatcher's calls and the
// dictionary fillers are all generated from it, so they cannot fall out of
// step. The tests compare the type stubs and their own list of methods with
// it.

#ifndef OMBREL_EVENT_KINDS_H
#define OMBREL_EVENT_KINDS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "ZR_QuantApi.h"

namespace ombrel {

// The data of a kind that carries none in a record of its own.
struct NoRecord {};
// The record of a kind the spi drops: it is never queued.
struct NotQueued {};

// The record of a subscription answer: the answer's codes, each up to its
// first zero byte, and the answer's error text.
struct SubQuoteResult {
  std::vector<std::string> codes;
  std::string errDesc;
};

enum class EventStatus { kCleared, kFromEvent };
enum class Registration { kPureVirtual, kScriptOnly };

// XX(Name, Record, SpiOperation, EventStatus, Registration)
#define OMBREL_EVENT_MAP(XX)                                                                 \
  XX(Connect, NoRecord, OnConnect, kCleared, kPureVirtual)                                   \
  XX(Disconnect, NotQueued, OnDisconnect, kCleared, kPureVirtual)                            \
  XX(UserInfo, Corvane::ZR_QuantUserBase, OnRtnUserInfo, kCleared, kPureVirtual)             \
  XX(LoginWarn, NoRecord, OnRtnLoginWarn, kCleared, kPureVirtual)                            \
  XX(RspQryOrder, Corvane::TD_RspQryOrder, OnRspQryOrder, kFromEvent, kPureVirtual)          \
  XX(RspQryMatch, Corvane::TD_RspQryMatch, OnRspQryMatch, kFromEvent, kPureVirtual)          \
  XX(RspQryPosition, Corvane::TD_RspQryPosition, OnRspQryPosition, kFromEvent, kPureVirtual) \
  XX(RspOrderInsert, Corvane::TD_RspOrderInsert, OnRspOrderInsert, kFromEvent, kPureVirtual) \
  XX(RspOrderDelete, Corvane::TD_ReqOrderDelete, OnRspOrderDelete, kFromEvent, kPureVirtual) \
  XX(OrderStatusChangeNotice, Corvane::TD_RspOrderInsert, OnRtnOrderStatusChangeNotice,      \
     kFromEvent, kPureVirtual)                                                               \
  XX(OrderMatchNotice, Corvane::TD_RtnOrderMatchNotice, OnRtnOrderMatchNotice, kFromEvent,   \
     kPureVirtual)                                                                           \
  XX(RspSubQuote, SubQuoteResult, OnRspSubQuote, kFromEvent, kPureVirtual)                   \
  XX(Market, Corvane::MD_Market, OnRtnMarket, kFromEvent, kPureVirtual)                      \
  XX(Transaction, Corvane::MD_Transaction, OnRtnTransaction, kFromEvent, kPureVirtual)       \
  XX(QryAccountMaxEntrustCount, Corvane::TD_RspQryAccountMaxEntrustCount,                    \
     OnRspQryAccountMaxEntrustCount, kFromEvent, kScriptOnly)

enum class EventKind : int {
#define OMBREL_EVENT_ENUMERATOR(Name, ...) k##Name,
  OMBREL_EVENT_MAP(OMBREL_EVENT_ENUMERATOR)
#undef OMBREL_EVENT_ENUMERATOR
};

#define OMBREL_EVENT_COUNT(...) +1
constexpr int kEventKindCount = 0 OMBREL_EVENT_MAP(OMBREL_EVENT_COUNT);
#undef OMBREL_EVENT_COUNT

// The Python method of each kind, indexed by EventKind.
extern const char* const kCallbackMethodNames[kEventKindCount];

// The queued copy of an event's record. The alternative's index is the
// event's kind, so a record is always read and destroyed as what it is.
using EventRecord = std::variant<
#define OMBREL_EVENT_RECORD(Name, Record, ...) Record,
    OMBREL_EVENT_MAP(OMBREL_EVENT_RECORD)
#undef OMBREL_EVENT_RECORD
        NotQueued>;  // ends the list; no kind has this index

template <EventKind kKind>
using RecordOf = std::variant_alternative_t<static_cast<size_t>(kKind), EventRecord>;

// What travels beside an event's record.
struct EventFields {
  int32_t nSrvType = 0;      // argument of OnConnect
  int32_t nEventReqID = -1;  // request id carried outside the record (subscription, quotes)
  int32_t nErrorId = 0;
  bool bIsLast = true;
};

// A queue entry: the record copy and its fields.
struct BridgeEvent : EventFields {
  EventRecord record{std::in_place_index<kEventKindCount>};  // no event yet

  EventKind Kind() const { return static_cast<EventKind>(record.index()); }
};

}  // namespace ombrel

#endif  // OMBREL_EVENT_KINDS_H

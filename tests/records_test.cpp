// The records' binary layout, defaults and copies: both deliverables and every
// compiled client depend on them agreeing byte for byte.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "ZR_QuantApi.h"

using namespace Corvane;

namespace {

// offsetof on the polymorphic records is what this test is about; GCC and
// Clang give it the obvious meaning.
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

struct Field {
  const char* name;
  size_t offset;
  size_t size;
  size_t align;
  size_t expectedSize;
  bool copiedAsIs;
  bool isBool;  // holds only 0 or 1
};

template <class T>
Field MakeField(const char* name, size_t offset, size_t width, bool copiedAsIs) {
  return Field{
      name, offset, sizeof(T), alignof(T), width, copiedAsIs, std::is_same<T, bool>::value};
}

#define FIELD_WITH(R, f, width, copied) MakeField<decltype(R::f)>(#f, offsetof(R, f), width, copied)
#define FIELD(R, f, width) FIELD_WITH(R, f, width, true)
// A field that owns what it points to: a copy does not take it over.
#define OWNING_FIELD(R, f, width) FIELD_WITH(R, f, width, false)

struct RecordCase {
  const char* name;
  size_t size;
  size_t align;
  bool polymorphic;  // starts with a vtable pointer
  bool packed;
  std::vector<Field> fields;  // every field, base fields first
  std::function<void(void*)> defaultConstruct;
  std::function<void(void*, const void*)> copyConstruct;
  std::function<void(void*, const void*)> copyAssign;
  std::function<void(void*)> destroy;
};

template <class R>
RecordCase Case(const char* name, bool packed, std::vector<Field> fields) {
  return RecordCase{
      name, sizeof(R), alignof(R), std::is_polymorphic<R>::value, packed, std::move(fields),
      // Default-initialisation, not value-initialisation: only the
      // constructor may zero the fields.
      [](void* p) { new (p) R; },
      [](void* p, const void* from) { new (p) R(*static_cast<const R*>(from)); },
      [](void* p, const void* from) { *static_cast<R*>(p) = *static_cast<const R*>(from); },
      [](void* p) { static_cast<R*>(p)->~R(); }};
}

#define BASE_FIELDS(R)                                                                            \
  FIELD(R, nReqID, 4), FIELD(R, iReserved1, 8), FIELD(R, nReserved2, 4), FIELD(R, dReserved3, 8), \
      FIELD(R, errDesc, 128), FIELD(R, iReserved4, 8), FIELD(R, szProductCode, 128)

#define INSERT_FIELDS(R)                                                                           \
  BASE_FIELDS(R), FIELD(R, szContractCode, 64), FIELD(R, nTradeType, 4), FIELD(R, nOrderPrice, 8), \
      FIELD(R, nOrderVol, 4), FIELD(R, iReserved5, 8), FIELD(R, nReserved6, 4)

#define RSP_INSERT_FIELDS(R)                                                                 \
  INSERT_FIELDS(R), FIELD(R, iReserved7, 8), FIELD(R, nOrderId, 8), FIELD(R, nReserved8, 4), \
      FIELD(R, nDealedPrice, 8), FIELD(R, nDealedVol, 4), FIELD(R, nReserved9, 4),           \
      FIELD(R, nReserved10, 4), FIELD(R, nStatus, 4), FIELD(R, szInsertTime, 21),            \
      FIELD(R, dReserved11, 8)

#define MATCH_FIELDS(R)                                                                          \
  BASE_FIELDS(R), FIELD(R, nOrderId, 8), FIELD(R, szOrderCode, 64), FIELD(R, nMatchStreamId, 8), \
      FIELD(R, nMatchPrice, 8), FIELD(R, nMatchVol, 4), FIELD(R, szContractCode, 64),            \
      FIELD(R, szMatchTime, 21), FIELD(R, nTradeType, 4), FIELD(R, nReserved14, 4),              \
      FIELD(R, szReserved15, 64)

const std::vector<RecordCase>& Records() {
  static const std::vector<RecordCase> records = {
      Case<TD_Base_Msg>("TD_Base_Msg", false, {BASE_FIELDS(TD_Base_Msg)}),
      Case<TD_ReqOrderInsert>("TD_ReqOrderInsert", false, {INSERT_FIELDS(TD_ReqOrderInsert)}),
      Case<TD_RspOrderInsert>("TD_RspOrderInsert", false, {RSP_INSERT_FIELDS(TD_RspOrderInsert)}),
      Case<TD_RspQryOrder>(
          "TD_RspQryOrder", false,
          {RSP_INSERT_FIELDS(TD_RspQryOrder), FIELD(TD_RspQryOrder, nReserved12, 4)}),
      Case<TD_ReqOrderDelete>(
          "TD_ReqOrderDelete", false,
          {BASE_FIELDS(TD_ReqOrderDelete), FIELD(TD_ReqOrderDelete, nOrderId, 8),
           FIELD(TD_ReqOrderDelete, szReserved13, 64)}),
      Case<TD_ReqQryOrder>("TD_ReqQryOrder", false,
                           {BASE_FIELDS(TD_ReqQryOrder), FIELD(TD_ReqQryOrder, szReqReserved, 40)}),
      Case<TD_ReqQryMatch>("TD_ReqQryMatch", false,
                           {BASE_FIELDS(TD_ReqQryMatch), FIELD(TD_ReqQryMatch, szReqReserved, 40)}),
      Case<TD_ReqQryPosition>(
          "TD_ReqQryPosition", false,
          {BASE_FIELDS(TD_ReqQryPosition), FIELD(TD_ReqQryPosition, szReqReserved, 32)}),
      Case<TD_ReqQryAccountMaxEntrustCount>(
          "TD_ReqQryAccountMaxEntrustCount", false,
          {BASE_FIELDS(TD_ReqQryAccountMaxEntrustCount),
           FIELD(TD_ReqQryAccountMaxEntrustCount, szReqReserved, 36)}),
      Case<TD_RtnOrderMatchNotice>("TD_RtnOrderMatchNotice", false,
                                   {MATCH_FIELDS(TD_RtnOrderMatchNotice)}),
      Case<TD_RspQryMatch>("TD_RspQryMatch", false,
                           {MATCH_FIELDS(TD_RspQryMatch), FIELD(TD_RspQryMatch, nReserved16, 4)}),
      Case<TD_RspQryPosition>(
          "TD_RspQryPosition", false,
          {BASE_FIELDS(TD_RspQryPosition), FIELD(TD_RspQryPosition, szContractCode, 32),
           FIELD(TD_RspQryPosition, nPosition, 4), FIELD(TD_RspQryPosition, dReserved17, 8),
           FIELD(TD_RspQryPosition, iReserved18, 8), FIELD(TD_RspQryPosition, iReserved19, 8)}),
      Case<TD_RspQryAccountMaxEntrustCount>(
          "TD_RspQryAccountMaxEntrustCount", false,
          {BASE_FIELDS(TD_RspQryAccountMaxEntrustCount),
           FIELD(TD_RspQryAccountMaxEntrustCount, nReserved20, 4),
           FIELD(TD_RspQryAccountMaxEntrustCount, szReserved21, 64),
           FIELD(TD_RspQryAccountMaxEntrustCount, nReserved22, 4),
           OWNING_FIELD(TD_RspQryAccountMaxEntrustCount, pReservedItems, 8),
           FIELD(TD_RspQryAccountMaxEntrustCount, bReserved23, 1),
           FIELD(TD_RspQryAccountMaxEntrustCount, nAvailableCaptial, 4),
           FIELD(TD_RspQryAccountMaxEntrustCount, nTotalCaptial, 4)}),
      Case<ZR_QuantUserBase>(
          "ZR_QuantUserBase", false,
          {FIELD(ZR_QuantUserBase, pInfo, 8), FIELD(ZR_QuantUserBase, szReserved24, 128),
           FIELD(ZR_QuantUserBase, errDesc, 128), FIELD(ZR_QuantUserBase, nReserved25, 4),
           FIELD(ZR_QuantUserBase, nReserved26, 4), FIELD(ZR_QuantUserBase, dReserved27, 8),
           FIELD(ZR_QuantUserBase, iReserved28, 8), FIELD(ZR_QuantUserBase, iReserved29, 8),
           FIELD(ZR_QuantUserBase, szReserved30, 32)}),
      Case<MD_Market>("MD_Market", true,
                      {FIELD(MD_Market, szWindCode, 32), FIELD(MD_Market, szCode, 32),
                       FIELD(MD_Market, nReserved31, 4), FIELD(MD_Market, nTime, 4),
                       FIELD(MD_Market, nReserved32, 4), FIELD(MD_Market, nPreClose, 4),
                       FIELD(MD_Market, nOpen, 4), FIELD(MD_Market, nHigh, 4),
                       FIELD(MD_Market, nLow, 4), FIELD(MD_Market, nMatch, 4),
                       FIELD(MD_Market, nAskPrice, 40), FIELD(MD_Market, nAskVol, 40),
                       FIELD(MD_Market, nBidPrice, 40), FIELD(MD_Market, nBidVol, 40),
                       FIELD(MD_Market, nReserved33, 4), FIELD(MD_Market, iVolume, 8),
                       FIELD(MD_Market, iTurnover, 8), FIELD(MD_Market, szReserved34, 40)}),
      Case<MD_Transaction>(
          "MD_Transaction", true,
          {FIELD(MD_Transaction, szWindCode, 32), FIELD(MD_Transaction, szCode, 32),
           FIELD(MD_Transaction, nReserved35, 4), FIELD(MD_Transaction, nTime, 4),
           FIELD(MD_Transaction, nReserved36, 4), FIELD(MD_Transaction, nPrice, 4),
           FIELD(MD_Transaction, nVolume, 4), FIELD(MD_Transaction, nTurnover, 4),
           FIELD(MD_Transaction, nBSFlag, 4), FIELD(MD_Transaction, nReserved37, 4),
           FIELD(MD_Transaction, nReserved38, 4), FIELD(MD_Transaction, cReserved39, 1)}),
  };
  return records;
}

size_t RoundUp(size_t value, size_t align) { return (value + align - 1) / align * align; }

// Storage for one record, filled with a byte no field starts with.
struct Storage {
  alignas(std::max_align_t) unsigned char bytes[1024];
  explicit Storage(unsigned char fill) { std::memset(bytes, fill, sizeof bytes); }
};

TEST(Records, FieldsFollowEachOtherInDeclaredOrderAndWidth) {
  for (const RecordCase& record : Records()) {
    SCOPED_TRACE(record.name);
    // Each field sits at the first place its alignment allows after the one
    // before it (packed records: directly after it); a subclass's first field
    // may use its base's tail padding, as the platform ABI does.
    size_t next = record.polymorphic ? sizeof(void*) : 0;
    for (const Field& field : record.fields) {
      SCOPED_TRACE(field.name);
      EXPECT_EQ(field.size, field.expectedSize);
      EXPECT_EQ(field.offset, record.packed ? next : RoundUp(next, field.align));
      next = field.offset + field.size;
    }
    EXPECT_EQ(record.size, RoundUp(next, record.align));
  }
}

TEST(Records, DefaultConstructionZeroesEveryField) {
  for (const RecordCase& record : Records()) {
    if (record.packed) continue;  // market records are plain data, zeroed by their producer
    SCOPED_TRACE(record.name);
    Storage storage(0xA5);
    record.defaultConstruct(storage.bytes);
    for (const Field& field : record.fields) {
      SCOPED_TRACE(field.name);
      std::vector<unsigned char> expected(field.size, 0);
      if (std::string(record.name) == "ZR_QuantUserBase" &&
          std::string(field.name) == "nReserved26") {
        expected[0] = 2;
      }
      EXPECT_EQ(std::vector<unsigned char>(storage.bytes + field.offset,
                                           storage.bytes + field.offset + field.size),
                expected);
    }
    record.destroy(storage.bytes);
  }
}

TEST(Records, CopiesCarryEveryByteOfEveryField) {
  for (const RecordCase& record : Records()) {
    SCOPED_TRACE(record.name);
    Storage original(0);
    record.defaultConstruct(original.bytes);
    // Distinct bytes everywhere, also after any terminator in text arrays.
    unsigned char next = 1;
    for (const Field& field : record.fields) {
      if (!field.copiedAsIs) continue;
      for (size_t i = 0; i < field.size; ++i) {
        original.bytes[field.offset + i] = field.isBool ? 1 : next++;
      }
    }
    Storage constructed(0);
    record.copyConstruct(constructed.bytes, original.bytes);
    Storage assigned(0);
    record.defaultConstruct(assigned.bytes);
    record.copyAssign(assigned.bytes, original.bytes);
    for (const Field& field : record.fields) {
      if (!field.copiedAsIs) continue;
      SCOPED_TRACE(field.name);
      EXPECT_EQ(
          std::memcmp(constructed.bytes + field.offset, original.bytes + field.offset, field.size),
          0);
      EXPECT_EQ(
          std::memcmp(assigned.bytes + field.offset, original.bytes + field.offset, field.size), 0);
    }
    record.destroy(original.bytes);
    record.destroy(constructed.bytes);
    record.destroy(assigned.bytes);
  }
}

TEST(Records, CapitalAnswerCopiesNeverShareTheReservedArray) {
  // The sanitizer build turns a shared array into a double free or a leak.
  TD_RspQryAccountMaxEntrustCount original;
  original.pReservedItems = new TD_ReservedItem[2];
  original.nAvailableCaptial = 7;

  TD_RspQryAccountMaxEntrustCount constructed(original);
  TD_RspQryAccountMaxEntrustCount assigned;
  assigned.pReservedItems = new TD_ReservedItem[1];
  assigned = original;

  EXPECT_EQ(constructed.pReservedItems, nullptr);
  EXPECT_EQ(assigned.pReservedItems, nullptr);
  EXPECT_EQ(constructed.nAvailableCaptial, 7);
  EXPECT_EQ(assigned.nAvailableCaptial, 7);
}

}  // namespace

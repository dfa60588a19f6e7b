// Compiled clients reach the virtual operations of both interfaces by their
// place in the declaration: an operation moved in the header silently calls
// the wrong code in every client built before. This pins each place.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "ZR_QuantApi.h"

using namespace Corvane;

namespace {

// In the Itanium C++ ABI a pointer to a virtual member function holds 1 plus
// the byte offset of its vtable entry.
template <class Pmf>
long VtableSlot(Pmf pmf) {
  struct {
    uintptr_t ptr;
    ptrdiff_t adj;
  } rep;
  static_assert(sizeof(pmf) == sizeof(rep), "Itanium member function pointer");
  std::memcpy(&rep, &pmf, sizeof rep);
  if ((rep.ptr & 1) == 0) return -1;  // not virtual
  return static_cast<long>((rep.ptr - 1) / sizeof(void*));
}

struct Slot {
  const char* name;
  int position;  // place after the virtual destructor, from 1
  long slot;
};

#define SLOT(Class, op, position) \
  Slot { #op, position, VtableSlot(&Class::op) }

TEST(InterfaceSlots, EveryOperationKeepsItsPlace) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "member function pointers are decoded for x86-64 only";
#endif
  const Slot slots[] = {
      SLOT(ZR_QuantApi, SetNewBackTest, 1),
      SLOT(ZR_QuantApi, Login, 2),
      SLOT(ZR_QuantApi, GetCode, 3),
      SLOT(ZR_QuantApi, Run, 4),
      SLOT(ZR_QuantApi, BreakExec, 5),
      SLOT(ZR_QuantApi, reqOrderInsert, 6),
      SLOT(ZR_QuantApi, reqOrderDelete, 7),
      SLOT(ZR_QuantApi, reqQryOrder, 8),
      SLOT(ZR_QuantApi, reqQryMatch, 9),
      SLOT(ZR_QuantApi, reqQryPosition, 10),
      SLOT(ZR_QuantApi, reqQryMaxEntrustCount, 11),
      SLOT(ZR_QuantApi, reqQryAccountInitMaxEntrustCount, 12),
      SLOT(ZR_QuantApi, reqQryAccountMaxEntrustCount, 13),
      SLOT(ZR_QuantApi, reqSubscribeMaxEntrustCount, 14),
      SLOT(ZR_QuantApi, ReqTradingDay, 15),
      SLOT(ZR_QuantApi, ReqHaltingDay, 16),
      SLOT(ZR_QuantApi, ReqSubQuote, 17),

      SLOT(ZR_QuantSpi, OnConnect, 1),
      SLOT(ZR_QuantSpi, OnDisconnect, 2),
      SLOT(ZR_QuantSpi, OnRtnUserInfo, 3),
      SLOT(ZR_QuantSpi, OnRtnLoginWarn, 4),
      SLOT(ZR_QuantSpi, OnReserved5, 5),
      SLOT(ZR_QuantSpi, OnReserved6, 6),
      SLOT(ZR_QuantSpi, OnReserved7, 7),
      SLOT(ZR_QuantSpi, OnReserved8, 8),
      SLOT(ZR_QuantSpi, OnReserved9, 9),
      SLOT(ZR_QuantSpi, OnReserved10, 10),
      SLOT(ZR_QuantSpi, OnReserved11, 11),
      SLOT(ZR_QuantSpi, OnRspOrderInsert, 12),
      SLOT(ZR_QuantSpi, OnRspOrderDelete, 13),
      SLOT(ZR_QuantSpi, OnRspQryOrder, 14),
      SLOT(ZR_QuantSpi, OnRspQryMatch, 15),
      SLOT(ZR_QuantSpi, OnRspQryPosition, 16),
      SLOT(ZR_QuantSpi, OnReserved17, 17),
      SLOT(ZR_QuantSpi, OnReserved18, 18),
      SLOT(ZR_QuantSpi, OnRspQryAccountMaxEntrustCount, 19),
      SLOT(ZR_QuantSpi, OnRtnOrderStatusChangeNotice, 20),
      SLOT(ZR_QuantSpi, OnRtnOrderMatchNotice, 21),
      SLOT(ZR_QuantSpi, OnReserved22, 22),
      SLOT(ZR_QuantSpi, OnReserved23, 23),
      SLOT(ZR_QuantSpi, OnReserved24, 24),
      SLOT(ZR_QuantSpi, OnReserved25, 25),
      SLOT(ZR_QuantSpi, OnReserved26, 26),
      SLOT(ZR_QuantSpi, OnReserved27, 27),
      SLOT(ZR_QuantSpi, OnReserved28, 28),
      SLOT(ZR_QuantSpi, OnRspSubQuote, 29),
      SLOT(ZR_QuantSpi, OnReserved30, 30),
      SLOT(ZR_QuantSpi, OnReserved31, 31),
      SLOT(ZR_QuantSpi, OnReserved32, 32),
      SLOT(ZR_QuantSpi, OnRtnMarket, 33),
      SLOT(ZR_QuantSpi, OnReserved34, 34),
      SLOT(ZR_QuantSpi, OnReserved35, 35),
      SLOT(ZR_QuantSpi, OnRtnTransaction, 36),
      SLOT(ZR_QuantSpi, OnReserved37, 37),
      SLOT(ZR_QuantSpi, OnReserved38, 38),
      SLOT(ZR_QuantSpi, OnReserved39, 39),
      SLOT(ZR_QuantSpi, OnReserved40, 40),
      SLOT(ZR_QuantSpi, OnReserved41, 41),
      SLOT(ZR_QuantSpi, OnReserved42, 42),
      SLOT(ZR_QuantSpi, OnReserved43, 43),
  };
  for (const Slot& slot : slots) {
    SCOPED_TRACE(slot.name);
    // The virtual destructor comes first and takes two entries (complete and
    // deleting destructor).
    EXPECT_EQ(slot.slot, slot.position + 1);
  }
}

}  // namespace

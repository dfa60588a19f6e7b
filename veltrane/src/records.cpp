// The one record with an owned member: its copies must not share the array.

#include <cstring>

#include "ZR_QuantApi.h"

namespace Corvane {

TD_RspQryAccountMaxEntrustCount::TD_RspQryAccountMaxEntrustCount(
    const TD_RspQryAccountMaxEntrustCount& other)
    : TD_Base_Msg(other) {
  *this = other;
}

TD_RspQryAccountMaxEntrustCount& TD_RspQryAccountMaxEntrustCount::operator=(
    const TD_RspQryAccountMaxEntrustCount& other) {
  if (this == &other) return *this;
  TD_Base_Msg::operator=(other);
  nReserved20 = other.nReserved20;
  std::memcpy(szReserved21, other.szReserved21, sizeof szReserved21);
  nReserved22 = other.nReserved22;
  delete[] pReservedItems;
  pReservedItems = nullptr;
  bReserved23 = other.bReserved23;
  nAvailableCaptial = other.nAvailableCaptial;
  nTotalCaptial = other.nTotalCaptial;
  return *this;
}

TD_RspQryAccountMaxEntrustCount::~TD_RspQryAccountMaxEntrustCount() { delete[] pReservedItems; }

}  // namespace Corvane

// login_events.h: how a login answer of either outside library reaches the
// client: OnConnect first, then exactly one of OnRtnUserInfo (success) and
// OnRtnLoginWarn (failure).

#ifndef VELTRANE_LOGIN_EVENTS_H
#define VELTRANE_LOGIN_EVENTS_H

#include <cstdint>

#include "ZR_QuantApi.h"

namespace veltrane {

// The nSrvType that OnConnect reports per library.
constexpr int kTradeService = 10;
constexpr int kQuoteService = 0;

// User information of a successful login, carrying the library's text
// (null for none).
Corvane::ZR_QuantUserBase LoginUser(const char* message);

// Status 0 is success; any other status is passed to OnRtnLoginWarn and the
// text is not.
void ReportLogin(Corvane::ZR_QuantSpi& spi, int service, int32_t status, const char* message);

}  // namespace veltrane

#endif  // VELTRANE_LOGIN_EVENTS_H

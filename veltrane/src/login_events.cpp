#include "login_events.h"

#include "text_copy.h"

namespace veltrane {

Corvane::ZR_QuantUserBase LoginUser(const char* message) {
  Corvane::ZR_QuantUserBase user;
  CopyText(user.errDesc, message, 127);
  return user;
}

void ReportLogin(Corvane::ZR_QuantSpi& spi, int service, int32_t status, const char* message) {
  spi.OnConnect(service);
  if (status != 0) {
    spi.OnRtnLoginWarn(status);
    return;
  }
  Corvane::ZR_QuantUserBase user = LoginUser(message);
  spi.OnRtnUserInfo(&user);
}

}  // namespace veltrane

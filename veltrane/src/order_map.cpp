// The order-number map of TraderApiGo: gateway codes to order numbers and
// back, kept in today's order-number file.

#include <ctime>

#include "ZR_QuantApi.h"
#include "order_file.h"

namespace {

std::string TodaysOrderFile() { return veltrane::OrderFileName(std::time(nullptr)); }

veltrane::OrderMapRef MapOf(TraderApiGo& api) {
  return {api.mapOrderCode, api.mapOrderId, api.iNextOrderId};
}

}  // namespace

void TraderApiGo::LoadOrderMap() {
  veltrane::RemoveAbandonedCopies();
  const std::string name = TodaysOrderFile();
  std::lock_guard<std::mutex> hold(*pOrderLock);
  pOrderFile->Load(name, MapOf(*this));
}

void TraderApiGo::SaveOrderMap() {
  const std::string name = TodaysOrderFile();
  std::lock_guard<std::mutex> hold(*pOrderLock);
  pOrderFile->Save(name, MapOf(*this));
}

long long TraderApiGo::GenSaveOrderId(std::string strCode) {
  std::lock_guard<std::mutex> hold(*pOrderLock);
  const auto known = mapOrderId.find(strCode);
  if (known != mapOrderId.end()) return known->second;
  // Under the lock, so that lines reach the file in the order numbers are
  // handed out.
  return pOrderFile->Enter(TodaysOrderFile(), std::move(strCode), MapOf(*this));
}

long long TraderApiGo::GetOrderId(std::string strCode) {
  return GenSaveOrderId(std::move(strCode));
}

std::string TraderApiGo::GetAppointOrderCode(long long iOrderId) {
  std::lock_guard<std::mutex> hold(*pOrderLock);
  const auto entry = mapOrderCode.find(iOrderId);
  return entry != mapOrderCode.end() ? entry->second : std::string();
}

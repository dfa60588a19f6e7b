// The order-number map of TraderApiGo: gateway codes to order numbers and
// back, kept in today's order-number file.

#include <ctime>

#include "ZR_QuantApi.h"
#include "order_file.h"

namespace {
std::string TodaysOrderFile() { return veltrane::OrderFileName(std::time(nullptr)); }
}  // namespace

void TraderApiGo::LoadOrderMap() {
  const std::string name = TodaysOrderFile();
  std::string content;
  if (!veltrane::ReadOrderFile(name, content)) return;
  const std::vector<veltrane::OrderLine> lines = veltrane::ParseOrderFile(content);

  std::lock_guard<std::mutex> hold(*pOrderLock);
  for (const veltrane::OrderLine& line : lines) {
    if (!line.code.empty()) {
      mapOrderCode[line.number] = line.code;
      mapOrderId[line.code] = line.number;
    } else {
      // A number whose code the file could not hold stays taken, and stays
      // in the file, though no code can be looked up by it.
      mapOrderCode.emplace(line.number, std::string());
    }
    // Never lowered: a number this object handed out that the file does not
    // know (yet) must not go to a second code.
    if (line.number >= iNextOrderId) iNextOrderId = line.number + 1;
  }
  pOrderFile->WriteAll(name, mapOrderCode);
}

void TraderApiGo::SaveOrderMap() {
  const std::string name = TodaysOrderFile();
  std::lock_guard<std::mutex> hold(*pOrderLock);
  pOrderFile->WriteAll(name, mapOrderCode);
}

long long TraderApiGo::GenSaveOrderId(std::string strCode) {
  std::lock_guard<std::mutex> hold(*pOrderLock);
  const auto known = mapOrderId.find(strCode);
  if (known != mapOrderId.end()) return known->second;

  const long long number = iNextOrderId++;
  const auto entry = mapOrderCode.insert_or_assign(number, strCode).first;
  mapOrderId.emplace(std::move(strCode), number);
  // Under the lock, so that lines reach the file in the order numbers are
  // handed out. A file that cannot be written is written whole at the next
  // new code.
  pOrderFile->WriteNew(TodaysOrderFile(), number, entry->second, mapOrderCode);
  return number;
}

long long TraderApiGo::GetOrderId(std::string strCode) {
  return GenSaveOrderId(std::move(strCode));
}

std::string TraderApiGo::GetAppointOrderCode(long long iOrderId) {
  std::lock_guard<std::mutex> hold(*pOrderLock);
  const auto entry = mapOrderCode.find(iOrderId);
  return entry != mapOrderCode.end() ? entry->second : std::string();
}

// installed_client: a client of an installed veltrane. It prints the version,
// then sends an order larger than its own risk limit, which veltrane refuses
// before any gateway call: no login or exchange needed. (hello_client, beside
// this folder, shows which libitg.so / libquote.so a client runs against.)

#include <veltrane/ZR_QuantApi.h>
#include <veltrane/veltrane_risk.h>

#include <cstdio>
#include <string>

namespace {

class QuietSpi : public Corvane::ZR_QuantSpi {
 public:
  void OnConnect(int) override {}
  void OnDisconnect(int) override {}
};

}  // namespace

int main() {
  QuietSpi spi;
  Corvane::ZR_QuantApi* api = Corvane::ZR_QuantApi::createApi(
      &spi, false, Corvane::ZR_QuantTdApp_Default, Corvane::ZR_QuantMdApp_Level2);
  std::printf("%s\n", Corvane::ZR_QuantApi::getVersion());

  veltrane::RiskLimits limits;
  limits.max_order_quantity = 1000;
  std::string why;
  if (!veltrane::SetRiskLimits(limits, &why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  Corvane::TD_ReqOrderInsert order;
  order.nReqID = 1;
  std::snprintf(order.szContractCode, sizeof order.szContractCode, "%s", "600000");
  order.nTradeType = 1;  // buy
  order.nOrderPrice = 100000;  // 10.0000 yuan
  order.nOrderVol = 2000;
  int result = api->reqOrderInsert(&order);
  std::printf("order of 2000 shares: %d (%s)\n", result, veltrane::LastRiskRefusal().c_str());

  Corvane::ZR_QuantApi::deleteApi(api);
  return result == -1 ? 0 : 1;
}

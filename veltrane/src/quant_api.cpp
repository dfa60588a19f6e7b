// The static operations of ZR_QuantApi: the factory, library start-up and
// the fixed texts.

#include <cstring>
#include <memory>

#include "ZR_QuantApi.h"
#include "active_instance.h"
#include "libitg.h"
#include "libquote.h"

namespace Corvane {
namespace {

using veltrane::kUseQuote;
using veltrane::kUseTrade;

// Writable storage because the interface hands out `char*`; nobody writes it.
char kVersion[] = "ZR_QuantApi emulator 20191009 with ITG trade/quote api";

// The object is published only once it is complete: a callback never finds it
// without its spi, and events that arrive meanwhile still reach the earlier
// instance instead of being dropped. If allocation throws, the earlier
// instance stays the current one.
ZR_QuantApi* CreateInstance(ZR_QuantSpi* pSpi, int apiType) {
  auto api = std::make_unique<TraderApiGo>();
  api->nApiType = apiType;
  api->RegisterSpi(pSpi);
  veltrane::PublishInstance(api.get());
  return api.release();
}

}  // namespace

ZR_QuantApi::ZR_QuantApi() = default;
ZR_QuantApi::ZR_QuantApi(const ZR_QuantApi&) = default;
ZR_QuantApi& ZR_QuantApi::operator=(const ZR_QuantApi&) = default;
ZR_QuantApi::~ZR_QuantApi() = default;

ZR_QuantApi* ZR_QuantApi::createApi(ZR_QuantSpi* pSpi, bool, ZR_QuantTdAppEType,
                                    ZR_QuantMdAppEType) {
  return CreateInstance(pSpi, kUseTrade | kUseQuote);
}

ZR_QuantApi* ZR_QuantApi::createApi(ZR_QuantSpi* pSpi, bool, ZR_QuantTdAppEType, bool bUseTrade,
                                    ZR_QuantMdAppEType, bool bUseQuote, bool) {
  return CreateInstance(pSpi, (bUseTrade ? kUseTrade : 0) | (bUseQuote ? kUseQuote : 0));
}

void ZR_QuantApi::deleteApi(ZR_QuantApi* pApi) { delete pApi; }

void ZR_QuantApi::Init() {
  const TraderApiGo* api = g_pTraderApi.load();
  if (api == nullptr) return;
  if (api->nApiType & kUseTrade) LibITG_Init();
  if (api->nApiType & kUseQuote) LibQuote_Init();
}

void ZR_QuantApi::GetErrMsg(int, char* pBuf, int nBufLen) {
  if (pBuf == nullptr || nBufLen <= 0) return;
  std::strncpy(pBuf, "Unknown", static_cast<std::size_t>(nBufLen));
}

char* ZR_QuantApi::getVersion() { return kVersion; }

}  // namespace Corvane

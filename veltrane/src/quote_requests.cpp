// ReqSubQuote: a quote subscription or unsubscription as one call of the quote
// library, whose answer comes later through the subscription callbacks.

#include <vector>

#include "ZR_QuantApi.h"
#include "gateway_args.h"
#include "libquote.h"
#include "veltrane_sub_quote.h"

namespace {

// The library numbers the same two kinds differently; other bits are ignored.
int64_t LibraryKinds(int kinds) {
  return ((kinds & veltrane::kSubQuoteSnapshots) != 0 ? LIBQUOTE_KIND_SNAPSHOTS : 0) |
         ((kinds & veltrane::kSubQuoteTrades) != 0 ? LIBQUOTE_KIND_TRADES : 0);
}

// The library takes codes as exactly six characters.
constexpr int64_t kCodeLength = 6;

}  // namespace

int TraderApiGo::ReqSubQuote(int nReqID, int nKinds, int, const char (*pCodes)[32], int nCount,
                             const char* const, const char* const) {
  const int count = nCount > 0 ? nCount : 0;
  if (count > 0 && pCodes == nullptr) return veltrane::kRefused;
  // The first six characters of each entry, its suffix or padding not searched
  // for: "600000.SH" goes as "600000". The entries outlive the call.
  std::vector<TextView> codes(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) codes[i] = TextView{pCodes[i], kCodeLength};
  const TextList list{codes.data(), count, count};
  const int64_t kinds = LibraryKinds(nKinds);
  return veltrane::RequestResult(kinds != 0 ? LibQuote_ReqSubscribe(nReqID, kinds, &list)
                                            : LibQuote_ReqUnsubscribe(nReqID, &list));
}

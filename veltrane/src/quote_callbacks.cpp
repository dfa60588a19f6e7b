// The quote library's callbacks: login and subscription answers and market
// data, handed to the client's spi on the library's thread.

#include "active_instance.h"
#include "callback_tables.h"
#include "login_events.h"
#include "text_copy.h"

namespace veltrane {
namespace {

using Corvane::ZR_QuantSpi;

void OnQuoteLogin(int32_t, int32_t status) noexcept {
  DeliverToClient(
      [&](TraderApiGo&, ZR_QuantSpi& spi) { ReportLogin(spi, kQuoteService, status, nullptr); });
}

// The answer names no codes; the two reserved texts point at one empty text.
void AnswerSubscription(int32_t reqId, int subscribe, int32_t result, const char* text) noexcept {
  DeliverToClient([&](TraderApiGo&, ZR_QuantSpi& spi) {
    const char noText[21] = {};
    spi.OnRspSubQuote(reqId, subscribe, 0, nullptr, 0, noText, noText, result, TextOrEmpty(text));
  });
}

void OnQuoteSubscribe(int32_t reqId, int32_t result, const char* text) noexcept {
  AnswerSubscription(reqId, 1, result, text);
}

void OnQuoteUnsubscribe(int32_t reqId, int32_t result, const char* text) noexcept {
  AnswerSubscription(reqId, 0, result, text);
}

// Market data need the message schema to be decoded; until it exists they are
// dropped.
void OnQuoteData(int32_t, int64_t, int64_t, const char*, const char*, int32_t) noexcept {}

}  // namespace

QuoteCallbacks QuoteCallbackTable() {
  return QuoteCallbacks{OnQuoteLogin, OnQuoteSubscribe, OnQuoteUnsubscribe, OnQuoteData};
}

}  // namespace veltrane

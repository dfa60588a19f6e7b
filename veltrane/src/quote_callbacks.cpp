// The quote library's callbacks: login and subscription answers and market
// data, handed to the client's spi on the library's thread.

#include <atomic>

#include "active_instance.h"
#include "callback_tables.h"
#include "last_prices.h"
#include "login_events.h"
#include "quote_events.h"
#include "text_copy.h"
#include "veltrane_counters.h"

namespace veltrane {
namespace {

using Corvane::ZR_QuantSpi;

std::atomic<uint64_t> g_undecodedQuotes{0};

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

// Parses the payload into a fresh message and hands its record to the
// client, after the price band has seen its last price. A payload that does
// not parse whole is dropped and counted: a half-decoded snapshot would show
// the client made-up prices as the market.
template <class Message, class Record>
void Translate(ZR_QuantSpi& spi, int32_t reqId, const char* payload, int32_t length,
               Record (*toRecord)(const Message&), void (ZR_QuantSpi::*notify)(int, Record*)) {
  Message message;
  if (length < 0 || (payload == nullptr && length != 0) ||
      !message.ParseFromArray(payload, length)) {
    g_undecodedQuotes.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  Record record = toRecord(message);
  if (FollowingLastPrices()) NoteLastPrice(record);
  (spi.*notify)(reqId, &record);
}

void OnQuoteData(int32_t reqId, int64_t, int64_t, const char* typeName, const char* payload,
                 int32_t length) noexcept {
  DeliverToClient([&](TraderApiGo&, ZR_QuantSpi& spi) {
    switch (QuoteTypeOf(typeName)) {
      case QuoteType::kShanghaiSnapshot:
        return Translate(spi, reqId, payload, length, MarketFromShanghai,
                         &ZR_QuantSpi::OnRtnMarket);
      case QuoteType::kShenzhenSnapshot:
        return Translate(spi, reqId, payload, length, MarketFromShenzhen,
                         &ZR_QuantSpi::OnRtnMarket);
      case QuoteType::kShanghaiTrade:
        return Translate(spi, reqId, payload, length, TradeFromShanghai,
                         &ZR_QuantSpi::OnRtnTransaction);
      case QuoteType::kShenzhenTrade:
        return Translate(spi, reqId, payload, length, TradeFromShenzhen,
                         &ZR_QuantSpi::OnRtnTransaction);
      case QuoteType::kNotDecoded:
        return;  // index and static data, or a type this library does not know
    }
  });
}

}  // namespace

QuoteCallbacks QuoteCallbackTable() {
  return QuoteCallbacks{OnQuoteLogin, OnQuoteSubscribe, OnQuoteUnsubscribe, OnQuoteData};
}

uint64_t UndecodedQuoteMessages() noexcept {
  return g_undecodedQuotes.load(std::memory_order_relaxed);
}

}  // namespace veltrane

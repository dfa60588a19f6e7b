// venue_reports.h: the simulated venue's callbacks written as one line of
// text per report, and the market messages its tests feed it.

#ifndef VELTRANE_TESTS_VENUE_REPORTS_H
#define VELTRANE_TESTS_VENUE_REPORTS_H

#include <string>
#include <vector>

#include "libitg.h"
#include "quote.pb.h"
#include "quote_message.h"
#include "quote_messages.h"
#include "text_format.h"

namespace testing_support {

inline std::vector<std::string> g_reports;

// Order codes are "S5-<n>" (stem 5) and match ids "M5-<n>"; prices as %.2f.
inline ItgCallbacks Recorder() {
  return {
      [](int32_t, int32_t status, const char* message) {
        g_reports.push_back(Format("login %d %s", status, message));
      },
      [](int32_t reqId, int32_t error, const char* message, const char* code, const char* orderCode,
         const char*, int32_t side, double price, int32_t quantity, double tradedPrice,
         int32_t traded, char status, const char* time, int32_t kind) {
        g_reports.push_back(Format("order %d %d [%s] %s %s side%d %.2fx%d traded %.4fx%d %c %s k%d",
                                   reqId, error, message, code, orderCode, side, price, quantity,
                                   tradedPrice, traded, status, time, kind));
      },
      [](int32_t reqId, int32_t error, const char*, const char* code, const char* orderCode,
         const char*, const char* matchId, int32_t side, double price, int32_t quantity,
         const char* time, int32_t kind) {
        g_reports.push_back(Format("match %d %d %s %s %s side%d %.2fx%d %s k%d", reqId, error, code,
                                   orderCode, matchId, side, price, quantity, time, kind));
      },
      [](int32_t reqId, int32_t error, const char* message, const char* code, int32_t position,
         int32_t last) {
        g_reports.push_back(Format("position %d %d [%s] %s %d last%d", reqId, error, message, code,
                                   position, last));
      },
      [](int32_t reqId, int32_t error, const char* message, const char* code, const char* orderCode,
         const char*, int32_t side, double price, int32_t quantity) {
        g_reports.push_back(Format("insert %d %d [%s] %s %s side%d %.2fx%d", reqId, error, message,
                                   code, orderCode, side, price, quantity));
      },
      [](int32_t reqId, int32_t error, const char* message) {
        g_reports.push_back(Format("cancel %d %d [%s]", reqId, error, message));
      },
      [](int32_t reqId, int32_t error, const char*, const char* currency, const char* available,
         const char* total) {
        g_reports.push_back(
            Format("balance %d %d %s %s %s", reqId, error, currency, available, total));
      },
  };
}

inline sim::QuoteMessage Message(const char* type, sim::FeedKind kind, int64_t time,
                                 const std::string& payload, const std::string& code = "600000") {
  return {type, time, code, kind, payload};
}

// The book of 600000 (previous close 12.20, limits 10.98 to 13.42): asks
// 12.35 x 1100, 12.36 x 1200, ...; bids 12.34 x 2100, 12.33 x 2200, ...
inline lmvproto::SSEL2_Quotation Book() { return ShanghaiSnapshot(); }

inline sim::QuoteMessage Snapshot(const lmvproto::SSEL2_Quotation& book, int64_t time = 93003000,
                                  const std::string& code = "600000") {
  return Message("SSEL2_Quotation", sim::kSnapshots, time, Encode(book), code);
}

inline sim::QuoteMessage Trade(bool buy, double price, uint32_t volume, int64_t time = 93004000,
                               const std::string& code = "600000") {
  lmvproto::SSEL2_Transaction trade = ShanghaiTrade();
  trade.set_buysellflag(buy ? 1 : 2);
  trade.set_tradeprice(price);
  trade.set_tradevolume(volume);
  return Message("SSEL2_Transaction", sim::kTrades, time, Encode(trade), code);
}

constexpr int64_t kBuy = 2, kSell = 1;

}  // namespace testing_support

#endif  // VELTRANE_TESTS_VENUE_REPORTS_H

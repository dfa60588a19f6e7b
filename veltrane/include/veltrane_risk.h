// veltrane_risk.h: pre-trade risk checks. Hard limits that veltrane applies to
// every order and cancel of this process before the trade gateway sees it, so
// that a strategy with a bug in its loop cannot flood the broker or send an
// order at a mistyped price.
//
//   veltrane::RiskLimits limits;
//   limits.max_orders_per_second = 20;
//   limits.max_order_quantity = 10000;
//   limits.price_band = 0.05;  // 5% from the last traded price
//   limits.refuse_self_cross = true;
//   std::string why;
//   if (!veltrane::SetRiskLimits(limits, &why)) std::fprintf(stderr, "%s\n", why.c_str());
//
// Every limit is off by default (0 or false), and with every limit off and
// trading enabled, requests go to the gateway exactly as they would without
// these checks. Before any limit, and whatever the limits, an order that
// means nothing is refused (VELTRANE_ORDER_CHECK_MAP): a request id out of
// range, a direction other than 1 (buy) or 2 (sell), a quantity or a price of
// 0 or less. Those checks cannot be switched off.
//
// Where the checks run: inside reqOrderInsert and reqOrderDelete, on the
// caller's thread, before any gateway call. A refused request returns -1 and
// calls nothing, like every request veltrane refuses itself. Which limit
// refused it is counted (RiskCounters::refused), and LastRiskRefusal() gives
// the text. Cancels are refused only by max_cancels_per_day, so a strategy can
// always get out of its orders.
//
// What the checks know: the orders this process sent and the trade events
// that follow them. An order counts as working from the moment it is handed
// to the gateway (before its insert answer) until a status report says it
// was filled, cancelled or rejected, its match notices fill it, its insert
// answer refuses it, or the gateway's result for it is negative (it was not
// sent). A report that comes before the insert answer naming its order is
// kept aside until that answer comes. A position is the latest position
// query row of the code plus the match notices since; the last price of a
// code is the last traded price of its latest Level-2 snapshot or trade,
// followed only while a price band is set. Orders, cancels and positions are
// tracked whatever the limits, so limits set in the middle of a day count
// what went before.
//
// Trading days: the day counters (orders and cancels per day) start again at
// 0 when the local calendar date changes, as the order-number file does; the
// orders still working then are forgotten, since A-share orders live for one
// day. Positions are kept.
//
// All functions are process-wide and safe to call from any thread, also from
// inside a spi callback.

#ifndef VELTRANE_RISK_H
#define VELTRANE_RISK_H

#include <cstdint>
#include <string>

#include "ZR_QuantApi.h"

// The limits, one line each: XX(Name, field, type). The enumerator
// RiskRule::kName, the field RiskLimits::field, its name in texts and in
// Python's dictionaries ("field") all come from this one list.
#define VELTRANE_RISK_LIMIT_MAP(XX)                              \
  XX(OrdersPerSecond, max_orders_per_second, int64_t)            \
  XX(OrdersPerDay, max_orders_per_day, int64_t)                  \
  XX(CancelsPerDay, max_cancels_per_day, int64_t)                \
  XX(OrderQuantity, max_order_quantity, int64_t)                 \
  XX(OrderValue, max_order_value, int64_t)                       \
  XX(WorkingOrders, max_working_orders, int64_t)                 \
  XX(WorkingOrdersPerCode, max_working_orders_per_code, int64_t) \
  XX(PriceBand, price_band, double)                              \
  XX(PriceUnknown, refuse_without_price, bool)                   \
  XX(SelfCross, refuse_self_cross, bool)                         \
  XX(PositionPerCode, max_position_per_code, int64_t)

// The checks of an order that nothing switches off, in the order they are
// made: XX(Name, key). The enumerator OrderCheck::kName, the key in texts
// and in Python's RiskStatus()["refused"] come from this list.
#define VELTRANE_ORDER_CHECK_MAP(XX) \
  XX(RequestId, request_id)          \
  XX(TradeType, trade_type)          \
  XX(Quantity, order_quantity)       \
  XX(Price, order_price)

namespace veltrane {

// What refuses an order before any limit: nReqID outside 1 to 2147483646,
// nTradeType neither 1 nor 2, nOrderVol or nOrderPrice not above 0.
enum class OrderCheck : int {
#define VELTRANE_ORDER_CHECK(Name, key) k##Name,
  VELTRANE_ORDER_CHECK_MAP(VELTRANE_ORDER_CHECK)
#undef VELTRANE_ORDER_CHECK
      kCount
};
constexpr int kOrderCheckCount = static_cast<int>(OrderCheck::kCount);

// The check's key, e.g. "trade_type".
VELTRANE_API const char* OrderCheckName(OrderCheck check) noexcept;
// Orders refused by `check` since the library was loaded; LastRiskRefusal()
// gives the latest refusal's text, e.g. "refused by trade_type: nTradeType 3
// is neither 1 (buy) nor 2 (sell)".
VELTRANE_API int64_t OrdersRefusedBy(OrderCheck check);

// The limits of the process. 0 and false are "off". Codes are the six
// characters of szContractCode that reach the gateway.
struct RiskLimits {
  // Orders handed to the gateway within any one second (a sliding window).
  int64_t max_orders_per_second = 0;
  // Orders handed to the gateway in the trading day.
  int64_t max_orders_per_day = 0;
  // Cancels handed to the gateway in the trading day.
  int64_t max_cancels_per_day = 0;
  // Shares (nOrderVol) of one order.
  int64_t max_order_quantity = 0;
  // Price times quantity of one order, in whole currency units (yuan).
  int64_t max_order_value = 0;
  // Working orders at once, over all codes.
  int64_t max_working_orders = 0;
  // Working orders at once in one code.
  int64_t max_working_orders_per_code = 0;
  // Largest distance of a limit price from the code's last traded price, as a
  // share of that price (0.05: 5%), to a millionth. An order whose code has
  // no known price yet passes, unless refuse_without_price is set.
  double price_band = 0;
  // With price_band set: refuse an order whose code has no known price.
  bool refuse_without_price = false;
  // Refuse a buy at or above a working sell of this process in the same
  // code, and a sell at or below a working buy.
  bool refuse_self_cross = false;
  // Largest position a code may reach through buys: its position plus the
  // shares still open in its working buys plus the new order's. Sells are
  // not limited by it.
  int64_t max_position_per_code = 0;
};

// What refuses an order or a cancel: the kill switch, or one limit.
enum class RiskRule : int {
  kTradingDisabled,
#define VELTRANE_RISK_RULE(Name, field, type) k##Name,
  VELTRANE_RISK_LIMIT_MAP(VELTRANE_RISK_RULE)
#undef VELTRANE_RISK_RULE
      kCount
};
constexpr int kRiskRuleCount = static_cast<int>(RiskRule::kCount);

// "trading_enabled" for the kill switch, else the limit's field name.
VELTRANE_API const char* RiskRuleName(RiskRule rule) noexcept;

// What the checks have counted.
struct RiskCounters {
  int32_t trading_day = 0;      // local date of the day counters, YYYYMMDD
  bool trading_enabled = true;  // false: new orders are switched off
  int64_t orders_today = 0;     // orders handed to the gateway this day
  int64_t cancels_today = 0;    // cancels handed to the gateway this day
  // Orders handed to the gateway in the last second; beyond 65536 (and any
  // max_orders_per_second), only that many are counted.
  int64_t orders_last_second = 0;
  int64_t working_orders = 0;  // orders sent and not yet finished
  // Requests refused, by the rule that refused them (index: RiskRule), since
  // the library was loaded; they never reset.
  int64_t refused[kRiskRuleCount] = {};
};

// Replaces every limit. False, with the reason in `why` (when not null) and
// the limits unchanged, when a number is negative or the band is not finite.
VELTRANE_API bool SetRiskLimits(const RiskLimits& limits, std::string* why = nullptr);
VELTRANE_API RiskLimits CurrentRiskLimits();
VELTRANE_API RiskCounters CurrentRiskCounters();

// The kill switch: with false, every new order is refused (cancels still
// go out) until it is switched on again. On when the library loads.
VELTRANE_API void SetTradingEnabled(bool enabled) noexcept;

// The text of the latest refusal, e.g. "refused by max_order_quantity
// (10000): 1000000 shares of 600000"; empty while there was none.
VELTRANE_API std::string LastRiskRefusal();

}  // namespace veltrane

#endif  // VELTRANE_RISK_H

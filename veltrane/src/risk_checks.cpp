// The pre-trade risk checks: the process's limits and counters, the checks of
// an order and a cancel, and the trade events that keep the working orders
// and positions they count.

#include "risk_checks.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <optional>

#include "last_prices.h"
#include "libitg.h"
#include "text_copy.h"
#include "working_orders.h"

namespace veltrane {
namespace {

constexpr int64_t kSecond = 1000000000;
constexpr int64_t kBandScale = 1000000;  // the band counts in millionths
// Send times kept beyond what a per-second limit needs: enough to report the
// rate of any strategy, bounded for one that floods.
constexpr size_t kWindowKept = 65536;

// The local date, worked out again only when the clock leaves the day it
// last saw (localtime takes a lock of the C library).
int32_t LocalDay(std::time_t now) {
  thread_local std::time_t from = 1;
  thread_local std::time_t until = 0;
  thread_local int32_t day = 0;
  if (now < from || now >= until) {
    std::tm local{};
    localtime_r(&now, &local);
    day = (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
    std::tm midnight = local;
    midnight.tm_hour = midnight.tm_min = midnight.tm_sec = 0;
    midnight.tm_isdst = -1;
    std::tm next = midnight;
    from = std::mktime(&midnight);
    ++next.tm_mday;
    until = std::mktime(&next);
  }
  return day;
}

RiskTime RealClock() {
  const auto steady = std::chrono::steady_clock::now().time_since_epoch();
  return RiskTime{std::chrono::duration_cast<std::chrono::nanoseconds>(steady).count(),
                  LocalDay(std::time(nullptr))};
}

std::atomic<RiskClock> g_clock{nullptr};
std::atomic<bool> g_tradingEnabled{true};

RiskTime Now() {
  const RiskClock clock = g_clock.load(std::memory_order_acquire);
  return clock != nullptr ? clock() : RealClock();
}

struct Refusal {
  RiskRule rule;
  std::string detail;
};

// Everything the checks hold, guarded by RiskLock().
struct RiskState {
  RiskLimits limits;
  bool anyLimit = false;
  int64_t bandMillionths = 0;
  int32_t day = 0;
  int64_t ordersToday = 0;
  int64_t cancelsToday = 0;
  std::deque<int64_t> sentTimes;  // of the orders handed over in the last second
  int64_t refused[kRiskRuleCount] = {};
  int64_t meaningless[kOrderCheckCount] = {};
  std::string lastRefusal;
  WorkingOrders orders;

  // Counters of an earlier day start again; the window drops what is older
  // than a second.
  void Catchup(const RiskTime& now) {
    if (now.day != day) {
      if (day != 0) {
        ordersToday = cancelsToday = 0;
        orders.ForgetOrders();
      }
      day = now.day;
    }
    while (!sentTimes.empty() && sentTimes.front() <= now.steadyNanos - kSecond) {
      sentTimes.pop_front();
    }
  }

  void Refuse(Refusal refusal) {
    ++refused[static_cast<int>(refusal.rule)];
    lastRefusal = std::move(refusal.detail);
  }
};

// Never destroyed: a gateway thread may report while the process exits.
RiskState& State() {
  static RiskState* state = new RiskState;
  return *state;
}

std::mutex& RiskLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return std::string(text, length < 0 ? 0 : std::min<size_t>(length, sizeof text - 1));
}

// A 1/10000-unit amount as decimal text with four places.
std::string Fixed(__int128 amount) {
  const bool negative = amount < 0;
  unsigned __int128 magnitude = negative ? -static_cast<unsigned __int128>(amount) : amount;
  char digits[48];
  int at = sizeof digits;
  digits[--at] = '\0';
  for (int place = 0; place < 5 || magnitude != 0; ++place) {
    if (place == 4) digits[--at] = '.';
    digits[--at] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
  }
  if (negative) digits[--at] = '-';
  return digits + at;
}

// "1 order", "2 orders".
std::string Counted(int64_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string LimitText(int64_t limit) { return std::to_string(limit); }
std::string LimitText(double limit) { return Format("%g", limit); }
std::string LimitText(bool limit) { return limit ? "true" : "false"; }

Refusal Refused(RiskRule rule, const std::string& limit, const std::string& detail) {
  return Refusal{rule,
                 std::string("refused by ") + RiskRuleName(rule) + " (" + limit + "): " + detail};
}

struct OrderIntent {
  const std::string& code;
  bool buy;
  int64_t price;
  int64_t quantity;
};

std::optional<Refusal> CheckOrder(const RiskState& state, const OrderIntent& order) {
  const RiskLimits& limits = state.limits;
  const char* code = order.code.c_str();
  if (limits.max_orders_per_second > 0 &&
      static_cast<int64_t>(state.sentTimes.size()) >= limits.max_orders_per_second) {
    return Refused(
        RiskRule::kOrdersPerSecond, LimitText(limits.max_orders_per_second),
        Counted(static_cast<int64_t>(state.sentTimes.size()), "order") + " in the last second");
  }
  if (limits.max_orders_per_day > 0 && state.ordersToday >= limits.max_orders_per_day) {
    return Refused(RiskRule::kOrdersPerDay, LimitText(limits.max_orders_per_day),
                   Counted(state.ordersToday, "order") + " sent today");
  }
  if (limits.max_order_quantity > 0 && order.quantity > limits.max_order_quantity) {
    return Refused(RiskRule::kOrderQuantity, LimitText(limits.max_order_quantity),
                   Format("%" PRId64 " shares of %s", order.quantity, code));
  }
  const __int128 value = static_cast<__int128>(order.price) * order.quantity;
  if (limits.max_order_value > 0 && value > static_cast<__int128>(limits.max_order_value) * 10000) {
    return Refused(RiskRule::kOrderValue, LimitText(limits.max_order_value),
                   Format("%" PRId64 " shares of %s at ", order.quantity, code) +
                       Fixed(order.price) + ", worth " + Fixed(value));
  }
  if (state.bandMillionths > 0) {
    const int32_t last = LastPrice(order.code);
    if (last <= 0 && limits.refuse_without_price) {
      return Refused(RiskRule::kPriceUnknown, LimitText(true),
                     Format("no last price of %s is known yet", code));
    }
    const __int128 distance = static_cast<__int128>(order.price) - last;
    if (last > 0 && (distance < 0 ? -distance : distance) * kBandScale >
                        static_cast<__int128>(state.bandMillionths) * last) {
      return Refused(RiskRule::kPriceBand, LimitText(limits.price_band),
                     Fixed(order.price) + " for " + order.code + " is " +
                         Format("%.4f%%", 100.0 * static_cast<double>(distance) / last) +
                         " from its last price " + Fixed(last));
    }
  }
  if (limits.max_working_orders > 0 &&
      static_cast<int64_t>(state.orders.Count()) >= limits.max_working_orders) {
    return Refused(RiskRule::kWorkingOrders, LimitText(limits.max_working_orders),
                   Counted(static_cast<int64_t>(state.orders.Count()), "order") + " working");
  }
  if (limits.max_working_orders_per_code > 0 &&
      static_cast<int64_t>(state.orders.CountIn(order.code)) >=
          limits.max_working_orders_per_code) {
    return Refused(RiskRule::kWorkingOrdersPerCode, LimitText(limits.max_working_orders_per_code),
                   Counted(static_cast<int64_t>(state.orders.CountIn(order.code)), "order") +
                       " working in " + order.code);
  }
  if (limits.refuse_self_cross) {
    if (const WorkingOrders::Order* other =
            state.orders.Crossed(order.code, order.buy, order.price)) {
      return Refused(RiskRule::kSelfCross, LimitText(true),
                     std::string(order.buy ? "a buy" : "a sell") + " of " + order.code + " at " +
                         Fixed(order.price) + " would trade with this process's working " +
                         (other->buy ? "buy" : "sell") + " at " + Fixed(other->price));
    }
  }
  if (limits.max_position_per_code > 0 && order.buy) {
    const int64_t position = state.orders.Position(order.code);
    const int64_t open = state.orders.OpenBuys(order.code);
    const __int128 reach = static_cast<__int128>(position) + open + order.quantity;
    if (reach > limits.max_position_per_code) {
      return Refused(RiskRule::kPositionPerCode, LimitText(limits.max_position_per_code),
                     Format("%s would reach %" PRId64 ": position %" PRId64 ", open buys %" PRId64
                            ", this order %" PRId64,
                            code, static_cast<int64_t>(reach), position, open, order.quantity));
    }
  }
  return std::nullopt;
}

bool AnyLimit(const RiskLimits& limits) {
  bool any = false;
#define VELTRANE_RISK_ANY(Name, field, type) any = any || limits.field != type{};
  VELTRANE_RISK_LIMIT_MAP(VELTRANE_RISK_ANY)
#undef VELTRANE_RISK_ANY
  return any;
}

// What is wrong with a limit's value, or null.
const char* Problem(int64_t limit) { return limit < 0 ? " must not be negative" : nullptr; }
const char* Problem(double limit) {
  return std::isfinite(limit) && limit >= 0 ? nullptr : " must be a finite number, 0 or more";
}
const char* Problem(bool) { return nullptr; }

// The gateway's side 2 buys, as in the requests.
bool Buys(int32_t side) { return side == LIBITG_SIDE_BUY; }

template <class Update>
void Note(Update&& update) noexcept {
  try {
    RiskState& state = State();
    std::lock_guard<std::mutex> hold(RiskLock());
    update(state.orders);
  } catch (...) {
    // Out of memory on the gateway's thread: this one event goes untracked.
  }
}

}  // namespace

const char* OrderCheckName(OrderCheck check) noexcept {
  static const char* const kNames[] = {
#define VELTRANE_ORDER_CHECK_NAME(Name, key) #key,
      VELTRANE_ORDER_CHECK_MAP(VELTRANE_ORDER_CHECK_NAME)
#undef VELTRANE_ORDER_CHECK_NAME
  };
  const int index = static_cast<int>(check);
  return index >= 0 && index < kOrderCheckCount ? kNames[index] : "";
}

int64_t OrdersRefusedBy(OrderCheck check) {
  const int index = static_cast<int>(check);
  if (index < 0 || index >= kOrderCheckCount) return 0;
  RiskState& state = State();
  std::lock_guard<std::mutex> hold(RiskLock());
  return state.meaningless[index];
}

bool CheckOrderRequest(int32_t reqId, int32_t tradeType, int64_t price, int32_t quantity) noexcept {
  OrderCheck failed;
  char detail[128];
  if (reqId < 1 || reqId > 2147483646) {
    failed = OrderCheck::kRequestId;
    std::snprintf(detail, sizeof detail, "nReqID %d is not from 1 to 2147483646", reqId);
  } else if (tradeType != 1 && tradeType != 2) {
    failed = OrderCheck::kTradeType;
    std::snprintf(detail, sizeof detail, "nTradeType %d is neither 1 (buy) nor 2 (sell)",
                  tradeType);
  } else if (quantity <= 0) {
    failed = OrderCheck::kQuantity;
    std::snprintf(detail, sizeof detail, "nOrderVol %d is not a positive number of shares",
                  quantity);
  } else if (price <= 0) {
    failed = OrderCheck::kPrice;
    std::snprintf(detail, sizeof detail,
                  "nOrderPrice %" PRId64 " is not a positive price (in 1/10000 yuan)", price);
  } else {
    return true;
  }
  try {
    RiskState& state = State();
    std::lock_guard<std::mutex> hold(RiskLock());
    ++state.meaningless[static_cast<int>(failed)];
    state.lastRefusal = std::string("refused by ") + OrderCheckName(failed) + ": " + detail;
  } catch (...) {
    // Out of memory for the text: the order is refused all the same.
  }
  return false;
}

const char* RiskRuleName(RiskRule rule) noexcept {
  static const char* const kNames[] = {"trading_enabled",
#define VELTRANE_RISK_NAME(Name, field, type) #field,
                                       VELTRANE_RISK_LIMIT_MAP(VELTRANE_RISK_NAME)
#undef VELTRANE_RISK_NAME
  };
  const int index = static_cast<int>(rule);
  return index >= 0 && index < kRiskRuleCount ? kNames[index] : "";
}

bool SetRiskLimits(const RiskLimits& limits, std::string* why) {
#define VELTRANE_RISK_VALID(Name, field, type)                \
  if (const char* problem = Problem(limits.field)) {          \
    if (why != nullptr) *why = std::string(#field) + problem; \
    return false;                                             \
  }
  VELTRANE_RISK_LIMIT_MAP(VELTRANE_RISK_VALID)
#undef VELTRANE_RISK_VALID
  // Counted in millionths: a band narrower than one is one, and one too wide
  // to mean anything is still a band.
  const int64_t band =
      limits.price_band > 0
          ? std::max<int64_t>(1, std::llround(std::min(limits.price_band, 1e12) * kBandScale))
          : 0;
  RiskState& state = State();
  std::lock_guard<std::mutex> hold(RiskLock());
  FollowLastPrices(band > 0);
  state.limits = limits;
  state.anyLimit = AnyLimit(limits);
  state.bandMillionths = band;
  return true;
}

RiskLimits CurrentRiskLimits() {
  RiskState& state = State();
  std::lock_guard<std::mutex> hold(RiskLock());
  return state.limits;
}

RiskCounters CurrentRiskCounters() {
  const RiskTime now = Now();
  RiskState& state = State();
  std::lock_guard<std::mutex> hold(RiskLock());
  state.Catchup(now);
  RiskCounters counters;
  counters.trading_day = state.day;
  counters.trading_enabled = g_tradingEnabled.load(std::memory_order_relaxed);
  counters.orders_today = state.ordersToday;
  counters.cancels_today = state.cancelsToday;
  counters.orders_last_second = static_cast<int64_t>(state.sentTimes.size());
  counters.working_orders = static_cast<int64_t>(state.orders.Count());
  std::copy(std::begin(state.refused), std::end(state.refused), std::begin(counters.refused));
  return counters;
}

void SetTradingEnabled(bool enabled) noexcept {
  g_tradingEnabled.store(enabled, std::memory_order_relaxed);
}

std::string LastRiskRefusal() {
  RiskState& state = State();
  std::lock_guard<std::mutex> hold(RiskLock());
  return state.lastRefusal;
}

uint64_t AdmitOrder(const std::string& code, bool buy, int64_t price, int64_t quantity,
                    int32_t reqId) {
  const RiskTime now = Now();
  RiskState& state = State();
  std::lock_guard<std::mutex> hold(RiskLock());
  state.Catchup(now);
  if (!g_tradingEnabled.load(std::memory_order_relaxed)) {
    state.Refuse(
        Refused(RiskRule::kTradingDisabled, LimitText(false), "new orders are switched off"));
    return 0;
  }
  if (state.anyLimit) {
    if (std::optional<Refusal> refusal = CheckOrder(state, {code, buy, price, quantity})) {
      state.Refuse(std::move(*refusal));
      return 0;
    }
  }
  const uint64_t ticket = state.orders.Add(code, buy, price, quantity, reqId);
  ++state.ordersToday;
  state.sentTimes.push_back(now.steadyNanos);
  if (state.sentTimes.size() > kWindowKept &&
      static_cast<int64_t>(state.sentTimes.size()) > state.limits.max_orders_per_second) {
    state.sentTimes.pop_front();
  }
  return ticket;
}

void OrderHandedOver(uint64_t ticket, int32_t result) noexcept {
  if (result >= 0) return;
  Note([ticket](WorkingOrders& orders) { orders.NotSent(ticket); });
}

bool AdmitCancel() {
  const RiskTime now = Now();
  RiskState& state = State();
  std::lock_guard<std::mutex> hold(RiskLock());
  state.Catchup(now);
  const int64_t limit = state.limits.max_cancels_per_day;
  if (limit > 0 && state.cancelsToday >= limit) {
    state.Refuse(Refused(RiskRule::kCancelsPerDay, LimitText(limit),
                         Counted(state.cancelsToday, "cancel") + " sent today"));
    return false;
  }
  ++state.cancelsToday;
  return true;
}

void NoteInsertAnswer(int32_t reqId, int32_t errorId, const char* securityCode,
                      const char* orderCode, int32_t side, double price,
                      int32_t quantity) noexcept {
  Note([&](WorkingOrders& orders) {
    const std::string code = TextOrEmpty(securityCode);
    const std::string order = TextOrEmpty(orderCode);
    // The price as the request carried it, in 1/10000 units.
    const int64_t fixed = std::isfinite(price) && price > 0 && price < 1e14
                              ? static_cast<int64_t>(price * 10000 + 0.5)
                              : 0;
    orders.Answered({reqId, errorId == 0, code, side, fixed, quantity, order});
  });
}

void NoteOrderReport(const char* orderCode, char status, int32_t tradedQty, bool notice) noexcept {
  const bool finished = status == LIBITG_STATUS_FILLED || status == LIBITG_STATUS_CANCELLED ||
                        status == LIBITG_STATUS_REJECTED;
  Note([&](WorkingOrders& orders) {
    orders.Reported(TextOrEmpty(orderCode), finished, tradedQty, notice);
  });
}

void NoteMatch(const char* securityCode, const char* orderCode, int32_t side,
               int32_t quantity) noexcept {
  Note([&](WorkingOrders& orders) {
    orders.Matched(TextOrEmpty(securityCode), TextOrEmpty(orderCode), Buys(side), quantity);
  });
}

void NotePosition(const char* securityCode, int32_t position) noexcept {
  Note([&](WorkingOrders& orders) { orders.PositionIs(TextOrEmpty(securityCode), position); });
}

void ResetRiskForTesting(RiskClock clock) {
  g_clock.store(clock, std::memory_order_release);
  g_tradingEnabled.store(true, std::memory_order_relaxed);
  RiskState& state = State();
  std::lock_guard<std::mutex> hold(RiskLock());
  FollowLastPrices(false);
  state = RiskState{};
}

}  // namespace veltrane

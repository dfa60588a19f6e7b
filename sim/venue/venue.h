// venue.h: the simulated trading venue behind the stand-in libitg.so. One
// paper-trading account trades against the simulated market that the quote
// stand-in publishes.
//
// The venue is single-threaded: every call, market messages included, comes
// on the simulated exchange's one thread. Every answer and report goes out
// through the client line (client_line.h), which delays it by the report
// latency; without one, through the registered callbacks from inside the
// call that caused it.
//
// The rules: each board's price limits, sizes and price cage (boards.h),
// T+1 (account.h), a broker's fees (fees.h), suspensions and the day's
// phases (trading_day.h). An order in a call auction joins it; one between
// the opening uncross and continuous trading, or between two sessions, is
// accepted and waits for continuous trading, as the exchange or a broker
// holds it; one before the open or after the close is refused. Cancels are
// refused where the auctions take none.
//
// Continuous matching: an order that enters the book at once takes the
// opposite side of the last snapshot, as far as its price and the volume
// left at each level allow, at the levels' prices (trades and the venue's
// own fills use that volume up until the next snapshot). What is left rests
// at its price, behind the volume the book shows there. A resting order
// fills at its own price: when a later snapshot shows the opposite side at
// or through its price (up to that volume), when a trade prints strictly
// through its price (up to the trade's volume), or when trades at its price
// have used up the volume ahead of it (with what they trade beyond that).
// Volume that leaves its price without trading moves it up the queue as the
// queue model says (queue_models.h). A buy above the price cage or a sell
// below it is accepted but held, and enters the book at the first snapshot
// that brings it inside.
//
// Call auctions: at the uncross (the market's trades at one price, stamped
// at or after the call's end, then its next snapshot), the account's orders
// whose limit reaches the price fill at it, best limit first and then in
// arrival order. Together they take at most the volume the market matched
// plus what the last auction snapshot left unmatched on the other side; an
// order at exactly the price, behind the market's orders there, takes only
// from that unmatched volume. The account's orders do not move the price.
// What the opening call leaves waits for continuous trading; what the
// closing call leaves expires with every other working order at the close.
//
// Reports, in the order a venue gives them: the insert answer first (its
// error id and message say why an order is rejected, or that it is held),
// then status reports ('2' accepted, '8' rejected, '5' partially filled, '7'
// filled, '6' cancelled or expired) and one match report before the status
// report of each fill, both as unsolicited notices (report kind 2) carrying
// the insert request's id.

#ifndef VELTRANE_SIM_VENUE_H
#define VELTRANE_SIM_VENUE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "account.h"
#include "client_call.h"
#include "client_line.h"
#include "fees.h"
#include "instruments.h"
#include "libitg.h"
#include "market_generator.h"
#include "market_view.h"
#include "order_checks.h"
#include "queue_models.h"
#include "quote_message.h"
#include "trading_day.h"

namespace sim {

struct VenueSettings {
  std::string user = "demo";
  std::string password = "demo";
  int64_t capital = 100000000;  // cents: 1,000,000.00
  bool decimalCodes = false;    // order codes as decimal numbers (login result 1)
  FeeRates fees;
  std::vector<StartPosition> positions;  // held at the day's start
  std::string reportPath;  // where the account's state goes at the close; empty: nowhere
  QueueModelKind queueModel = QueueModelKind::kRiskAverse;
};

// What the venue knows of the market's day.
struct VenueMarket {
  // Their previous closes and marks; empty when the codes become known from
  // their first snapshots (a tape).
  std::vector<Instrument> instruments;
  // Where the codes come from the snapshots, what is known of them: the ST
  // and new-listing marks of those listed here.
  std::vector<Instrument> marks;
  TradingDay day = MarketSettings{}.Schedule();
  RuleBook rules = DefaultRules();
  std::vector<Suspension> suspensions;
};

// The gateway's order and match codes. `stem` makes them unique within the
// day across restarts of the process (it is taken from the clock).
std::string OrderCodeText(bool decimal, int64_t stem, int64_t number);
std::string MatchIdText(int64_t stem, int64_t number);

// A price as the gateway receives it ("10.520000") in cents. False for
// anything but digits with at most one point; `offTick` is set when digits
// beyond the cent are not zero.
bool ParseOrderPrice(std::string_view text, int64_t& cents, bool& offTick);

class Venue : public MarketListener {
 public:
  // The day's opening is the venue's clock until the market's first message.
  Venue(VenueSettings settings, VenueMarket market, int64_t stem);

  void SetCallbacks(const ItgCallbacks& table) { callbacks_ = table; }
  // Answers and reports go through `line`, `delayMs` after the venue makes
  // them. Before the first request.
  void SetClientLine(ClientLine* line, int64_t delayMs) {
    line_ = line;
    reportDelayMs_ = delayMs;
  }
  // Moves the venue's clock (HHMMSSmmm) on to a request's arrival.
  void AdvanceTo(int64_t time);

  // A non-empty `settingsError` refuses the login with that text.
  void Login(const std::string& user, const std::string& password,
             const std::string& settingsError);
  void Insert(int32_t reqId, const std::string& security, int64_t side, const std::string& price,
              int64_t quantity);
  void Cancel(int32_t reqId, const std::string& orderCode);
  void QueryOrders(int32_t reqId);
  void QueryMatches(int32_t reqId);
  void QueryPositions(int32_t reqId);
  void QueryBalance(int32_t reqId);

  // Every message of the market, whoever subscribes to it, after the feed has
  // sent it; and the end of the market's day.
  void OnMarket(const QuoteMessage& message) override;
  void OnClose() override;

  // The account's state as the account report holds it (JSON, documented in
  // the README): cash, positions with their cost, fees, the day's orders
  // and fills.
  std::string AccountReport() const;

 private:
  // Where an accepted order is: in the book, held outside the price cage,
  // waiting for continuous trading, or in a call auction.
  enum class Stage { kBook, kCaged, kWaiting, kCall };
  struct Order {
    std::string code;
    int32_t reqId = 0;
    std::string security;
    bool buy = false;
    int32_t side = 0;
    int64_t price = 0;  // cents
    int64_t quantity = 0;
    int64_t traded = 0;
    int64_t tradedAmount = 0;  // cents
    Fees fees;                 // paid so far
    int64_t frozen = 0;        // cents held back for a buy's rest
    Stage stage = Stage::kBook;
    int64_t ahead = 0;  // shares the book showed before it at its price, less what traded
    char status = LIBITG_STATUS_ACCEPTED;
    std::string time;
    int32_t errorId = 0;
    std::string message;
  };
  // Accepted and not yet filled, cancelled or expired: in the book or held.
  static bool Working(const Order& order) {
    return order.status == LIBITG_STATUS_ACCEPTED || order.status == LIBITG_STATUS_PART_FILLED;
  }
  struct Match {
    std::string id;
    size_t order;
    int64_t price;
    int64_t quantity;
    int64_t fee;  // cents: what the order's fees grew by
    std::string time;
  };
  struct Market {
    Listing listing;
    int64_t previousClose = 0;
    int64_t mark = 0;                    // last trade or fill price, for the capital's value
    std::vector<PriceLevel> bids, asks;  // the last snapshot less what was taken since
    std::vector<size_t> working;  // indexes into orders_ of its working orders, in arrival order
    Uncross published;            // by the last call-auction snapshot
    int64_t printedPrice = 0;     // the uncross's trades so far
    int64_t printedVolume = 0;
    // Until the code is followed: its last snapshot, and the trades since
    // as (u32 length, payload) records.
    bool followed = false;
    const char* snapshotType = "";
    const char* tradeType = "";
    std::string snapshot;
    std::string trades;
  };
  void Remember(Market& market, const QuoteMessage& message);
  // A message of a code the venue follows.
  void Apply(Market& market, const QuoteMessage& message);
  void Follow(Market& market);
  void ApplySnapshot(Market& market, std::string_view typeName, std::string_view payload);
  void ApplyTrade(Market& market, const TradeView& trade);
  Phase PhaseNow() const { return market_.day.PhaseAt(MillisecondsOfDay(clock_)); }
  // Why the market takes no order now; empty when it does.
  std::string Closed() const;
  // What a change of phase does to the working orders.
  void EnterPhase();
  void MeetUncross(Market& market);
  void EnterBook(size_t index);
  void ReleaseWaiting();
  void ReleaseCaged(const Market& market);
  CageReference ReferenceOf(const Market& market) const;
  // At the levels' prices when the order arrives; at its own when it rests.
  void TakeBook(size_t index, bool atOwnPrice);
  void JoinQueue(Order& order, const Market& market);
  void TradeAtPrice(const Market& market, const TradeView& trade, int64_t volume);
  void Fill(size_t index, int64_t price, int64_t quantity);
  void Finish(size_t index, char status, std::string message);
  int64_t FrozenFor(const Order& order) const;
  // The price the account's shares of `code` are valued at: the last trade
  // or fill, else the previous close; 0 for a code the venue does not know.
  int64_t MarkOf(const std::string& code) const;
  std::string Clock() const;

  // Calls the client's callback `which` now or, through the line, later; a
  // later call keeps copies of the texts.
  template <class Function, class... Arguments>
  void Answer(Function* ItgCallbacks::*which, Arguments... arguments);

  // Writes AccountReport() to `path` whole or not at all; a failure is told
  // on standard error, since no client call is left to carry it.
  void WriteAccountReport(const std::string& path) const;

  void ReportOrder(const Order& order, int32_t reqId, int32_t kind);
  void ReportMatch(const Match& match, int32_t reqId, int32_t kind);

  VenueSettings settings_;
  VenueMarket market_;
  int64_t stem_;
  ItgCallbacks callbacks_{};
  bool loggedIn_ = false;
  bool closed_ = false;
  ClientLine* line_ = nullptr;
  int64_t reportDelayMs_ = 0;
  int64_t clock_;  // exchange time of the last message or arrival, HHMMSSmmm
  Account account_;
  std::unordered_map<std::string, Market> markets_;
  std::vector<Order> orders_;
  std::unordered_map<std::string, size_t> orderByCode_;
  Phase phase_ = Phase::kBeforeOpen;
  bool waitingOrders_ = false;  // some order waits for continuous trading
  Fees feesPaid_;
  std::vector<Match> matches_;
};

namespace venue_detail {
// A text argument is kept as a string until the call is made.
inline std::string Keep(const char* text) { return text; }
template <class Value>
Value Keep(Value value) {
  return value;
}
inline const char* Pass(const std::string& text) { return text.c_str(); }
template <class Value>
Value Pass(const Value& value) {
  return value;
}
}  // namespace venue_detail

template <class Function, class... Arguments>
void Venue::Answer(Function* ItgCallbacks::*which, Arguments... arguments) {
  if (line_ == nullptr) return CallClient(callbacks_.*which, arguments...);
  if (reportDelayMs_ <= 0) {
    line_->Calling();
    return CallClient(callbacks_.*which, arguments...);
  }
  // The table in use when the report arrives is the one it reaches.
  line_->Later(reportDelayMs_,
               [this, which, kept = std::make_tuple(venue_detail::Keep(arguments)...)] {
                 std::apply(
                     [&](const auto&... values) {
                       CallClient(callbacks_.*which, venue_detail::Pass(values)...);
                     },
                     kept);
               });
}

}  // namespace sim

#endif  // VELTRANE_SIM_VENUE_H

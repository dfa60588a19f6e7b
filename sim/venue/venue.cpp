// The simulated venue: its requests, the account's fills and the reports.

#include "venue.h"

#include <algorithm>
#include <cstring>

#include "tape_text.h"

namespace sim {
namespace {

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

double Price(int64_t cents) { return static_cast<double>(cents) / 100.0; }

int32_t Narrow(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

const char* FinishedAs(char status) {
  switch (status) {
    case LIBITG_STATUS_FILLED:
      return "filled";
    case LIBITG_STATUS_REJECTED:
      return "rejected";
    default:
      return "cancelled";
  }
}

}  // namespace

std::string OrderCodeText(bool decimal, int64_t stem, int64_t number) {
  if (decimal) return std::to_string(stem * 1000000 + number);
  return "S" + std::to_string(stem) + "-" + std::to_string(number);
}

std::string MatchIdText(int64_t stem, int64_t number) {
  return "M" + std::to_string(stem) + "-" + std::to_string(number);
}

bool ParseOrderPrice(std::string_view text, int64_t& cents, bool& offTick) {
  size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
  if ((whole.empty() && fraction.empty()) || whole.size() > 12 || !AllDigits(whole) ||
      !AllDigits(fraction)) {
    return false;
  }
  int64_t value = 0;
  for (char c : whole) value = value * 10 + (c - '0');
  for (size_t k = 0; k < 2; ++k) value = value * 10 + (k < fraction.size() ? fraction[k] - '0' : 0);
  offTick = fraction.size() > 2 && fraction.find_first_not_of('0', 2) != std::string_view::npos;
  cents = value;
  return true;
}

Venue::Venue(VenueSettings settings, VenueMarket market, int64_t stem)
    : settings_(std::move(settings)),
      market_(std::move(market)),
      stem_(stem),
      clock_(ExchangeTime(market_.day.Opens())),
      account_(settings_.capital, settings_.positions) {
  for (const Instrument& instrument : market_.instruments) {
    Market& known = markets_[instrument.code];
    known.listing = ListingOf(instrument);
    known.previousClose = instrument.previousClose;
  }
}

void Venue::AdvanceTo(int64_t time) {
  if (time > clock_) clock_ = time;
  EnterPhase();
  ReleaseWaiting();
}

std::string Venue::Closed() const {
  Phase phase = PhaseNow();
  if (closed_ || phase == Phase::kClosed) return "the market is closed";
  if (phase == Phase::kBeforeOpen) {
    return "the market is not open yet: trading starts at " +
           ClockText(ExchangeTime(market_.day.Opens())).substr(0, 5);
  }
  return {};
}

void Venue::Login(const std::string& user, const std::string& password,
                  const std::string& settingsError) {
  if (!settingsError.empty()) {
    std::string text = "the simulator's settings are unusable: " + settingsError;
    return Answer(&ItgCallbacks::onLogin, 0, 2, text.c_str());
  }
  if (user != settings_.user || password != settings_.password) {
    return Answer(&ItgCallbacks::onLogin, 0, 1, "wrong user or password");
  }
  loggedIn_ = true;
  std::string text = "logged in as " + user;
  Answer(&ItgCallbacks::onLogin, 0, 0, text.c_str());
}

void Venue::Insert(int32_t reqId, const std::string& security, int64_t side,
                   const std::string& price, int64_t quantity) {
  if (!loggedIn_) {
    return Answer(&ItgCallbacks::onInsert, reqId, VenueError::kNotLoggedIn, "not logged in",
                  security.c_str(), "", "", Narrow(side), 0.0, Narrow(quantity));
  }
  Order order;
  order.code =
      OrderCodeText(settings_.decimalCodes, stem_, static_cast<int64_t>(orders_.size()) + 1);
  order.reqId = reqId;
  order.security = security;
  order.buy = side == LIBITG_SIDE_BUY;
  order.side = Narrow(side);
  order.quantity = quantity;
  order.time = Clock();
  bool offTick = false;
  bool priced = ParseOrderPrice(price, order.price, offTick) && order.price > 0;
  if (!priced) order.price = 0;
  auto market = markets_.find(security);
  if (market != markets_.end() && !market->second.followed) Follow(market->second);
  InsertFacts facts;
  facts.security = security;
  facts.listed = market != markets_.end();
  facts.suspended = IsSuspended(market_.suspensions, security, MillisecondsOfDay(clock_));
  facts.closed = Closed();
  facts.side = side;
  facts.priceText = price;
  facts.priced = priced;
  facts.offTick = offTick;
  facts.price = order.price;
  if (facts.listed) {
    const Market& known = market->second;
    facts.limits = BandOf(known.listing, known.previousClose, market_.rules);
    facts.board = known.listing.board;
  }
  facts.rules = &market_.rules.Of(facts.board);
  facts.quantity = quantity;
  facts.cashNeeded = [&] { return FrozenFor(order); };
  facts.available = account_.Available();
  facts.sellable = account_.Sellable(security);
  if (Refusal refusal = CheckInsert(facts); refusal.errorId != 0) {
    order.status = LIBITG_STATUS_REJECTED;
    order.errorId = refusal.errorId;
    order.message = std::move(refusal.message);
  }

  size_t index = orders_.size();
  orders_.push_back(std::move(order));
  Order& placed = orders_.back();
  orderByCode_[placed.code] = index;
  if (placed.status == LIBITG_STATUS_REJECTED) {
    Answer(&ItgCallbacks::onInsert, reqId, placed.errorId, placed.message.c_str(),
           placed.security.c_str(), placed.code.c_str(), "", placed.side, Price(placed.price),
           Narrow(placed.quantity));
    return ReportOrder(placed, reqId, LIBITG_REPORT_NOTICE);
  }
  if (placed.buy) {
    placed.frozen = FrozenFor(placed);
    account_.Freeze(placed.frozen);
  } else {
    account_.Promise(security, quantity);
  }
  placed.message = "accepted";
  Phase phase = PhaseNow();
  if (EntryIn(phase) == Entry::kCall) {
    placed.stage = Stage::kCall;
    waitingOrders_ = true;
    placed.message = std::string("accepted; it joins ") +
                     PhaseText(phase == Phase::kClosingCall ? phase : Phase::kOpeningCall);
  } else if (EntryIn(phase) == Entry::kWaits) {
    placed.stage = Stage::kWaiting;
    waitingOrders_ = true;
    placed.message =
        "accepted; it waits for the session at " +
        ClockText(ExchangeTime(market_.day.NextContinuous(MillisecondsOfDay(clock_)))).substr(0, 5);
  } else if (std::string held =
                 OutsideCage(*facts.rules, placed.buy, placed.price, ReferenceOf(market->second));
             !held.empty()) {
    placed.stage = Stage::kCaged;
    placed.message = "accepted; " + held;
  }
  Answer(&ItgCallbacks::onInsert, reqId, 0, placed.message.c_str(), placed.security.c_str(),
         placed.code.c_str(), "", placed.side, Price(placed.price), Narrow(placed.quantity));
  ReportOrder(placed, reqId, LIBITG_REPORT_NOTICE);
  market->second.working.push_back(index);
  if (placed.stage == Stage::kBook) EnterBook(index);
}

void Venue::Fill(size_t index, int64_t price, int64_t quantity) {
  Order& order = orders_[index];
  int64_t amount = price * quantity;
  Fees before = order.fees;
  order.traded += quantity;
  order.tradedAmount += amount;
  order.fees = settings_.fees.On(order.buy, order.tradedAmount);
  Fees grown = order.fees - before;
  feesPaid_ += grown;
  account_.Settle(order.security, order.buy, quantity, amount, grown.Total());
  if (order.buy) {
    account_.Freeze(-order.frozen);
    order.frozen = FrozenFor(order);
    account_.Freeze(order.frozen);
  }
  markets_[order.security].mark = price;
  matches_.push_back({MatchIdText(stem_, static_cast<int64_t>(matches_.size()) + 1), index, price,
                      quantity, grown.Total(), Clock()});
  ReportMatch(matches_.back(), order.reqId, LIBITG_REPORT_NOTICE);
  if (order.traded == order.quantity) return Finish(index, LIBITG_STATUS_FILLED, "filled");
  order.status = LIBITG_STATUS_PART_FILLED;
  order.message = "partially filled";
  ReportOrder(order, order.reqId, LIBITG_REPORT_NOTICE);
}

void Venue::Finish(size_t index, char status, std::string message) {
  Order& order = orders_[index];
  order.status = status;
  order.message = std::move(message);
  if (order.buy) {
    account_.Freeze(-order.frozen);
    order.frozen = 0;
  } else {
    account_.Promise(order.security, -(order.quantity - order.traded));
  }
  std::vector<size_t>& working = markets_[order.security].working;
  working.erase(std::remove(working.begin(), working.end(), index), working.end());
  ReportOrder(order, order.reqId, LIBITG_REPORT_NOTICE);
}

// What a buy's rest may still cost: its price for every share left, and the
// fees of the order's whole amount at that price less what it has paid.
int64_t Venue::FrozenFor(const Order& order) const {
  int64_t rest = order.price * (order.quantity - order.traded);
  return rest + settings_.fees.On(order.buy, order.tradedAmount + rest).Total() -
         order.fees.Total();
}

int64_t Venue::MarkOf(const std::string& code) const {
  auto found = markets_.find(code);
  if (found == markets_.end()) return 0;
  return found->second.mark != 0 ? found->second.mark : found->second.previousClose;
}

std::string Venue::Clock() const { return ClockText(clock_); }

void Venue::Cancel(int32_t reqId, const std::string& orderCode) {
  if (!loggedIn_) {
    return Answer(&ItgCallbacks::onCancel, reqId, VenueError::kNotLoggedIn, "not logged in");
  }
  auto found = orderByCode_.find(orderCode);
  if (found == orderByCode_.end()) {
    std::string text = "unknown order code '" + orderCode + "'";
    return Answer(&ItgCallbacks::onCancel, reqId, VenueError::kUnknownOrder, text.c_str());
  }
  const Order& order = orders_[found->second];
  if (!Working(order)) {
    std::string text = "order " + orderCode + " is already " + FinishedAs(order.status);
    return Answer(&ItgCallbacks::onCancel, reqId, VenueError::kOrderFinished, text.c_str());
  }
  if (Phase phase = PhaseNow(); !TakesCancels(phase)) {
    std::string text = std::string("no cancels are taken in ") + PhaseText(phase);
    return Answer(&ItgCallbacks::onCancel, reqId, VenueError::kNoCancelNow, text.c_str());
  }
  Answer(&ItgCallbacks::onCancel, reqId, 0, "cancelled");
  Finish(found->second, LIBITG_STATUS_CANCELLED, "cancelled");
}

void Venue::QueryOrders(int32_t reqId) {
  // veltrane reads the order code of every row, so an empty answer carries
  // one that is no order's: empty, or 0 where codes are numbers.
  const char* noOrder = settings_.decimalCodes ? "0" : "";
  if (!loggedIn_ || orders_.empty()) {
    Answer(&ItgCallbacks::onOrder, reqId,
           loggedIn_ ? VenueError::kNoRows : VenueError::kNotLoggedIn,
           loggedIn_ ? "no orders" : "not logged in", "", noOrder, "", 0, 0.0, 0, 0.0, 0,
           LIBITG_STATUS_NONE, "", LIBITG_REPORT_LAST_ROW);
    return;
  }
  for (size_t i = 0; i < orders_.size(); ++i) {
    ReportOrder(orders_[i], reqId, i + 1 == orders_.size() ? LIBITG_REPORT_LAST_ROW : 0);
  }
}

void Venue::QueryMatches(int32_t reqId) {
  const char* noOrder = settings_.decimalCodes ? "0" : "";
  if (!loggedIn_ || matches_.empty()) {
    Answer(&ItgCallbacks::onMatch, reqId,
           loggedIn_ ? VenueError::kNoRows : VenueError::kNotLoggedIn,
           loggedIn_ ? "no matches" : "not logged in", "", noOrder, "", "", 0, 0.0, 0, "",
           LIBITG_REPORT_LAST_ROW);
    return;
  }
  for (size_t i = 0; i < matches_.size(); ++i) {
    ReportMatch(matches_[i], reqId, i + 1 == matches_.size() ? LIBITG_REPORT_LAST_ROW : 0);
  }
}

void Venue::QueryPositions(int32_t reqId) {
  std::vector<Account::Position> rows = account_.Positions();
  if (!loggedIn_ || rows.empty()) {
    return Answer(&ItgCallbacks::onPosition, reqId,
                  loggedIn_ ? VenueError::kNoRows : VenueError::kNotLoggedIn,
                  loggedIn_ ? "no positions" : "not logged in", "", 0, LIBITG_REPORT_LAST_ROW);
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    Answer(&ItgCallbacks::onPosition, reqId, 0, "", rows[i].code.c_str(), Narrow(rows[i].quantity),
           i + 1 == rows.size() ? LIBITG_REPORT_LAST_ROW : 0);
  }
}

void Venue::QueryBalance(int32_t reqId) {
  if (!loggedIn_) {
    return Answer(&ItgCallbacks::onBalance, reqId, VenueError::kNotLoggedIn, "not logged in", "CNY",
                  "0.00", "0.00");
  }
  int64_t total = account_.Total([this](const std::string& code) { return MarkOf(code); });
  Answer(&ItgCallbacks::onBalance, reqId, 0, "", "CNY", CentsText(account_.Available()).c_str(),
         CentsText(total).c_str());
}

void Venue::ReportOrder(const Order& order, int32_t reqId, int32_t kind) {
  double averagePrice =
      order.traded == 0 ? 0.0 : static_cast<double>(order.tradedAmount) / order.traded / 100.0;
  Answer(&ItgCallbacks::onOrder, reqId, kind == LIBITG_REPORT_NOTICE ? order.errorId : 0,
         order.message.c_str(), order.security.c_str(), order.code.c_str(), "", order.side,
         Price(order.price), Narrow(order.quantity), averagePrice, Narrow(order.traded),
         order.status, order.time.c_str(), kind);
}

void Venue::ReportMatch(const Match& match, int32_t reqId, int32_t kind) {
  const Order& order = orders_[match.order];
  Answer(&ItgCallbacks::onMatch, reqId, 0, "", order.security.c_str(), order.code.c_str(), "",
         match.id.c_str(), order.side, Price(match.price), Narrow(match.quantity),
         match.time.c_str(), kind);
}

}  // namespace sim

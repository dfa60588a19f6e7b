// The simulated venue: checks, matching, the account and its reports.

#include "venue.h"

#include <algorithm>
#include <cstring>

#include "client_call.h"
#include "payload_fields.h"
#include "tape_text.h"

namespace sim {
namespace {

constexpr int64_t kLot = 100;
constexpr int64_t kMaxQuantity = 1000000000;

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

Venue::Venue(VenueSettings settings, const std::vector<Instrument>& instruments, int64_t stem,
             int64_t opening)
    : settings_(std::move(settings)), stem_(stem), clock_(opening), cash_(settings_.capital) {
  for (const Instrument& instrument : instruments) {
    markets_[instrument.code].previousClose = instrument.previousClose;
  }
}

void Venue::Login(const std::string& user, const std::string& password,
                  const std::string& settingsError) {
  if (!settingsError.empty()) {
    std::string text = "the simulator's settings are unusable: " + settingsError;
    return CallClient(callbacks_.onLogin, 0, 2, text.c_str());
  }
  if (user != settings_.user || password != settings_.password) {
    return CallClient(callbacks_.onLogin, 0, 1, "wrong user or password");
  }
  loggedIn_ = true;
  std::string text = "logged in as " + user;
  CallClient(callbacks_.onLogin, 0, 0, text.c_str());
}

void Venue::Insert(int32_t reqId, const std::string& security, int64_t side,
                   const std::string& price, int64_t quantity) {
  if (!loggedIn_) {
    return CallClient(callbacks_.onInsert, reqId, VenueError::kNotLoggedIn, "not logged in",
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
  if (market != markets_.end() && !market->second.followed) Follow(security, market->second);
  auto sellable = [&] {
    auto held = holdings_.find(security);
    return held == holdings_.end() ? 0 : held->second.quantity - held->second.selling;
  };
  if (market == markets_.end()) {
    Reject(order, VenueError::kUnknownCode, "unknown security code '" + security + "'");
  } else if (closed_) {
    Reject(order, VenueError::kMarketClosed, "the market is closed");
  } else if (side != LIBITG_SIDE_BUY && side != LIBITG_SIDE_SELL) {
    Reject(order, VenueError::kBadSide, "side must be 1 (sell) or 2 (buy)");
  } else if (!priced) {
    Reject(order, VenueError::kBadPrice, "price must be a positive number, not '" + price + "'");
  } else if (offTick) {
    Reject(order, VenueError::kOffTick, "price " + price + " is not on the 0.01 tick");
  } else if (int64_t low = LowerLimit(market->second.previousClose),
             high = UpperLimit(market->second.previousClose);
             order.price < low || order.price > high) {
    Reject(order, VenueError::kOutsideLimits,
           "price " + CentsText(order.price) + " is outside today's limits " + CentsText(low) +
               " to " + CentsText(high));
  } else if (quantity <= 0 || quantity > kMaxQuantity) {
    Reject(order, VenueError::kBadQuantity, "quantity must be from 1 to 1000000000");
  } else if (order.buy && quantity % kLot != 0) {
    Reject(order, VenueError::kNotWholeLots, "a buy must be whole lots of 100 shares");
  } else if (order.buy && FrozenFor(order) > Available()) {
    Reject(order, VenueError::kNotEnoughCash,
           "not enough cash: the order needs " + CentsText(FrozenFor(order)) + ", " +
               CentsText(Available()) + " is available");
  } else if (!order.buy && quantity > sellable()) {
    Reject(order, VenueError::kNotEnoughPosition,
           "not enough shares: " + std::to_string(quantity) + " to sell, " +
               std::to_string(sellable()) + " available");
  }

  size_t index = orders_.size();
  orders_.push_back(std::move(order));
  Order& placed = orders_.back();
  orderByCode_[placed.code] = index;
  if (placed.status == LIBITG_STATUS_REJECTED) {
    CallClient(callbacks_.onInsert, reqId, placed.errorId, placed.message.c_str(),
               placed.security.c_str(), placed.code.c_str(), "", placed.side, Price(placed.price),
               Narrow(placed.quantity));
    return ReportOrder(placed, reqId, LIBITG_REPORT_NOTICE);
  }
  if (placed.buy) {
    placed.frozen = FrozenFor(placed);
    frozen_ += placed.frozen;
  } else {
    holdings_[security].selling += quantity;
  }
  placed.message = "accepted";
  CallClient(callbacks_.onInsert, reqId, 0, placed.message.c_str(), placed.security.c_str(),
             placed.code.c_str(), "", placed.side, Price(placed.price), Narrow(placed.quantity));
  ReportOrder(placed, reqId, LIBITG_REPORT_NOTICE);
  resting_.push_back(index);
  TakeBook(index);
}

void Venue::Reject(Order& order, int32_t errorId, std::string message) {
  order.status = LIBITG_STATUS_REJECTED;
  order.errorId = errorId;
  order.message = std::move(message);
}

void Venue::TakeBook(size_t index) {
  Order& order = orders_[index];
  Market& market = markets_[order.security];
  for (PriceLevel& level : order.buy ? market.asks : market.bids) {
    if (order.traded == order.quantity) break;
    if (order.buy ? level.price > order.price : level.price < order.price) break;
    int64_t taken = std::min(level.volume, order.quantity - order.traded);
    if (taken == 0) continue;
    level.volume -= taken;
    Fill(index, level.price, taken);
  }
}

void Venue::Fill(size_t index, int64_t price, int64_t quantity) {
  Order& order = orders_[index];
  int64_t amount = price * quantity;
  int64_t feesBefore = order.fees;
  order.traded += quantity;
  order.tradedAmount += amount;
  order.fees = FeesOn(order, order.tradedAmount);
  int64_t fee = order.fees - feesBefore;
  Holding& holding = holdings_[order.security];
  if (order.buy) {
    cash_ -= amount + fee;
    holding.quantity += quantity;
    frozen_ -= order.frozen;
    order.frozen = FrozenFor(order);
    frozen_ += order.frozen;
  } else {
    cash_ += amount - fee;
    holding.quantity -= quantity;
    holding.selling -= quantity;
  }
  markets_[order.security].mark = price;
  matches_.push_back({MatchIdText(stem_, static_cast<int64_t>(matches_.size()) + 1), index, price,
                      quantity, Clock()});
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
    frozen_ -= order.frozen;
    order.frozen = 0;
  } else {
    holdings_[order.security].selling -= order.quantity - order.traded;
  }
  resting_.erase(std::remove(resting_.begin(), resting_.end(), index), resting_.end());
  ReportOrder(order, order.reqId, LIBITG_REPORT_NOTICE);
}

int64_t Venue::FeesOn(const Order& order, int64_t amount) const {
  return FeeOf(amount, settings_.commissionPpm + (order.buy ? 0 : settings_.stampDutyPpm));
}

// What a buy's rest may still cost: its price for every share left, and the
// fees of the order's whole amount at that price less what it has paid.
int64_t Venue::FrozenFor(const Order& order) const {
  int64_t rest = order.price * (order.quantity - order.traded);
  return rest + FeesOn(order, order.tradedAmount + rest) - order.fees;
}

int64_t Venue::Available() const { return cash_ - frozen_; }

std::string Venue::Clock() const { return ClockText(clock_); }

void Venue::Cancel(int32_t reqId, const std::string& orderCode) {
  if (!loggedIn_) {
    return CallClient(callbacks_.onCancel, reqId, VenueError::kNotLoggedIn, "not logged in");
  }
  auto found = orderByCode_.find(orderCode);
  if (found == orderByCode_.end()) {
    std::string text = "unknown order code '" + orderCode + "'";
    return CallClient(callbacks_.onCancel, reqId, VenueError::kUnknownOrder, text.c_str());
  }
  const Order& order = orders_[found->second];
  if (order.status != LIBITG_STATUS_ACCEPTED && order.status != LIBITG_STATUS_PART_FILLED) {
    std::string text = "order " + orderCode + " is already " + FinishedAs(order.status);
    return CallClient(callbacks_.onCancel, reqId, VenueError::kOrderFinished, text.c_str());
  }
  CallClient(callbacks_.onCancel, reqId, 0, "cancelled");
  Finish(found->second, LIBITG_STATUS_CANCELLED, "cancelled");
}

void Venue::QueryOrders(int32_t reqId) {
  // veltrane reads the order code of every row, so an empty answer carries
  // one that is no order's: empty, or 0 where codes are numbers.
  const char* noOrder = settings_.decimalCodes ? "0" : "";
  if (!loggedIn_ || orders_.empty()) {
    CallClient(callbacks_.onOrder, reqId,
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
    CallClient(callbacks_.onMatch, reqId,
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
  std::vector<std::pair<std::string, int64_t>> rows;
  for (const auto& [code, holding] : holdings_) {
    if (holding.quantity != 0) rows.emplace_back(code, holding.quantity);
  }
  if (!loggedIn_ || rows.empty()) {
    return CallClient(callbacks_.onPosition, reqId,
                      loggedIn_ ? VenueError::kNoRows : VenueError::kNotLoggedIn,
                      loggedIn_ ? "no positions" : "not logged in", "", 0, LIBITG_REPORT_LAST_ROW);
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    CallClient(callbacks_.onPosition, reqId, 0, "", rows[i].first.c_str(), Narrow(rows[i].second),
               i + 1 == rows.size() ? LIBITG_REPORT_LAST_ROW : 0);
  }
}

void Venue::QueryBalance(int32_t reqId) {
  if (!loggedIn_) {
    return CallClient(callbacks_.onBalance, reqId, VenueError::kNotLoggedIn, "not logged in", "CNY",
                      "0.00", "0.00");
  }
  int64_t total = cash_;
  for (const auto& [code, holding] : holdings_) {
    const Market& market = markets_[code];
    total += holding.quantity * (market.mark != 0 ? market.mark : market.previousClose);
  }
  CallClient(callbacks_.onBalance, reqId, 0, "", "CNY", CentsText(Available()).c_str(),
             CentsText(total).c_str());
}

void Venue::OnMarket(const QuoteMessage& message) {
  clock_ = message.time;
  // Before a login no order can be affected; the next snapshot brings the book.
  if (!loggedIn_ || message.code.empty()) return;
  auto found = markets_.find(message.code);
  if (found == markets_.end()) {
    // A tape's codes become known with their first snapshot.
    if (FindSnapshotLayout(message.typeName) == nullptr) return;
    found = markets_.emplace(message.code, Market{}).first;
  }
  Market& market = found->second;
  if (!market.followed) return Remember(market, message);
  TradeView trade;
  if (message.kind == kSnapshots) {
    ApplySnapshot(message.code, market, message.typeName, message.payload);
  } else if (ReadTrade(message.typeName, message.payload, trade)) {
    ApplyTrade(message.code, market, trade);
  }
}

// Until the account first trades a code, its messages are only kept as they
// came: the last snapshot and the trades since. Reading them is left to
// Follow, so a code nobody trades costs a copy per message.
void Venue::Remember(Market& market, const QuoteMessage& message) {
  if (message.kind == kSnapshots) {
    if (FindSnapshotLayout(message.typeName) == nullptr) return;
    market.snapshotType = message.typeName;
    market.snapshot = message.payload;
    market.trades.clear();
  } else if (FindTradeLayout(message.typeName) != nullptr) {
    market.tradeType = message.typeName;
    auto length = static_cast<uint32_t>(message.payload.size());
    market.trades.append(reinterpret_cast<const char*>(&length), sizeof length);
    market.trades.append(message.payload);
  }
}

void Venue::Follow(const std::string& code, Market& market) {
  market.followed = true;
  if (!market.snapshot.empty()) ApplySnapshot(code, market, market.snapshotType, market.snapshot);
  for (size_t at = 0; at + sizeof(uint32_t) <= market.trades.size();) {
    uint32_t length = 0;
    std::memcpy(&length, market.trades.data() + at, sizeof length);
    at += sizeof length;
    TradeView trade;
    if (ReadTrade(market.tradeType, std::string_view(market.trades).substr(at, length), trade)) {
      ApplyTrade(code, market, trade);
    }
    at += length;
  }
  market.snapshot.clear();
  market.snapshot.shrink_to_fit();
  market.trades.clear();
  market.trades.shrink_to_fit();
}

void Venue::ApplySnapshot(const std::string& code, Market& market, std::string_view typeName,
                          std::string_view payload) {
  SnapshotView snapshot;
  if (!ReadSnapshot(typeName, payload, snapshot)) return;
  if (snapshot.previousClose > 0) market.previousClose = snapshot.previousClose;
  if (snapshot.last > 0) market.mark = snapshot.last;
  market.bids = std::move(snapshot.bids);
  market.asks = std::move(snapshot.asks);
  // Best-priced first, then in arrival order, each resting order takes what
  // the new book offers at or through its price.
  std::vector<size_t> crossed;
  for (size_t index : resting_) {
    if (orders_[index].security == code) crossed.push_back(index);
  }
  std::stable_sort(crossed.begin(), crossed.end(), [&](size_t a, size_t b) {
    const Order& x = orders_[a];
    const Order& y = orders_[b];
    if (x.buy != y.buy) return x.buy;
    return x.buy ? x.price > y.price : x.price < y.price;
  });
  for (size_t index : crossed) TakeBook(index);
}

void Venue::ApplyTrade(const std::string& code, Market& market, const TradeView& trade) {
  market.mark = trade.price;
  for (PriceLevel& level : trade.buy ? market.asks : market.bids) {
    if (level.price == trade.price) level.volume -= std::min(level.volume, trade.volume);
  }
  // A trade strictly through a resting order's price would have met it
  // first: a buyer taking asks above a resting sell, a seller hitting bids
  // below a resting buy.
  std::vector<size_t> crossed;
  for (size_t index : resting_) {
    const Order& order = orders_[index];
    if (order.security == code && order.buy != trade.buy &&
        (order.buy ? order.price > trade.price : order.price < trade.price)) {
      crossed.push_back(index);
    }
  }
  std::stable_sort(crossed.begin(), crossed.end(), [&](size_t a, size_t b) {
    return orders_[a].buy ? orders_[a].price > orders_[b].price
                          : orders_[a].price < orders_[b].price;
  });
  int64_t volume = trade.volume;
  for (size_t index : crossed) {
    Order& order = orders_[index];
    int64_t filled = std::min(volume, order.quantity - order.traded);
    if (filled == 0) break;
    volume -= filled;
    Fill(index, order.price, filled);
  }
}

void Venue::OnClose() {
  closed_ = true;
  std::vector<size_t> open = resting_;
  for (size_t index : open) Finish(index, LIBITG_STATUS_CANCELLED, "expired at the close");
}

void Venue::ReportOrder(const Order& order, int32_t reqId, int32_t kind) {
  double averagePrice =
      order.traded == 0 ? 0.0 : static_cast<double>(order.tradedAmount) / order.traded / 100.0;
  CallClient(callbacks_.onOrder, reqId, kind == LIBITG_REPORT_NOTICE ? order.errorId : 0,
             order.message.c_str(), order.security.c_str(), order.code.c_str(), "", order.side,
             Price(order.price), Narrow(order.quantity), averagePrice, Narrow(order.traded),
             order.status, order.time.c_str(), kind);
}

void Venue::ReportMatch(const Match& match, int32_t reqId, int32_t kind) {
  const Order& order = orders_[match.order];
  CallClient(callbacks_.onMatch, reqId, 0, "", order.security.c_str(), order.code.c_str(), "",
             match.id.c_str(), order.side, Price(match.price), Narrow(match.quantity),
             match.time.c_str(), kind);
}

}  // namespace sim

#include "working_orders.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "libitg.h"

namespace veltrane {
namespace {

// The first six bytes of a code and their count, in one number: the gateway
// is sent six, so what follows them names no other security.
uint64_t CodeKey(const std::string& code) {
  const size_t length = std::min<size_t>(code.size(), 6);
  uint64_t key = 0;
  std::memcpy(&key, code.data(), length);
  return key | static_cast<uint64_t>(length) << 56;
}

}  // namespace

uint64_t WorkingOrders::Add(const std::string& code, bool buy, int64_t price, int64_t quantity,
                            int32_t reqId) {
  if (free_.empty()) {
    slots_.emplace_back();
    // Room for every slot to come back (Remove cannot fail).
    if (free_.capacity() < slots_.size()) free_.reserve(2 * slots_.size());
    free_.push_back(static_cast<Slot>(slots_.size() - 1));
  }
  const Slot slot = free_.back();
  const uint64_t key = CodeKey(code);
  // Both lists or neither: a request refused by an exception sends nothing.
  std::vector<Slot>& working = codes_[key].working;
  working.push_back(slot);
  try {
    pending_.push_back(slot);
  } catch (...) {
    working.pop_back();
    throw;
  }
  free_.pop_back();
  Order& order = slots_[slot];
  order.ticket = generation_++ << 32 | slot;
  order.codeKey = key;
  order.buy = buy;
  order.price = price;
  order.quantity = quantity;
  order.reqId = reqId;
  order.orderCode.clear();
  order.pending = true;
  order.traded = order.matched = 0;
  ++count_;
  return order.ticket;
}

void WorkingOrders::NotSent(uint64_t ticket) {
  const Slot slot = SlotOf(ticket);
  if (slot < slots_.size() && slots_[slot].ticket == ticket && slots_[slot].pending) Remove(slot);
}

// What a gateway echoes as it was sent must agree: the request id, the code
// and the side. The price and the quantity choose among those (a gateway may
// round the price it echoes).
bool WorkingOrders::Fits(const Order& order, const Answer& answer) const {
  return order.reqId == answer.reqId &&
         (answer.code.empty() || order.codeKey == CodeKey(answer.code)) &&
         (answer.side != LIBITG_SIDE_BUY || order.buy) &&
         (answer.side != LIBITG_SIDE_SELL || !order.buy);
}

bool WorkingOrders::FitsExactly(const Order& order, const Answer& answer) const {
  return Fits(order, answer) && (answer.price <= 0 || order.price == answer.price) &&
         (answer.quantity <= 0 || order.quantity == answer.quantity);
}

namespace {

bool Alike(const WorkingOrders::Order& a, const WorkingOrders::Order& b) {
  return a.codeKey == b.codeKey && a.buy == b.buy && a.price == b.price && a.quantity == b.quantity;
}

}  // namespace

void WorkingOrders::Answered(const Answer& answer) {
  if (!answer.orderCode.empty()) {
    auto known = byOrderCode_.find(answer.orderCode);
    if (known != byOrderCode_.end()) {
      if (!answer.accepted) Remove(known->second);
      return;
    }
  }
  const bool exact = std::any_of(pending_.begin(), pending_.end(),
                                 [&](Slot slot) { return FitsExactly(slots_[slot], answer); });
  auto fits = [&](Slot slot) {
    return exact ? FitsExactly(slots_[slot], answer) : Fits(slots_[slot], answer);
  };
  auto it = std::find_if(pending_.begin(), pending_.end(), fits);
  if (it == pending_.end()) return;  // not an order of this process, or from an earlier day
  const Slot slot = *it;
  if (!answer.accepted) {
    const bool alone = std::none_of(std::next(it), pending_.end(), [&](Slot other) {
      return fits(other) && !Alike(slots_[other], slots_[slot]);
    });
    if (alone) return Remove(slot);
    ++unclaimedRefusals_[answer.reqId];
    return SettleRefusals(answer.reqId);
  }
  pending_.erase(it);
  Order& order = slots_[slot];
  order.pending = false;
  const std::string& orderCode = answer.orderCode;
  if (orderCode.empty()) {
    // An answer without a code leaves an order nothing will report on; it
    // counts as working until the day ends rather than vanish.
    return SettleRefusals(answer.reqId);
  }
  order.orderCode = orderCode;
  byOrderCode_.emplace(orderCode, slot);
  bool finished = false;
  auto early = early_.find(orderCode);
  if (early != early_.end()) {
    order.traded = std::max(order.traded, early->second.traded);
    order.matched += early->second.matched;
    finished = early->second.finished;
    early_.erase(early);
  }
  SettleOrRemove(slot, finished);
  SettleRefusals(answer.reqId);
}

void WorkingOrders::SettleRefusals(int32_t reqId) {
  auto unclaimed = unclaimedRefusals_.find(reqId);
  if (unclaimed == unclaimedRefusals_.end()) return;
  std::vector<Slot> left;
  for (Slot slot : pending_) {
    if (slots_[slot].reqId == reqId) left.push_back(slot);
  }
  const bool alike = std::all_of(left.begin(), left.end(),
                                 [&](Slot slot) { return Alike(slots_[slot], slots_[left[0]]); });
  if (left.size() > unclaimed->second && !alike) return;
  const size_t refused = std::min(left.size(), unclaimed->second);
  unclaimedRefusals_.erase(unclaimed);
  for (size_t i = 0; i < refused; ++i) Remove(left[i]);
}

void WorkingOrders::Reported(const std::string& orderCode, bool finished, int64_t traded,
                             bool notice) {
  if (orderCode.empty()) return;
  auto known = byOrderCode_.find(orderCode);
  if (known != byOrderCode_.end()) {
    Order& order = slots_[known->second];
    order.traded = std::max(order.traded, traded);
    return SettleOrRemove(known->second, finished);
  }
  if (!notice) return;
  Early& early = EarlyFor(orderCode);
  early.traded = std::max(early.traded, traded);
  early.finished = early.finished || finished;
}

void WorkingOrders::Matched(const std::string& code, const std::string& orderCode, bool buy,
                            int64_t quantity) {
  if (!code.empty()) codes_[CodeKey(code)].position += buy ? quantity : -quantity;
  if (orderCode.empty()) return;
  auto known = byOrderCode_.find(orderCode);
  if (known != byOrderCode_.end()) {
    slots_[known->second].matched += quantity;
    return SettleOrRemove(known->second, false);
  }
  EarlyFor(orderCode).matched += quantity;
}

void WorkingOrders::PositionIs(const std::string& code, int64_t position) {
  if (!code.empty()) codes_[CodeKey(code)].position = position;
}

void WorkingOrders::ForgetOrders() {
  slots_.clear();
  unclaimedRefusals_.clear();
  free_.clear();
  count_ = 0;
  byOrderCode_.clear();
  pending_.clear();
  early_.clear();
  earlyOrder_.clear();
  for (auto& entry : codes_) entry.second.working.clear();
}

const WorkingOrders::Code* WorkingOrders::Find(const std::string& code) const {
  auto found = codes_.find(CodeKey(code));
  return found != codes_.end() ? &found->second : nullptr;
}

size_t WorkingOrders::CountIn(const std::string& code) const {
  const Code* found = Find(code);
  return found != nullptr ? found->working.size() : 0;
}

const WorkingOrders::Order* WorkingOrders::Crossed(const std::string& code, bool buy,
                                                   int64_t price) const {
  const Code* found = Find(code);
  if (found == nullptr) return nullptr;
  for (Slot slot : found->working) {
    const Order& order = slots_[slot];
    if (order.buy != buy && (buy ? order.price <= price : order.price >= price)) return &order;
  }
  return nullptr;
}

int64_t WorkingOrders::Position(const std::string& code) const {
  const Code* found = Find(code);
  return found != nullptr ? found->position : 0;
}

int64_t WorkingOrders::OpenBuys(const std::string& code) const {
  const Code* found = Find(code);
  if (found == nullptr) return 0;
  int64_t open = 0;
  for (Slot slot : found->working) {
    const Order& order = slots_[slot];
    if (order.buy) open += std::max<int64_t>(order.quantity - order.Filled(), 0);
  }
  return open;
}

WorkingOrders::Early& WorkingOrders::EarlyFor(const std::string& orderCode) {
  auto found = early_.find(orderCode);
  if (found != early_.end()) return found->second;
  // Codes of orders this process never sent (another process on the account,
  // an earlier run) would otherwise pile up here.
  while (earlyOrder_.size() >= kEarlyCodes) {
    auto oldest = early_.find(earlyOrder_.front().first);
    if (oldest != early_.end() && oldest->second.serial == earlyOrder_.front().second) {
      early_.erase(oldest);
    }
    earlyOrder_.pop_front();
  }
  Early& early = early_[orderCode];
  early.serial = nextEarly_++;
  earlyOrder_.emplace_back(orderCode, early.serial);
  return early;
}

void WorkingOrders::SettleOrRemove(Slot slot, bool finished) {
  const Order& order = slots_[slot];
  if (finished || (order.quantity > 0 && order.Filled() >= order.quantity)) Remove(slot);
}

void WorkingOrders::Remove(Slot slot) {
  Order& order = slots_[slot];
  if (order.ticket == 0) return;
  if (!order.orderCode.empty()) byOrderCode_.erase(order.orderCode);
  if (order.pending) {
    auto it = std::find(pending_.begin(), pending_.end(), slot);
    if (it != pending_.end()) pending_.erase(it);
  }
  auto code = codes_.find(order.codeKey);
  if (code != codes_.end()) {
    std::vector<Slot>& working = code->second.working;
    auto it = std::find(working.begin(), working.end(), slot);
    if (it != working.end()) working.erase(it);
  }
  order.ticket = 0;
  --count_;
  free_.push_back(slot);
}

}  // namespace veltrane

// working_orders.h: the orders this process has sent and not yet seen finish,
// and the position of each code, as the trade events tell them. What the
// risk checks count working orders, self-crosses and positions from.
//
// An order enters when it is handed to the gateway, before its insert
// answer, under a ticket of its own; reports name orders by code only. The
// insert answer is matched to its order by everything it says (request id,
// code, side, price and quantity), never by the request id alone, since a
// client may reuse one and answers may come out of order. A refusal that
// fits orders which differ cannot say which of them it refuses: they all
// stay working until the answers of the others tell. A status or match
// notice may come before the insert answer that names the code; what it
// says is kept aside (for a bounded number of codes) and applied once the
// answer comes.
//
// Orders live in reused slots, so that adding one on the request path
// allocates nothing once the book has grown; a code is keyed by its first six
// bytes, the part the gateway is sent. Not thread-safe: the owner locks.

#ifndef VELTRANE_WORKING_ORDERS_H
#define VELTRANE_WORKING_ORDERS_H

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

namespace veltrane {

class WorkingOrders {
 public:
  struct Order {
    uint64_t ticket = 0;  // 0: the slot is free
    uint64_t codeKey = 0;
    bool buy = true;
    int64_t price = 0;  // 1/10000 units
    int64_t quantity = 0;
    int32_t reqId = 0;
    std::string orderCode;  // the gateway's, once an answer named it
    bool pending = true;    // no insert answer yet
    int64_t traded = 0;     // cumulative, as status reports give it
    int64_t matched = 0;    // sum of the match notices seen
    int64_t Filled() const { return traded > matched ? traded : matched; }
  };

  // A new order handed to the gateway; the result is its ticket (never 0).
  uint64_t Add(const std::string& code, bool buy, int64_t price, int64_t quantity, int32_t reqId);
  // The gateway did not take the order: it leaves unless an answer came.
  void NotSent(uint64_t ticket);

  // What an insert answer says of its order; an empty code, a side other
  // than the gateway's 1 and 2, and a price or quantity of 0 say nothing.
  struct Answer {
    int32_t reqId;
    bool accepted;
    const std::string& code;
    int32_t side;
    int64_t price;  // 1/10000 units
    int64_t quantity;
    const std::string& orderCode;
  };
  // The oldest pending order the answer fits (one of its price and quantity
  // first) takes its order code, or leaves when the answer refuses it.
  void Answered(const Answer& answer);
  // A status report; `notice` is false for a query row, which only updates
  // an order already known by its code.
  void Reported(const std::string& orderCode, bool finished, int64_t traded, bool notice);
  // A match notice: the fill moves the code's position, whoever's order it was.
  void Matched(const std::string& code, const std::string& orderCode, bool buy, int64_t quantity);
  // A position query row: the code's position from now on.
  void PositionIs(const std::string& code, int64_t position);

  // A new trading day: yesterday's orders are gone; positions stay.
  void ForgetOrders();

  size_t Count() const { return count_; }
  size_t CountIn(const std::string& code) const;
  // A working order of the other side in `code` that an order at `price`
  // would trade with, or null.
  const Order* Crossed(const std::string& code, bool buy, int64_t price) const;
  int64_t Position(const std::string& code) const;
  // Shares still open in the working buys of `code`.
  int64_t OpenBuys(const std::string& code) const;

 private:
  using Slot = uint32_t;
  // What was reported of an order code no known order holds yet.
  struct Early {
    int64_t traded = 0;
    int64_t matched = 0;
    bool finished = false;
    uint64_t serial = 0;  // which entry of earlyOrder_ is its own
  };
  struct Code {
    std::vector<Slot> working;
    int64_t position = 0;
  };
  static constexpr size_t kEarlyCodes = 4096;

  static Slot SlotOf(uint64_t ticket) { return static_cast<Slot>(ticket); }
  bool Fits(const Order& order, const Answer& answer) const;
  bool FitsExactly(const Order& order, const Answer& answer) const;
  // Refusals of `reqId` that fitted differing orders: once as many orders
  // of it are left pending, or those left are alike, they are the refused.
  void SettleRefusals(int32_t reqId);
  const Code* Find(const std::string& code) const;
  Early& EarlyFor(const std::string& orderCode);
  // The order leaves when it has finished or nothing of it is left open.
  void SettleOrRemove(Slot slot, bool finished);
  void Remove(Slot slot);

  std::vector<Order> slots_;
  std::vector<Slot> free_;
  size_t count_ = 0;
  uint64_t generation_ = 1;  // the high half of the next ticket
  uint64_t nextEarly_ = 1;
  std::unordered_map<std::string, Slot> byOrderCode_;
  std::deque<Slot> pending_;  // in the order they were sent
  std::unordered_map<int32_t, size_t> unclaimedRefusals_;
  std::unordered_map<uint64_t, Code> codes_;
  std::unordered_map<std::string, Early> early_;
  std::deque<std::pair<std::string, uint64_t>> earlyOrder_;  // oldest first
};

}  // namespace veltrane

#endif  // VELTRANE_WORKING_ORDERS_H

"""A strategy's orders, fills, positions and cash, kept from the gateway's
answers and notices whatever order they arrive in.

A gateway may report a fill before the insert answer that names the order,
a status before the answer, a fill after the cancel that ended its order;
a notice of an order number not yet known is held until the answer gives
that number. Fills are counted once each, by their match number. Money is
kept in the wire's unit, 1/10000 yuan, as integers.
"""

import datetime
from typing import Callable, Dict, List, Optional

from veltrane import rules
from veltrane.fees import Fees

# Ombrel's nStatus -> what it ends an order as (None: it still works).
_FINAL = {6: "filled", -8: "rejected", -9: "cancelled"}
# The statuses an order can be in that may still trade.
WORKING = ("pending", "working", "partly filled")


def _yuan(units: int) -> float:
    return units / rules.UNIT


class Order:
    """One order of the strategy. `status` is one of "pending" (sent, not
    yet answered), "working", "partly filled", "filled", "cancelled",
    "rejected" (by the broker or exchange) and "refused" (by the strategy
    layer or veltrane's risk checks: never sent); `reason` says why an order
    was refused, rejected or cancelled."""

    __slots__ = ("id", "code", "side", "quantity", "reason", "time", "_price", "_request",
                 "_gateway_code", "_answered", "_final", "_matched", "_matched_amount",
                 "_dealt", "_dealt_price", "_fees", "_refused")

    def __init__(self, code, side, price_units, quantity, time=None, request=0):
        self.id: Optional[int] = None
        self.code: str = code
        self.side: str = side
        self.quantity: int = quantity
        self.reason: str = ""
        self.time: Optional[datetime.datetime] = time
        self._price = price_units
        self._request = request
        self._gateway_code = ""
        self._answered = False
        self._final = None
        self._matched = 0
        self._matched_amount = 0
        self._dealt = 0
        self._dealt_price = 0
        self._fees = 0
        self._refused = False

    @property
    def price(self) -> float:
        return _yuan(self._price)

    @property
    def buy(self) -> bool:
        return self.side == "buy"

    @property
    def filled(self) -> int:
        """Shares traded: from the fills, or a status notice's count when that
        is ahead of them."""
        return max(self._matched, self._dealt)

    @property
    def remaining(self) -> int:
        return 0 if self.status not in WORKING else max(0, self.quantity - self.filled)

    @property
    def average_price(self) -> float:
        if self._matched:
            return self._matched_amount / self._matched / rules.UNIT
        return _yuan(self._dealt_price) if self._dealt else 0.0

    @property
    def status(self) -> str:
        if self._refused:
            return "refused"
        if self._final in ("rejected", "cancelled"):
            return self._final
        filled = self.filled
        if filled >= self.quantity:
            return "filled"
        if filled > 0:
            return "partly filled"
        return "working" if self._answered else "pending"

    def __repr__(self) -> str:
        text = (f"Order({self.id} {self.side} {self.code} {self.quantity} @ {self.price:.2f}: "
                f"{self.status}")
        if self.filled:
            text += f", {self.filled} filled at {self.average_price:.4f}"
        return text + (f"; {self.reason}" if self.reason else "") + ")"


class Fill:
    """A fill of one of the strategy's orders; `fees` (yuan) estimated from
    the strategy's fee schedule."""

    __slots__ = ("order", "code", "side", "price", "volume", "time", "fees", "match_id")

    def __init__(self, order, price_units, volume, time, fees_units, match_id):
        self.order: Order = order
        self.code: str = order.code
        self.side: str = order.side
        self.price: float = _yuan(price_units)
        self.volume: int = volume
        self.time: Optional[datetime.datetime] = time
        self.fees: float = _yuan(fees_units)
        self.match_id: int = match_id

    def __repr__(self) -> str:
        return (f"Fill({self.side} {self.code} {self.volume} @ {self.price:.2f}, fees "
                f"{self.fees:.2f}, order {self.order.id})")


class Position:
    """What the strategy holds of one code. `sellable` follows T+1: the
    shares held when the day began, less those sold and those working sells
    hold. `cost` is the average cost of a share held, fees included; shares
    held from an earlier day are costed at the previous close, so `pnl`
    (realised plus the value of what is held less its cost) is the day's."""

    __slots__ = ("code", "start", "bought", "sold", "_ledger", "_cost", "_realized",
                 "_last_fill", "_basis", "_waiting")

    def __init__(self, code, ledger, start=0):
        self.code: str = code
        self.start = start  # held when the day began
        self.bought = 0
        self.sold = 0
        self._ledger = ledger
        self._cost = 0  # wire units: what the shares held cost
        self._realized = 0
        self._last_fill = 0  # wire units
        # The cost of a share held from an earlier day: the previous close,
        # once a book has given it; fills before that wait for it.
        self._basis = None if start else 0
        self._waiting = []

    @property
    def quantity(self) -> int:
        return self.start + self.bought - self.sold

    @property
    def sellable(self) -> int:
        selling = sum(o.remaining for o in self._ledger.working if o.code == self.code
                      and not o.buy)
        return max(0, self.start - self.sold - selling)

    def _price(self):
        """The last price known, wire units: the book's last trade, else the
        last fill, else the previous close. The first book of the code also
        gives the cost of the shares held from an earlier day."""
        book = self._ledger.books.get(self.code)
        if book is None:
            return self._last_fill
        if self._basis is None:
            self._known_basis(book["nPreClose"])
        return book["nMatch"] or self._last_fill or book["nPreClose"]

    @property
    def cost(self) -> float:
        """Average cost of a share held, yuan; 0.0 while the cost of shares
        from an earlier day waits for the code's first book."""
        self._price()
        quantity = self.quantity
        return self._cost / quantity / rules.UNIT if quantity and self._basis is not None else 0.0

    @property
    def value(self) -> float:
        return self.quantity * self._price() / rules.UNIT

    @property
    def pnl(self) -> float:
        price = self._price()
        if self._basis is None:
            return 0.0
        return (self._realized + self.quantity * price - self._cost) / rules.UNIT

    def _settle(self, buy, volume, amount, fees):
        if self._basis is None:
            self._waiting.append((buy, volume, amount, fees))
            return
        if buy:
            self._cost += amount + fees
            return
        held = self.quantity + volume  # `sold` has already grown by this sell
        part = self._cost * volume // held if held else 0
        self._cost -= part
        self._realized += amount - fees - part

    def _known_basis(self, pre_close):
        """The previous close is known: shares from an earlier day cost it."""
        if self._basis is not None or pre_close <= 0:
            return
        self._basis = pre_close
        waiting, self._waiting = self._waiting, []
        # Replay the day's fills on the shares held at its start.
        self._cost = self.start * pre_close
        quantity = self.start
        for buy, volume, amount, fees in waiting:
            if buy:
                self._cost += amount + fees
                quantity += volume
            else:
                part = self._cost * volume // quantity if quantity else 0
                self._cost -= part
                self._realized += amount - fees - part
                quantity -= volume

    def __repr__(self) -> str:
        return (f"Position({self.code} {self.quantity}, sellable {self.sellable}, cost "
                f"{self.cost:.4f}, pnl {self.pnl:.2f})")


class Ledger:
    """Orders, fills, positions and cash. Each method that takes a gateway
    event returns what changed as (fills, orders), for the strategy's
    on_fill and on_order."""

    def __init__(self, fees: Fees, clock: Callable[[str], Optional[datetime.datetime]],
                 books=None):
        self.fees = fees
        self.books = {} if books is None else books  # code -> its latest Book
        self._clock = clock  # a match's time text -> datetime
        self.cash = 0  # wire units
        self.positions: Dict[str, Position] = {}
        self.fills: List[Fill] = []
        self.all_orders: List[Order] = []
        self.working: List[Order] = []
        self._by_request: Dict[int, Order] = {}  # sent, not yet answered
        self._by_id: Dict[int, Order] = {}
        self._held: Dict[int, list] = {}  # order number -> notices that came first
        self._matches = set()

    def position(self, code) -> Position:
        position = self.positions.get(code)
        if position is None:
            position = self.positions[code] = Position(code, self)
        return position

    def reserved(self) -> int:
        """Cash that working buys will take at their price, fees included."""
        total = 0
        for order in self.working:
            if order.buy:
                amount = order._matched_amount + order.remaining * order._price
                total += order.remaining * order._price + \
                    self.fees.of_order(True, amount) * 100 - order._fees
        return total

    def available(self) -> int:
        return self.cash - self.reserved()

    # Orders the strategy places.

    def refused(self, order, reason):
        order._refused = True
        order.reason = reason
        self.all_orders.append(order)
        return order

    def sent(self, order):
        self.all_orders.append(order)
        self.working.append(order)
        self._by_request[order._request] = order

    def unsent(self, order, status, reason):
        """The gateway call failed: nothing went out."""
        self._by_request.pop(order._request, None)
        self.working.remove(order)
        if status == "refused":
            order._refused = True
        else:
            order._final = status
        order.reason = reason

    # Gateway events: each takes a copy of the event's dictionary.

    def answer(self, d, error):
        order = self._by_request.pop(d["nReqID"], None)
        if order is None:
            return [], []
        if error != 0:
            order._final = "rejected"
            order.reason = d["errDesc"] or f"rejected with error {error}"
            return self._changed([], [order])
        order._answered = True
        order._gateway_code = d["errDesc"]
        return self._known(order, d["nOrderId"])

    def status(self, d):
        order = self._by_id.get(d["nOrderId"])
        if order is None:
            self._held.setdefault(d["nOrderId"], []).append((self.status, d))
            return [], []
        if not self._status(order, d):
            return [], []
        return self._changed([], [order])

    def match(self, d):
        if d["nMatchStreamId"] in self._matches:
            return [], []
        order = self._by_id.get(d["nOrderId"])
        if order is None:
            # A fill before the insert answer: the request id says whose.
            order = self._by_request.get(d["nReqID"])
            if order is None or order.code != d["szContractCode"] or \
                    order.buy != (d["nTradeType"] == 1):
                self._held.setdefault(d["nOrderId"], []).append((self.match, d))
                return [], []
        fill = self._fill(order, d)
        return self._changed([fill], [order])

    # After a restart: the day so far, from the gateway's four queries.

    def restore(self, orders, matches, positions, available_yuan):
        for d in orders:
            order = Order(d["szContractCode"], "buy" if d["nTradeType"] == 1 else "sell",
                          int(round(d["nOrderPrice"])), d["nOrderVol"],
                          self._clock(d["szInsertTime"]))
            order._answered = True
            self.all_orders.append(order)
            self.working.append(order)
            self._status(order, d)
            self._known(order, d["nOrderId"])
        held = {}
        for d in positions:
            held[d["szContractCode"]] = held.get(d["szContractCode"], 0) + d["nPosition"]
        traded = {}
        for d in matches:
            bought, sold = traded.get(d["szContractCode"], (0, 0))
            volume = d["nMatchVol"]
            traded[d["szContractCode"]] = ((bought + volume, sold) if d["nTradeType"] == 1
                                           else (bought, sold + volume))
        for code in sorted(set(held) | set(traded)):
            bought, sold = traded.get(code, (0, 0))
            self.positions[code] = Position(code, self, held.get(code, 0) - bought + sold)
        for d in sorted(matches, key=lambda m: m["szMatchTime"]):
            self.match(d)
        self._prune()
        self.cash = available_yuan * rules.UNIT + self.reserved()

    # Inside.

    def _known(self, order, order_id):
        self._by_id[order_id] = order
        order.id = order_id
        fills, changed = [], [order]
        for handle, d in self._held.pop(order_id, []):
            more_fills, more = handle(d)
            fills += more_fills
            changed += more
        return self._changed(fills, changed)

    def _status(self, order, d):
        """Applies a status; False when it changes nothing."""
        before = (order.status, order.filled)
        text = d["errDesc"]
        prefix = f"{order._gateway_code}:"
        if order._gateway_code and text.startswith(prefix):
            text = text[len(prefix):]
        code = d["nStatus"]
        if code != 0:
            order._answered = True
        if d["nDealedVol"] > order._dealt:
            order._dealt = d["nDealedVol"]
            order._dealt_price = int(round(d["nDealedPrice"]))
        final = _FINAL.get(code)
        if final is not None and order._final is None:
            order._final = final
            if final != "filled":
                order.reason = text
        return (order.status, order.filled) != before

    def _fill(self, order, d):
        self._matches.add(d["nMatchStreamId"])
        volume = d["nMatchVol"]
        price = int(round(d["nMatchPrice"]))
        amount = price * volume
        order._matched += volume
        order._matched_amount += amount
        total = self.fees.of_order(order.buy, order._matched_amount) * 100
        fees = total - order._fees
        order._fees = total
        position = self.position(order.code)
        if order.buy:
            position.bought += volume
            self.cash -= amount + fees
        else:
            position.sold += volume
            self.cash += amount - fees
        position._settle(order.buy, volume, amount, fees)
        position._last_fill = price
        fill = Fill(order, price, volume, self._clock(d["szMatchTime"]), fees,
                    d["nMatchStreamId"])
        self.fills.append(fill)
        return fill

    def _changed(self, fills, orders):
        self._prune()
        unique = []
        for order in orders:
            if order not in unique:
                unique.append(order)
        return fills, unique

    def _prune(self):
        if any(order.status not in WORKING for order in self.working):
            self.working = [order for order in self.working if order.status in WORKING]

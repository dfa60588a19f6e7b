"""veltrane.Strategy: the base class of a strategy.

Every on_* method runs on Ombrel's dispatcher thread, one at a time, so a
strategy needs no lock. Orders are checked here against what the rules make
certain before anything is sent; a refused order comes back with status
"refused" and the reason, and nothing goes out.
"""

import datetime
import heapq
import itertools
import math
import numbers
import operator
import sys
from typing import Any, Callable, Dict, List, Optional, Sequence

from veltrane import rules
from veltrane.fees import Fees
from veltrane.ledger import Fill, Order, Position
from veltrane.market import Bar, Book, Trade, clock_of, exchange_time, seconds_of

# What a strategy may subscribe to, and Ombrel's name of each.
QUOTES = {"book": "market", "trades": "transaction"}


class StrategyError(Exception):
    """A Strategy class or a call that cannot work, and why."""


def _clock_text(text: str) -> str:
    """'14:55' or '14:55:30' -> '14:55:00.000000', refusing anything else."""
    parts = text.split(":") if isinstance(text, str) else []
    try:
        numbers = [int(p) for p in parts]
    except ValueError:
        numbers = []
    if len(numbers) not in (2, 3) or any(len(p) != 2 for p in parts) or numbers[0] > 23 or \
            any(n > 59 for n in numbers[1:]):
        raise StrategyError(f"at({text!r}): a time of day such as '14:55' or '14:55:30'")
    numbers += [0] * (3 - len(numbers))
    return clock_of(numbers[0] * 3600 + numbers[1] * 60 + numbers[2])


class Strategy:
    """Subclass it, set `codes` (and `params`, `quotes`, `bar_seconds`,
    `fees`, `risk_limits` as needed) and define the on_* methods you use."""

    codes: Sequence[str] = ()
    params: Dict[str, Any] = {}
    quotes: Sequence[str] = ("book",)
    bar_seconds: Optional[float] = None
    fees: Fees = Fees()
    # Ombrel.SetRiskLimits(risk_limits) before the login; None leaves them.
    risk_limits: Optional[Dict[str, Any]] = None

    def on_start(self) -> None:
        """After the login, once positions, cash and working orders are known."""

    def on_book(self, book: Book) -> None:
        """A snapshot of one code."""

    def on_trade(self, trade: Trade) -> None:
        """A market trade of one code."""

    def on_bar(self, bar: Bar) -> None:
        """A finished bar of one code."""

    def on_order(self, order: Order) -> None:
        """Any change of one of this strategy's orders."""

    def on_fill(self, fill: Fill) -> None:
        """A fill of one of this strategy's orders (before its on_order)."""

    def on_stop(self) -> None:
        """The day is over, or stop() was called."""

    # What a strategy reads.

    @property
    def now(self) -> Optional[datetime.datetime]:
        """Exchange time: the latest market event's, or a timer's while it runs."""
        text = self._now_text
        if not text:
            return None
        if self._now[0] != text:
            self._now = (text, exchange_time(text))
        return self._now[1]

    @property
    def cash(self) -> float:
        """Cash held, yuan (what working buys will take is still in it)."""
        return self._ledger.cash / rules.UNIT

    @property
    def available(self) -> float:
        """Cash a new buy may use: cash less what working buys will take."""
        return self._ledger.available() / rules.UNIT

    @property
    def total(self) -> float:
        """Cash plus every position at its last price, yuan."""
        return self.cash + sum(p.value for p in self._ledger.positions.values())

    @property
    def orders(self) -> List[Order]:
        """The working orders (pending, working, partly filled)."""
        return list(self._ledger.working)

    @property
    def fills(self) -> List[Fill]:
        """Today's fills, restored ones included."""
        return list(self._ledger.fills)

    def position(self, code: str) -> Position:
        return self._ledger.position(code)

    def book(self, code: str) -> Optional[Book]:
        """The latest book of `code`, None before its first."""
        return self._books.get(code)

    # What a strategy does.

    def buy(self, code: str, quantity: int, price: float) -> Order:
        return self._place(code, "buy", quantity, price)

    def sell(self, code: str, quantity: int, price: float) -> Order:
        return self._place(code, "sell", quantity, price)

    def cancel(self, order: Order) -> bool:
        """Asks to cancel a working order; False (nothing sent) when it works
        no more. One still waiting for its answer is cancelled once that
        comes."""
        if order.status not in ("pending", "working", "partly filled"):
            return False
        if order.id is None:
            self._session.cancel_on_answer(order)
            return True
        return self._session.cancel(order)

    def cancel_all(self, code: Optional[str] = None) -> List[Order]:
        """Cancels every working order (of `code`); returns those asked."""
        return [order for order in self.orders
                if (code is None or order.code == code) and self.cancel(order)]

    def target(self, code: str, quantity: int, price: float) -> List[Order]:
        """Orders what moves the position in `code` toward `quantity` shares
        at `price`: cancels working orders that move it away, counts those
        that move it toward, buys in whole lots and sells what may be sold.
        Returns the orders placed."""
        if isinstance(quantity, bool) or not isinstance(quantity, int) or quantity < 0:
            raise StrategyError(f"target({code!r}, {quantity!r}, ...): quantity must be an "
                                "int of 0 or more")
        position = self.position(code)
        working = [o for o in self._ledger.working if o.code == code]
        held = position.quantity
        placed = []
        if quantity > held:
            for order in working:
                if not order.buy:
                    self.cancel(order)
            buying = sum(o.remaining for o in working if o.buy)
            size = rules.largest_buy(rules.board_of(code), quantity - held - buying)
            if size > 0:
                placed.append(self.buy(code, size, price))
        elif quantity < held:
            for order in working:
                if order.buy:
                    self.cancel(order)
            selling = sum(o.remaining for o in working if not o.buy)
            sellable = position.sellable
            size = min(held - quantity - selling, sellable)
            if size != sellable:
                size = rules.largest_buy(rules.board_of(code), size)
            if size > 0:
                placed.append(self.sell(code, size, price))
        else:
            for order in working:
                self.cancel(order)
        return placed

    def at(self, time: str, fn: Callable[[], Any]) -> None:
        """Calls fn() once at `time` ('14:55') of exchange time: before the
        first market event at or after it (at once, if the day is past it)."""
        due = _clock_text(time)
        if self._now_text:
            due = max(due, self._now_text[11:])  # already past: at the next event
        self._timer(due, None, fn)

    def every(self, seconds: float, fn: Callable[[], Any]) -> None:
        """Calls fn() every `seconds` of exchange time, at whole multiples of
        it since midnight (every(60): each minute), once per crossing."""
        if isinstance(seconds, bool) or not isinstance(seconds, (int, float)) or \
                not seconds > 0 or math.isinf(seconds):
            raise StrategyError(f"every({seconds!r}, ...): seconds must be a number above 0")
        if not self._now_text:
            # Before any market event: placed at the first, without a call.
            self._timer("", seconds, fn)
            return
        start = seconds_of(self._now_text)
        self._timer(clock_of((start // seconds + 1) * seconds), seconds, fn)

    def stop(self) -> None:
        """Ends the strategy's day: on_stop follows, then nothing more."""
        self._session.stop()

    def log(self, *values: Any) -> None:
        """Prints the values after the exchange time."""
        stamp = self._now_text[11:23] if self._now_text else "--:--:--.---"
        print(stamp, *values, flush=True)

    # Inside: set up by the session before on_start.

    @property
    def _now_text(self):
        """The exchange time as the feed's text, '' before any market event."""
        if self._timer_text:
            return self._timer_text
        latest = self._session.latest
        return latest["szDatetime"] if latest is not None else ""

    def _attach(self, session, params):
        self._session = session
        self.params = params
        self._ledger = session.ledger
        self._books: Dict[str, Book] = session.books
        self._timer_text = ""  # a timer's time while it runs
        self._now = ("", None)  # the text last parsed, and its datetime
        self._timers = []  # heap of (clock text, sequence, interval or None, fn)
        self._sequence = itertools.count()

    def _timer(self, due, interval, fn):
        if not callable(fn):
            raise StrategyError(f"a timer needs a function to call, not {fn!r}")
        heapq.heappush(self._timers, (due, next(self._sequence), interval, fn))
        self._session._reschedule()

    def _fire_timers(self, text):
        """Fires every timer due by the event whose time text is `text`."""
        clock = text[11:]
        while self._timers and self._timers[0][0] <= clock and self._session.running:
            due, _, interval, fn = heapq.heappop(self._timers)
            if interval is not None:
                now = seconds_of(text)
                heapq.heappush(self._timers, (clock_of((now // interval + 1) * interval),
                                              next(self._sequence), interval, fn))
                if not due:
                    continue
                # Crossings missed in a gap (the lunch break) are one call,
                # at the last of them.
                due = max(due, clock_of(now // interval * interval))
            self._timer_text = text[:11] + due
            self._session.call(fn)
        self._timer_text = ""

    def _place(self, code, side, quantity, price):
        buy = side == "buy"
        order = Order(code, side, 0, quantity, self.now)
        reason = self._check(order, buy, quantity, price)
        if reason:
            return self._ledger.refused(order, reason)
        return self._session.send(order)

    def _check(self, order, buy, quantity, price):
        """Why the order cannot be sent, or '' (the order's price is set)."""
        code = order.code
        if not self._session.running:
            return "the strategy is not running: orders go from on_start until the day ends"
        # A code the feed has given a book of is well formed.
        book = self._books.get(code) if type(code) is str else None
        if book is None:
            return rules.check_code(code) or (
                f"no book of {code} yet, so its limits are unknown"
                + ("" if code in self.codes else f": add {code} to codes"))
        if type(quantity) is not int:
            # numpy's integers will do; a bool or a float will not.
            if isinstance(quantity, bool) or not hasattr(type(quantity), "__index__"):
                return f"quantity {quantity!r} is not a whole number of shares"
            quantity = order.quantity = operator.index(quantity)
        board = rules.board_of(code)
        if not 0 < quantity <= board.max_quantity:
            return f"quantity must be from 1 to {board.max_quantity} on {board.name}"
        if type(price) is not float:
            if isinstance(price, bool) or not isinstance(price, numbers.Real):
                return f"price {price!r} is not a positive number of yuan"
            price = float(price)
        if not 0 < price < math.inf:
            return f"price {price!r} is not a positive number of yuan"
        units = rules.on_tick(price, buy)
        order._price = units
        low, high = rules.limits(code, book["nPreClose"])
        if high and not low <= units <= high:
            return (f"price {units / rules.UNIT:.2f} is outside today's limits "
                    f"{low / rules.UNIT:.2f} to {high / rules.UNIT:.2f}")
        if buy:
            if not rules.follows_size_rule(board, quantity):
                return f"a buy on {board.name} must be {rules.size_rule(board)}"
            ledger = self._ledger
            needed = units * quantity + self.fees.of_order(True, units * quantity) * 100
            available = ledger.available()
            if needed > available:
                return (f"not enough cash: the order needs {needed / rules.UNIT:.2f} with "
                        f"fees, {available / rules.UNIT:.2f} is available "
                        f"({ledger.reserved() / rules.UNIT:.2f} held for working buys)")
            return ""
        sellable = self.position(code).sellable
        if quantity > sellable:
            return (f"not enough shares: {quantity} to sell, {sellable} sellable today; "
                    "shares bought today settle tomorrow (T+1)")
        if not rules.follows_size_rule(board, quantity) and quantity != sellable:
            return (f"a sell on {board.name} must be {rules.size_rule(board)}, or all "
                    f"{sellable} shares that may be sold")
        return ""


def check_class(cls) -> None:
    """Raises StrategyError saying what keeps a Strategy class from running."""
    name = getattr(cls, "__name__", repr(cls))
    if not isinstance(cls, type) or not issubclass(cls, Strategy):
        raise StrategyError(f"{name} is not a subclass of veltrane.Strategy")
    codes = cls.codes
    if isinstance(codes, str) or not codes:
        raise StrategyError(f"{name}.codes must list what it trades, such as "
                            "['600000.SH', '000001.SZ']")
    for code in codes:
        problem = rules.check_code(code)
        if problem:
            raise StrategyError(f"{name}.codes: {problem}")
    if not isinstance(cls.params, dict) or not all(isinstance(k, str) for k in cls.params):
        raise StrategyError(f"{name}.params must be a dict of names to default values")
    quotes = cls.quotes
    if isinstance(quotes, str) or not quotes or any(q not in QUOTES for q in quotes):
        raise StrategyError(f"{name}.quotes must be a tuple of {', '.join(map(repr, QUOTES))}, "
                            f"not {quotes!r}")
    if cls.bar_seconds is not None:
        if isinstance(cls.bar_seconds, bool) or not isinstance(cls.bar_seconds, (int, float)) \
                or not cls.bar_seconds > 0:
            raise StrategyError(f"{name}.bar_seconds must be a number of seconds above 0")
        if "trades" not in quotes:
            raise StrategyError(f"{name}.bar_seconds: bars are built from trades; add 'trades' "
                                "to quotes")
    if cls.on_bar is not Strategy.on_bar and cls.bar_seconds is None:
        raise StrategyError(f"{name} defines on_bar but no bar_seconds: no bar would come")
    if cls.on_trade is not Strategy.on_trade and "trades" not in quotes:
        raise StrategyError(f"{name} defines on_trade but quotes lack 'trades': no trade "
                            "would come")
    if not isinstance(cls.fees, Fees):
        raise StrategyError(f"{name}.fees must be a veltrane.Fees(...)")
    try:
        cls.fees.check()
    except ValueError as error:
        raise StrategyError(f"{name}.fees: {error}") from None


def merged_params(cls, given) -> Dict[str, Any]:
    """The class's params with `given` over them, refusing unknown names."""
    given = dict(given or {})
    unknown = sorted(set(given) - set(cls.params))
    if unknown:
        known = ", ".join(cls.params) or "none"
        raise StrategyError(f"{cls.__name__} has no parameter {', '.join(unknown)} "
                            f"(it has: {known})")
    return {**cls.params, **given}


def report_error():
    """The traceback of the exception being handled, as an unhandled one's."""
    sys.excepthook(*sys.exc_info())

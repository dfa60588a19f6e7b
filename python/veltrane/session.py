"""A strategy's day through Ombrel: the login, the day so far from the
gateway's four queries, on_start, the market, on_stop.

Ombrel calls one Rtn* method per event on its dispatcher thread; the
callback object here turns each into the strategy's objects and calls its
on_* methods there, so everything the strategy sees happens on one thread.
The main thread only logs in, asks, subscribes and waits for the day's end:
the simulated exchange says when the day is over through a pipe; live, the
day ends at stop(), or once the market has gone quiet after the close.
"""

import ctypes
import os
import select
import sys
import threading
import time
import traceback

from veltrane import strategy as strategy_module
from veltrane.ledger import Ledger
from veltrane.market import Bars, Book, Trade, exchange_time

# Both logins and the four queries are answered at once; far longer than
# this means no answer is coming.
ANSWER_SECONDS = 30
# Live: the day is over once the exchange clock has passed the close and
# no market event has come for this long.
CLOSE_CLOCK = "15:00:00"
QUIET_SECONDS = 5
# The request ids of the four queries at the start and the one at the end;
# orders and cancels count from FIRST_REQUEST.
QUERIES = {"orders": (1, "QryOrder"), "matches": (2, "QryMatch"),
           "positions": (3, "QryPosition"), "capital": (4, "QryAccountMaxEntrustCount")}
FINAL_QUERY = 5
FIRST_REQUEST = 100


class RunError(Exception):
    """What kept the day from running, and why; `login_status` is the
    library's status when a login was refused."""

    def __init__(self, text, login_status=None):
        super().__init__(text)
        self.login_status = login_status


def is_simulated():
    """True when the trade library loaded is the simulated exchange."""
    try:
        library = ctypes.CDLL("libitg.so", mode=os.RTLD_NOLOAD | os.RTLD_LAZY)
    except OSError:
        return False
    return hasattr(library, "veltrane_simulated_exchange")


def _callback_class(Ombrel):
    """The Ombrel callback object of a session (made once Ombrel is loaded)."""

    class Callback(Ombrel.QuantCallBack):
        def __init__(self, session):
            Ombrel.QuantCallBack.__init__(self)
            self.session = session

        def RtnConnect(self):
            pass

        RtnDisconnect = RtnConnect

        def RtnUserInfo(self):
            self.session._login(None)

        def RtnLoginWarn(self):
            self.session._login(self.rspdict.get("pInfo"))

        def RtnRspQryOrder(self):
            self.session._row("orders", self.rspdict.copy(), self.errorid, self.isend)

        def RtnRspQryMatch(self):
            self.session._row("matches", self.rspdict.copy(), self.errorid, self.isend)

        def RtnRspQryPosition(self):
            self.session._row("positions", self.rspdict.copy(), self.errorid, self.isend)

        def RtnQryAccountMaxEntrustCount(self):
            self.session._capital(self.rspdict.copy(), self.errorid)

        def RtnRspOrderInsert(self):
            self.session._answer(self.rspdict.copy(), self.errorid)

        def RtnRspOrderDelete(self):
            if self.errorid != 0:
                self.session._notice(f"a cancel was refused: {self.rspdict['errDesc']}")

        def RtnOrderStatusChangeNotice(self):
            self.session._changed(self.session.ledger.status(self.rspdict.copy()))

        def RtnOrderMatchNotice(self):
            self.session._changed(self.session.ledger.match(self.rspdict.copy()))

        def RtnRspSubQuote(self):
            if self.errorid != 0:
                self.session._fail(f"the subscription was refused: {self.rspdict['errDesc']} "
                                   f"(error {self.errorid})")

        def RtnMarket(self):
            # The hot path: a snapshot to on_book.
            book = Book(self.rspdict)
            session = self.session
            if session.running:
                if book["szDatetime"] >= session.due:
                    session._due_by(book["szDatetime"])
                session.latest = book
                session.books[book["szWindCode"]] = book
                if session.on_book is not None:
                    try:
                        session.on_book(book)
                    except Exception:  # noqa: B902 - a handler's error is the strategy's
                        session._error()

        def RtnTransaction(self):
            trade = Trade(self.rspdict)
            session = self.session
            if session.running:
                if trade["szDatetime"] >= session.due:
                    session._due_by(trade["szDatetime"])
                session.latest = trade
                if session.bars is not None and session.bars.add(trade):
                    session._reschedule()
                if session.on_trade is not None:
                    try:
                        session.on_trade(trade)
                    except Exception:  # noqa: B902
                        session._error()

    return Callback


class Session:
    """One strategy's day. run() does it all; the rest is called from the
    strategy (send, cancel, stop) or from Ombrel's events."""

    def __init__(self, strategy_class, params=None, user="demo", password="demo",
                 lockstep=None, day_end=None, out=sys.stdout):
        strategy_module.check_class(strategy_class)
        self.params = strategy_module.merged_params(strategy_class, params)
        self.strategy_class = strategy_class
        self.user, self.password = user, password
        self.lockstep = lockstep
        self.day_end = day_end
        self.out = out
        self.errors = 0
        self.first_error = ""
        self.running = False
        self.ended = False
        # The time text of the next timer or bar end: '~' is after every
        # time, '' before (a timer set before the first event's date is known).
        self.due = "~"
        self.on_book = self.on_trade = None  # the strategy's, when it has one
        self.latest = None  # the latest market event: its time is the exchange's
        self.books = {}
        self._requests = FIRST_REQUEST
        self._answers = threading.Condition()
        self._logins = []  # None per login that succeeded, else its status
        self._rows = {name: [] for name in QUERIES}
        self._done = set()
        self._started = False
        self._final_asked = False
        self._stop_asked = threading.Event()
        self._stopped = threading.Event()
        self._failure = None
        self._cancel_on_answer = []
        self.ledger = None
        self.strategy = None
        self.bars = None

    # From the strategy.

    def send(self, order):
        self._requests += 1
        order._request = self._requests
        self.ledger.sent(order)
        result = self.Ombrel.PyQuantApi.OrderInsert(
            {"nReqId": order._request, "szContractCode": order.code[:6],
             "nTradeType": 1 if order.buy else 2, "nOrderPrice": order._price,
             "nOrderVol": order.quantity})
        if result == -1:
            reason = self.Ombrel.RiskStatus()["last_refusal"] or "refused by veltrane (-1)"
            self.ledger.unsent(order, "refused", reason)
        elif result != 0:
            self.ledger.unsent(order, "rejected", f"the trade gateway returned {result}")
        return order

    def cancel(self, order):
        self._requests += 1
        result = self.Ombrel.PyQuantApi.OrderDelete({"nReqId": self._requests,
                                                     "nOrderId": order.id})
        if result != 0:
            self._notice(f"the cancel of order {order.id} returned {result}: "
                         f"{self.Ombrel.RiskStatus()['last_refusal']}")
        return result == 0

    def cancel_on_answer(self, order):
        if order not in self._cancel_on_answer:
            self._cancel_on_answer.append(order)

    def stop(self):
        self.running = False
        self._stop_asked.set()

    def call(self, fn, *arguments):
        """Calls a strategy's function; its exception is reported and counted."""
        try:
            fn(*arguments)
        except Exception:  # noqa: B902 - whatever the strategy raises
            self._error()

    # The day.

    def run(self):
        """Runs the day; returns the strategy. Raises RunError when the day
        cannot run (a refused login, no answer)."""
        if self.day_end is None and "VELTRANE_SIM_DAY_END_FD" not in os.environ:
            # Read by the simulated exchange when Ombrel loads it; a vendor's
            # library never looks at it.
            self.day_end, told = os.pipe()
            os.environ["VELTRANE_SIM_DAY_END_FD"] = str(told)
        import Ombrel

        self.Ombrel = Ombrel
        simulated = is_simulated()
        lockstep = simulated if self.lockstep is None else self.lockstep
        # In lockstep the simulated exchange waits for each handler, so what
        # a handler sends is taken before the market moves on: the same
        # fills every run. A vendor's feed may drop data while it waits.
        Ombrel.SetEventQueueLimit(1 if lockstep else 0)
        cls = self.strategy_class
        if cls.risk_limits is not None:
            Ombrel.SetRiskLimits(dict(cls.risk_limits))
        self.strategy = cls()
        self.ledger = Ledger(cls.fees, self._time_of, self.books)
        self.strategy._attach(self, self.params)
        if cls.on_book is not strategy_module.Strategy.on_book:
            self.on_book = self.strategy.on_book
        if cls.on_trade is not strategy_module.Strategy.on_trade:
            self.on_trade = self.strategy.on_trade
        self.bars = Bars(cls.bar_seconds) if cls.bar_seconds else None
        callback = _callback_class(Ombrel)(self)
        self.api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(callback, False, "", "")
        self._callback = callback
        Ombrel.ZR_QuantApi_Python36.Init()
        self.api.Login(self.user, self.password)
        self._wait(lambda: len(self._logins) == 2 or any(self._logins), "the logins")
        refused = [status for status in self._logins if status is not None]
        if refused:
            raise RunError(f"the login was refused (status {refused[0]})", refused[0])
        for request, function in QUERIES.values():
            getattr(Ombrel.PyQuantApi, function)({"nReqId": request})
        self._wait(lambda: self._started or self._failure, "the account's queries")
        if self._failure:
            raise RunError(self._failure)
        codes = list(cls.codes)
        kinds = [strategy_module.QUOTES[q] for q in cls.quotes]
        self.subscribed_at = time.perf_counter()
        result = Ombrel.PyQuantApi.ReqSubQuote(1, kinds, [], codes, "", "")
        if result != 0:
            raise RunError(f"the subscription of {codes} returned {result}")
        self._wait_for_the_end(simulated)
        self.day_seconds = time.perf_counter() - self.subscribed_at
        # on_stop runs on the dispatcher thread too: in the answer to a query.
        self._final_asked = True
        Ombrel.PyQuantApi.QryAccountMaxEntrustCount({"nReqId": FINAL_QUERY})
        if not self._stopped.wait(ANSWER_SECONDS):
            self.running = False
            raise RunError("no answer to the last capital query: on_stop was not called")
        if self._failure:
            raise RunError(self._failure)
        return self.strategy

    def _wait(self, done, what):
        with self._answers:
            if not self._answers.wait_for(done, ANSWER_SECONDS):
                raise RunError(f"no answer to {what} within {ANSWER_SECONDS} s")

    def _wait_for_the_end(self, simulated):
        seen, quiet_since = "", time.monotonic()
        try:
            while not self._stop_asked.is_set() and not self._failure:
                if self.day_end is not None:
                    ready, _, _ = select.select([self.day_end], [], [], 0.2)
                    if ready:
                        return
                else:
                    self._stop_asked.wait(0.2)
                if simulated:
                    continue
                # Live: over once the clock has passed the close and stood still.
                now = self.strategy._now_text
                if now != seen:
                    seen, quiet_since = now, time.monotonic()
                elif now[11:] >= CLOSE_CLOCK and time.monotonic() - quiet_since > QUIET_SECONDS:
                    return
        except KeyboardInterrupt:
            self._notice("interrupted: the day ends here")

    # From Ombrel's events, on the dispatcher thread.

    def _login(self, status):
        with self._answers:
            self._logins.append(status)
            self._answers.notify_all()

    def _row(self, name, d, error, last):
        if d["szContractCode"]:
            self._rows[name].append(d)
        if last:
            self._done.add(name)
            self._maybe_start()

    def _capital(self, d, error):
        # The answer does not carry its request id; the last query is asked
        # only once the first has been answered.
        if self._final_asked:
            self._end()
            return
        if error != 0:
            self._fail(f"the capital query was refused (error {error})")
            return
        self._rows["capital"] = d
        self._done.add("capital")
        self._maybe_start()

    def _maybe_start(self):
        if self._started or len(self._done) < len(QUERIES):
            return
        rows = self._rows
        self.ledger.restore(rows["orders"], rows["matches"], rows["positions"],
                            rows["capital"]["nAvailableCaptial"])
        self.running = True
        self.call(self.strategy.on_start)
        with self._answers:
            self._started = True
            self._answers.notify_all()

    def _end(self):
        strategy = self.strategy
        if not self.ended:
            self.ended = True
            self.running = False
            if self.bars is not None:
                for bar in self.bars.all():
                    self.call(strategy.on_bar, bar)
            self.call(strategy.on_stop)
        self._stopped.set()

    def _answer(self, d, error):
        changed = self.ledger.answer(d, error)
        for order in list(self._cancel_on_answer):
            if order.id is not None or order.status not in ("pending", "working",
                                                            "partly filled"):
                self._cancel_on_answer.remove(order)
                if order.id is not None and order.status in ("working", "partly filled"):
                    self.cancel(order)
        self._changed(changed)

    def _changed(self, changed):
        fills, orders = changed
        if not self.running or self.ended:
            return
        strategy = self.strategy
        for fill in fills:
            self.call(strategy.on_fill, fill)
        for order in orders:
            self.call(strategy.on_order, order)

    def _due_by(self, text):
        """Finishes the bars and fires the timers due by the event at `text`."""
        if self.bars is not None:
            for bar in self.bars.due(text[11:]):
                self.call(self.strategy.on_bar, bar)
        self.strategy._fire_timers(text)
        self._reschedule()

    def _reschedule(self):
        timers = self.strategy._timers
        clock = min(timers[0][0] if timers else "~",
                    self.bars.next_end() if self.bars is not None else "~")
        day = self.strategy._now_text[:11]
        self.due = "~" if clock == "~" else day + clock if day else ""

    def _time_of(self, text):
        """A gateway's time text as exchange time: '09:31:03.000' on the
        day of the market's events, or a whole date and time."""
        if not text:
            return None
        try:
            if len(text) > 13 and text[4] == "-":
                return exchange_time(text)
            day = self.strategy._now_text[:10] or time.strftime("%Y-%m-%d")
            return exchange_time(f"{day} {text}")
        except ValueError:
            return None

    def _error(self):
        self.errors += 1
        if not self.first_error:
            self.first_error = traceback.format_exc()
        strategy_module.report_error()

    def _notice(self, text):
        print(f"veltrane: {text}", file=sys.stderr, flush=True)

    def _fail(self, reason):
        with self._answers:
            if self._failure is None:
                self._failure = reason
            self._answers.notify_all()
        self._stop_asked.set()

"""The veltrane strategy layer without a gateway: the order state machine
under every order the gateway's events can come in, the refusals made
before anything is sent, a restart rebuilt from the four queries, timers
and bars on exchange time, the fee schedule, and the board table against
the README's."""

import pathlib
import re

import fractions

import pytest

import veltrane
from veltrane import rules
from veltrane.ledger import Ledger, Order
from veltrane.market import Bars
from veltrane.session import Session
from veltrane.strategy import StrategyError, check_class

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent
DAY = "2026-12-08"


def clock(text):
    return None


# Ombrel's dicts, as its Rtn* methods hand them over.
def answer(request, order_id, text="A1"):
    return ("answer", {"nReqID": request, "szContractCode": "600000.SH", "nTradeType": 1,
                       "nOrderId": order_id, "nOrderPrice": 100000, "nOrderVol": 300,
                       "nStatus": 0, "errDesc": text})


def rejected_answer(request, text):
    return ("answer", {"nReqID": request, "nOrderId": 0, "errDesc": text}, 17)


def status(order_id, code, dealt=0, price=0.0, text="A1:ok", side=1):
    return ("status", {"szContractCode": "600000.SH", "nTradeType": side, "nOrderId": order_id,
                       "nStatus": code, "nOrderPrice": 100000.0, "nOrderVol": 300,
                       "nDealedVol": dealt, "nDealedPrice": price, "szInsertTime": "09:31:00",
                       "errDesc": text})


def match(order_id, request, stream, volume, price=100000.0, side=1):
    return ("match", {"nReqID": request, "szContractCode": "600000.SH", "nTradeType": side,
                      "nOrderId": order_id, "nMatchPrice": price, "nMatchVol": volume,
                      "szMatchTime": "09:31:05.000", "nMatchStreamId": stream, "errDesc": "A1"})


def feed(ledger, events):
    told = []
    for kind, d, *error in events:
        if kind == "answer":
            changed = ledger.answer(d, error[0] if error else 0)
        else:
            changed = getattr(ledger, kind)(d)
        told.append(changed)
    return told


def ledger_with(cash_yuan=100000, start=None):
    ledger = Ledger(veltrane.Fees(), clock)
    ledger.restore([], [], [{"szContractCode": code, "nPosition": n}
                            for code, n in (start or {}).items()], cash_yuan)
    for code in (start or {}):
        ledger.books[code] = veltrane.Book(book(code, 100000, 100000, 100100))
    return ledger


# Each case: the events of one order of 300 (request 7, number 42) after it
# was sent, and what the order and the position then say.
BUY_CASES = [
    ("in order", [answer(7, 42), status(42, 2), match(42, 7, 900, 100), status(42, 5, 100),
                  match(42, 7, 901, 200), status(42, 6, 300)],
     "filled", 300, 300),
    ("a fill before the answer", [match(42, 7, 900, 300), answer(7, 42), status(42, 6, 300)],
     "filled", 300, 300),
    ("statuses before the answer", [status(42, 2), status(42, 5, 100, 100000.0),
                                    match(42, 7, 900, 100), answer(7, 42)],
     "partly filled", 100, 100),
    ("a status of all filled before its fills", [answer(7, 42), status(42, 6, 300, 100000.0)],
     "filled", 300, 0),
    ("partly filled, then cancelled", [answer(7, 42), match(42, 7, 900, 100),
                                       status(42, -9, 100, 100000.0, "A1:cancelled")],
     "cancelled", 100, 100),
    ("a cancel crossing a fill", [answer(7, 42), status(42, -9, 0, 0.0, "A1:cancelled"),
                                  match(42, 7, 900, 100)],
     "cancelled", 100, 100),
    ("a fill told twice", [answer(7, 42), match(42, 7, 900, 100), match(42, 7, 900, 100)],
     "partly filled", 100, 100),
    ("rejected in the answer", [rejected_answer(7, "not enough cash")], "rejected", 0, 0),
    ("rejected by a status", [answer(7, 42), status(42, -8, 0, 0.0, "price off the tick")],
     "rejected", 0, 0),
    ("another order's notices", [answer(7, 42), status(99, 6, 300), match(99, 3, 950, 300)],
     "working", 0, 0),
]


@pytest.mark.parametrize("events,state,filled,held", [c[1:] for c in BUY_CASES],
                         ids=[c[0] for c in BUY_CASES])
def test_an_order_ends_right_whatever_order_its_events_come_in(events, state, filled, held):
    ledger = ledger_with()
    order = Order("600000.SH", "buy", 100000, 300, request=7)
    ledger.sent(order)
    told = feed(ledger, events)
    assert (order.status, order.filled) == (state, filled)
    position = ledger.position("600000.SH")
    assert position.quantity == held
    assert (order in ledger.working) == (state in ("working", "partly filled"))
    # Cash pays each fill and its fees, once: 10.00 a share, at least 5 yuan
    # of commission, the transfer fee.
    fees = ledger.fees.of_order(True, 100000 * held) * 100
    assert ledger.cash == 100000 * rules.UNIT - 100000 * held - fees
    assert [f.volume for changed in told for f in changed[0]] == \
        [f.volume for f in ledger.fills]
    assert sum(f.volume for f in ledger.fills) == held
    if state in ("rejected", "cancelled"):
        assert order.reason in ("not enough cash", "price off the tick", "cancelled")


def test_t_plus_one_holds_back_todays_buys_and_working_sells():
    ledger = ledger_with(start={"600000.SH": 1000})
    sell = Order("600000.SH", "sell", 100000, 400, request=8)
    ledger.sent(sell)
    position = ledger.position("600000.SH")
    assert (position.quantity, position.sellable) == (1000, 600)
    feed(ledger, [answer(8, 50), match(50, 8, 901, 400, side=2), status(50, 6, 400, side=2)])
    buy = Order("600000.SH", "buy", 100000, 300, request=9)
    ledger.sent(buy)
    feed(ledger, [answer(9, 51), match(51, 9, 902, 300), status(51, 6, 300)])
    assert (position.quantity, position.sellable) == (900, 600)
    assert sell.status == buy.status == "filled"


def test_a_restart_rebuilds_the_day_from_the_four_queries():
    orders = [
        {"szContractCode": "600000.SH", "nTradeType": 1, "nOrderId": 3, "nStatus": 6,
         "nOrderPrice": 100000.0, "nOrderVol": 200, "nDealedVol": 200,
         "nDealedPrice": 100000.0, "szInsertTime": "09:31:00", "errDesc": "A3:filled"},
        {"szContractCode": "600000.SH", "nTradeType": 2, "nOrderId": 4, "nStatus": 5,
         "nOrderPrice": 101000.0, "nOrderVol": 500, "nDealedVol": 100,
         "nDealedPrice": 101000.0, "szInsertTime": "09:32:00", "errDesc": "A4:part"},
        {"szContractCode": "000001.SZ", "nTradeType": 1, "nOrderId": 5, "nStatus": 2,
         "nOrderPrice": 110000.0, "nOrderVol": 1000, "nDealedVol": 0,
         "nDealedPrice": 0.0, "szInsertTime": "09:33:00", "errDesc": "A5:accepted"},
    ]
    matches = [
        {"nReqID": 1, "szContractCode": "600000.SH", "nTradeType": 1, "nOrderId": 3,
         "nMatchPrice": 100000.0, "nMatchVol": 200, "szMatchTime": "09:31:01.000",
         "nMatchStreamId": 6, "errDesc": "A3"},
        {"nReqID": 2, "szContractCode": "600000.SH", "nTradeType": 2, "nOrderId": 4,
         "nMatchPrice": 101000.0, "nMatchVol": 100, "szMatchTime": "09:32:01.000",
         "nMatchStreamId": 7, "errDesc": "A4"},
    ]
    # 1000 held at the day's start, 200 bought, 100 sold.
    positions = [{"szContractCode": "600000.SH", "nPosition": 1100}]
    ledger = Ledger(veltrane.Fees(), clock)
    ledger.restore(orders, matches, positions, 50000)
    position = ledger.position("600000.SH")
    assert (position.start, position.quantity) == (1000, 1100)
    # The start's 1000 less the 100 sold and the 400 the working sell holds;
    # today's 200 settle tomorrow.
    assert position.sellable == 500
    assert sorted((o.id, o.status) for o in ledger.working) == [(4, "partly filled"),
                                                                (5, "working")]
    assert [(f.order.id, f.volume) for f in ledger.fills] == [(3, 200), (4, 100)]
    # The capital answer's available cash is what is left after the working
    # buy's hold: cash is that plus the hold.
    assert ledger.available() == 50000 * rules.UNIT
    assert ledger.cash == 50000 * rules.UNIT + 1000 * 110000 + \
        ledger.fees.of_order(True, 1000 * 110000) * 100
    # A notice after the restart reaches the restored order.
    feed(ledger, [match(4, 2, 8, 400, 101000.0, side=2), status(4, 6, 500, side=2)])
    assert ledger.working[0].id == 5 and position.quantity == 700
    # The shares from an earlier day are costed at the previous close.
    ledger.books["600000.SH"] = veltrane.Book(book("600000.SH", 99000, 102000, 102100))
    held, sold, bought, start = 700 * 102000, 500 * 101000, 200 * 100000, 1000 * 99000
    assert position.pnl == pytest.approx(
        (held + sold - bought - start) / rules.UNIT - sum(f.fees for f in ledger.fills),
        abs=0.01)
    assert sum(f.fees for f in ledger.fills) == pytest.approx(5.02 + 7.58)


class FakeSession:
    """What a strategy calls of its session, recording what it sends."""

    def __init__(self, cash=100000, start=None):
        self.ledger = ledger_with(cash, start)
        self.books = self.ledger.books
        self.running = True
        self.latest = None
        self.sent = []

    def send(self, order):
        self.sent.append(order)
        self.ledger.sent(order)
        return order

    def call(self, fn, *arguments):
        fn(*arguments)

    def _reschedule(self):
        pass


def book(code, pre_close, bid, ask, time="09:31:00.000000"):
    return {"szWindCode": code, "szCode": code[:6], "szDatetime": f"{DAY} {time}",
            "nPreClose": pre_close, "nMatch": bid, "iVolume": 0, "iTurnover": 0.0,
            "nBidPrice": [bid] + [0] * 9, "nBidVol": [100] + [0] * 9,
            "nAskPrice": [ask] + [0] * 9, "nAskVol": [100] + [0] * 9}


def strategy_with(cash=100000, start=None, running=True):
    strategy = veltrane.Strategy()
    session = FakeSession(cash, start)
    session.running = running
    for code, pre_close in (("600000.SH", 100000), ("688001.SH", 500000),
                            ("300750.SZ", 1800000)):
        session.books[code] = veltrane.Book(book(code, pre_close, pre_close, pre_close + 100))
    strategy._attach(session, {})
    return strategy, session


class Shares:
    """An integer type of another library (numpy's int64, say)."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


# (what the strategy asks, what it holds, the price sent, or the reason's start)
PLACEMENTS = [
    ("buy", "600000.SH", 100, 10.005, None, 100000, None),
    ("sell", "600000.SH", 100, 10.005, {"600000.SH": 100}, 100100, None),
    ("buy", "600000.SH", 100, 10.62, None, 106200, None),
    ("buy", "600000.SH", 100, 11.00, None, 110000, None),
    ("buy", "600000.SH", 100, 11.01, None, None, "price 11.01 is outside today's limits 9.00"),
    ("sell", "600000.SH", 100, 8.99, {"600000.SH": 100}, None, "price 8.99 is outside"),
    ("buy", "300750.SZ", 1000, 216.00, None, None, "not enough cash"),
    ("buy", "300750.SZ", 100, 143.99, {}, None, "price 143.99 is outside today's limits 144.00"),
    ("buy", "600000.SH", 150, 10.00, None, None, "a buy on the Shanghai main board must be "
                                                 "whole lots of 100 shares"),
    ("buy", "688001.SH", 199, 50.00, None, None, "a buy on the STAR Market must be at least 200"),
    ("buy", "688001.SH", 201, 50.00, None, 500000, None),
    ("sell", "600000.SH", 50, 10.00, {"600000.SH": 150}, None, "a sell on the Shanghai main "
                                                               "board must be whole lots"),
    ("sell", "600000.SH", 150, 10.00, {"600000.SH": 150}, 100000, None),
    ("sell", "600000.SH", 200, 10.00, {"600000.SH": 150}, None, "not enough shares: 200 to sell, "
                                                                "150 sellable today"),
    ("buy", "600000.SH", 10000, 10.00, None, None, "not enough cash: the order needs 100026.00"),
    ("buy", "600000", 100, 10.00, None, None, "'600000' is not a code"),
    ("buy", "601318.SH", 100, 10.00, None, None, "no book of 601318.SH yet"),
    ("buy", "600000.SH", True, 10.00, None, None, "quantity True is not a whole number"),
    ("buy", "600000.SH", 100, float("nan"), None, None, "price nan is not a positive number"),
    ("buy", "600000.SH", 2000000, 10.00, None, None, "quantity must be from 1 to 1000000"),
    ("buy", "600000.SH", 100.0, 10.00, None, None, "quantity 100.0 is not a whole number"),
    ("buy", "600000.SH", Shares(100), fractions.Fraction(10), None, 100000, None),
]


@pytest.mark.parametrize("side,code,quantity,price,start,sent,reason", PLACEMENTS)
def test_orders_are_refused_before_anything_is_sent(side, code, quantity, price, start, sent,
                                                   reason):
    strategy, session = strategy_with(cash=100000 if start != {} else 10**7, start=start)
    order = getattr(strategy, side)(code, quantity, price)
    if reason is None:
        assert session.sent == [order] and order._price == sent, order
        assert order.status == "pending"
    else:
        assert session.sent == [] and order.status == "refused", order
        assert order.reason.startswith(reason), order.reason
        assert order not in strategy.orders


def test_nothing_is_sent_before_on_start_or_after_the_day():
    strategy, session = strategy_with(running=False)
    order = strategy.buy("600000.SH", 100, 10.00)
    assert order.status == "refused" and "not running" in order.reason and not session.sent


def test_target_counts_lots_sellable_shares_and_working_orders():
    strategy, session = strategy_with(cash=10**7, start={"600000.SH": 1050})
    # 1050 held, all sellable: down to 0 sells all of it, the odd lot too.
    assert [(o.side, o.quantity) for o in strategy.target("600000.SH", 0, 10.00)] == \
        [("sell", 1050)]
    # What works already counts: nothing more to sell.
    assert strategy.target("600000.SH", 0, 10.00) == []
    strategy, session = strategy_with(cash=10**7)
    # Up to 250: a buy of whole lots only.
    assert [(o.side, o.quantity) for o in strategy.target("600000.SH", 250, 10.00)] == \
        [("buy", 200)]


@pytest.mark.parametrize("attributes,message", [
    ({"codes": []}, "codes must list"),
    ({"codes": ["600000"]}, "'600000' is not a code"),
    ({"quotes": ("book", "level3")}, "quotes must be a tuple"),
    ({"bar_seconds": 60}, "bars are built from trades"),
    ({"on_bar": lambda self, bar: None}, "defines on_bar but no bar_seconds"),
    ({"on_trade": lambda self, trade: None}, "quotes lack 'trades'"),
    ({"fees": veltrane.Fees(commission_bp=-1)}, "commission_bp=-1"),
    ({"params": {1: 2}}, "params must be a dict"),
])
def test_a_strategy_class_that_cannot_run_is_refused_with_why(attributes, message):
    cls = type("Broken", (veltrane.Strategy,), {"codes": ["600000.SH"], **attributes})
    with pytest.raises(StrategyError, match=re.escape(message)):
        check_class(cls)
    with pytest.raises(StrategyError, match="has no parameter fast"):
        Session(type("Plain", (veltrane.Strategy,), {"codes": ["600000.SH"]}), {"fast": 1})


def events(times):
    return [f"{DAY} {t}" for t in times]


def fired_times(times):
    strategy, _ = strategy_with()
    fired = []
    strategy.at("10:00", lambda: fired.append(("at", strategy.now.strftime("%H:%M:%S"))))
    strategy.every(60, lambda: fired.append(("every", strategy.now.strftime("%H:%M:%S"))))
    for text in events(times):
        if strategy._timers and text[11:] >= strategy._timers[0][0]:
            strategy._fire_timers(text)
        else:
            strategy._session.latest = {"szDatetime": text}
    return fired


def test_timers_fire_at_the_same_exchange_times_every_run():
    times = ["09:58:30.000000", "09:59:10.500000", "10:00:00.000000", "10:00:59.000000",
             "10:01:02.000000", "11:29:59.000000", "13:00:03.000000"]
    first = fired_times(times)
    assert first == fired_times(times)
    # every(60) placed at the first event, once per crossing (the lunch
    # break's minutes are not made up); at() before the event that reaches it.
    assert first == [("every", "09:59:00"), ("at", "10:00:00"), ("every", "10:00:00"),
                     ("every", "10:01:00"), ("every", "11:29:00"), ("every", "13:00:00")]
    strategy, _ = strategy_with()
    with pytest.raises(StrategyError, match="a time of day such as '14:55'"):
        strategy.at("2:55pm", print)
    with pytest.raises(StrategyError, match="above 0"):
        strategy.every(0, print)


def trade(time, price, volume, code="600000.SH"):
    return {"szWindCode": code, "szDatetime": f"{DAY} {time}", "nPrice": price,
            "nVolume": volume, "nBSFlag": 66}


def test_bars_from_trades_end_on_the_minute():
    bars = Bars(60)
    finished = []
    for t, price, volume in (("09:30:00.000000", 100000, 100), ("09:30:30.000000", 101000, 200),
                             ("09:30:59.990000", 99000, 300), ("09:31:00.000000", 100500, 400),
                             ("09:33:10.000000", 100000, 100)):
        finished += bars.due(t)
        bars.add(trade(t, price, volume))
    finished += bars.all()
    assert [(b.start.strftime("%H:%M"), b.end.strftime("%H:%M"), b.open, b.high, b.low, b.close,
             b.volume, b.trades) for b in finished] == [
        ("09:30", "09:31", 10.0, 10.1, 9.9, 9.9, 600, 3),
        ("09:31", "09:32", 10.05, 10.05, 10.05, 10.05, 400, 1),
        ("09:33", "09:34", 10.0, 10.0, 10.0, 10.0, 100, 1)]


@pytest.mark.parametrize("amount_yuan,buy,fees_cents", [
    (0, True, 0), (10000, True, 500 + 10), (100000, True, 2500 + 100),
    (100000, False, 2500 + 5000 + 100), (1234.56, False, 500 + 62 + 1),
])
def test_fees_follow_the_schedule_to_the_cent(amount_yuan, buy, fees_cents):
    assert veltrane.Fees().of_order(buy, round(amount_yuan * rules.UNIT)) == fees_cents


def test_the_board_table_is_the_readmes():
    readme = (ROOT / "README.md").read_text()
    section = readme.split("### The exchanges' rules", 1)[1]
    rows = [line for line in section.splitlines() if line.startswith("| ")][1:]
    shown = {}
    for row in rows[:len(rules.BOARDS)]:
        cells = [cell.strip() for cell in row.strip("|").split("|")]
        shown[cells[0]] = cells[1:6]
    for board in rules.BOARDS:
        name = board.name.removeprefix("the ")
        sizes = (f"whole lots of {board.minimum}" if board.step == board.minimum else
                 f"at least {board.minimum}, then steps of {board.step}")
        assert shown[name[0].upper() + name[1:]] == [
            ", ".join(board.prefixes), f"±{board.limit_pct}%", f"±{board.st_limit_pct}%",
            sizes, f"{board.max_quantity:,}"], board


@pytest.mark.parametrize("code,pre_close,limits", [
    ("600000.SH", 100500, (90500, 110600)), ("300750.SZ", 123300, (98600, 148000)),
    ("688001.SH", 500000, (400000, 600000)), ("000001.SZ", 0, (0, 0)),
])
def test_limits_follow_the_board_band(code, pre_close, limits):
    assert rules.limits(code, pre_close) == limits
    assert veltrane.Book(book(code, pre_close, 0, 0)).high_limit == limits[1] / rules.UNIT
    assert veltrane.Book(book(code, pre_close, 0, 0))["nPreClose"] == pre_close

"""Paper trading through Ombrel and veltrane against the stand-ins' simulated
exchange (fixed seed), each session in a process of its own: the example
strategy, the fills against the book the strategy was shown, the account
against the fills, every refusal, cancels, the order numbers of both code
modes, and days chained through the venue's account report.
"""

from decimal import Decimal
import json
import os
import pathlib
import re
import subprocess
import sys

import pytest

HERE = pathlib.Path(__file__).resolve().parent
# The raw Ombrel strategy that examples/paper_strategy.py was written from.
EXAMPLE = HERE / "raw_paper_strategy.py"


def run(script, directory, *arguments, **variables):
    """Runs a script against the stand-ins (not the test doubles that this
    test process loads) in `directory`; returns its standard output."""
    environment = dict(os.environ)
    environment.pop("LD_LIBRARY_PATH", None)
    environment.update(VELTRANE_SIM_INSTRUMENTS="600000:10.52,000001:11.23",
                       VELTRANE_SIM_SESSIONS="0930-0940", VELTRANE_SIM_SPEED="100")
    for name, value in variables.items():  # None: not set, the default
        if value is None:
            environment.pop(name, None)
        else:
            environment[name] = value
    done = subprocess.run([sys.executable, str(script), *arguments], cwd=directory,
                          env=environment, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


NO_LATENCY = {f"VELTRANE_SIM_{kind}_LATENCY_MS": "0" for kind in ("FEED", "ORDER", "REPORT")}
# Shares of 600000 held from an earlier day: what the session's sells sell.
HELD = {"VELTRANE_SIM_POSITIONS": "600000:100000:10.00"}
# The session trades from the first snapshot of continuous trading on.
NO_AUCTIONS = {"VELTRANE_SIM_AUCTIONS": "off"}


def session(directory, password="demo", **variables):
    lines = run(HERE / "paper_session.py", directory, password,
                **{**NO_LATENCY, **HELD, **NO_AUCTIONS, **variables}).splitlines()
    return [json.loads(line) for line in lines if line.startswith("[")]


def cents(price):
    return int(price / 100 + 0.5)


def fees_of(amount, buy):
    """A broker's fees in cents of an order that traded `amount` cents: each
    rounded half up, commission 2.5 bp but at least 5.00, stamp duty 5 bp on
    sells, transfer fee 0.1 bp."""
    if amount == 0:
        return 0
    fee = lambda ppm: (amount * ppm + 500000) // 1000000
    return max(500, fee(250)) + (0 if buy else fee(500)) + fee(10)


def test_example_strategy_trades_and_sums_up(tmp_path):
    out = run(EXAMPLE, tmp_path, VELTRANE_SIM_SESSIONS="0930-1030", VELTRANE_SIM_SPEED="600")
    assert "summary:" in out, out
    held = {}
    for line in out.splitlines():
        words = line.split()
        if len(words) > 3 and words[1] in ("bought", "sold"):
            held[words[2]] = held.get(words[2], 0) + int(words[3]) * (
                1 if words[1] == "bought" else -1)
    assert held, out
    positions = out.split("positions:\n")[1].split("capital:")[0].split()
    assert dict(zip(positions[::2], map(int, positions[1::2]))) == {
        code: n for code, n in held.items() if n}
    assert ("chart: " in out) != ("matplotlib is not installed" in out)


def test_fills_money_refusals_and_cancels(tmp_path):
    events = session(tmp_path)
    books, last_trade, orders = {}, {}, {}
    inserts, cancels, ended = {}, {}, {}
    shares, cash, fills = {"600000.SH": 100000}, 100000000, 0
    for method, d, errorid, _ in events:
        if method == "RtnMarket":
            books[d["szWindCode"]] = (
                [[cents(p), v] for p, v in zip(d["nAskPrice"], d["nAskVol"]) if v > 0],
                [[cents(p), v] for p, v in zip(d["nBidPrice"], d["nBidVol"]) if v > 0])
        elif method == "RtnTransaction":
            buyer = d["nBSFlag"] == ord("B")
            for level in books[d["szWindCode"]][0 if buyer else 1]:
                if level[0] == cents(d["nPrice"]):
                    level[1] -= min(level[1], d["nVolume"])
            last_trade[d["szWindCode"]] = (cents(d["nPrice"]), buyer)
        elif method == "RtnRspOrderInsert":
            inserts[d["nReqID"]] = errorid
            if errorid == 0:
                assert not d["errDesc"].isdigit()
                orders[d["nOrderId"]] = {"buy": d["nTradeType"] == 1, "amount": 0,
                                         "limit": cents(d["nOrderPrice"])}
        elif method == "RtnRspOrderDelete":
            cancels[d["nReqID"]] = errorid
        elif method == "RtnOrderStatusChangeNotice" and d["nStatus"] in (6, -9):
            ended[d["nOrderId"]] = (d["nStatus"], len(cancels))
        elif method == "RtnOrderMatchNotice":
            order = orders[d["nOrderId"]]
            price, volume, buy = cents(d["nMatchPrice"]), d["nMatchVol"], order["buy"]
            side = books[d["szContractCode"]][0 if buy else 1]
            level = next((l for l in side if l[0] == price and l[1] >= volume), None)
            if level is not None:
                assert price <= order["limit"] if buy else price >= order["limit"]
                level[1] -= volume
            else:
                # After a trade through its price, or at it once the queue
                # ahead of it had traded.
                trade_price, buyer = last_trade[d["szContractCode"]]
                assert price == order["limit"], d
                assert (trade_price <= price and not buyer) if buy else (
                    trade_price >= price and buyer), d
            order["amount"] += price * volume
            shares[d["szContractCode"]] = shares.get(d["szContractCode"], 0) + (
                volume if buy else -volume)
            cash += -price * volume if buy else price * volume
            fills += 1
    assert fills > 2

    # A quantity or price of 0 or less never reaches the venue: veltrane refuses it.
    assert inserts == {10: 0, 11: 0, 12: 0, 13: 0, 14: 0, 20: 10, 21: 16, 23: 14,
                       24: 13, 26: 18, 27: 17}
    # The first buy is over before its cancel arrives, unless the market moved
    # away first (the strategy reacts on another thread than the venue's).
    first_buy = next(i for i, o in orders.items() if o["limit"] == max(
        o["limit"] for o in orders.values() if o["buy"]))
    filled_first = ended[first_buy][0] == 6 and ended[first_buy][1] <= 1
    assert cancels == {30: 0, 31: 21 if filled_first else 0, 32: 20}

    for order in orders.values():
        cash -= fees_of(order["amount"], order["buy"])
    held = {d["szContractCode"]: d["nPosition"] for m, d, _, _ in events
            if m == "RtnRspQryPosition" and d["szContractCode"]}
    assert held == {code: n for code, n in shares.items() if n}
    capital = events[-1][1]
    assert capital["nAvailableCaptial"] == cash // 100


def test_the_same_session_every_run(tmp_path):
    """Lockstep delivery at full speed, with the default latencies: every event
    the same in each run, also beside a CPU-bound process. Only the stem of the
    venue's codes (taken from the clock) and where the closing queries' answers
    fall among the last events may differ."""
    def normalised(directory):
        events = [json.loads(re.sub(r'\b([SM])[0-9]+-', r'\1-', json.dumps(e)))
                  for e in session(directory, VELTRANE_SIM_SPEED="max",
                                   VELTRANE_SIM_SESSIONS="0930-0935",
                                   **dict.fromkeys(NO_LATENCY))]
        queries = ("RtnRspQryPosition", "RtnQryAccountMaxEntrustCount")
        return ([e for e in events if e[0] not in queries],
                [e for e in events if e[0] in queries])

    runs = []
    for run_number in range(3):
        directory = tmp_path / str(run_number)
        directory.mkdir()
        busy = None
        if run_number == 2:
            busy = subprocess.Popen([sys.executable, "-c", "while True: pass"])
        try:
            runs.append(normalised(directory))
        finally:
            if busy is not None:
                busy.kill()
                busy.wait()
    assert sum(e[0] == "RtnOrderMatchNotice" for e in runs[0][0]) > 2
    assert runs[1] == runs[0]
    assert runs[2] == runs[0]


@pytest.mark.parametrize("mode", ["text", "decimal"])
def test_order_numbers(tmp_path, mode):
    short = {"VELTRANE_SIM_SESSIONS": "0930-0931", "VELTRANE_SIM_ORDER_CODES": mode}
    first = session(tmp_path, **short)
    answers = [d for m, d, e, _ in first if m == "RtnRspOrderInsert" and e == 0]
    assert len(answers) == 5
    if mode == "decimal":
        assert all(str(d["nOrderId"]) == d["errDesc"] for d in answers)
        return
    # A second run on the same day numbers its orders after the first run's,
    # whose codes keep their numbers in the day's file.
    second = session(tmp_path, **short)
    numbered = [d["nOrderId"] for m, d, e, _ in second if m == "RtnRspOrderInsert" and e == 0]
    assert min(numbered) > max(d["nOrderId"] for d in answers)
    (day_file,) = tmp_path.glob("orders.temp.*")
    lines = set(day_file.read_text().splitlines())
    assert {f"{d['nOrderId']} {d['errDesc']}" for d in answers} <= lines


def test_days_chained_through_the_account_report(tmp_path):
    """The example strategy over two days, the second starting from the
    first's account report: each report agrees with the fills the strategy
    was told of, to the cent, and the second day starts where the first
    ended, selling shares the first day bought."""
    def fills_told(out):
        told = []
        for line in out.splitlines():
            words = line.split()
            if len(words) > 5 and words[1] in ("bought", "sold"):
                told.append((words[2].split(".")[0], "buy" if words[1] == "bought" else "sell",
                             Decimal(words[5]), int(words[3])))
        return told

    day = dict(VELTRANE_SIM_SESSIONS="0930-1030", VELTRANE_SIM_SPEED="max")
    reports, outputs = [], []
    # Seed 1 has the strategy buy 600000 on the first day, seed 3 sell it
    # on the second.
    for number, seed, start in (
            (1, 1, {"VELTRANE_SIM_POSITIONS": "600000:1000:10.40,000001:1000:11.10"}),
            (2, 3, {"VELTRANE_SIM_ACCOUNT_START": str(tmp_path / "day1.json")})):
        path = tmp_path / f"day{number}.json"
        outputs.append(run(EXAMPLE, tmp_path, VELTRANE_SIM_SEED=str(seed),
                           VELTRANE_SIM_ACCOUNT_REPORT=str(path), **day, **start))
        reports.append(json.loads(path.read_text(), parse_float=Decimal))

    for out, report in zip(outputs, reports):
        assert "rejected" not in out, out
        assert [(f["code"], f["side"], f["price"], f["quantity"])
                for f in report["fills"]] == fills_told(out)
        cash = report["start"]["cash"]
        held = {p["code"]: p["quantity"] for p in report["start"]["positions"]}
        sold = {}
        for fill in report["fills"]:
            buy = fill["side"] == "buy"
            assert fill["amount"] == fill["price"] * fill["quantity"]
            cash += -fill["amount"] - fill["fees"] if buy else fill["amount"] - fill["fees"]
            held[fill["code"]] = held.get(fill["code"], 0) + (
                fill["quantity"] if buy else -fill["quantity"])
            if not buy:
                sold[fill["code"]] = sold.get(fill["code"], 0) + fill["quantity"]
        assert report["cash"] == cash
        assert {p["code"]: p["quantity"] for p in report["positions"]} == {
            code: n for code, n in held.items() if n}
        # T+1: no day sells more than it began with.
        start = {p["code"]: p["quantity"] for p in report["start"]["positions"]}
        assert all(n <= start.get(code, 0) for code, n in sold.items()), (sold, start)
        fees = report["fees"]
        assert fees["total"] == sum(f["fees"] for f in report["fills"]) == (
            fees["commission"] + fees["stamp_duty"] + fees["transfer_fee"])
        for order in report["orders"]:
            cents_traded = int(order["traded_amount"] * 100)
            assert order["fees"]["total"] * 100 == fees_of(cents_traded, order["side"] == "buy")
        # The strategy's own summary: the position query and the capital.
        printed = out.split("positions:\n")[1].split("capital:")[0].split()
        assert {code.split(".")[0]: int(n) for code, n in zip(printed[::2], printed[1::2])} == {
            p["code"]: p["quantity"] for p in report["positions"]}
        assert int(out.split("capital: ")[1].split()[0]) == int(report["cash"])

    first, second = reports
    assert second["start"]["cash"] == first["cash"]
    assert second["start"]["positions"] == [
        {"code": p["code"], "quantity": p["quantity"], "cost": p["cost"]}
        for p in first["positions"]]
    bought_first = {f["code"] for f in first["fills"] if f["side"] == "buy"}
    sold_second = {f["code"] for f in second["fills"] if f["side"] == "sell"}
    assert bought_first & sold_second, (bought_first, sold_second)

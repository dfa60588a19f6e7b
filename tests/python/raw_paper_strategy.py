"""raw_paper_strategy: a small trend-following strategy on raw Ombrel, paper trading
against the simulated exchange of the stand-ins.

It subscribes to three stocks, buys up to 1000 shares at the best ask when a
fast average of the mid price rises above a slow one, and sells at the best
bid when it falls below, one order at a time per stock. Shares settle the
next day (T+1), so it sells only what it held when the day began; what it
buys today it may sell tomorrow. When the market falls quiet (the simulated
day is over), or after a minute, it queries its positions and capital,
prints a summary (with the day's fees when the simulated venue writes an
account report) and, where matplotlib is installed, draws the prices with its
buys and sells into paper_strategy.png.

Events are delivered in lockstep with the simulated exchange, so a run gives
the same trades every time. Run it with scripts/demo, which shortens the
simulated day, or by hand:
    VELTRANE_SIM_SESSIONS=0930-1000 VELTRANE_SIM_SPEED=120 \\
    PYTHONPATH=build/Ombrel /usr/bin/python3 tests/python/raw_paper_strategy.py

The same script runs unchanged under scripts/backtest, which reads PARAMS
and CODES, puts each parameter set into PARAMS, and drives a Strategy
through the days itself (start, the day, finish) instead of main().
"""

import json
import os
import sys
import threading
import time

import Ombrel

# The parameters: the weights of the fast and the slow average of the mid
# price, how far apart they must be to trade, and the most shares held.
PARAMS = {"fast": 0.3, "slow": 0.05, "band": 0.0005, "lot": 1000}
CODES = ["600000.SH", "000001.SZ", "601318.SH"]
FINISHED = (6, -8, -9)  # filled, rejected, cancelled or expired

# Hard limits that veltrane checks before an order reaches the broker: far
# above what this strategy means to do (one order of at most 1000 shares per
# stock at a time, a few orders a day), so only a bug meets them.
RISK_LIMITS = {
    "max_orders_per_second": 20,
    "max_orders_per_day": 2000,
    "max_cancels_per_day": 2000,
    "max_order_quantity": 2000,
    "max_order_value": 200000,  # yuan
    "max_working_orders": 6,
    "max_working_orders_per_code": 2,
    "price_band": 0.02,  # 2% from the last traded price
    "refuse_self_cross": True,
    "max_position_per_code": 3000,
}


class Stock:
    def __init__(self):
        self.fast = self.slow = None
        self.position = 0
        self.sellable = 0  # held when the day began, less what was sold since
        self.pending = False  # an order is working; wait for its end
        self.prices = []  # (time of day in hours, mid price)
        self.fills = []  # (time of day in hours, price, "buy" or "sell")


def hours(text):
    """'2026-12-08 09:31:03.000000' or '09:31:03.000' -> hours after midnight."""
    clock = text.split(" ")[-1]
    h, m, s = clock.split(":")
    return int(h) + int(m) / 60 + float(s) / 3600


class Strategy(Ombrel.QuantCallBack):
    """Each method runs on Ombrel's dispatcher thread, one event at a time; the
    event's data are in self.rspdict, self.errorid and self.isend."""

    def __init__(self):
        Ombrel.QuantCallBack.__init__(self)
        Ombrel.SetRiskLimits(RISK_LIMITS)
        self.fast, self.slow, self.band = PARAMS["fast"], PARAMS["slow"], PARAMS["band"]
        self.lot = PARAMS["lot"]
        self.stocks = {code: Stock() for code in CODES}
        self.next_request = 100
        self.orders = 0
        self.fill_count = 0
        self.capital = []  # (available, total) per answer
        self.positions = {}
        self.positions_done = False
        self.last_market = None
        self.answered = threading.Condition()

    # Answers this strategy has no use for; Ombrel calls a method for every
    # event, so each needs one.
    def RtnConnect(self):
        pass

    RtnUserInfo = RtnRspSubQuote = RtnRspOrderInsert = RtnRspOrderDelete = RtnConnect
    RtnDisconnect = RtnRspQryOrder = RtnRspQryMatch = RtnTransaction = RtnConnect

    def RtnLoginWarn(self):
        print(f"login refused: status {self.rspdict.get('pInfo')}")

    def RtnMarket(self):
        book = self.rspdict
        self.last_market = time.monotonic()
        bid, ask = book["nBidPrice"][0], book["nAskPrice"][0]
        # A call auction's snapshot shows its indicative price on both sides:
        # no book to trade against yet.
        if bid <= 0 or ask <= bid or book["szWindCode"] not in self.stocks:
            return
        stock = self.stocks[book["szWindCode"]]
        mid = (bid + ask) / 2
        stock.prices.append((hours(book["szDatetime"]), mid / 10000))
        if stock.slow is None:
            stock.fast = stock.slow = mid
        stock.fast += self.fast * (mid - stock.fast)
        stock.slow += self.slow * (mid - stock.slow)
        if stock.pending:
            return
        if stock.position < self.lot and stock.fast > stock.slow * (1 + self.band):
            self.place(book["szCode"], 1, ask, (self.lot - stock.position) // 100 * 100, stock)
        elif stock.sellable > 0 and stock.fast < stock.slow * (1 - self.band):
            self.place(book["szCode"], 2, bid, stock.sellable, stock)

    def place(self, code, trade_type, price, volume, stock):
        self.next_request += 1
        result = Ombrel.PyQuantApi.OrderInsert(
            {"nReqId": self.next_request, "szContractCode": code, "nTradeType": trade_type,
             "nOrderPrice": price, "nOrderVol": volume})
        if result == 0:
            stock.pending = True
            self.orders += 1
        elif result == -1:
            print(Ombrel.RiskStatus()["last_refusal"])

    def RtnOrderMatchNotice(self):
        match = self.rspdict
        stock = self.stocks.setdefault(match["szContractCode"], Stock())
        buy = match["nTradeType"] == 1
        stock.position += match["nMatchVol"] if buy else -match["nMatchVol"]
        if not buy:
            stock.sellable -= match["nMatchVol"]
        price = match["nMatchPrice"] / 10000
        stock.fills.append((hours(match["szMatchTime"]), price, "buy" if buy else "sell"))
        self.fill_count += 1
        print(f"{match['szMatchTime']} {'bought' if buy else 'sold  '} "
              f"{match['szContractCode']} {match['nMatchVol']} @ {price:.2f} "
              f"(order {match['nOrderId']})")

    def RtnOrderStatusChangeNotice(self):
        order = self.rspdict
        if order["nStatus"] in FINISHED and order["szContractCode"] in self.stocks:
            self.stocks[order["szContractCode"]].pending = False
        if order["nStatus"] == -8:
            print(f"order rejected: {order['errDesc']}")

    def RtnRspQryPosition(self):
        row = self.rspdict
        with self.answered:
            if row["szContractCode"]:
                self.positions[row["szContractCode"]] = row["nPosition"]
            if self.isend:
                self.positions_done = True
                self.answered.notify_all()

    def RtnQryAccountMaxEntrustCount(self):
        with self.answered:
            self.capital.append((self.rspdict["nAvailableCaptial"],
                                 self.rspdict["nTotalCaptial"]))
            self.answered.notify_all()

    def await_answers(self, done):
        with self.answered:
            return self.answered.wait_for(done, timeout=5)

    def start(self):
        """After the login: what the account held when the day began may be
        sold today. False when the trade gateway does not answer."""
        Ombrel.PyQuantApi.QryAccountMaxEntrustCount({"nReqId": 1})
        Ombrel.PyQuantApi.QryPosition({"nReqId": 0})
        if not self.await_answers(lambda: len(self.capital) == 1 and self.positions_done):
            print("no answer from the trade gateway")
            return False
        for code, quantity in self.positions.items():
            stock = self.stocks.setdefault(code, Stock())
            stock.position = stock.sellable = quantity
        self.positions, self.positions_done = {}, False
        return True

    def finish(self):
        """Once the day is over: the account as it stands, and a summary."""
        Ombrel.PyQuantApi.QryPosition({"nReqId": 3})
        Ombrel.PyQuantApi.QryAccountMaxEntrustCount({"nReqId": 4})
        self.await_answers(lambda: self.positions_done and len(self.capital) == 2)
        start, end = self.capital[0][1], self.capital[-1]
        print(f"\nsummary: {self.orders} orders, {self.fill_count} fills")
        print("positions:")
        for code, quantity in sorted(self.positions.items()):
            print(f"  {code} {quantity}")
        if not self.positions:
            print("  none")
        print(f"capital: {end[0]} available, {end[1]} total; profit and loss {end[1] - start}")

    def wait_for_the_close(self):
        """Until no market event has come for two seconds, or a minute."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            time.sleep(0.2)
            if self.last_market is not None and time.monotonic() - self.last_market > 2:
                return


def draw(strategy, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no chart")
        return
    figure, axes = plt.subplots(len(CODES), 1, figsize=(10, 3 * len(CODES)), sharex=True)
    for axis, code in zip(axes, CODES):
        stock = strategy.stocks[code]
        if stock.prices:
            axis.plot(*zip(*stock.prices), linewidth=0.8, label="mid price")
        for side, marker, colour in (("buy", "^", "green"), ("sell", "v", "red")):
            points = [(t, p) for t, p, s in stock.fills if s == side]
            if points:
                axis.scatter(*zip(*points), marker=marker, color=colour, s=60, label=side,
                             zorder=3)
        axis.set_title(code)
        axis.set_ylabel("yuan")
        axis.legend(loc="upper left", fontsize="small")
    axes[-1].set_xlabel("hours after midnight (exchange time)")
    figure.tight_layout()
    figure.savefig(path)
    print(f"chart: {os.path.abspath(path)}")


def print_fees(report_path):
    """The day's fees, from the account report the simulated venue writes at
    the close (paper trading only: a broker reports fees its own way)."""
    if not report_path or not os.path.exists(report_path):
        return
    with open(report_path) as report:
        fees = json.load(report)["fees"]
    print(f"fees: {fees['total']:.2f} (commission {fees['commission']:.2f}, stamp duty "
          f"{fees['stamp_duty']:.2f}, transfer fee {fees['transfer_fee']:.2f})")


def main():
    user, password = (sys.argv[1], sys.argv[2]) if len(sys.argv) == 3 else ("demo", "demo")
    # The simulated exchange waits for each event's handler, so the orders a
    # handler places are known before the market moves on: the same trades
    # every run. Not for a vendor's live feed, which may drop data meanwhile.
    Ombrel.SetEventQueueLimit(1)
    strategy = Strategy()
    api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(strategy, False, "", "")
    Ombrel.ZR_QuantApi_Python36.Init()
    api.Login(user, password)
    if not strategy.start():
        return 1
    Ombrel.PyQuantApi.ReqSubQuote(2, ["market"], [], CODES, "", "")
    strategy.wait_for_the_close()
    strategy.finish()
    print_fees(os.environ.get("VELTRANE_SIM_ACCOUNT_REPORT"))
    draw(strategy, "paper_strategy.png")
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""The veltrane strategy layer beside raw Ombrel, in one run; run by
scripts/bench against the do-nothing gateways.

Throughput: snapshots fired by a C++ thread into the module, delivered to
an empty RtnMarket (raw) and through the layer to an empty on_book.
Tick-to-trade: from the quote library's market-data callback to the order
placement, by a RtnMarket that calls OrderInsert (raw) and by an on_book
that calls self.buy, with the layer's checks of tick, limits, lot and cash.
"""

import statistics
import sys
import threading
import time

import Ombrel
import ombrel_bench

import veltrane
from veltrane.ledger import Ledger
from veltrane.session import Session, _callback_class

EVENTS = 200000
ROUNDS = 9
TICKS = 50000


class Raw(Ombrel.QuantCallBack):
    def __init__(self):
        Ombrel.QuantCallBack.__init__(self)
        self.ended = threading.Event()

    def RtnConnect(self):
        self.ended.set()

    def RtnMarket(self):
        pass


for _name in ("RtnDisconnect", "RtnUserInfo", "RtnLoginWarn", "RtnRspQryOrder", "RtnRspQryMatch",
              "RtnRspQryPosition", "RtnRspOrderInsert", "RtnRspOrderDelete",
              "RtnOrderStatusChangeNotice", "RtnOrderMatchNotice", "RtnRspSubQuote",
              "RtnTransaction", "RtnQryAccountMaxEntrustCount"):
    setattr(Raw, _name, lambda self: None)


class RawTrader(Raw):
    def RtnMarket(self):
        Ombrel.PyQuantApi.OrderInsert(
            {"nReqId": 1, "szContractCode": "600000", "nTradeType": 1,
             "nOrderPrice": self.rspdict["nAskPrice"][0], "nOrderVol": 100})


class Quiet(veltrane.Strategy):
    codes = ["600000.SH"]

    def on_book(self, book):
        pass


class Trader(veltrane.Strategy):
    codes = ["600000.SH"]

    def on_book(self, book):
        self.buy(book.code, 100, book.ask)
        # The do-nothing gateway never answers: forget the order, so that
        # every tick meets the same book of working orders.
        self._ledger.working.clear()
        self._ledger._by_request.clear()


def layer(strategy_class):
    """A running session of `strategy_class` without a login: the account
    as the queries would have given it, the end mark on OnConnect."""
    session = Session(strategy_class)
    session.Ombrel = Ombrel
    session.strategy = strategy_class()
    session.ledger = Ledger(strategy_class.fees, session._time_of)
    session.ledger.cash = 10 ** 15
    session.strategy._attach(session, {})
    session.on_book = session.strategy.on_book
    session.running = True
    callback = _callback_class(Ombrel)(session)
    callback.ended = threading.Event()
    callback.RtnConnect = callback.ended.set
    return callback


def rate(api, callback):
    callback.ended.clear()
    start = time.perf_counter()
    ombrel_bench.fire_markets(api, EVENTS)
    if not callback.ended.wait(120):
        sys.exit("the end mark did not arrive")
    return EVENTS / (time.perf_counter() - start)


def rates(callbacks):
    """Medians of rounds that take each callback in turn, so that both see
    the same machine (two cores; other work moves the figures)."""
    apis = [Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(cb, False, "", "") for cb in callbacks]
    rounds = [[] for _ in callbacks]
    for _ in range(ROUNDS):
        for api, callback, found in zip(apis, callbacks, rounds):
            # A later factory call moves delivery to its callback.
            Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(callback, False, "", "")
            found.append(rate(api, callback))
    return [statistics.median(found) for found in rounds], \
        statistics.median(a / b for a, b in zip(*rounds))


def tick_to_trade(callback):
    api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(callback, False, "", "")
    latencies = ombrel_bench.tick_to_trade(TICKS, 20)
    if len(latencies) < TICKS:
        sys.exit(f"tick-to-trade: only {len(latencies)} of {TICKS} orders arrived")
    del api
    return latencies


def main():
    Ombrel.ZR_QuantApi_Python36.Init()
    print(f"Python {sys.version.split()[0]}; {EVENTS} snapshots per round, median of "
          f"{ROUNDS} rounds; tick-to-trade over {TICKS} snapshots")
    (raw, through), ratio = rates([Raw(), layer(Quiet)])
    print(f"snapshots per second: raw RtnMarket {raw:10.0f}, on_book {through:10.0f}; "
          f"cost ratio {ratio:.2f} (median of the rounds' ratios)")
    for label, callback in (("raw RtnMarket -> OrderInsert", RawTrader()),
                            ("on_book -> self.buy", layer(Trader))):
        latencies = tick_to_trade(callback)
        median = latencies[len(latencies) // 2] / 1000
        p99 = latencies[len(latencies) * 99 // 100] / 1000
        print(f"tick-to-trade, {label:30} median {median:6.1f} us, 99th percentile "
              f"{p99:6.1f} us")


main()

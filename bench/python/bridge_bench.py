"""Benchmarks of Ombrel's event bridge; run by scripts/bench.

Throughput: events fired by a C++ thread straight into the module's spi and
delivered to an empty Python method, beside a pure-Python loop that builds
the same dictionary and calls the same method; then snapshots of ten codes
whose books move from event to event, so that few values repeat. A burst: one producer thread
fires a million snapshots as fast as it can, far ahead of the dispatcher, and
the process's peak resident memory is printed after it. Tick-to-trade: from the quote
library's market-data callback to the order placement made by a RtnMarket
that calls OrderInsert, on idle cores and then while two CPU-bound processes
run beside it at normal priority.
"""

import ctypes
import datetime
import resource
import statistics
import subprocess
import sys
import threading
import time

import Ombrel
import ombrel_bench

EVENTS = 200000
ROUNDS = 5
TICKS = 100000
BURST = 1000000


class Empty(Ombrel.QuantCallBack):
    def __init__(self):
        Ombrel.QuantCallBack.__init__(self)
        self.ended = threading.Event()

    def RtnConnect(self):
        self.ended.set()

    def RtnMarket(self):
        pass

    def RtnRspOrderInsert(self):
        pass


for _name in ("RtnDisconnect", "RtnUserInfo", "RtnLoginWarn", "RtnRspQryOrder", "RtnRspQryMatch",
              "RtnRspQryPosition", "RtnRspOrderDelete", "RtnOrderStatusChangeNotice",
              "RtnOrderMatchNotice", "RtnRspSubQuote", "RtnTransaction",
              "RtnQryAccountMaxEntrustCount"):
    setattr(Empty, _name, lambda self: None)


class Trader(Empty):
    ORDER = {"nReqId": 1, "szContractCode": "600000", "nTradeType": 1, "nOrderPrice": 0,
             "nOrderVol": 100}

    def RtnMarket(self):
        order = dict(self.ORDER, nOrderPrice=self.rspdict["nAskPrice"][0])
        Ombrel.PyQuantApi.OrderInsert(order)


# The records the C++ side fires, as a pure-Python program would hold them.
MARKET = dict(szWindCode=b"600000.SH", szCode=b"600000", nTime=93000120, nPreClose=122000,
              nOpen=122500, nHigh=125000, nLow=121000, nMatch=123400, iVolume=25000000,
              iTurnover=3085000002500, nAskPrice=[123500 + 100 * i for i in range(10)],
              nAskVol=[1100 + 100 * i for i in range(10)],
              nBidPrice=[123400 - 100 * i for i in range(10)],
              nBidVol=[2100 + 100 * i for i in range(10)])
INSERT = dict(nReqID=7, szContractCode=b"600000.SH", nTradeType=2, nOrderId=12345,
              nOrderPrice=123400, nOrderVol=300, nStatus=0, errDesc=b"A0000123")


def limit(preclose, factor):
    hundreds = ctypes.c_float(preclose * factor / 100.0).value
    rounded = ctypes.c_float(int(hundreds + 0.5) if hundreds >= 0 else -int(-hundreds + 0.5)).value
    return int(ctypes.c_float(rounded * 100).value)


def python_markets(cb, count):
    r = MARKET
    d = cb.rspdict
    for _ in range(count):
        d.clear()
        d["szType"] = "stock"
        d["szWindCode"] = r["szWindCode"].decode()
        d["szCode"] = r["szCode"].decode()
        t = "%09d" % r["nTime"]
        d["szDatetime"] = "%s %s:%s:%s.%s000" % (datetime.date.today().isoformat(), t[0:2],
                                                  t[2:4], t[4:6], t[6:9])
        d["nPreClose"] = r["nPreClose"]
        d["nOpen"] = r["nOpen"]
        d["nHigh"] = r["nHigh"]
        d["nLow"] = r["nLow"]
        d["nMatch"] = r["nMatch"]
        d["nHighLimited"] = limit(r["nPreClose"], 1.1)
        d["nLowLimited"] = limit(r["nPreClose"], 0.9)
        d["iVolume"] = r["iVolume"]
        d["iTurnover"] = r["iTurnover"] / 10000.0
        d["nAskPrice"] = list(r["nAskPrice"])
        d["nAskVol"] = list(r["nAskVol"])
        d["nBidPrice"] = list(r["nBidPrice"])
        d["nBidVol"] = list(r["nBidVol"])
        cb.errorid = 0
        cb.isend = True
        cb.RtnMarket()


def python_insert_answers(cb, count):
    r = INSERT
    d = cb.rspdict
    for _ in range(count):
        d.clear()
        d["nReqID"] = r["nReqID"]
        d["szContractCode"] = r["szContractCode"].decode()
        d["nTradeType"] = r["nTradeType"]
        d["nOrderId"] = r["nOrderId"]
        d["nOrderPrice"] = r["nOrderPrice"]
        d["nOrderVol"] = r["nOrderVol"]
        d["nStatus"] = r["nStatus"]
        d["errDesc"] = r["errDesc"].decode()
        cb.errorid = 0
        cb.isend = True
        cb.RtnRspOrderInsert()


def bridge_rate(cb, api, fire):
    rates = []
    for _ in range(ROUNDS):
        cb.ended.clear()
        start = time.perf_counter()
        fire(api, EVENTS)
        if not cb.ended.wait(120):
            sys.exit("the end mark did not arrive")
        rates.append(EVENTS / (time.perf_counter() - start))
    return statistics.median(rates)


def python_rate(cb, loop):
    rates = []
    for _ in range(ROUNDS):
        start = time.perf_counter()
        loop(cb, EVENTS)
        rates.append(EVENTS / (time.perf_counter() - start))
    return statistics.median(rates)


def main():
    cb = Empty()
    api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(cb, False, "", "")
    Ombrel.ZR_QuantApi_Python36.Init()
    print(f"Python {sys.version.split()[0]}; {EVENTS} events per round, median of {ROUNDS} rounds")
    print(f"{'events per second':28} {'bridge':>10} {'pure Python':>12} {'ratio':>6}")
    for label, fire, loop in (("RtnMarket", ombrel_bench.fire_markets, python_markets),
                              ("RtnRspOrderInsert", ombrel_bench.fire_insert_answers,
                               python_insert_answers)):
        bridge = bridge_rate(cb, api, fire)
        pure = python_rate(cb, loop)
        print(f"{label:28} {bridge:10.0f} {pure:12.0f} {bridge / pure:6.2f}")
    varied = bridge_rate(cb, api, ombrel_bench.fire_varied_markets)
    print(f"{'RtnMarket, ten moving books':28} {varied:10.0f}")

    cb.ended.clear()
    start = time.perf_counter()
    produced = ombrel_bench.fire_markets(api, BURST)
    if not cb.ended.wait(600):
        sys.exit("the end mark of the burst did not arrive")
    delivered = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"burst of {BURST} snapshots: queued at {BURST / produced:.0f} per second, delivered "
          f"at {BURST / delivered:.0f} per second; peak RSS {peak:.0f} MiB")

    trader = Trader()
    api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(trader, False, "", "")
    for cores, hogs in (("idle", 0), ("busy", 2)):
        spinning = [subprocess.Popen([sys.executable, "-c", "while True: pass"])
                    for _ in range(hogs)]
        try:
            latencies = ombrel_bench.tick_to_trade(TICKS, 20)
        finally:
            for hog in spinning:
                hog.kill()
                hog.wait()
        if len(latencies) < TICKS:
            sys.exit(f"tick-to-trade: only {len(latencies)} of {TICKS} orders arrived")
        median = latencies[len(latencies) // 2] / 1000
        p99 = latencies[len(latencies) * 99 // 100] / 1000
        print(f"tick-to-trade over {TICKS} snapshots, {cores} cores ({hogs} CPU-bound "
              f"processes beside): median {median:.1f} us, 99th percentile {p99:.1f} us, "
              f"max {latencies[-1] / 1000:.1f} us")
    del api


main()

"""A paper-trading session through Ombrel against the stand-ins, run by
test_paper_trading.py in a process of its own (the process holds one
simulated exchange). It prints every event it receives as one JSON line:
[method, rspdict, errorid, isend].

On the first snapshot of 600000 it buys through the asks twice, buys below
the bids (that order rests) and sends one order for each reason the venue
refuses; on the tenth it sells shares held from an earlier day (the test
gives the account some) at the bid and at the ask and cancels the resting
buy, the first (filled) buy and an order number never given. After
the closing snapshot and the end of every order it queries positions and
capital. Events are delivered in lockstep with the exchange, so that the
session runs the same way every time. Usage: paper_session.py PASSWORD
"""

import json
import os
import sys
import threading

import Ombrel

# The closing snapshot's time: the end of the last session, "0930-0940" -> 09:40:00.
_END = os.environ["VELTRANE_SIM_SESSIONS"].split("-")[-1]
CLOSING = f"{_END[:2]}:{_END[2:4]}:{_END[4:6] or '00'}"
DEADLINE = 30.0
ENDED = (6, -9)  # filled; cancelled or expired


class Session(Ombrel.QuantCallBack):
    def __init__(self):
        Ombrel.QuantCallBack.__init__(self)
        self.events = []
        self.changed = threading.Condition()
        self.snapshots = 0
        self.order_ids = {}  # request number -> order number

    def record(self, method):
        with self.changed:
            self.events.append([method, dict(self.rspdict), self.errorid, self.isend])
            self.changed.notify_all()

    def wait(self, done):
        with self.changed:
            if not self.changed.wait_for(lambda: done(self.events), DEADLINE):
                sys.exit(f"timed out after {len(self.events)} events")

    def RtnMarket(self):
        self.record("RtnMarket")
        book = self.rspdict
        if book["szWindCode"] != "600000.SH":
            return
        self.snapshots += 1
        ask, bid = book["nAskPrice"][0], book["nBidPrice"][0]
        if self.snapshots == 1:
            for request in (
                    (10, "600000", 1, ask + 200, 60000), (13, "600000", 1, ask + 100, 20000),
                    (11, "600000", 1, 98000, 1000),
                    (20, "999999", 1, 100000, 100), (21, "600000", 1, ask, 150),
                    (23, "600000", 1, 200000, 100), (24, "600000", 1, 100005, 100),
                    (26, "000001", 2, 112300, 100), (27, "600000", 1, ask, 1000000)):
                self.place(*request)
        elif self.snapshots == 10:
            self.place(12, "600000", 2, bid, 40000)
            self.place(14, "600000", 2, ask, 40000)
            for request, order_id in ((30, self.order_ids[11]), (31, self.order_ids[10]),
                                      (32, 999999)):
                Ombrel.PyQuantApi.OrderDelete({"nReqId": request, "nOrderId": order_id})

    def place(self, request, code, trade_type, price, volume):
        Ombrel.PyQuantApi.OrderInsert(
            {"nReqId": request, "szContractCode": code, "nTradeType": trade_type,
             "nOrderPrice": price, "nOrderVol": volume})

    def RtnRspOrderInsert(self):
        self.record("RtnRspOrderInsert")
        self.order_ids[self.rspdict["nReqID"]] = self.rspdict["nOrderId"]


for _name in ("RtnConnect", "RtnUserInfo", "RtnLoginWarn", "RtnRspQryPosition",
              "RtnRspOrderDelete", "RtnOrderStatusChangeNotice", "RtnOrderMatchNotice",
              "RtnRspSubQuote", "RtnTransaction", "RtnQryAccountMaxEntrustCount"):
    setattr(Session, _name, lambda self, _method=_name: self.record(_method))


def main():
    Ombrel.SetEventQueueLimit(1)
    session = Session()
    api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(session, False, "", "")
    Ombrel.ZR_QuantApi_Python36.Init()
    api.Login("demo", sys.argv[1])
    Ombrel.PyQuantApi.ReqSubQuote(1, ["market", "transaction"], [], ["600000.SH", "000001.SZ"],
                                  "", "")
    session.wait(lambda events: sum(
        e[0] == "RtnMarket" and CLOSING in e[1]["szDatetime"] for e in events) == 2)
    accepted = sum(e[0] == "RtnRspOrderInsert" and e[2] == 0 for e in session.events)
    session.wait(lambda events: sum(
        e[0] == "RtnOrderStatusChangeNotice" and e[1]["nStatus"] in ENDED
        for e in events) == accepted)
    Ombrel.PyQuantApi.QryPosition({"nReqId": 40})
    Ombrel.PyQuantApi.QryAccountMaxEntrustCount({"nReqId": 41})
    session.wait(lambda events: events[-1][0] == "RtnQryAccountMaxEntrustCount")
    for event in session.events:
        print(json.dumps(event))


main()

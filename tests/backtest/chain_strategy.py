"""A strategy for the backtest tests: on a day that starts with no shares it
buys 100 of 600000 at the ask and, once filled, tries to sell them at once
(refused: they settle tomorrow); on a day that starts with shares it sells
them. With explode=1 its handler raises on every snapshot of a day that
starts with shares: the day runs on, with status "error"."""

import threading

import Ombrel

PARAMS = {"explode": 0}
CODES = ["600000.SH"]


class Strategy(Ombrel.QuantCallBack):
    def __init__(self):
        Ombrel.QuantCallBack.__init__(self)
        self.explode = PARAMS["explode"]
        self.held = None  # shares held when the day began
        self.sent = False
        self.answered = threading.Event()

    def RtnConnect(self):
        pass

    RtnUserInfo = RtnRspSubQuote = RtnOrderStatusChangeNotice = RtnConnect
    RtnQryAccountMaxEntrustCount = RtnDisconnect = RtnLoginWarn = RtnRspQryOrder = RtnConnect
    RtnRspQryMatch = RtnRspOrderInsert = RtnRspOrderDelete = RtnTransaction = RtnConnect

    def RtnRspQryPosition(self):
        self.held = self.held or 0
        if self.rspdict["szContractCode"] == CODES[0]:
            self.held = self.rspdict["nPosition"]
        if self.isend:
            self.answered.set()

    def start(self):
        Ombrel.PyQuantApi.QryPosition({"nReqId": 1})
        return self.answered.wait(10)

    def order(self, side, price, volume):
        Ombrel.PyQuantApi.OrderInsert({"nReqId": 10 + side, "szContractCode": CODES[0][:6],
                                       "nTradeType": side, "nOrderPrice": price,
                                       "nOrderVol": volume})

    def RtnMarket(self):
        book = self.rspdict
        bid, ask = book["nBidPrice"][0], book["nAskPrice"][0]
        if self.held and self.explode:
            raise RuntimeError("boom on a day that starts with shares")
        if self.sent or bid <= 0 or ask <= bid:
            return
        self.sent = True
        if self.held:
            self.order(2, bid, self.held)
        else:
            self.order(1, ask, 100)

    def RtnOrderMatchNotice(self):
        if self.rspdict["nTradeType"] == 1:  # bought: not sellable before tomorrow
            self.order(2, self.rspdict["nMatchPrice"], 100)

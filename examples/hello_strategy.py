"""hello_strategy: the smallest Python strategy on Ombrel. It creates the API
with a callback object, logs in, subscribes to a code, places one order and
queries its capital, printing every event that arrives within a second: the
simulated exchange's answers, its first snapshots and trades of 600000, and
the order's rejection (12.34 is above the day's limit).

Run it with scripts/demo, or by hand:
    PYTHONPATH=build/Ombrel /usr/bin/python3 examples/hello_strategy.py
"""

import threading

import Ombrel


class Strategy(Ombrel.QuantCallBack):
    """Prints every event. Each method runs on Ombrel's dispatcher thread, one
    event at a time; the event's data are in self.rspdict, self.errorid and
    self.isend."""

    def __init__(self):
        Ombrel.QuantCallBack.__init__(self)
        self.events = 0
        self.quiet = threading.Event()

    def show(self, name):
        self.events += 1
        print(f"{name}: {self.rspdict} errorid={self.errorid} isend={self.isend}")


for _name in ("RtnConnect", "RtnDisconnect", "RtnUserInfo", "RtnLoginWarn", "RtnRspQryOrder",
              "RtnRspQryMatch", "RtnRspQryPosition", "RtnRspOrderInsert", "RtnRspOrderDelete",
              "RtnOrderStatusChangeNotice", "RtnOrderMatchNotice", "RtnRspSubQuote",
              "RtnMarket", "RtnTransaction", "RtnQryAccountMaxEntrustCount"):
    setattr(Strategy, _name, lambda self, _name=_name: self.show(_name))


def main():
    strategy = Strategy()
    api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(strategy, False, "", "")
    Ombrel.ZR_QuantApi_Python36.Init()
    print(Ombrel.PyQuantApi.getVersion())
    print("Login:", api.Login("demo", "demo"))
    print("ReqSubQuote:", Ombrel.PyQuantApi.ReqSubQuote(1, ["market", "transaction"], [],
                                                        ["600000.SH"], "", ""))
    print("OrderInsert:", Ombrel.PyQuantApi.OrderInsert(
        {"nReqId": 2, "szContractCode": "600000", "nTradeType": 1, "nOrderPrice": 123400,
         "nOrderVol": 100}))
    print("QryAccountMaxEntrustCount:",
          Ombrel.PyQuantApi.QryAccountMaxEntrustCount({"nReqId": 3}))
    strategy.quiet.wait(1.0)
    print(f"{strategy.events} events received")


main()

"""A strategy for the backtest tests that makes one mistake, chosen by its
parameter, on the first snapshot it sees: it kills itself with a signal,
exits, loops for ever, takes more memory than a day may have, raises, or
leaves a child process running; "none" makes none."""

import ctypes
import os
import signal
import subprocess

import Ombrel

PARAMS = {"mistake": "none"}
CODES = ["600000.SH"]


class Strategy(Ombrel.QuantCallBack):
    def __init__(self):
        Ombrel.QuantCallBack.__init__(self)
        self.mistake = PARAMS["mistake"]
        self.made = False

    def RtnConnect(self):
        pass

    RtnDisconnect = RtnUserInfo = RtnLoginWarn = RtnRspQryOrder = RtnRspQryMatch = RtnConnect
    RtnRspQryPosition = RtnRspOrderInsert = RtnRspOrderDelete = RtnConnect
    RtnOrderStatusChangeNotice = RtnOrderMatchNotice = RtnRspSubQuote = RtnConnect
    RtnTransaction = RtnQryAccountMaxEntrustCount = RtnConnect

    def start(self):
        if self.mistake == "child":
            child = subprocess.Popen(["sleep", "600"])
            with open(os.environ["CHILD_PID_FILE"], "w") as out:
                out.write(str(child.pid))

    def RtnMarket(self):
        if self.made:
            return
        self.made = True
        if self.mistake == "sigkill":
            os.kill(os.getpid(), signal.SIGKILL)
        elif self.mistake == "sigsegv":
            ctypes.string_at(0)
        elif self.mistake == "exit":
            os._exit(7)
        elif self.mistake == "loop":
            while True:
                pass
        elif self.mistake == "memory":
            self.hoard = bytearray(1 << 31)
        elif self.mistake == "raise":
            raise ValueError("a handler's mistake")

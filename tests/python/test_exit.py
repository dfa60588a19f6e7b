"""Scripts end cleanly: at their end, on sys.exit, on an exception and on
Ctrl-C, with events still streaming in from a library thread, a child
Python process exits promptly with its normal status and without a crash."""

import os
import signal
import subprocess
import sys

import pytest

PROLOGUE = """
import sys, threading, time
import Ombrel, ombrel_driver as driver

class Strategy(Ombrel.QuantCallBack):
    def __init__(self):
        Ombrel.QuantCallBack.__init__(self)
        self.first = threading.Event()

    def RtnRspOrderInsert(self):
        self.first.set()
        time.sleep(SLOW)

strategy = Strategy()
api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(strategy, False, "", "")
driver.start_endless_stream()
assert strategy.first.wait(20), "no event arrived"
print("streaming", flush=True)
"""

# (case id, seconds each handler call takes, the script's ending, expected status)
ENDINGS = [
    ("end of script", 0, "", 0),
    ("sys.exit", 0, "sys.exit(3)", 3),
    ("uncaught exception", 0, "raise KeyError('boom')", 1),
    ("busy handler", 0.2, "", 0),
    ("producer held back by a queue limit", 0.2, "Ombrel.SetEventQueueLimit(1)", 0),
    ("api object deleted", 0, "del api", 0),
    ("Ctrl-C", 0, "while True: time.sleep(0.05)", -signal.SIGINT),
    ("Ctrl-C, busy handler", 0.2, "while True: time.sleep(0.05)", -signal.SIGINT),
]


@pytest.mark.parametrize("slow,ending,status", [c[1:] for c in ENDINGS],
                         ids=[c[0] for c in ENDINGS])
def test_script_exits_cleanly(slow, ending, status):
    script = f"SLOW = {slow}\n" + PROLOGUE + ending + "\n"
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, env=os.environ)
    try:
        assert child.stdout.readline() == "streaming\n"
        if status == -signal.SIGINT:
            child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)
    finally:
        child.kill()
    assert child.returncode == status, err
    assert "Fatal Python error" not in err and "Segmentation" not in err, err
    if status == -signal.SIGINT:
        assert "KeyboardInterrupt" in err

"""Shared pieces of the Ombrel tests: a callback object that records every
event it receives, and a fresh API object per test.

Events are fired through ombrel_driver on threads that hold no interpreter
lock; the tests wait for them with deadlines, never with blind sleeps.
"""

import collections
import glob
import os
import threading

import pytest

import Ombrel
import ombrel_driver as driver

DEADLINE = 20.0

RTN_METHODS = (
    "RtnConnect", "RtnDisconnect", "RtnUserInfo", "RtnLoginWarn", "RtnRspQryOrder",
    "RtnRspQryMatch", "RtnRspQryPosition", "RtnRspOrderInsert", "RtnRspOrderDelete",
    "RtnOrderStatusChangeNotice", "RtnOrderMatchNotice", "RtnRspSubQuote", "RtnMarket",
    "RtnTransaction", "RtnQryAccountMaxEntrustCount",
)

# What a handler saw: the method, the dict's items in order (values as they
# were), "errorid", "isend", and the thread it ran on.
Event = collections.namedtuple("Event", "method items errorid isend thread")


class Recorder(Ombrel.QuantCallBack):
    def __init__(self):
        Ombrel.QuantCallBack.__init__(self)
        self.events = []
        self.changed = threading.Condition()

    def record(self, method):
        # Lists copied: the module may refill a list that only rspdict holds.
        items = [(key, list(value) if isinstance(value, list) else value)
                 for key, value in self.rspdict.items()]
        event = Event(method, items, self.errorid, self.isend, threading.get_ident())
        with self.changed:
            self.events.append(event)
            self.changed.notify_all()

    def wait_for(self, count):
        """The first `count` events, once they have arrived."""
        with self.changed:
            arrived = self.changed.wait_for(lambda: len(self.events) >= count, DEADLINE)
        assert arrived, f"{len(self.events)} of {count} events within {DEADLINE} s"
        return self.events[:count]


for _name in RTN_METHODS:
    setattr(Recorder, _name, lambda self, _method=_name: self.record(_method))


class Session:
    """A recorder made the delivery target by a factory call, its API object,
    and the test doubles' log cleared."""

    def __init__(self, recorder=None):
        self.recorder = recorder or Recorder()
        self.api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(self.recorder, False, "", "")
        driver.reset()

    def fire(self, count, fire, *args):
        """Calls fire(*args) and returns the next `count` events."""
        already = len(self.recorder.events)
        fire(*args)
        return self.recorder.wait_for(already + count)[already:]


@pytest.fixture
def session():
    for stale in glob.glob("orders.temp.*"):
        os.remove(stale)
    return Session()


def typed(items):
    """Items with each value's type, so that 1 and 1.0 differ."""
    return [(key, type(value), value) for key, value in items]

"""The event bridge: order and completeness across producer threads, the
dispatcher thread, failing and missing handlers, and factory calls that move
delivery to another callback object."""

import re
import threading
import time

import pytest

import Ombrel
import ombrel_driver as driver
from conftest import Recorder, Session

P = Ombrel.PyQuantApi


def burst_ids(events):
    """Request ids of burst answers, per producer thread, in arrival order."""
    per_thread = {}
    for event in events:
        request = dict(event.items)["nReqID"]
        per_thread.setdefault(request // 1000000, []).append(request % 1000000)
    return per_thread


@pytest.mark.parametrize("threads,per_thread", [(1, 5000), (4, 5000), (8, 1000)])
def test_every_event_once_and_in_order(session, threads, per_thread):
    events = session.fire(threads * per_thread, driver.insert_burst, threads, per_thread)
    assert burst_ids(events) == {t: list(range(per_thread)) for t in range(threads)}
    assert {event.errorid for event in events} == {1}
    dispatchers = {event.thread for event in events}
    assert len(dispatchers) == 1 and threading.get_ident() not in dispatchers


class Failing(Recorder):
    """Raises from RtnRspOrderDelete on its first call; defines no RtnRspQryPosition
    of its own (only the one registered on QuantCallBack)."""

    RtnRspQryPosition = Ombrel.QuantCallBack.RtnRspQryPosition

    def __init__(self):
        Recorder.__init__(self)
        self.raised = False

    def RtnRspOrderDelete(self):
        if not self.raised:
            self.raised = True
            raise ValueError("handler failed on purpose")
        self.record("RtnRspOrderDelete")



@pytest.mark.parametrize("fire,message", [
    (lambda: driver.itg_cancel(1, 0, b"first"),
     r"in RtnRspOrderDelete:\nTraceback(.|\n)*ValueError: handler failed on purpose"),
    (lambda: driver.itg_position(1, 0, b"", b"600000", 1, 1),
     r"in RtnRspQryPosition:\n(.|\n)*TypeError: 'NoneType' object is not callable"),
])
def test_a_failing_handler_does_not_stop_delivery(capfd, fire, message):
    failing = Failing()
    s = Session(failing)
    fire()
    (event,) = s.fire(1, driver.itg_balance, 2, 0, b"", b"3", b"4")
    assert dict(event.items) == {"nAvailableCaptial": 3, "nTotalCaptial": 4}
    err = capfd.readouterr().err
    assert re.search("Exception in Ombrel's dispatcher thread, " + message, err), err


def test_a_handler_can_send_requests(session):
    class Trader(Recorder):
        def RtnRspOrderDelete(self):
            P.QryOrder({"nReqId": self.rspdict["nReqID"] + 100})
            self.record("RtnRspOrderDelete")

    s = Session(Trader())
    s.fire(1, driver.itg_cancel, 5, 0, b"")
    assert driver.calls() == [("LibITG_ReqQueryOrders", [105])]


def test_a_later_factory_call_takes_over_delivery(session):
    first = session.recorder
    session.fire(1, driver.itg_cancel, 1, 0, b"to first")
    second = Session()
    second.fire(2, lambda: (driver.itg_cancel(2, 0, b""), driver.itg_cancel(3, 0, b"")))
    assert [dict(e.items)["nReqID"] for e in first.events] == [1]
    assert [dict(e.items)["nReqID"] for e in second.recorder.events] == [2, 3]


def test_factory_calls_during_a_stream_lose_nothing(session):
    """Delivery moves from one object to the next while events stream in:
    each event reaches exactly one object, and each object a run of them."""
    total = 40000
    sessions = [session]
    producer = threading.Thread(target=driver.insert_burst, args=(2, total // 2))
    producer.start()
    for _ in range(5):
        sessions.append(Session())
    producer.join()
    recorders = [s.recorder for s in sessions]

    def delivered():
        return sum(len(r.events) for r in recorders)

    last = recorders[-1]
    with last.changed:
        assert last.changed.wait_for(lambda: delivered() >= total, 20.0), delivered()
    arrival = [e for r in recorders for e in r.events]
    assert len(arrival) == total
    assert burst_ids(arrival) == {t: list(range(total // 2)) for t in range(2)}


def test_a_handler_can_call_the_factory(session):
    successor = Recorder()
    kept = []

    class Handover(Recorder):
        def RtnRspOrderDelete(self):
            kept.append(Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(successor, False, "", ""))
            self.record("RtnRspOrderDelete")

    s = Session(Handover())
    s.fire(1, driver.itg_cancel, 1, 0, b"")
    driver.itg_cancel(2, 0, b"")
    (event,) = successor.wait_for(1)
    assert dict(event.items)["nReqID"] == 2
    assert len(s.recorder.events) == 1


def test_rejected_callback_objects(session):
    class NoBaseInit(Ombrel.QuantCallBack):
        def __init__(self):
            pass

    for rejected in (object(), NoBaseInit(), None):
        with pytest.raises(RuntimeError, match="^get API fetch callback object error$"):
            Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(rejected, False, "", "")
    (event,) = session.fire(1, driver.itg_cancel, 1, 0, b"still here")
    assert dict(event.items)["errDesc"] == "still here"


def test_handlers_replaced_on_the_class_or_the_object(session, capfd):
    class Replaced(Recorder):
        pass

    s = Session(Replaced())
    s.fire(1, driver.itg_cancel, 1, 0, b"")
    Replaced.RtnRspOrderDelete = lambda self: self.record("class replaced")
    s.fire(1, driver.itg_cancel, 2, 0, b"")
    s.recorder.RtnRspOrderDelete = lambda: s.recorder.record("object's own")
    s.fire(1, driver.itg_cancel, 3, 0, b"")
    del s.recorder.RtnRspOrderDelete
    Replaced.RtnRspOrderDelete = Ombrel.QuantCallBack.RtnRspOrderDelete
    driver.itg_cancel(4, 0, b"")
    s.fire(1, driver.itg_balance, 5, 0, b"", b"1", b"1")
    assert [e.method for e in s.recorder.events] == [
        "RtnRspOrderDelete", "class replaced", "object's own", "RtnQryAccountMaxEntrustCount"]
    assert "in RtnRspOrderDelete:\nTypeError: 'NoneType' object is not callable" in capfd.readouterr().err


class Slow(Ombrel.QuantCallBack):
    """Takes its time over each insert answer and counts it as handled."""

    def __init__(self, seconds):
        Ombrel.QuantCallBack.__init__(self)
        self.seconds = seconds

    def RtnRspOrderInsert(self):
        time.sleep(self.seconds)
        driver.note_handled()


@pytest.mark.parametrize("limit,seconds", [(1, 0), (1, 0.001), (3, 0.002), (16, 0.0005)])
def test_a_bounded_queue_holds_producers_back(limit, seconds):
    """With limit n a producer's call returns only once fewer than n events are
    outstanding: with 1, once its own event's handler has returned."""
    slow = Slow(seconds)
    api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(slow, False, "", "")
    Ombrel.SetEventQueueLimit(limit)
    try:
        seen = driver.watched_inserts(200)
    finally:
        Ombrel.SetEventQueueLimit(0)
    assert all(k + 1 - handled <= limit - 1 for k, handled in enumerate(seen)), seen
    del api


def test_the_queue_limit_is_checked():
    with pytest.raises(ValueError, match="0 or more"):
        Ombrel.SetEventQueueLimit(-1)
    with pytest.raises(TypeError):
        Ombrel.SetEventQueueLimit("1")

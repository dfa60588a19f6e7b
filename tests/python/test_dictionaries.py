"""The dictionary of every event code: keys in order, value types, and the
attributes errorid and isend, for events fired from the doubles' thread."""

import datetime
import re

import pytest

import ombrel_driver as driver
from conftest import typed


def market_time(text):
    """The time part of a szDatetime, after checking that its date is today's."""
    date, time = text.split(" ")
    assert date == datetime.date.today().isoformat()
    return time


# (case id, how to fire it, expected events: (method, items, errorid, isend)).
# A callable in place of items checks the items itself.
CASES = [
    ("login", lambda api: driver.itg_login(0, b"welcome"), [
        ("RtnConnect", [("nSrvType", 10)], 0, False),
        ("RtnUserInfo", [], 0, False),
    ]),
    ("login refused", lambda api: driver.itg_login(-3, b"bad password"), [
        ("RtnConnect", [("nSrvType", 10)], 0, False),
        ("RtnLoginWarn", [("pInfo", -3)], 0, False),
    ]),
    ("quote login", lambda api: driver.quote_login(0), [
        ("RtnConnect", [("nSrvType", 0)], 0, False),
        ("RtnUserInfo", [], 0, False),
    ]),
    ("user info", lambda api: driver.spi_user_info(api, -1, b"abc"), [
        ("RtnUserInfo", [("pInfo", -1), ("errDesc", "abc")], 0, False),
    ]),
    ("insert answer", lambda api: driver.itg_insert(7, 0, b"ok", b"600000", b"A1", 1, 12.34, 300), [
        ("RtnRspOrderInsert", [
            ("nReqID", 7), ("szContractCode", "600000.SH"), ("nTradeType", 2), ("nOrderId", 0),
            ("nOrderPrice", 123400), ("nOrderVol", 300), ("nStatus", 0), ("errDesc", "A1"),
        ], 0, True),
    ]),
    ("insert refused", lambda api: driver.itg_insert(8, 12, b"no cash", b"000001", b"", 2, 9.5, 100), [
        ("RtnRspOrderInsert", [
            ("nReqID", 8), ("szContractCode", "000001.SZ"), ("nTradeType", 1), ("nOrderId", 0),
            ("nOrderPrice", 95000), ("nOrderVol", 100), ("nStatus", 0), ("errDesc", "no cash"),
        ], 12, True),
    ]),
    ("cancel answer", lambda api: driver.itg_cancel(9, 4, b"too late"), [
        ("RtnRspOrderDelete", [("nReqID", 9), ("errDesc", "too late")], 4, True),
    ]),
    ("order rows", lambda api: [
        driver.itg_order(3, 0, b"q", b"600000", b"A1", 1, 12.34, 300, 12.3, 100, "5", b"09:30:01", 0),
        driver.itg_order(3, 6, b"q", b"600000", b"A2", 2, 12.5, 200, 0.0, 0, "2", b"09:30:02", 1),
    ], [
        ("RtnRspQryOrder", [
            ("nReqID", 3), ("szContractCode", "600000.SH"), ("nTradeType", 2), ("nOrderId", 0),
            ("nStatus", 5), ("nOrderPrice", 123400.0), ("nOrderVol", 300), ("nDealedVol", 100),
            ("nDealedPrice", 123000.0), ("szInsertTime", "09:30:01"), ("errDesc", "A1:q"),
        ], 0, False),
        ("RtnRspQryOrder", [
            ("nReqID", 3), ("szContractCode", "600000.SH"), ("nTradeType", 1), ("nOrderId", 1),
            ("nStatus", 2), ("nOrderPrice", 125000.0), ("nOrderVol", 200), ("nDealedVol", 0),
            ("nDealedPrice", 0.0), ("szInsertTime", "09:30:02"), ("errDesc", "q"),
        ], 6, True),
    ]),
    ("status notice", lambda api: driver.itg_order(0, 0, b"n", b"600000", b"A1", 1, 12.34, 300, 12.34, 300, "7", b"09:31:00", 2), [
        ("RtnOrderStatusChangeNotice", [
            ("szContractCode", "600000.SH"), ("nTradeType", 2), ("nOrderId", 0), ("nStatus", 6),
            ("nOrderPrice", 123400.0), ("nOrderVol", 300), ("nDealedVol", 300),
            ("nDealedPrice", 123400.0), ("szInsertTime", "09:31:00"), ("errDesc", "A1:n"),
        ], 0, True),
    ]),
    ("match row", lambda api: driver.itg_match(5, 0, b"m", b"600000", b"A1", b"M1", 1, 12.34, 100, b"09:30:05", 1), [
        ("RtnRspQryMatch", [
            ("nReqID", 5), ("szContractCode", "600000.SH"), ("nTradeType", 2), ("nOrderId", 0),
            ("nMatchPrice", 12.34 * 10000), ("nMatchVol", 100), ("szMatchTime", "09:30:05"),
            ("nMatchStreamId", 1), ("errDesc", "A1"),
        ], 0, True),
    ]),
    ("match notice", lambda api: driver.itg_match(0, 0, b"m", b"000001", b"B7", b"M9", 2, 9.5, 200, b"10:00:00", 2), [
        ("RtnOrderMatchNotice", [
            ("nReqID", 0), ("szContractCode", "000001.SZ"), ("nTradeType", 1), ("nOrderId", 0),
            ("nMatchPrice", 95000.0), ("nMatchVol", 200), ("szMatchTime", "10:00:00"),
            ("nMatchStreamId", 1), ("errDesc", "B7"),
        ], 0, True),
    ]),
    ("position rows", lambda api: [
        driver.itg_position(6, 0, b"p", b"600000", 300, 0),
        driver.itg_position(6, 0, b"p", b"000001", 5000, 1),
    ], [
        ("RtnRspQryPosition", [("nReqID", 6), ("szContractCode", "600000.SH"), ("nPosition", 300),
                               ("errDesc", "p")], 0, False),
        ("RtnRspQryPosition", [("nReqID", 6), ("szContractCode", "000001.SZ"), ("nPosition", 5000),
                               ("errDesc", "p")], 0, True),
    ]),
    ("subscription answer", lambda api: driver.quote_subscribe(11, 0, b"ok"), [
        ("RtnRspSubQuote", [("nReqID", 11), ("pSubWindCode", []), ("errDesc", "ok")], 0, True),
    ]),
    ("subscription refused", lambda api: driver.quote_subscribe(12, -5, b"no such code"), [
        ("RtnRspSubQuote", [("nReqID", 12), ("pSubWindCode", []), ("errDesc", "no such code")],
         -5, True),
    ]),
    ("subscription codes", lambda api: driver.spi_sub_quote(api, 13, [b"600000.SH", b"C" * 32], 0, b""), [
        ("RtnRspSubQuote", [("nReqID", 13), ("pSubWindCode", ["600000.SH", "C" * 32]),
                            ("errDesc", "")], 0, True),
    ]),
    ("capital", lambda api: driver.itg_balance(14, 0, b"c", b"1000.75", b"2500.5"), [
        ("RtnQryAccountMaxEntrustCount", [("nAvailableCaptial", 1000), ("nTotalCaptial", 2500)],
         0, True),
    ]),
    ("capital not last", lambda api: driver.spi_capital(api, 15, 1, 2, 3, False), [
        ("RtnQryAccountMaxEntrustCount", [("nAvailableCaptial", 1), ("nTotalCaptial", 2)], 3, True),
    ]),
    ("full texts", lambda api: driver.spi_full_texts(api), [
        ("RtnRspOrderInsert", [
            ("nReqID", 0), ("szContractCode", "C" * 64), ("nTradeType", 0), ("nOrderId", 0),
            ("nOrderPrice", 0), ("nOrderVol", 0), ("nStatus", 0), ("errDesc", "E" * 128),
        ], 0, True),
    ]),
    ("snapshot", lambda api: driver.quote_snapshot(21, 91500000, 12.34, 5000000000, 12345.6789), [
        ("RtnMarket", lambda items: items[:3] == [("szType", "stock"), ("szWindCode", "600000.SH"),
                                                   ("szCode", "600000")]
         and market_time(items[3][1]) == "09:15:00.000000"
         and typed(items[4:13]) == typed([
             ("nPreClose", 123400), ("nOpen", 122500), ("nHigh", 125000), ("nLow", 121000),
             ("nMatch", 123400), ("nHighLimited", 135700), ("nLowLimited", 111100),
             ("iVolume", 5000000000), ("iTurnover", 12345.6789)])
         and items[13:] == [("nAskPrice", [123500 + 100 * i for i in range(10)]),
                            ("nAskVol", [1100 + 100 * i for i in range(10)]),
                            ("nBidPrice", [123400 - 100 * i for i in range(10)]),
                            ("nBidVol", [2100 + 100 * i for i in range(10)])],
         0, True),
    ]),
    ("trade", lambda api: driver.quote_trade(22, 145959120, 12.34, 300, 1), [
        ("RtnTransaction", lambda items: items[:3] == [("szType", "transaction"),
                                                        ("szWindCode", "600000.SH"),
                                                        ("szCode", "600000")]
         and market_time(items[3][1]) == "14:59:59.120000"
         and typed(items[4:]) == typed([("nPrice", 123400), ("nVolume", 300), ("nTurnover", 3702),
                                        ("nBSFlag", 66)]),
         0, True),
    ]),
]


@pytest.mark.parametrize("fire,expected", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_event_dictionary(session, fire, expected):
    events = session.fire(len(expected), fire, session.api)
    for event, (method, items, errorid, isend) in zip(events, expected):
        assert (event.method, event.errorid, event.isend) == (method, errorid, isend)
        if callable(items):
            assert items(event.items), event.items
        else:
            assert typed(event.items) == typed(items)


@pytest.mark.parametrize("preclose,high,low", [
    (12.34, 135700, 111100),
    (10.0, 110000, 90000),
    (1.005, 11100, 9000),
])
def test_price_limits(session, preclose, high, low):
    (event,) = session.fire(1, driver.quote_snapshot, 1, 93000000, preclose, 1, 1)
    items = dict(event.items)
    assert (items["nHighLimited"], items["nLowLimited"]) == (high, low)


@pytest.mark.parametrize("ntime,expected", [
    (93000500, "09:30:00.500000"),
    (145959120, "14:59:59.120000"),
    (91500000, "09:15:00.000000"),
    (5000, "00:00:05.000000"),
    (0, "00:00:00.000000"),
])
def test_market_times(session, ntime, expected):
    (event,) = session.fire(1, driver.quote_trade, 1, ntime, 10.0, 100, 2)
    items = dict(event.items)
    assert market_time(items["szDatetime"]) == expected
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}", items["szDatetime"])
    assert items["nBSFlag"] == ord("S")


@pytest.mark.parametrize("raw,text", [
    ("委托成功".encode("utf-8"), "委托成功"),
    ("资金不足".encode("gbk"), "资金不足"),
    ("€ 成交".encode("gb18030"), "€ 成交"),
    (b"bad \x80\xff end", "bad \ufffd\ufffd end"),
])
def test_texts_in_any_encoding(session, raw, text):
    (event,) = session.fire(1, driver.itg_cancel, 1, 1, raw)
    assert dict(event.items)["errDesc"] == text


def test_login_warning_prints_a_line(session, capfd):
    session.fire(2, driver.itg_login, 7, b"")
    assert capfd.readouterr().out.endswith("Login Error \n")


def test_disconnection_never_reaches_python(session):
    driver.spi_disconnect(session.api)
    (event,) = session.fire(1, driver.itg_cancel, 1, 0, b"after")
    assert event.method == "RtnRspOrderDelete"
    assert session.recorder.events == [event]


def test_the_dict_is_one_object_refilled(session):
    seen = []

    class Keeps(session.recorder.__class__):
        def RtnRspOrderDelete(self):
            seen.append(self.rspdict)
            self.record("RtnRspOrderDelete")

    keeper = Keeps()
    from conftest import Session
    s = Session(keeper)
    s.fire(1, driver.itg_cancel, 1, 0, b"first")
    kept = seen[0]
    assert kept == {"nReqID": 1, "errDesc": "first"}
    s.fire(1, driver.itg_balance, 2, 0, b"", b"5", b"6")
    assert kept is keeper.rspdict
    assert kept == {"nAvailableCaptial": 5, "nTotalCaptial": 6}
    kept["extra"] = 1
    s.fire(1, driver.itg_cancel, 3, 0, b"again")
    assert list(kept.items()) == [("nReqID", 3), ("errDesc", "again")]


# What a handler may do to rspdict (or a list in it) after reading a
# snapshot; the next snapshot's dict must be whole all the same.
TAMPERING = [
    ("leaves it", lambda d: None),
    ("swaps a key for another", lambda d: (d.pop("nOpen"), d.update(extra=1))),
    ("replaces a value", lambda d: d.update(nMatch=None)),
    ("changes a level", lambda d: d["nAskPrice"].__setitem__(0, "x")),
    ("empties a level list", lambda d: d["nBidVol"].clear()),
    ("keeps a level list", lambda d: KEPT.append(d["nAskPrice"])),
]
KEPT = []


@pytest.mark.parametrize("name,tamper", TAMPERING, ids=[name for name, _ in TAMPERING])
def test_the_next_snapshot_is_whole_whatever_the_handler_did(session, name, tamper):
    class Tamperer(session.recorder.__class__):
        def RtnMarket(self):
            self.record("RtnMarket")
            if len(self.events) == 1:
                tamper(self.rspdict)

    from conftest import Session
    s = Session(Tamperer())
    KEPT.clear()
    s.fire(1, driver.quote_snapshot, 1, 93000000, 12.34, 100, 1000)
    kept = [list(levels) for levels in KEPT]
    s.fire(1, driver.quote_snapshot, 1, 93000003, 12.34, 200, 2000)
    first, second = (event.items for event in s.recorder.events)
    moved = {"szDatetime", "iVolume", "iTurnover"}
    assert [key for key, _ in second] == [key for key, _ in first]
    assert [kv for kv in second if kv[0] not in moved] == [kv for kv in first if kv[0] not in moved]
    # A list the script holds is never refilled.
    assert [list(levels) for levels in KEPT] == kept
    assert all(levels is not s.recorder.rspdict["nAskPrice"] for levels in KEPT)

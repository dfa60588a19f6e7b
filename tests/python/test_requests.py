"""Request functions: what reaches the gateway for each dictionary, the
readers' errors, the results handed back, and requests without an API
object."""

import gc
import os
import subprocess
import sys

import pytest

import Ombrel
import ombrel_driver as driver

P = Ombrel.PyQuantApi

ORDER = {"nReqId": 1, "szContractCode": "600000", "nTradeType": 1, "nOrderPrice": 123456.9,
         "nOrderVol": 100}


def order(**changes):
    request = dict(ORDER, **changes)
    return {key: value for key, value in request.items() if value is not KeyError}


class Price:
    """A number that is not a float: read through its __float__, as float() reads it."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Odd(dict):
    """A dict whose own get() and [] lie: the readers must not use them."""

    def get(self, key, default=None):
        return "lie"

    def __getitem__(self, key):
        return "lie"


# (case id, call, the gateway call it makes)
SENT = [
    ("insert", lambda: P.OrderInsert(order()),
     ("LibITG_ReqPlaceOrder", [1, b"", b"", b"600000", 2, b"12.345600", 100])),
    ("insert sell", lambda: P.OrderInsert(order(nOrderPrice=5.7, nTradeType=2)),
     ("LibITG_ReqPlaceOrder", [1, b"", b"", b"600000", 1, b"0.000500", 100])),
    ("insert price through __float__", lambda: P.OrderInsert(order(nOrderPrice=Price(123400.5))),
     ("LibITG_ReqPlaceOrder", [1, b"", b"", b"600000", 2, b"12.340000", 100])),
    ("insert int price", lambda: P.OrderInsert(order(nOrderPrice=123400, nReqId=True)),
     ("LibITG_ReqPlaceOrder", [1, b"", b"", b"600000", 2, b"12.340000", 100])),
    ("insert long code", lambda: P.OrderInsert(order(szContractCode="60000012")),
     ("LibITG_ReqPlaceOrder", [1, b"", b"", b"600000", 2, b"12.345600", 100])),
    ("insert code None", lambda: P.OrderInsert(order(szContractCode=None, szProductCode=None)),
     ("LibITG_ReqPlaceOrder", [1, b"", b"", b"", 2, b"12.345600", 100])),
    ("insert product", lambda: P.OrderInsert(order(szProductCode="P" * 200)),
     ("LibITG_ReqPlaceOrder", [1, b"", b"P" * 128, b"600000", 2, b"12.345600", 100])),
    # Cut where it would split a character, not inside it.
    ("insert product cut", lambda: P.OrderInsert(order(szProductCode="P" * 127 + "产品")),
     ("LibITG_ReqPlaceOrder", [1, b"", b"P" * 127, b"600000", 2, b"12.345600", 100])),
    ("insert through a dict's own lookup", lambda: P.OrderInsert(Odd(order())),
     ("LibITG_ReqPlaceOrder", [1, b"", b"", b"600000", 2, b"12.345600", 100])),
    ("cancel by number", lambda: P.OrderDelete({"nReqId": 3, "nOrderId": 0}),
     ("LibITG_ReqCancelOrder", [3, b"", b""])),
    ("cancel by code", lambda: P.OrderDelete({"nReqId": 4, "szOrderOrigId": "A1",
                                              "szProductCode": "P"}),
     ("LibITG_ReqCancelOrder", [4, b"P", b"A1"])),
    ("cancel long code", lambda: P.OrderDelete({"nReqId": 5, "szOrderOrigId": "X" * 200}),
     ("LibITG_ReqCancelOrder", [5, b"", b"X" * 127])),
    ("cancel code None, by number", lambda: P.OrderDelete({"nReqId": 6, "szOrderOrigId": None,
                                                          "nOrderId": 4}),
     ("LibITG_ReqCancelOrder", [6, b"", b""])),
    ("orders", lambda: P.QryOrder({"nReqId": 7}), ("LibITG_ReqQueryOrders", [7])),
    ("matches", lambda: P.QryMatch({"nReqId": 8}), ("LibITG_ReqQueryTrades", [8])),
    ("positions", lambda: P.QryPosition({"nReqId": 9}), ("LibITG_ReqQueryPosition", [9])),
    ("capital", lambda: P.QryAccountMaxEntrustCount({"nReqId": -10}),
     ("LibITG_ReqGetAccountBalance", [-10])),
    ("subscribe", lambda: P.ReqSubQuote(1, ["market", "transaction", "index"], [], ["600000.SH"],
                                        "", ""),
     ("LibQuote_ReqSubscribe", [1, 3, [b"600000"]])),
    ("subscribe trades", lambda: P.ReqSubQuote(2, ["transaction"], [1], ["000001.SZ", "600000"],
                                               "x", "y"),
     ("LibQuote_ReqSubscribe", [2, 2, [b"000001", b"600000"]])),
    ("unsubscribe", lambda: P.ReqSubQuote(3, ["Market"], [], ["600000.SH"], "", ""),
     ("LibQuote_ReqUnsubscribe", [3, [b"600000"]])),
]


@pytest.mark.parametrize("call,sent", [c[1:] for c in SENT], ids=[c[0] for c in SENT])
def test_what_reaches_the_gateway(session, call, sent):
    assert call() == 0
    assert driver.calls() == [sent]


# (case id, call, exception type, its text or None)
FAILURES = [
    ("no request id", lambda: P.OrderInsert(order(nReqId=KeyError)), RuntimeError,
     "Could not get key nReqId"),
    ("float request id", lambda: P.OrderInsert(order(nReqId=1.5)), RuntimeError,
     "Could not convert nReqId to int."),
    ("None request id", lambda: P.QryOrder({"nReqId": None}), RuntimeError,
     "Could not convert nReqId to int."),
    ("request id too big", lambda: P.QryMatch({"nReqId": 2 ** 31}), OverflowError, None),
    ("no code", lambda: P.OrderInsert(order(szContractCode=KeyError)), RuntimeError,
     "Could not get key szContractCode"),
    ("code not text", lambda: P.OrderInsert(order(szContractCode=600000)), RuntimeError,
     "Could not convert szContractCode to char*."),
    ("no trade type", lambda: P.OrderInsert(order(nTradeType=KeyError)), TypeError,
     "No registered converter was able to produce a C++ rvalue of type int from this Python "
     "object of type NoneType"),
    ("price text", lambda: P.OrderInsert(order(nOrderPrice="12")), TypeError,
     "No registered converter was able to produce a C++ rvalue of type double from this Python "
     "object of type str"),
    ("price NaN", lambda: P.OrderInsert(order(nOrderPrice=float("nan"))), ValueError, None),
    ("price infinite", lambda: P.OrderInsert(order(nOrderPrice=float("inf"))), OverflowError, None),
    ("price too big", lambda: P.OrderInsert(order(nOrderPrice=1e19)), OverflowError, None),
    ("volume too big", lambda: P.OrderInsert(order(nOrderVol=2 ** 40)), OverflowError, None),
    ("order id too big", lambda: P.OrderDelete({"nReqId": 1, "nOrderId": 2 ** 64}),
     OverflowError, None),
    ("not a dict", lambda: P.OrderInsert([("nReqId", 1)]), TypeError, None),
    ("no trade type, whatever get() says", lambda: P.OrderInsert(Odd(order(nTradeType=KeyError))),
     TypeError, None),
    ("product not text", lambda: P.OrderInsert(order(szProductCode=5)), RuntimeError,
     "Could not convert szProductCode to char*."),
    ("product bytes", lambda: P.OrderDelete({"nReqId": 1, "szProductCode": b"P"}), RuntimeError,
     "Could not convert szProductCode to char*."),
    # Read as 0, these would cancel order 0, another order.
    ("order id text", lambda: P.OrderDelete({"nReqId": 1, "nOrderId": "5"}), RuntimeError,
     "Could not convert nOrderId to int."),
    ("order id float", lambda: P.OrderDelete({"nReqId": 1, "nOrderId": 5.0}), RuntimeError,
     "Could not convert nOrderId to int."),
    ("order code not text", lambda: P.OrderDelete({"nReqId": 1, "szOrderOrigId": 5}),
     RuntimeError, "Could not convert szOrderOrigId to char*."),
    ("order code bytes", lambda: P.OrderDelete({"nReqId": 1, "szOrderOrigId": b"A1"}),
     RuntimeError, "Could not convert szOrderOrigId to char*."),
    ("type not text", lambda: P.ReqSubQuote(1, ["market", 4], [], [], "", ""), TypeError,
     "No registered converter was able to produce a C++ rvalue of type std::__cxx11::basic_string"
     "<char, std::char_traits<char>, std::allocator<char> > from this Python object of type int"),
    ("code not text", lambda: P.ReqSubQuote(1, ["market"], [], [None], "", ""), TypeError, None),
    ("types not a list", lambda: P.ReqSubQuote(1, ("market",), [], [], "", ""), TypeError, None),
]

# A str with no UTF-8 form, in every text a request reads.
LONE_SURROGATE = "6000\udcff"
FAILURES += [
    (f"{name} without UTF-8 form", call, UnicodeEncodeError, None) for name, call in [
        ("code", lambda: P.OrderInsert(order(szContractCode=LONE_SURROGATE))),
        ("product", lambda: P.OrderInsert(order(szProductCode=LONE_SURROGATE))),
        ("cancel product", lambda: P.OrderDelete({"nReqId": 1, "szProductCode": LONE_SURROGATE})),
        ("cancel code", lambda: P.OrderDelete({"nReqId": 1, "szOrderOrigId": LONE_SURROGATE})),
        ("subscription code", lambda: P.ReqSubQuote(1, ["market"], [], [LONE_SURROGATE], "", "")),
        ("subscription type", lambda: P.ReqSubQuote(1, [LONE_SURROGATE], [], ["600000"], "", "")),
    ]
]


# Requests no one meant: each raises before anything is sent.
FAILURES += [
    ("cancel naming no order", lambda: P.OrderDelete({"nReqId": 9}), ValueError,
     "OrderDelete names no order: give 'nOrderId' (the order number) or 'szOrderOrigId' "
     "(the gateway's order code)"),
    ("cancel naming an empty code", lambda: P.OrderDelete({"nReqId": 9, "szOrderOrigId": ""}),
     ValueError, None),
    ("cancel of order None", lambda: P.OrderDelete({"nReqId": 9, "nOrderId": None,
                                                    "szOrderOrigId": "A2"}),
     TypeError, "nOrderId must be an int (the order number), not NoneType"),
    ("cancel of order True", lambda: P.OrderDelete({"nReqId": 9, "nOrderId": True}),
     TypeError, "nOrderId must be an int (the order number), not bool"),
    ("price whose __float__ gives no float", lambda: P.OrderInsert(order(nOrderPrice=Price("1"))),
     TypeError, "Price.__float__ returned non-float (type str)"),
    ("code with NUL", lambda: P.OrderInsert(order(szContractCode="60\x000000")), ValueError,
     "szContractCode: embedded null character"),
    ("product with NUL", lambda: P.OrderInsert(order(szProductCode="P\x00Q")), ValueError,
     "szProductCode: embedded null character"),
    ("order code with NUL", lambda: P.OrderDelete({"nReqId": 1, "szOrderOrigId": "A\x001"}),
     ValueError, "szOrderOrigId: embedded null character"),
    ("subscription code with NUL", lambda: P.ReqSubQuote(1, ["market"], [], ["60\x000000"], "",
                                                         ""), ValueError,
     "codes: embedded null character"),
    ("code beyond ASCII", lambda: P.OrderInsert(order(szContractCode="6000é0")),
     UnicodeEncodeError, "'ascii' codec can't encode character '\\xe9' in position 4: "
     "szContractCode takes ASCII codes such as 600000"),
    ("subscription code beyond ASCII", lambda: P.ReqSubQuote(1, ["market"], [], ["６００000"],
                                                             "", ""), UnicodeEncodeError, None),
]


@pytest.mark.parametrize("call,error,text", [c[1:] for c in FAILURES],
                         ids=[c[0] for c in FAILURES])
def test_refused_requests_send_nothing(session, call, error, text):
    with pytest.raises(error) as raised:
        call()
    if text is not None:
        assert str(raised.value) == text
    assert driver.calls() == []


@pytest.mark.parametrize("function,call,result", [
    ("LibITG_ReqPlaceOrder", lambda: P.OrderInsert(order()), -7),
    ("LibITG_ReqPlaceOrder", lambda: P.OrderInsert(order()), 2 ** 33 + 5),
    ("LibITG_ReqCancelOrder", lambda: P.OrderDelete({"nReqId": 1, "szOrderOrigId": "A1"}), 3),
    ("LibITG_ReqQueryOrders", lambda: P.QryOrder({"nReqId": 1}), 4),
    ("LibITG_ReqQueryTrades", lambda: P.QryMatch({"nReqId": 1}), 5),
    ("LibITG_ReqQueryPosition", lambda: P.QryPosition({"nReqId": 1}), 6),
    ("LibITG_ReqGetAccountBalance", lambda: P.QryAccountMaxEntrustCount({"nReqId": 1}), -1),
    ("LibQuote_ReqSubscribe", lambda: P.ReqSubQuote(1, ["market"], [], ["600000"], "", ""), 9),
    ("LibQuote_ReqUnsubscribe", lambda: P.ReqSubQuote(1, [], [], ["600000"], "", ""), -2),
])
def test_results_are_the_librarys(session, function, call, result):
    driver.set_result(function, result)
    assert call() == (result + 2 ** 31) % 2 ** 32 - 2 ** 31


# Orders that mean nothing, from any client: veltrane refuses them with -1
# and its reason whatever the risk limits, and sends nothing.
@pytest.mark.parametrize("changes,refusal", [
    ({"nTradeType": 0}, "refused by trade_type: nTradeType 0 is neither 1 (buy) nor 2 (sell)"),
    ({"nTradeType": 3}, "refused by trade_type: nTradeType 3 is neither 1 (buy) nor 2 (sell)"),
    ({"nTradeType": -1}, "refused by trade_type: nTradeType -1 is neither 1 (buy) nor 2 (sell)"),
    ({"nTradeType": 99}, "refused by trade_type: nTradeType 99 is neither 1 (buy) nor 2 (sell)"),
    ({"nOrderVol": 0},
     "refused by order_quantity: nOrderVol 0 is not a positive number of shares"),
    ({"nOrderVol": -5},
     "refused by order_quantity: nOrderVol -5 is not a positive number of shares"),
    ({"nOrderPrice": 0.9},
     "refused by order_price: nOrderPrice 0 is not a positive price (in 1/10000 yuan)"),
    ({"nOrderPrice": -5.7},
     "refused by order_price: nOrderPrice -5 is not a positive price (in 1/10000 yuan)"),
], ids=lambda value: str(value))
def test_orders_that_mean_nothing_are_refused(session, changes, refusal):
    assert P.OrderInsert(order(**changes)) == -1
    assert driver.calls() == []
    assert Ombrel.RiskStatus()["last_refusal"] == refusal


def test_refused_subscription_is_not_success(session):
    assert P.ReqSubQuote(1, ["market"], [], [], "", "") == 0
    assert driver.calls() == [("LibQuote_ReqSubscribe", [1, 1, []])]


def test_requests_after_the_api_object_is_gone(session):
    session.api = None
    gc.collect()
    for call in (lambda: P.QryOrder({"nReqId": 1}), lambda: P.OrderInsert(order()),
                 lambda: P.ReqSubQuote(1, ["market"], [], ["600000"], "", "")):
        with pytest.raises(RuntimeError, match="destroyed"):
            call()
    assert driver.calls() == []


def test_requests_before_the_factory():
    script = (
        "import Ombrel\n"
        "for call in (lambda: Ombrel.PyQuantApi.QryOrder({'nReqId': 1}),\n"
        "             lambda: Ombrel.PyQuantApi.ReqSubQuote(1, [], [], [], '', '')):\n"
        "    try:\n"
        "        call()\n"
        "    except RuntimeError as error:\n"
        "        print(error)\n"
        "Ombrel.ZR_QuantApi_Python36.Init()\n"
        "print('done')\n")
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         timeout=60, env=os.environ)
    lines = run.stdout.splitlines()
    assert run.returncode == 0, run.stderr
    assert len(lines) == 3 and all("no API object" in line for line in lines[:2])
    assert lines[2] == "done"


def test_instance_methods_of_an_own_api_object(session):
    own = P()
    assert own.GetCode() == -1
    assert own.BreakRun() is None
    assert P.Run() is None
    assert own.Login("user", "secret") == 0
    assert [call[0] for call in driver.calls()][:2] == ["LibITG_ReqUserLogin", "LibQuote_ReqUserLogin"]
    assert driver.calls()[0][1][2:4] == [b"user", b"secret"]

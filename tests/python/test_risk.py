"""Pre-trade risk limits from Python: set and read back, orders and cancels
refused before the gateway (counted and explained), the kill switch, the
trade events that end working orders, bad dictionaries, and the functions'
documentation in the module, its stubs and the README."""

import ast
import os
import pathlib
import re

import pytest

import Ombrel
import ombrel_driver as driver

P = Ombrel.PyQuantApi
README = pathlib.Path(__file__).resolve().parents[2] / "README.md"

DEFAULTS = {
    "max_orders_per_second": 0, "max_orders_per_day": 0, "max_cancels_per_day": 0,
    "max_order_quantity": 0, "max_order_value": 0, "max_working_orders": 0,
    "max_working_orders_per_code": 0, "price_band": 0.0, "refuse_without_price": False,
    "refuse_self_cross": False, "max_position_per_code": 0,
}
# The checks no limit switches off come first.
CHECKS = ["request_id", "trade_type", "order_quantity", "order_price"]
RULES = CHECKS + ["trading_enabled"] + list(DEFAULTS)
GATEWAY_SELL, GATEWAY_BUY = 1, 2


@pytest.fixture
def risk(session):
    driver.reset_risk()
    yield session
    driver.reset_risk()


def order(code="600000", trade_type=1, price=100000, volume=100, req=1):
    return {"nReqId": req, "szContractCode": code, "nTradeType": trade_type,
            "nOrderPrice": price, "nOrderVol": volume}


def sent(function="LibITG_ReqPlaceOrder"):
    return sum(1 for name, _ in driver.calls() if name == function)


def test_nothing_is_refused_or_counted_at_first(risk):
    status = Ombrel.RiskStatus()
    assert status["limits"] == DEFAULTS
    assert list(status["refused"]) == RULES and not any(status["refused"].values())
    assert (status["trading_enabled"], status["last_refusal"]) == (True, "")
    assert re.fullmatch(r"20\d{6}", str(status["trading_day"]))
    assert [status[key] for key in ("orders_today", "cancels_today", "orders_last_second",
                                    "working_orders")] == [0, 0, 0, 0]


def test_limits_are_replaced_whole_and_read_back(risk):
    every = {"max_orders_per_second": 20, "max_orders_per_day": 2000, "max_cancels_per_day": 1000,
             "max_order_quantity": 10000, "max_order_value": 500000, "max_working_orders": 10,
             "max_working_orders_per_code": 2, "price_band": 0.05, "refuse_without_price": True,
             "refuse_self_cross": True, "max_position_per_code": 20000}
    Ombrel.SetRiskLimits(every)
    assert Ombrel.RiskStatus()["limits"] == every
    Ombrel.SetRiskLimits({"max_order_quantity": 500, "price_band": 1, "max_orders_per_day": None})
    assert Ombrel.RiskStatus()["limits"] == dict(DEFAULTS, max_order_quantity=500, price_band=1.0)


# (case, limits, orders sent first, the order at the limit, the one beyond,
# the rule that refuses it, its text)
LIMITS = [
    ("quantity", {"max_order_quantity": 1000}, [], order(volume=1000), order(volume=1001),
     "max_order_quantity", "refused by max_order_quantity (1000): 1001 shares of 600000"),
    ("value", {"max_order_value": 100000}, [], order(volume=10000), order(price=100001, volume=10000),
     "max_order_value",
     "refused by max_order_value (100000): 10000 shares of 600000 at 10.0001, worth 100001.0000"),
    ("orders per day", {"max_orders_per_day": 2}, [order()], order(), order(),
     "max_orders_per_day", "refused by max_orders_per_day (2): 2 orders sent today"),
    ("working per code", {"max_working_orders_per_code": 1}, [order(code="000001")], order(),
     order(), "max_working_orders_per_code",
     "refused by max_working_orders_per_code (1): 1 order working in 600000"),
    ("self-cross", {"refuse_self_cross": True}, [order(trade_type=2, price=101000)],
     order(price=100900), order(price=101000), "refuse_self_cross",
     "refused by refuse_self_cross (true): a buy of 600000 at 10.1000 would trade with this "
     "process's working sell at 10.1000"),
]


@pytest.mark.parametrize("case,limits,first,at_limit,beyond,rule,text", LIMITS,
                         ids=[case[0] for case in LIMITS])
def test_an_order_beyond_a_limit_is_not_sent(risk, case, limits, first, at_limit, beyond, rule,
                                             text):
    Ombrel.SetRiskLimits(limits)
    for request in first + [at_limit]:
        assert P.OrderInsert(request) == 0
    calls = sent()
    assert P.OrderInsert(beyond) == -1
    assert sent() == calls
    status = Ombrel.RiskStatus()
    assert status["last_refusal"] == text
    assert status["refused"] == {name: int(name == rule) for name in RULES}


def test_cancels_stop_only_at_their_daily_limit(risk):
    Ombrel.SetRiskLimits({"max_cancels_per_day": 1, "max_working_orders": 1})
    assert P.OrderInsert(order()) == 0
    Ombrel.SetTradingEnabled(False)
    assert P.OrderDelete({"nReqId": 2, "szOrderOrigId": "A1"}) == 0
    assert P.OrderDelete({"nReqId": 3, "szOrderOrigId": "A1"}) == -1
    assert sent("LibITG_ReqCancelOrder") == 1
    status = Ombrel.RiskStatus()
    assert (status["cancels_today"], status["refused"]["max_cancels_per_day"]) == (1, 1)
    assert status["last_refusal"] == "refused by max_cancels_per_day (1): 1 cancel sent today"


def test_the_kill_switch(risk):
    Ombrel.SetTradingEnabled(False)
    assert P.OrderInsert(order()) == -1
    status = Ombrel.RiskStatus()
    assert (status["trading_enabled"], status["refused"]["trading_enabled"]) == (False, 1)
    assert status["last_refusal"] == ("refused by trading_enabled (false): new orders are "
                                      "switched off")
    Ombrel.SetTradingEnabled(True)
    assert P.OrderInsert(order()) == 0
    assert sent() == 1
    with pytest.raises(TypeError):
        Ombrel.SetTradingEnabled("no")


def test_trade_events_end_working_orders(risk):
    Ombrel.SetRiskLimits({"max_working_orders": 1, "max_position_per_code": 300})
    assert P.OrderInsert(order(req=5, volume=200)) == 0
    assert P.OrderInsert(order(req=6)) == -1
    risk.fire(1, driver.itg_insert, 5, 0, "accepted", "600000", "A5", GATEWAY_BUY, 10.0, 200)
    risk.fire(1, driver.itg_match, 5, 0, "", "600000", "A5", "M1", GATEWAY_BUY, 10.0, 200,
              "093001", 2)
    assert Ombrel.RiskStatus()["working_orders"] == 0
    assert P.OrderInsert(order(req=7)) == 0
    assert P.OrderInsert(order(req=8, code="000001")) == -1  # one working again
    risk.fire(1, driver.itg_order, 7, 0, "cancelled", "600000", "A7", GATEWAY_BUY, 10.0, 100,
              0.0, 0, "6", "093002", 2)  # an early cancel: the answer comes after
    risk.fire(1, driver.itg_insert, 7, 0, "accepted", "600000", "A7", GATEWAY_BUY, 10.0, 100)
    assert P.OrderInsert(order(req=9, volume=100)) == 0  # 200 held + 100 = 300
    assert P.OrderInsert(order(req=10, code="000001")) == -1
    Ombrel.SetRiskLimits({"max_position_per_code": 300})
    assert P.OrderInsert(order(req=11, volume=1)) == -1
    assert Ombrel.RiskStatus()["last_refusal"].endswith(
        "600000 would reach 301: position 200, open buys 100, this order 1")


@pytest.mark.parametrize("limits,error,message", [
    ({"max_order_qty": 1}, ValueError, "unknown risk limit 'max_order_qty'"),
    ({"max_order_quantity": "10"}, TypeError, "max_order_quantity must be an int, not str"),
    ({"max_order_quantity": 10.0}, TypeError, "max_order_quantity must be an int, not float"),
    ({"max_working_orders": True}, TypeError, "max_working_orders must be an int, not bool"),
    ({"price_band": "5%"}, TypeError, "price_band must be a float, not str"),
    ({"refuse_self_cross": 1}, TypeError, "refuse_self_cross must be a bool, not int"),
    ({"max_orders_per_day": -1}, ValueError, "max_orders_per_day must not be negative"),
    ({"price_band": float("inf")}, ValueError, "price_band must be a finite number"),
    ({"max_order_value": 2 ** 63}, ValueError, "max_order_value is out of range"),
    ({1: 1}, TypeError, "risk limit keys must be str, not int"),
])
def test_bad_limits_raise_naming_the_key_and_change_nothing(risk, limits, error, message):
    Ombrel.SetRiskLimits({"max_order_quantity": 7})
    with pytest.raises(error, match=re.escape(message)):
        Ombrel.SetRiskLimits(limits)
    assert Ombrel.RiskStatus()["limits"]["max_order_quantity"] == 7


def test_the_functions_are_documented_in_the_module_and_its_stubs():
    stubs = os.path.join(os.path.dirname(Ombrel.__file__), "Ombrel.pyi")
    tree = ast.parse(open(stubs, encoding="utf-8").read())
    declared = {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}
    functions = {name for name, value in vars(Ombrel).items()
                 if callable(value) and not isinstance(value, type) and not name.startswith("_")}
    assert set(declared) == functions
    for name in ("SetRiskLimits", "RiskStatus", "SetTradingEnabled"):
        assert ast.get_docstring(declared[name]), name
        assert getattr(Ombrel, name).__doc__, name
    for key in DEFAULTS:
        assert key in Ombrel.SetRiskLimits.__doc__ and key in ast.get_docstring(
            declared["SetRiskLimits"]), key


def test_the_readme_lists_every_limit_with_its_default():
    section = README.read_text(encoding="utf-8").split("## Risk checks", 1)[1].split("\n## ")[0]
    rows = dict(re.findall(r"^\| `(\w+)` \| ([^|]+?) \|", section, re.MULTILINE))
    assert list(rows) == CHECKS + list(DEFAULTS)
    for key, default in DEFAULTS.items():
        assert rows[key].split()[0] == ("false" if default is False else "0"), key

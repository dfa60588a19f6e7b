"""The module's surface: its classes and members, documentation for every
Python-visible function, the type stubs beside it, and the calls that need
no gateway."""

import ast
import inspect
import os

import pytest

import Ombrel
import ombrel_driver as driver
from conftest import RTN_METHODS
from veltrane.backtest import strategy_script

API_MEMBERS = ["Login", "Run", "BreakRun", "getVersion", "GetErrMsg", "GetCode", "ReqSubQuote",
               "OrderInsert", "OrderDelete", "QryOrder", "QryMatch", "QryPosition",
               "QryAccountMaxEntrustCount"]
STATIC_MEMBERS = {"Run", "getVersion", "GetErrMsg", "ReqSubQuote", "OrderInsert", "OrderDelete",
                  "QryOrder", "QryMatch", "QryPosition", "QryAccountMaxEntrustCount"}
ON_METHODS = ["OnConnect", "OnDisconnect", "OnRtnUserInfo", "OnRtnLoginWarn", "OnRspSubQuote",
              "OnRtnTransaction", "OnRtnMarket", "OnRspOrderInsert", "OnRspOrderDelete",
              "OnRspQryOrder", "OnRspQryMatch", "OnRspQryPosition",
              "OnRtnOrderStatusChangeNotice", "OnRtnOrderMatchNotice"]
CALLBACK_MEMBERS = ON_METHODS + list(RTN_METHODS[:-1]) + ["rspdict", "errorid", "isend"]
CLASSES = {"PyQuantApi": API_MEMBERS, "ZR_QuantApi_Python36": ["Init", "ZR_QuantApi"],
           "QuantCallBack": CALLBACK_MEMBERS}


@pytest.mark.parametrize("name,members", CLASSES.items())
def test_classes_and_their_documented_members(name, members):
    cls = getattr(Ombrel, name)
    assert cls.__doc__
    for member in members:
        assert member in vars(cls), member
        assert getattr(cls, member).__doc__, member
    static = {m for m in members if isinstance(vars(cls)[m], staticmethod)}
    assert static == (STATIC_MEMBERS if name == "PyQuantApi" else set())


def test_the_methods_listed_here_and_in_the_stubs_are_the_modules():
    table = driver.event_methods()
    assert list(RTN_METHODS) == [name for name, _ in table]
    # The backtest runner's check that a strategy defines every one.
    assert strategy_script.EVENT_METHODS == RTN_METHODS
    registered = {name for name in vars(Ombrel.QuantCallBack) if name.startswith("Rtn")}
    assert registered == {name for name, pure_virtual in table if pure_virtual}
    assert set(CALLBACK_MEMBERS) == set(vars(Ombrel.QuantCallBack)) - {
        name for name in vars(Ombrel.QuantCallBack) if name.startswith("_")}
    stubs = os.path.join(os.path.dirname(Ombrel.__file__), "Ombrel.pyi")
    tree = ast.parse(open(stubs, encoding="utf-8").read())
    stub, = (node for node in tree.body if isinstance(node, ast.ClassDef)
             and node.name == "QuantCallBack")
    declared = [n.name for n in stub.body
                if isinstance(n, ast.FunctionDef) and n.name.startswith("Rtn")]
    assert declared == list(RTN_METHODS)


def test_the_stubs_describe_the_module():
    stubs = os.path.join(os.path.dirname(Ombrel.__file__), "Ombrel.pyi")
    tree = ast.parse(open(stubs, encoding="utf-8").read())
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    assert set(classes) == set(CLASSES)
    for name, members in CLASSES.items():
        body = classes[name].body
        declared = {n.name for n in body if isinstance(n, ast.FunctionDef)}
        declared |= {n.target.id for n in body if isinstance(n, ast.AnnAssign)}
        expected = set(members) | (set(RTN_METHODS) if name == "QuantCallBack" else set())
        assert expected <= declared, expected - declared
        for function in (n for n in body if isinstance(n, ast.FunctionDef)):
            assert ast.get_docstring(function), f"{name}.{function.name}"


def test_calls_without_a_gateway():
    assert Ombrel.PyQuantApi.getVersion() == "ZR_QuantApi emulator 20191009 with ITG trade/quote api"
    assert Ombrel.PyQuantApi.GetErrMsg(7) == "Unknown"
    assert Ombrel.PyQuantApi.Run() is None
    with pytest.raises(TypeError):
        Ombrel.ZR_QuantApi_Python36().Init()


@pytest.mark.parametrize("method", RTN_METHODS[:-1])
def test_callback_methods_are_pure_virtual(method):
    with pytest.raises(RuntimeError, match="Pure virtual function called"):
        getattr(Ombrel.QuantCallBack(), method)()


def test_a_new_callback_object():
    callback = Ombrel.QuantCallBack()
    assert (callback.rspdict, callback.errorid, callback.isend) == ({}, 0, False)
    assert callback.OnRspQryOrder({}, 1, True) is None
    with pytest.raises(TypeError):
        callback.rspdict = None

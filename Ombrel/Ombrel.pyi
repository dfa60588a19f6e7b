"""Ombrel: the ZR_QuantApi trading API for Python strategy scripts.

A script subclasses QuantCallBack, creates its callback object and calls
ZR_QuantApi_Python36.ZR_QuantApi(callback, False, '', '') for the API object,
then ZR_QuantApi_Python36.Init() and api.Login(user, password). Requests are
the static functions of PyQuantApi; they return the library's result at once
(-1 when refused before reaching a gateway) and their answers arrive later on
the callback object. Prices are integers in 1/10000 of a currency unit.
SetRiskLimits, RiskStatus and SetTradingEnabled set and show the pre-trade
limits that orders are checked against before they reach the gateway.
"""

from typing import Any, Dict, List

def SetEventQueueLimit(limit: int) -> None:
    """Bounds the event queue: a library thread that hands the module an event
    waits while limit events are queued or being delivered. 1 delivers in
    lockstep (the thread returns once the handler has returned); 0, the
    default, removes the bound. Meant for simulated exchanges and memory
    limits: a vendor's library whose thread waits may drop data. Raises
    ValueError for a negative limit."""

def SetRiskLimits(limits: Dict[str, Any]) -> None:
    """Replaces every pre-trade risk limit of the process; a key left out, 0,
    False or None is off. Keys (ints unless said): max_orders_per_second (a
    sliding one-second window), max_orders_per_day, max_cancels_per_day,
    max_order_quantity (shares), max_order_value (price times quantity, whole
    yuan), max_working_orders, max_working_orders_per_code, price_band (float:
    the largest distance from the code's last traded price, as a share of it),
    refuse_without_price (bool: with a band, refuse codes without a price yet),
    refuse_self_cross (bool: no buy at or above a working sell of the code, nor
    the reverse), max_position_per_code (position plus open buys plus the
    order, in shares). An order that breaks a limit is not sent: OrderInsert
    returns -1 and RiskStatus() says which limit refused it and why. Cancels
    are refused only by max_cancels_per_day. Raises ValueError for an unknown
    key or a negative value, TypeError for a value of the wrong type, naming
    the key; the limits then stay as they were."""

def RiskStatus() -> Dict[str, Any]:
    """The limits ('limits', as SetRiskLimits takes them), the kill switch
    ('trading_enabled'), the day's counters ('trading_day' as YYYYMMDD,
    'orders_today', 'cancels_today'), 'orders_last_second', 'working_orders',
    the requests refused by each rule ('refused': first the checks that no
    limit switches off, 'request_id', 'trade_type', 'order_quantity' and
    'order_price', then 'trading_enabled' and each limit) and the text of the
    latest refusal ('last_refusal', '' while there was none)."""

def SetTradingEnabled(enabled: bool) -> None:
    """The kill switch: with False every new order is refused (OrderInsert
    returns -1) until it is switched on again; cancels still go out."""

class PyQuantApi:
    """The API object. Keep the one ZR_QuantApi_Python36.ZR_QuantApi returned:
    the static request functions act on it and raise RuntimeError once it is
    gone. PyQuantApi() makes an object of its own that no request function uses."""

    def __init__(self) -> None:
        """A new API object of its own, not reached by any event."""
    def Login(self, user: str, password: str) -> int:
        """Logs in to the trade gateway and the quote library; returns 0. The
        outcome arrives as RtnConnect, then RtnUserInfo or RtnLoginWarn, once per
        library."""
    @staticmethod
    def Run() -> None:
        """Does nothing; events are delivered without it."""
    def BreakRun(self) -> None:
        """Does nothing; returns at once."""
    @staticmethod
    def getVersion() -> str:
        """The library's version text."""
    @staticmethod
    def GetErrMsg(code: int) -> str:
        """The text of an error code ('Unknown')."""
    def GetCode(self) -> int:
        """Not carried out: returns -1."""
    @staticmethod
    def ReqSubQuote(nReqID: int, types: List[str], extra: List[Any], codes: List[str],
                    text1: str, text2: str) -> int:
        """Subscribes codes such as '600000.SH' to snapshots ('market' in types,
        delivered to RtnMarket) and trades ('transaction', delivered to
        RtnTransaction); with neither word the codes are unsubscribed. extra,
        text1 and text2 are not read. Returns the quote library's result; the
        answer arrives on RtnRspSubQuote, with a non-zero errorid when refused."""
    @staticmethod
    def OrderInsert(request: Dict[str, Any]) -> int:
        """Places a limit order. Keys: 'nReqId' (int), 'szContractCode' (str, six
        digits), 'nTradeType' (int: 1 buy, 2 sell), 'nOrderPrice' (int or float,
        1/10000 units, truncated), 'nOrderVol' (int), optional 'szProductCode'
        (str). The answer arrives on RtnRspOrderInsert with the order number.
        Raises RuntimeError ('Could not get key nReqId', 'Could not convert
        nReqId to int.', 'Could not convert szProductCode to char*.'),
        TypeError (also for a price whose __float__ gives no float),
        OverflowError, ValueError (a text with an embedded NUL) or
        UnicodeEncodeError (a code beyond ASCII, a str without UTF-8 form) for
        a bad dictionary, and then sends nothing. A direction other than 1 or
        2, or a quantity or price of 0 or less, returns -1 unsent, and
        RiskStatus()['last_refusal'] says why."""
    @staticmethod
    def OrderDelete(request: Dict[str, Any]) -> int:
        """Cancels an order. Keys: 'nReqId' (int), then either 'szOrderOrigId'
        (str, the gateway's order code) or 'nOrderId' (int, the order number);
        optional 'szProductCode' (str). The answer arrives on RtnRspOrderDelete.
        A cancel naming neither raises ValueError (order numbers start at 0,
        so it would cancel order 0); an 'nOrderId' of None or a bool raises
        TypeError, one of another type that is not an int RuntimeError ('Could
        not convert nOrderId to int.'), a text that is not a str (or None)
        'Could not convert szOrderOrigId to char*.'; nothing is sent."""
    @staticmethod
    def QryOrder(request: Dict[str, Any]) -> int:
        """Queries the orders; key 'nReqId' (int). Rows arrive on RtnRspQryOrder."""
    @staticmethod
    def QryMatch(request: Dict[str, Any]) -> int:
        """Queries the matches; key 'nReqId' (int). Rows arrive on RtnRspQryMatch."""
    @staticmethod
    def QryPosition(request: Dict[str, Any]) -> int:
        """Queries the positions; key 'nReqId' (int). Rows arrive on
        RtnRspQryPosition."""
    @staticmethod
    def QryAccountMaxEntrustCount(request: Dict[str, Any]) -> int:
        """Queries the capital; key 'nReqId' (int). The answer arrives on
        RtnQryAccountMaxEntrustCount."""

class ZR_QuantApi_Python36:
    """Carries the factory. Call its functions through the class."""

    def Init() -> None:  # type: ignore[misc]
        """ZR_QuantApi_Python36.Init(): starts the outside libraries; call it
        after ZR_QuantApi() and before Login."""
    def ZR_QuantApi(callback: QuantCallBack, flag: bool, text1: str,  # type: ignore[misc]
                    text2: str) -> PyQuantApi:
        """Creates the API object, which the result owns: keep it. From now on
        every event is delivered to callback; a later call moves delivery to its
        own callback. Raises RuntimeError('get API fetch callback object error')
        when callback is not an initialised QuantCallBack."""

class QuantCallBack:
    """Base class of a strategy's callback object. Call QuantCallBack.__init__(self)
    from your __init__ and define the fifteen Rtn... methods. Each is called
    without arguments on Ombrel's dispatcher thread, one event at a time and in
    order; the event's data are in rspdict, errorid and isend. A method that
    raises has its traceback printed, and the next event is delivered as usual."""

    rspdict: Dict[str, Any]
    """The current event's data: one dict object, cleared and refilled for every event."""
    errorid: int
    """The current event's error id (0 = success); 0 for RtnConnect, RtnUserInfo
    and RtnLoginWarn."""
    isend: bool
    """True on the last row of a query answer."""

    def __init__(self) -> None:
        """A callback object with an empty rspdict."""

    def RtnConnect(self) -> None:
        """A login answer arrived. rspdict: nSrvType (10 trade gateway, 0 quotes)."""
    def RtnDisconnect(self) -> None:
        """Never called: disconnections do not reach Python."""
    def RtnUserInfo(self) -> None:
        """The login succeeded. rspdict: empty, or pInfo and errDesc when pInfo is not 0."""
    def RtnLoginWarn(self) -> None:
        """The login failed. rspdict: pInfo, the library's status code."""
    def RtnRspQryOrder(self) -> None:
        """An order query row. rspdict: nReqID, szContractCode, nTradeType, nOrderId,
        nStatus, nOrderPrice (float), nOrderVol, nDealedVol, nDealedPrice (float),
        szInsertTime, errDesc."""
    def RtnRspQryMatch(self) -> None:
        """A match query row. rspdict: nReqID, szContractCode, nTradeType, nOrderId,
        nMatchPrice (float), nMatchVol, szMatchTime, nMatchStreamId, errDesc."""
    def RtnRspQryPosition(self) -> None:
        """A position row. rspdict: nReqID, szContractCode, nPosition, errDesc."""
    def RtnRspOrderInsert(self) -> None:
        """The answer to OrderInsert. rspdict: nReqID, szContractCode, nTradeType,
        nOrderId, nOrderPrice (int), nOrderVol, nStatus, errDesc."""
    def RtnRspOrderDelete(self) -> None:
        """The answer to OrderDelete. rspdict: nReqID, errDesc."""
    def RtnOrderStatusChangeNotice(self) -> None:
        """An order changed status: the keys of RtnRspQryOrder without nReqID."""
    def RtnOrderMatchNotice(self) -> None:
        """An order was matched: the keys of RtnRspQryMatch."""
    def RtnRspSubQuote(self) -> None:
        """The answer to ReqSubQuote. rspdict: nReqID, pSubWindCode (list of str),
        errDesc; errorid is the library's error id."""
    def RtnMarket(self) -> None:
        """A Level-2 snapshot. rspdict: szType ('stock'), szWindCode, szCode,
        szDatetime ('YYYY-MM-DD HH:MM:SS.ffffff'), nPreClose, nOpen, nHigh, nLow,
        nMatch, nHighLimited, nLowLimited, iVolume, iTurnover (float, currency
        units), nAskPrice, nAskVol, nBidPrice, nBidVol (lists of 10 ints)."""
    def RtnTransaction(self) -> None:
        """A Level-2 trade. rspdict: szType ('transaction'), szWindCode, szCode,
        szDatetime, nPrice, nVolume, nTurnover, nBSFlag (66 buy, 83 sell)."""
    def RtnQryAccountMaxEntrustCount(self) -> None:
        """The capital answer. rspdict: nAvailableCaptial, nTotalCaptial (whole units)."""

    def OnConnect(self, nSrvType: int) -> None:
        """Does nothing; the module never calls it."""
    def OnDisconnect(self, nSrvType: int) -> None:
        """Does nothing; the module never calls it."""
    def OnRtnUserInfo(self, info: Dict[str, Any]) -> None:
        """Does nothing; the module never calls it."""
    def OnRtnLoginWarn(self, info: Dict[str, Any], errorid: int, isend: bool) -> None:
        """Does nothing; the module never calls it."""
    def OnRspSubQuote(self, answer: Dict[str, Any]) -> None:
        """Does nothing; the module never calls it."""
    def OnRtnTransaction(self, trade: Dict[str, Any]) -> None:
        """Does nothing; the module never calls it."""
    def OnRtnMarket(self, snapshot: Dict[str, Any]) -> None:
        """Does nothing; the module never calls it."""
    def OnRspOrderInsert(self, answer: Dict[str, Any], errorid: int) -> None:
        """Does nothing; the module never calls it."""
    def OnRspOrderDelete(self, answer: Dict[str, Any], errorid: int) -> None:
        """Does nothing; the module never calls it."""
    def OnRspQryOrder(self, row: Dict[str, Any], errorid: int, isend: bool) -> None:
        """Does nothing; the module never calls it."""
    def OnRspQryMatch(self, row: Dict[str, Any], errorid: int, isend: bool) -> None:
        """Does nothing; the module never calls it."""
    def OnRspQryPosition(self, row: Dict[str, Any], errorid: int, isend: bool) -> None:
        """Does nothing; the module never calls it."""
    def OnRtnOrderStatusChangeNotice(self, notice: Dict[str, Any]) -> None:
        """Does nothing; the module never calls it."""
    def OnRtnOrderMatchNotice(self, notice: Dict[str, Any]) -> None:
        """Does nothing; the module never calls it."""

"""Market data as a strategy reads it: books, trades and bars in yuan.

A book or a trade is its own copy of the event's dictionary (Ombrel refills
one dict for every event), so its wire fields stay readable by their keys
(book["nBidPrice"]); each field below is built from them when it is read,
so a handler pays only for what it looks at.
"""

import datetime
from typing import Optional, Tuple

from veltrane import rules

_SIDES = {66: "buy", 83: "sell"}


def exchange_time(text: str) -> datetime.datetime:
    """'2026-12-08 09:31:03.000000' as a datetime (exchange time, naive)."""
    return datetime.datetime.fromisoformat(text)


def seconds_of(text: str) -> float:
    """'2026-12-08 09:31:03.250000' -> seconds after midnight."""
    return int(text[11:13]) * 3600 + int(text[14:16]) * 60 + float(text[17:])


def clock_of(seconds: float) -> str:
    """Seconds after midnight as the clock part of an event's time text,
    'HH:MM:SS.ffffff', which orders as the times do."""
    whole = int(seconds)
    micros = int(round((seconds - whole) * 1e6))
    return f"{whole // 3600:02d}:{whole // 60 % 60:02d}:{whole % 60:02d}.{micros:06d}"


def _prices(units) -> Tuple[float, ...]:
    return tuple(p / rules.UNIT for p in units if p > 0)


class _MarketEvent(dict):
    """What a book and a trade have alike: the code and the exchange time."""

    __slots__ = ()

    @property
    def code(self) -> str:
        return self["szWindCode"]

    @property
    def time(self) -> datetime.datetime:
        return exchange_time(self["szDatetime"])


class Book(_MarketEvent):
    """A Level-2 snapshot of one code. Prices in yuan, volumes in shares."""

    __slots__ = ()

    @property
    def bid_prices(self) -> Tuple[float, ...]:
        return _prices(self["nBidPrice"])

    @property
    def bid_volumes(self) -> Tuple[int, ...]:
        d = self
        return tuple(v for p, v in zip(d["nBidPrice"], d["nBidVol"]) if p > 0)

    @property
    def ask_prices(self) -> Tuple[float, ...]:
        return _prices(self["nAskPrice"])

    @property
    def ask_volumes(self) -> Tuple[int, ...]:
        d = self
        return tuple(v for p, v in zip(d["nAskPrice"], d["nAskVol"]) if p > 0)

    @property
    def bid(self) -> Optional[float]:
        """The best bid, None when the bid side is empty."""
        best = self["nBidPrice"][0]
        return best / rules.UNIT if best > 0 else None

    @property
    def ask(self) -> Optional[float]:
        best = self["nAskPrice"][0]
        return best / rules.UNIT if best > 0 else None

    @property
    def last(self) -> float:
        return self["nMatch"] / rules.UNIT

    @property
    def volume(self) -> int:
        return self["iVolume"]

    @property
    def turnover(self) -> float:
        return self["iTurnover"]

    @property
    def pre_close(self) -> float:
        return self["nPreClose"] / rules.UNIT

    @property
    def high_limit(self) -> float:
        return rules.limits(self.code, self["nPreClose"])[1] / rules.UNIT

    @property
    def low_limit(self) -> float:
        return rules.limits(self.code, self["nPreClose"])[0] / rules.UNIT

    @property
    def mid(self) -> Optional[float]:
        """Halfway between the best bid and ask; None unless both sides have
        a price and the ask is above the bid (a call auction shows its
        indicative price on both sides)."""
        d = self
        bid, ask = d["nBidPrice"][0], d["nAskPrice"][0]
        return (bid + ask) / 2 / rules.UNIT if 0 < bid < ask else None

    @property
    def spread(self) -> Optional[float]:
        d = self
        bid, ask = d["nBidPrice"][0], d["nAskPrice"][0]
        return (ask - bid) / rules.UNIT if 0 < bid < ask else None

    def __repr__(self) -> str:
        return (f"Book({self.code} {self['szDatetime'][11:23]} bid {self.bid} "
                f"ask {self.ask} last {self.last})")


class Trade(_MarketEvent):
    """A market trade of one code."""

    __slots__ = ()

    @property
    def price(self) -> float:
        return self["nPrice"] / rules.UNIT

    @property
    def volume(self) -> int:
        return self["nVolume"]

    @property
    def side(self) -> Optional[str]:
        """'buy' (the buyer took the offer), 'sell', or None (an auction's)."""
        return _SIDES.get(self["nBSFlag"])

    def __repr__(self) -> str:
        return f"Trade({self.code} {self['szDatetime'][11:23]} {self.volume} @ {self.price})"


class Bar:
    """The trades of one code from `start` (included) to `end` (not)."""

    __slots__ = ("code", "start", "end", "open", "high", "low", "close", "volume", "turnover",
                 "trades")

    def __init__(self, code, start, end, price, volume, turnover):
        self.code: str = code
        self.start: datetime.datetime = start
        self.end: datetime.datetime = end
        self.open = self.high = self.low = self.close = price
        self.volume: int = volume
        self.turnover: float = turnover
        self.trades: int = 1

    def __repr__(self) -> str:
        return (f"Bar({self.code} {self.start:%H:%M:%S}-{self.end:%H:%M:%S} o {self.open} "
                f"h {self.high} l {self.low} c {self.close} v {self.volume})")


class Bars:
    """Bars of `seconds` built from trades, aligned to midnight exchange
    time: a 60-second bar runs from a whole minute to the next. A bar is
    finished by the first event at or after its end, of any code."""

    def __init__(self, seconds: float):
        self.seconds = seconds
        self.open = {}  # code -> (Bar, its end as a clock text)

    def add(self, trade: dict) -> bool:
        """Adds a trade (an Ombrel dict); True when it opened a bar. Bars that
        end at or before it must have been taken with due() first."""
        text = trade["szDatetime"]
        code = trade["szWindCode"]
        price = trade["nPrice"] / rules.UNIT
        volume = trade["nVolume"]
        current = self.open.get(code)
        if current is not None:
            bar = current[0]
            bar.high = max(bar.high, price)
            bar.low = min(bar.low, price)
            bar.close = price
            bar.volume += volume
            bar.turnover += price * volume
            bar.trades += 1
            return False
        start = seconds_of(text) // self.seconds * self.seconds
        day = exchange_time(text[:10] + " 00:00:00")
        bar = Bar(code, day + datetime.timedelta(seconds=start),
                  day + datetime.timedelta(seconds=start + self.seconds), price, volume,
                  price * volume)
        self.open[code] = (bar, clock_of(start + self.seconds))
        return True

    def next_end(self) -> str:
        """The earliest end of an open bar as a clock text; '~' (after every
        clock) when none is open."""
        return min((end for _, end in self.open.values()), default="~")

    def due(self, clock: str):
        """The bars that end at or before `clock` ('HH:MM:SS.ffffff'),
        removed, in order of their end then code."""
        done = [(end, code) for code, (_, end) in self.open.items() if end <= clock]
        return [self.open.pop(code)[0] for _, code in sorted(done)]

    def all(self):
        """Every bar still open, removed: the day is over."""
        return self.due("99")

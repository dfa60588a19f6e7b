"""Running a strategy for a day, live or paper traded, and what it did.

One process trades one day: the API, the simulated exchange and its
settings are the process's. A backtest runs each day in a process of its
own (veltrane.backtest).
"""

import importlib.machinery
import pathlib
import sys
import types
from typing import Any, Dict, Optional

from veltrane.session import RunError, Session
from veltrane.strategy import Strategy, StrategyError

_RAN = []


class Result:
    """What a day did: `orders`, `fills` and `positions` as pandas
    DataFrames, `pnl` (yuan, fees included), `errors` (handler exceptions)
    and the strategy itself."""

    def __init__(self, strategy, errors, first_error=""):
        import pandas as pd

        self.strategy = strategy
        self.errors = errors
        self.first_error = first_error
        ledger = strategy._ledger
        self.orders = pd.DataFrame(
            [{"id": o.id, "time": o.time, "code": o.code, "side": o.side, "price": o.price,
              "quantity": o.quantity, "filled": o.filled, "average_price": o.average_price,
              "status": o.status, "reason": o.reason} for o in ledger.all_orders],
            columns=["id", "time", "code", "side", "price", "quantity", "filled",
                     "average_price", "status", "reason"])
        self.fills = pd.DataFrame(
            [{"time": f.time, "code": f.code, "side": f.side, "price": f.price,
              "volume": f.volume, "fees": f.fees, "order": f.order.id, "match_id": f.match_id}
             for f in ledger.fills],
            columns=["time", "code", "side", "price", "volume", "fees", "order", "match_id"])
        self.positions = pd.DataFrame(
            [{"code": p.code, "quantity": p.quantity, "sellable": p.sellable, "cost": p.cost,
              "value": p.value, "pnl": p.pnl} for _, p in sorted(ledger.positions.items())],
            columns=["code", "quantity", "sellable", "cost", "value", "pnl"])
        self.pnl = float(sum(p.pnl for p in ledger.positions.values()))

    def summary(self) -> str:
        """Orders, fills, fees and P&L per code, as text."""
        lines = [f"{len(self.orders)} orders, {len(self.fills)} fills, fees "
                 f"{self.fills['fees'].sum():.2f}, P&L {self.pnl:.2f}"]
        codes = sorted(set(self.orders["code"]) | set(self.positions["code"]))
        if codes:
            lines.append(f"  {'code':10} {'orders':>6} {'fills':>5} {'bought':>8} {'sold':>8} "
                         f"{'held':>8} {'fees':>9} {'P&L':>10}")
        for code in codes:
            fills = self.fills[self.fills["code"] == code]
            held = self.positions[self.positions["code"] == code]
            lines.append(
                f"  {code:10} {int((self.orders['code'] == code).sum()):6d} {len(fills):5d} "
                f"{int(fills[fills['side'] == 'buy']['volume'].sum()):8d} "
                f"{int(fills[fills['side'] == 'sell']['volume'].sum()):8d} "
                f"{int(held['quantity'].sum()):8d} {fills['fees'].sum():9.2f} "
                f"{held['pnl'].sum():10.2f}")
        if self.errors:
            lines.append(f"{self.errors} errors in handlers")
        return "\n".join(lines)


def run(strategy_class, params: Optional[Dict[str, Any]] = None, user: str = "demo",
        password: str = "demo", lockstep: Optional[bool] = None) -> Result:
    """Runs `strategy_class` until the day ends or it calls stop(), live or
    paper traded (the simulated exchange's VELTRANE_SIM_* settings as
    always). lockstep: the simulated exchange waits for each handler (the
    default there: the same fills every run)."""
    if _RAN:
        raise RunError("this process has already traded a day: the API and the simulated "
                       "exchange are the process's; run each day in a process of its own "
                       "(python3 -m veltrane run, or veltrane.backtest.run)")
    _RAN.append(strategy_class)
    session = Session(strategy_class, params, user, password, lockstep)
    strategy = session.run()
    return Result(strategy, session.errors, session.first_error)


def load_script(path):
    """Runs a script as a module (not as __main__); returns the module."""
    path = pathlib.Path(path).resolve()
    if not path.is_file():
        raise StrategyError(f"{path}: no such script")
    loader = importlib.machinery.SourceFileLoader("strategy", str(path))
    module = types.ModuleType(loader.name)
    module.__file__, module.__loader__ = str(path), loader
    sys.modules[loader.name] = module
    sys.path.insert(0, str(path.parent))
    loader.exec_module(module)
    return module


def strategy_classes(module):
    """The veltrane.Strategy subclasses a module defines itself."""
    return [value for value in vars(module).values()
            if isinstance(value, type) and issubclass(value, Strategy) and value is not Strategy
            and value.__module__ == module.__name__]


def strategy_class(module, name=None):
    """The module's one Strategy subclass (or the one named `name`)."""
    found = strategy_classes(module)
    if name is not None:
        found = [cls for cls in found if cls.__name__ == name]
        if not found:
            raise StrategyError(f"{module.__file__}: no veltrane.Strategy subclass {name}")
    if len(found) != 1:
        names = ", ".join(cls.__name__ for cls in found)
        raise StrategyError(f"{module.__file__}: " + (
            f"several veltrane.Strategy subclasses ({names}); keep one per script"
            if found else "no subclass of veltrane.Strategy"))
    return found[0]

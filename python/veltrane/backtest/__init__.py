"""Backtests of strategies over many days and parameter sets, on a local or
a running Dask cluster, with a report.

From a shell: scripts/backtest, or python3 -m veltrane.backtest (cli.py).
From Python or a notebook:

    import veltrane.backtest
    result = veltrane.backtest.run("examples/paper_strategy.py", generate=5,
                                   grid={"fast": [0.2, 0.3]}, workers=2)
    result.runs          # one row per parameter set: its figures
    result.days          # one row per parameter set and day
    result.fills         # every fill of every day
    result.report("report.html")

Each day runs in a process of its own (sweep.py), so a strategy class must
be defined in a file: the class's module is the script that every day runs.
"""

import inspect
import itertools
import json
import pathlib
import shutil
import tempfile
from typing import Any, Dict, List, Optional, Sequence, Union

from veltrane.backtest import days as days_module
from veltrane.backtest import report, strategy_script, sweep


class BacktestError(Exception):
    """A backtest that cannot run, and why."""


class BacktestResult:
    """`runs`, `days` and `fills` as pandas DataFrames, and `out`, the
    folder that holds results.csv, days.csv, report.html and each day's
    account report and log."""

    def __init__(self, runs, days, fills, out, title):
        self.runs = runs
        self.days = days
        self.fills = fills
        self.out = pathlib.Path(out)
        self.title = title

    def report(self, path) -> pathlib.Path:
        """Writes the HTML report (the one in `out`) to `path`."""
        path = pathlib.Path(path)
        shutil.copyfile(self.out / "report.html", path)
        return path


def _script_of(strategy) -> pathlib.Path:
    if isinstance(strategy, (str, pathlib.Path)):
        return pathlib.Path(strategy)
    try:
        source = inspect.getsourcefile(strategy)
    except TypeError:
        source = None
    if not source or not pathlib.Path(source).is_file():
        name = getattr(strategy, "__name__", repr(strategy))
        raise BacktestError(f"{name} is not defined in a file: each day runs in a process of "
                            "its own, which loads the class's script; put it in a .py file")
    return pathlib.Path(source)


def _grid(params, grid):
    grid = dict(grid or {})
    for name, values in grid.items():
        if name not in params:
            known = ", ".join(params) or "none"
            raise BacktestError(f"grid: the strategy has no parameter {name} (it has: {known})")
        if isinstance(values, (str, bytes)) or not isinstance(values, Sequence) or not values:
            raise BacktestError(f"grid: {name} needs a list of values, not {values!r}")
    keys = list(grid)
    return [dict(zip(keys, combination)) for combination in
            itertools.product(*(grid[key] for key in keys))]


def _fills(work, results):
    rows = []
    for run, chain in zip(work.runs(), results):
        for result in chain:
            if not result.get("report"):
                continue
            for fill in json.loads(result["report"])["fills"]:
                rows.append({**run["params"], "run": run["name"], "day": result["day"], **fill})
    import pandas as pd

    return pd.DataFrame(rows)


def run(strategy: Union[type, str, pathlib.Path], days: Optional[List[str]] = None,
        generate: Optional[int] = None, grid: Optional[Dict[str, List[Any]]] = None,
        workers: int = 1, scheduler: Optional[str] = None, out: Optional[str] = None,
        capital: str = "1000000", seed: int = 1, sessions: Optional[str] = None,
        settings: Optional[Dict[str, str]] = None, build: Optional[str] = None,
        day_timeout: float = 600, day_memory: int = 4 << 30) -> BacktestResult:
    """Runs a strategy (a veltrane.Strategy class defined in a file, or a
    script's path) over `days` (tapes) or `generate` generated days, for each
    parameter set of `grid` (name -> values), on `workers` local processes or
    the Dask scheduler at `scheduler`. `out` keeps the results (a new
    temporary folder when None); `settings` are VELTRANE_SIM_* settings for
    every day."""
    script = _script_of(strategy)
    if (days is None) == (generate is None):
        raise BacktestError("give days=[tapes...] or generate=N, one of the two")
    if workers < 1:
        raise BacktestError("workers must be at least 1")
    out = pathlib.Path(out or tempfile.mkdtemp(prefix="veltrane-backtest-"))
    build = pathlib.Path(build or sweep.PACKAGE_ROOT.parent / "build")
    quotetape = str(build / "sim" / "quotetape")
    try:
        literals = strategy_script.read_literals(script)
        parameter_sets = _grid(literals["PARAMS"], grid)
        from veltrane.backtest.cli import parse_settings

        checked = parse_settings([f"{k}={v}" for k, v in (settings or {}).items()], quotetape)
        if days is not None:
            day_list = days_module.from_tapes(days)
        else:
            day_list = days_module.generate(quotetape, out / "tapes", generate, seed,
                                            literals["CODES"], sessions)
    except (strategy_script.ScriptError, days_module.DayError) as error:
        raise BacktestError(str(error)) from None
    work = sweep.Sweep(script, day_list, parameter_sets, out, capital, checked, build,
                       day_timeout, day_memory)
    problem = sweep.check_script(work.runs()[0])
    if problem is not None:
        raise BacktestError(problem)
    connect = sweep.remote_client(scheduler) if scheduler else sweep.local_client(workers)
    with connect as client:
        results = work.run(client)
    title = f"Backtest of {script.name}"
    runs, day_rows = report.write(work, results, capital, title)
    return BacktestResult(runs, day_rows, _fills(work, results), out, title)

"""Running the days of every parameter set on Dask's distributed scheduler.

Each (parameter set, day) is one task, and each task runs its day in a
process of its own (the API is process-wide): the harness, started afresh in
an empty directory, so that nothing of one day (the order-number file, the
exchange) leaks into another. A parameter set's days are a chain of tasks,
each taking the account report of the one before as its start (cash,
positions and their costs: T+1 holds across days, since what was bought
yesterday is today's sellable position); the chains of different parameter
sets run side by side on as many workers as there are.

A task's result is all it passes on (the account report as text, the log),
so days need no shared directory, only the tapes and the code at the same
paths on every worker. A worker that dies takes its task with it; the
scheduler runs it again elsewhere (recomputing a lost day before it if need
be), and since a day at full speed in lockstep is the same every run, so is
the result. A day that fails ends its chain: the later days of that
parameter set are marked as skipped, and the other chains go on.
"""

import contextlib
import json
import logging
import os
import pathlib
import subprocess
import sys
import tempfile
import uuid

PACKAGE_ROOT = pathlib.Path(__file__).resolve().parent.parent
# What the runner and the harness set for every day, never the user.
RUNNER_SETTINGS = ("VELTRANE_SIM_TAPE", "VELTRANE_SIM_SPEED", "VELTRANE_SIM_ACCOUNT_REPORT",
                   "VELTRANE_SIM_ACCOUNT_START", "VELTRANE_SIM_CAPITAL", "VELTRANE_SIM_DAY_END_FD",
                   "VELTRANE_SIM_UPSTREAM", "VELTRANE_SIM_RECORD")
# The tail of a day's output kept with its result.
LOG_TAIL = 64 * 1024


def _tail(text):
    return text if len(text) <= LOG_TAIL else "...\n" + text[-LOG_TAIL:]


def run_day(run, index, previous):
    """Runs day `index` of `run` (a dict made by Sweep.runs) after `previous`,
    the result of the day before or None; returns this day's result."""
    day = run["days"][index]
    base = {"run": run["name"], "index": index, "day": day["name"]}
    if previous is not None and not previous["ok"]:
        return {**base, "ok": False, "skipped": True, "error": previous["error"]}
    with tempfile.TemporaryDirectory(prefix="veltrane-day-") as work:
        work = pathlib.Path(work)
        environment = {name: value for name, value in os.environ.items()
                       if not name.startswith("VELTRANE_SIM_")}
        environment.update(run["settings"])
        environment.update(VELTRANE_SIM_TAPE=day["tape"], VELTRANE_SIM_SPEED="max",
                           VELTRANE_SIM_ACCOUNT_REPORT=str(work / "account.json"),
                           PYTHONPATH=os.pathsep.join(run["python_path"]))
        # The stand-ins come first whatever the worker's environment says: a
        # backtest never reaches a broker.
        environment["LD_LIBRARY_PATH"] = os.pathsep.join(
            [run["stand_ins"]] + [p for p in [os.environ.get("LD_LIBRARY_PATH")] if p])
        if previous is None:
            environment["VELTRANE_SIM_CAPITAL"] = run["capital"]
        else:
            (work / "start.json").write_text(previous["report"])
            environment["VELTRANE_SIM_ACCOUNT_START"] = str(work / "start.json")
        command = [run["python"], "-m", "veltrane_backtest.harness", "--script", run["script"],
                   "--params", json.dumps(run["params"]), "--result", str(work / "result.json"),
                   *run.get("harness_options", [])]
        try:
            done = subprocess.run(command, cwd=work, env=environment, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  timeout=run["day_timeout"])
            log = done.stdout.decode("utf-8", "replace")
            code = done.returncode
        except subprocess.TimeoutExpired as expired:
            log = (expired.stdout or b"").decode("utf-8", "replace")
            code = f"killed after {run['day_timeout']} s"
        result = {}
        with contextlib.suppress(OSError, ValueError):
            result = json.loads((work / "result.json").read_text())
        report = work / "account.json"
        if code == 0 and result.get("ok") and report.exists():
            return {**base, "ok": True, "report": report.read_text(), "log": _tail(log),
                    "seconds": result["seconds"]}
        trace = result.get("traceback") or _tail(log)
        if code == 0 and not report.exists():
            first = "the exchange wrote no account report (did the day reach its close?)"
        else:
            lines = [line for line in trace.strip().splitlines() if line.strip()]
            first = lines[-1] if lines else f"the day's process ended with {code}"
        return {**base, "ok": False, "skipped": False, "log": _tail(log), "traceback": trace,
                "error": f"{run['label']}: day {index + 1} ({day['name']}) failed: {first}"}


class Sweep:
    """Every parameter set over every day."""

    def __init__(self, script, days, grid, out, capital="1000000", settings=None,
                 build=None, day_timeout=3600):
        build = pathlib.Path(build or PACKAGE_ROOT.parent / "build").resolve()
        self.out = pathlib.Path(out)
        self.days = days
        self.grid = grid
        width = len(str(len(grid)))
        self._runs = [{
            "name": f"run{number + 1:0{width}d}",
            "label": " ".join(f"{key}={value}" for key, value in params.items()) or "defaults",
            "params": params, "days": days, "script": str(pathlib.Path(script).resolve()),
            "capital": str(capital), "settings": dict(settings or {}),
            "python": sys.executable, "stand_ins": str(build / "sim"),
            "python_path": [str(PACKAGE_ROOT), str(build / "Ombrel")],
            "day_timeout": day_timeout,
        } for number, params in enumerate(grid)]

    def runs(self):
        return self._runs

    def submit(self, client):
        """The futures of every day, by run, chained day to day."""
        token = uuid.uuid4().hex[:8]
        chains = []
        for run in self._runs:
            chain, previous = [], None
            for index in range(len(self.days)):
                previous = client.submit(run_day, run, index, previous, pure=False,
                                         key=f"backtest-{token}-{run['name']}-day{index + 1}")
                chain.append(previous)
            chains.append(chain)
        return chains

    def run(self, client, on_day=None):
        """Runs everything on `client`; returns the results by run, then day.
        `on_day(result)` is called as each day's result comes."""
        from distributed import as_completed

        chains = self.submit(client)
        for future in as_completed([f for chain in chains for f in chain]):
            if on_day is not None:
                on_day(future.result())
        return [[future.result() for future in chain] for chain in chains]


@contextlib.contextmanager
def local_client(workers):
    """A cluster of `workers` processes on this machine, one task at a time
    each, and a client of it."""
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                      dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
            Client(cluster) as client:
        yield client


@contextlib.contextmanager
def remote_client(address):
    from distributed import Client

    with Client(address) as client:
        yield client

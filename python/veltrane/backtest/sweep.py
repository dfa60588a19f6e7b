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
the result.

Every day ends with what happened to it. Each tape is checked once, when
the sweep is made (quotetape check: a damaged or cut tape, or one without
market data, fails its day at once, in every parameter set). It runs in a process group of its own, killed when the day
ends, so that nothing the strategy started outlives it, with its address
space bounded (--day-memory) and its time (--day-timeout). A day that ran
but whose handlers raised is "error": its account report still starts the
next day. A day that did not finish is "failed", with how (a refused login
and the simulator's reason, a signal, an exit status, no end in time, the
strategy's traceback) and ends its chain: the later days of that parameter
set are "skipped", and the other chains go on.
"""

import contextlib
import json
import logging
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import uuid

# The folder that holds the package veltrane.
PACKAGE_ROOT = pathlib.Path(__file__).resolve().parents[2]
# What the runner and the harness set for every day, never the user: the
# day's market, pace and account (a settings file could name any of them).
RUNNER_SETTINGS = ("VELTRANE_SIM_TAPE", "VELTRANE_SIM_SPEED", "VELTRANE_SIM_ACCOUNT_REPORT",
                   "VELTRANE_SIM_ACCOUNT_START", "VELTRANE_SIM_CAPITAL", "VELTRANE_SIM_POSITIONS",
                   "VELTRANE_SIM_DAY_END_FD", "VELTRANE_SIM_UPSTREAM", "VELTRANE_SIM_RECORD",
                   "VELTRANE_SIM_CONFIG")
# The tail of a day's output kept with its result.
LOG_TAIL = 64 * 1024
# What the simulated exchange prints before the lines that say why it refuses
# every login.
REFUSAL_HEADER = "simulated exchange: every login will be refused:"


def first_line(trace):
    """The last line of a traceback: the exception and its message."""
    lines = [line for line in trace.strip().splitlines() if line.strip()]
    return lines[-1] if lines else ""


def _tail(text):
    return text if len(text) <= LOG_TAIL else "...\n" + text[-LOG_TAIL:]


def day_environment(run):
    """The environment of a day's process (and of the script's check): the
    worker's, without its VELTRANE_SIM_* settings, with the run's."""
    environment = {name: value for name, value in os.environ.items()
                   if not name.startswith("VELTRANE_SIM_")}
    environment.update(run["settings"])
    environment["PYTHONPATH"] = os.pathsep.join(run["python_path"])
    # The stand-ins come first whatever the worker's environment says: a
    # backtest never reaches a broker.
    environment["LD_LIBRARY_PATH"] = os.pathsep.join(
        [run["stand_ins"]] + [p for p in [os.environ.get("LD_LIBRARY_PATH")] if p])
    return environment


def check_script(run):
    """None when the script's Strategy can run a day, else why not."""
    done = subprocess.run([run["python"], "-m", "veltrane.backtest.harness", "--check",
                           "--script", run["script"]], env=day_environment(run),
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    return None if done.returncode == 0 else (done.stderr.strip() or done.stdout.strip())


def check_tape(quotetape, tape):
    """None when a replay of `tape` gives its whole day, else why not."""
    done = subprocess.run([quotetape, "check", tape], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=600)
    if done.returncode == 0:
        return None
    # "quotetape: /path/d2.tape: tape damaged at byte ..." -> what follows the path.
    return done.stderr.strip().removeprefix("quotetape: ").removeprefix(tape + ": ")


def simulator_reason(log):
    """The lines the simulated exchange printed to say why it refuses the
    logins, joined; empty when it printed none."""
    lines = log.splitlines()
    if REFUSAL_HEADER not in lines:
        return ""
    reasons = []
    for line in lines[lines.index(REFUSAL_HEADER) + 1:]:
        if not line.strip() or line.startswith(("conf_merge_position", "Login Error")):
            break
        reasons.append(line.strip())
    return "; ".join(reasons)


def how_it_ended(code, run):
    """What a day's process that ended with `code`, and no result, died of."""
    if code < 0:
        name = signal.Signals(-code).name if -code in signal.valid_signals() else "?"
        text = f"killed by signal {-code} ({name})"
        if -code == signal.SIGKILL and run["day_memory"] > 0:
            text += ": out of memory?"
        return text
    return f"exited with status {code} before the day's end"


def run_day(run, index, previous):
    """Runs day `index` of `run` (a dict made by Sweep.runs) after `previous`,
    the result of the day before or None; returns this day's result."""
    day = run["days"][index]
    base = {"run": run["name"], "index": index, "day": day["name"]}
    if previous is not None and not previous["ok"]:
        return {**base, "ok": False, "skipped": True, "error": previous["error"]}

    def failed(reason, log="", trace=""):
        return {**base, "ok": False, "skipped": False, "log": _tail(log),
                "traceback": trace or _tail(log),
                "error": f"{run['label']}: day {index + 1} ({day['name']}) failed: {reason}"}

    if day["problem"] is not None:
        return failed(day["problem"])
    with tempfile.TemporaryDirectory(prefix="veltrane-day-") as work:
        work = pathlib.Path(work)
        environment = day_environment(run)
        environment.update(VELTRANE_SIM_TAPE=day["tape"], VELTRANE_SIM_SPEED="max",
                           VELTRANE_SIM_ACCOUNT_REPORT=str(work / "account.json"))
        if previous is None:
            environment["VELTRANE_SIM_CAPITAL"] = run["capital"]
        else:
            (work / "start.json").write_text(previous["report"])
            environment["VELTRANE_SIM_ACCOUNT_START"] = str(work / "start.json")
        command = [run["python"], "-m", "veltrane.backtest.harness", "--script", run["script"],
                   "--params", json.dumps(run["params"]), "--result", str(work / "result.json"),
                   "--memory", str(run["day_memory"]), *run.get("harness_options", [])]
        # A file, not a pipe: a child the strategy started may hold it open
        # after the day. The day's process group ends with the day.
        with open(work / "day.log", "w+b") as output:
            day_process = subprocess.Popen(command, cwd=work, env=environment,
                                           stdin=subprocess.DEVNULL, stdout=output,
                                           stderr=subprocess.STDOUT, start_new_session=True)
            try:
                code = day_process.wait(timeout=run["day_timeout"])
            except subprocess.TimeoutExpired:
                code = None
            with contextlib.suppress(ProcessLookupError):
                os.killpg(day_process.pid, signal.SIGKILL)
            day_process.wait()
            output.seek(0)
            log = output.read().decode("utf-8", "replace")
        result = {}
        with contextlib.suppress(OSError, ValueError):
            result = json.loads((work / "result.json").read_text())
        report = work / "account.json"
        if code is None:
            return failed(f"no end after {run['day_timeout']:g} s (--day-timeout)", log)
        if code == 0 and result.get("ok") and report.exists():
            return {**base, "ok": True, "report": report.read_text(), "log": _tail(log),
                    "seconds": result["seconds"], "errors": result["errors"],
                    "traceback": result["traceback"]}
        if "login_refused" in result:
            reason = simulator_reason(log) or "the simulator printed no reason"
            return failed(f"login refused (status {result['login_refused']}): {reason}", log)
        if result.get("traceback"):
            return failed(first_line(result["traceback"]), log, result["traceback"])
        if code == 0:
            return failed("the exchange wrote no account report (did the day reach its close?)",
                          log)
        return failed(how_it_ended(code, run), log)


class Sweep:
    """Every parameter set over every day."""

    def __init__(self, script, days, grid, out, capital="1000000", settings=None,
                 build=None, day_timeout=600, day_memory=4 << 30):
        build = pathlib.Path(build or PACKAGE_ROOT.parent / "build").resolve()
        self.out = pathlib.Path(out)
        # A tape's check is the same for every parameter set that replays it.
        quotetape = str(build / "sim" / "quotetape")
        problems = {tape: check_tape(quotetape, tape) for tape in {day["tape"] for day in days}}
        days = [{**day, "problem": problems[day["tape"]]} for day in days]
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
            "day_timeout": day_timeout, "day_memory": day_memory,
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

"""scripts/backtest: a strategy script over days and a grid of parameters.

    scripts/backtest examples/paper_strategy.py --days day1.tape day2.tape \\
        --param fast=0.2,0.3 --param slow=0.05 --workers 2 --out results/
    scripts/backtest ... --scheduler tcp://host:8786      # on a running cluster
    scripts/backtest ... --generate 20 --seed 7           # 20 generated days
"""

import argparse
import itertools
import pathlib
import re
import subprocess
import sys
import time

from veltrane.backtest import days as days_module
from veltrane.backtest import report, strategy_script, sweep


def parse_grid(script_params, texts):
    """--param k=v1,v2 ... as a list of parameter sets, the first key slowest."""
    keys, values = [], []
    for text in texts:
        key, sign, listed = text.partition("=")
        key = key.strip()
        if not sign or not key or not listed:
            raise strategy_script.ScriptError(f"--param {text}: expected NAME=VALUE[,VALUE...]")
        if key not in script_params:
            known = ", ".join(script_params) or "none"
            raise strategy_script.ScriptError(
                f"--param {key}: the script's PARAMS have no {key} (it has: {known})")
        if key in keys:
            raise strategy_script.ScriptError(f"--param {key}: given twice")
        keys.append(key)
        values.append([strategy_script.typed_value(key, v.strip(), script_params[key])
                       for v in listed.split(",")])
    return [dict(zip(keys, combination)) for combination in itertools.product(*values)]


def parse_settings(texts, quotetape):
    """--sim NAME=VALUE ... as a dict, each checked as the simulated exchange
    reads it (quotetape settings), so that a typo or a bad value is refused
    before anything runs rather than at every day's login."""
    settings = {}
    for text in texts:
        name, sign, value = text.partition("=")
        if not sign or not name.startswith("VELTRANE_SIM_"):
            raise strategy_script.ScriptError(f"--sim {text}: expected VELTRANE_SIM_NAME=VALUE")
        if name in sweep.RUNNER_SETTINGS:
            raise strategy_script.ScriptError(f"--sim {name}: set by the runner for each day")
        settings[name] = value
    if settings:
        done = subprocess.run([quotetape, "settings", *(f"{k}={v}" for k, v in settings.items())],
                              capture_output=True, text=True, timeout=60)
        if done.returncode != 0:
            problems = "; ".join(done.stderr.strip().splitlines()) or f"status {done.returncode}"
            raise strategy_script.ScriptError(f"--sim: {problems}")
    return settings


SIZE_UNITS = {"": 1, "K": 1 << 10, "M": 1 << 20, "G": 1 << 30}


def parse_bytes(text):
    """'4G', '512M', '1000000' -> bytes; 0 for no bound."""
    match = re.fullmatch(r"(\d+)([KMG]?)(?:i?B)?", text.strip(), re.IGNORECASE)
    if not match:
        raise argparse.ArgumentTypeError(f"'{text}' is not a size such as 4G, 512M or 0")
    return int(match.group(1)) * SIZE_UNITS[match.group(2).upper()]


def arguments(argv):
    parser = argparse.ArgumentParser(
        prog="backtest", description=__doc__.splitlines()[0],
        formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__.split("\n", 2)[2])
    parser.add_argument("script", help="the strategy script (PARAMS, CODES, Strategy)")
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--days", nargs="+", metavar="TAPE", help="the days' tapes, in order")
    where.add_argument("--generate", type=int, metavar="N", help="generate N chained days")
    parser.add_argument("--seed", type=int, default=1, help="the first generated day's seed")
    parser.add_argument("--sessions", help="generated days' sessions, e.g. 0930-1130,1300-1500")
    parser.add_argument("--instruments", help="generated days' codes (default: the script's "
                                              "CODES), e.g. 600000.SH,000001.SZ")
    parser.add_argument("--param", action="append", default=[], metavar="NAME=V1,V2",
                        help="values of one of the script's PARAMS (repeat for a grid)")
    parser.add_argument("--workers", type=int, default=1,
                        help="worker processes of the local cluster (default 1)")
    parser.add_argument("--scheduler", metavar="tcp://HOST:PORT",
                        help="run on this Dask scheduler instead of a local cluster")
    parser.add_argument("--out", required=True, help="the folder for the results and report")
    parser.add_argument("--capital", default="1000000", help="cash at the start, yuan")
    parser.add_argument("--sim", action="append", default=[], metavar="VELTRANE_SIM_X=V",
                        help="a setting of the simulated exchange for every day")
    parser.add_argument("--build", help="the build folder (default: the project's build/)")
    parser.add_argument("--day-timeout", type=float, default=600,
                        help="seconds after which a day's process is killed (default 600)")
    parser.add_argument("--day-memory", type=parse_bytes, default=4 << 30, metavar="SIZE",
                        help="address space each day's process may take, e.g. 4G, 512M "
                             "(default 4G; 0 for no bound)")
    options = parser.parse_args(argv)
    if options.workers < 1:
        parser.error("--workers must be at least 1")
    if options.generate is not None and options.generate < 1:
        parser.error("--generate must be at least 1")
    if options.day_timeout <= 0:
        parser.error("--day-timeout must be more than 0")
    return options


def main(argv=None):
    options = arguments(argv)
    from tqdm import tqdm

    tty = sys.stderr.isatty()
    try:
        out = pathlib.Path(options.out)
        build = pathlib.Path(options.build or sweep.PACKAGE_ROOT.parent / "build")
        literals = strategy_script.read_literals(options.script)
        grid = parse_grid(literals["PARAMS"], options.param)
        settings = parse_settings(options.sim, str(build / "sim" / "quotetape"))
        if options.days:
            day_list = days_module.from_tapes(options.days)
        else:
            codes = (options.instruments.split(",") if options.instruments
                     else literals["CODES"])
            with tqdm(total=options.generate, desc="generating", unit="day",
                      disable=not tty) as bar:
                day_list = days_module.generate(str(build / "sim" / "quotetape"), out / "tapes",
                                                options.generate, options.seed, codes,
                                                options.sessions, bar.update)
    except (strategy_script.ScriptError, days_module.DayError) as error:
        print(f"backtest: {error}", file=sys.stderr)
        return 2

    work = sweep.Sweep(options.script, day_list, grid, out, options.capital, settings, build,
                       options.day_timeout, options.day_memory)
    # One message at once rather than the same error on every day.
    problem = sweep.check_script(work.runs()[0])
    if problem is not None:
        print(f"backtest: {problem}", file=sys.stderr)
        return 2
    began = time.monotonic()
    connect = (sweep.remote_client(options.scheduler) if options.scheduler
               else sweep.local_client(options.workers))
    with connect as client, \
            tqdm(total=len(grid), desc="parameter sets", unit="set", position=0,
                 disable=not tty) as sets, \
            tqdm(total=len(grid) * len(day_list), desc="days", unit="day", position=1,
                 disable=not tty) as days_bar:
        def on_day(result):
            days_bar.update()
            if result["index"] == len(day_list) - 1:
                sets.update()
            if not result["ok"] and not result.get("skipped"):
                tqdm.write(f"backtest: {result['error']}", file=sys.stderr)
            elif result["ok"] and result["errors"]:
                run = work.runs()[[r["name"] for r in work.runs()].index(result["run"])]
                tqdm.write(f"backtest: {run['label']}: day {result['index'] + 1} "
                           f"({result['day']}): {result['errors']} errors in handlers; the "
                           f"first: {sweep.first_line(result['traceback'])}", file=sys.stderr)
        results = work.run(client, on_day)
    runs, day_rows = report.write(work, results, options.capital,
                                  f"Backtest of {pathlib.Path(options.script).name}")
    failed = int((runs["status"] == "failed").sum())
    raised = int((runs["status"] == "error").sum())
    error_days = int((day_rows["status"] == "error").sum())
    print(f"{len(grid)} parameter sets x {len(day_list)} days in "
          f"{time.monotonic() - began:.1f} s: {len(grid) - failed - raised} complete, "
          f"{raised} with errors ({error_days} day{'' if error_days == 1 else 's'} whose "
          f"handlers raised), {failed} failed; "
          f"{out / 'report.html'}")
    return 1 if failed or raised else 0

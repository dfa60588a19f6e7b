"""The backtest runner over generated days on local Dask clusters: the same
results whatever the number of workers, and when a worker is killed; days
chained through the account report (T+1 across the night, cash and
positions to the cent); a handler that raises makes its days "error"; every
way a day can fail, each with its reason; scripts and command lines refused
before anything runs; the metrics of hand-made equity; the report's page in
a headless browser."""

import base64
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import time

import numpy as np
import pandas as pd
import pytest

from veltrane.backtest import days, metrics, report, sweep

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent
BUILD = pathlib.Path(os.environ.get("VELTRANE_BUILD", ROOT / "build"))
EXAMPLE = ROOT / "examples" / "paper_strategy.py"
CHAIN = HERE / "chain_strategy.py"
MISTAKE = HERE / "mistake_strategy.py"


@pytest.fixture(scope="module")
def two_days(tmp_path_factory):
    folder = tmp_path_factory.mktemp("tapes")
    return days.generate(str(BUILD / "sim" / "quotetape"), folder, 2, 11,
                         ["600000.SH", "000001.SZ", "601318.SH"], "0930-1000")


def sweep_of(script, day_list, grid, out, settings=None, **limits):
    return sweep.Sweep(script, day_list, grid, out, "1000000", settings or {}, BUILD,
                       **{"day_timeout": 300, **limits})


def tables_of(work, results):
    report.write(work, results, "1000000", "test")
    return (pd.read_csv(work.out / "results.csv", keep_default_na=False),
            pd.read_csv(work.out / "days.csv", keep_default_na=False))


@pytest.fixture(scope="module")
def one_worker(two_days, tmp_path_factory):
    grid = [{"fast": 0.2}, {"fast": 0.4}]
    work = sweep_of(EXAMPLE, two_days, grid, tmp_path_factory.mktemp("one"))
    with sweep.local_client(1) as client:
        return tables_of(work, work.run(client))


def test_the_reference_sweep_trades(one_worker):
    results, day_rows = one_worker
    assert list(results["status"]) == ["ok", "ok"]
    assert (day_rows["fills"] > 0).all(), day_rows
    assert len(day_rows) == 4


@pytest.mark.parametrize("kill", [False, True], ids=["two workers", "a worker killed"])
def test_results_do_not_depend_on_the_workers(one_worker, two_days, tmp_path, kill):
    grid = [{"fast": 0.2}, {"fast": 0.4}]
    work = sweep_of(EXAMPLE, two_days, grid, tmp_path)
    killed = []
    with sweep.local_client(2) as client:
        pids = client.run(os.getpid)

        def on_day(result):
            # Kill a worker in the middle of a day of its own.
            if kill and not killed:
                for address, keys in client.processing().items():
                    if keys and address in pids:
                        os.kill(pids[address], signal.SIGKILL)
                        killed.append(address)
                        break

        results = work.run(client, on_day)
    assert killed or not kill, "no worker was busy when one could be killed"
    mine = tables_of(work, results)
    for reference, got in zip(one_worker, mine):
        pd.testing.assert_frame_equal(got, reference, check_exact=True)


@pytest.fixture(scope="module")
def chained(tmp_path_factory):
    """The chain strategy over two generated days, calm and raising, through
    the command line."""
    out = tmp_path_factory.mktemp("chained")
    done = subprocess.run(
        [sys.executable, "-m", "veltrane.backtest", str(CHAIN), "--generate", "2", "--seed", "5",
         "--sessions", "0930-0945", "--param", "explode=0,1", "--workers", "2", "--out", str(out),
         "--build", str(BUILD)], capture_output=True, text=True, timeout=600)
    return out, done


def test_positions_and_cash_carry_over_the_night_and_settle_t_plus_1(chained):
    out, done = chained
    first = json.loads((out / "runs" / "run1" / "day01.json").read_text())
    second = json.loads((out / "runs" / "run1" / "day02.json").read_text())
    # Day 1: the buy filled, the sell of the same shares refused (T+1).
    assert [(o["side"], o["status"], o["error_id"]) for o in first["orders"]] == \
        [("buy", "7", 0), ("sell", "8", 18)], first["orders"]
    assert [(p["code"], p["quantity"]) for p in first["positions"]] == [("600000", 100)]
    # Day 2 starts where day 1 ended, to the cent, and sells what it bought.
    assert second["start"]["cash"] == first["cash"]
    assert second["start"]["positions"] == [
        {"code": p["code"], "quantity": p["quantity"], "cost": p["cost"]}
        for p in first["positions"]]
    assert [(o["side"], o["status"]) for o in second["orders"]] == [("sell", "7")]
    assert second["positions"] == []
    day_rows = pd.read_csv(out / "days.csv", keep_default_na=False)
    calm = day_rows[day_rows["run"] == "run1"]
    assert [float(cash) for cash in calm["cash"]] == [first["cash"], second["cash"]]
    assert list(calm["positions"]) == ["600000:100", ""]


def test_a_handler_that_raises_makes_its_days_errors_and_the_others_complete(chained):
    out, done = chained
    assert done.returncode == 1, done.stdout + done.stderr
    results = pd.read_csv(out / "results.csv", keep_default_na=False)
    assert list(results["status"]) == ["ok", "error"]
    assert results["error"][1] == ("explode=1: handlers raised on 1 of 2 days, first on day 2 "
                                   "(day02): RuntimeError: boom on a day that starts with shares")
    assert "explode=1: day 2 (day02): " in done.stderr and " errors in handlers" in done.stderr
    assert "1 complete, 1 with errors (1 day whose handlers raised), 0 failed" in done.stdout
    day_rows = pd.read_csv(out / "days.csv", keep_default_na=False)
    assert list(day_rows["status"]) == ["ok", "ok", "ok", "error"]
    raised = day_rows.iloc[3]
    assert int(raised["errors"]) > 1 and raised["error"] == \
        "RuntimeError: boom on a day that starts with shares"
    assert "in RtnMarket" in raised["traceback"]
    page = (out / "report.html").read_text()
    assert "Traceback (most recent call last)" in page and "errors in handlers" in page
    assert "raise RuntimeError" in (out / "runs" / "run2" / "day02.log").read_text()


@pytest.fixture(scope="module")
def one_day(tmp_path_factory):
    folder = tmp_path_factory.mktemp("one_day")
    return days.generate(str(BUILD / "sim" / "quotetape"), folder, 1, 3, ["600000.SH"],
                         "0930-0935")


def tape_like(one_day, folder, edit):
    """A copy of the day's tape changed by `edit(bytes) -> bytes`."""
    tape = folder / "edited.tape"
    tape.write_bytes(edit(pathlib.Path(one_day[0]["tape"]).read_bytes()))
    return [{"name": "edited", "tape": str(tape)}]


def flipped(data):
    return data[:5050] + bytes([data[5050] ^ 0xFF]) + data[5051:]


# (case, mistake, changes to the day, what days.csv says of it: status and error)
DAYS = [
    ("none", "none", {}, "ok", ""),
    ("signal 9 under the memory bound", "sigkill", {},
     "failed", r"failed: killed by signal 9 \(SIGKILL\): out of memory\?$"),
    ("signal 11", "sigsegv", {}, "failed", r"failed: killed by signal 11 \(SIGSEGV\)$"),
    ("an exit before the day's end", "exit", {},
     "failed", "failed: exited with status 7 before the day's end$"),
    ("an endless loop", "loop", {"day_timeout": 5},
     "failed", r"failed: no end after 5 s \(--day-timeout\)$"),
    ("more memory than a day may take", "memory", {"day_memory": 1 << 30}, "error",
     "^MemoryError$"),
    ("a handler that raises", "raise", {}, "error", "^ValueError: a handler's mistake$"),
    ("a login refused", "none", {"settings": {"VELTRANE_SIM_QUEUE_MODEL": "fifo"}},
     "failed", r"failed: login refused \(status 2\): VELTRANE_SIM_QUEUE_MODEL='fifo': expected "
               "one of risk-averse, proportional$"),
    ("a damaged tape", "none", {"tape": flipped},
     "failed", r"failed: tape damaged at byte \d+ \(a record whose checksum does not match"
               r".*\); only \d+ of \d+ messages can be replayed$"),
    ("a tape cut short", "none", {"tape": lambda data: data[:-3]},
     "failed", r"failed: tape damaged at byte \d+ \(the last record is cut short\); only \d+ "
               r"of \d+ messages can be replayed$"),
    ("a header without records", "none", {"tape": lambda data: data[:12]},
     "failed", "failed: no market data: none of its 0 messages is a snapshot or a trade$"),
]


@pytest.mark.parametrize("mistake, changes, status, error", [c[1:] for c in DAYS],
                         ids=[c[0] for c in DAYS])
def test_each_day_ends_with_what_happened_to_it(one_day, tmp_path, mistake, changes, status,
                                                error):
    changes = dict(changes)
    day_list = tape_like(one_day, tmp_path, changes.pop("tape")) if "tape" in changes else one_day
    work = sweep_of(MISTAKE, day_list, [{"mistake": mistake}], tmp_path, **changes)
    began = time.monotonic()
    result = sweep.run_day(work.runs()[0], 0, None)
    assert time.monotonic() - began < 60, "a day must fail within seconds, not at its timeout"
    row = report.tables(work, [[result]], "1000000")[1].iloc[0]
    assert row["status"] == status, row["error"]
    assert re.search(error, row["error"]) if error else row["error"] == "", row["error"]


def test_nothing_the_strategy_started_outlives_its_day(one_day, tmp_path, monkeypatch):
    monkeypatch.setenv("CHILD_PID_FILE", str(tmp_path / "child.pid"))
    work = sweep_of(MISTAKE, one_day, [{"mistake": "child"}], tmp_path)
    assert sweep.run_day(work.runs()[0], 0, None)["ok"]
    child = int((tmp_path / "child.pid").read_text())
    try:  # gone, or dead and waiting for whoever adopted it to reap it
        state = (pathlib.Path("/proc") / str(child) / "stat").read_text().rsplit(")", 1)[1]
        assert state.split()[0] in ("Z", "X"), f"the strategy's child {child} still runs"
    except FileNotFoundError:
        pass


@pytest.mark.parametrize("totals, expected", [
    # +10%, -10%, +10% on 100.
    ([110, 99, 108.9], {"total_return": 0.089, "max_drawdown": 0.1,
                        "sharpe": (0.1 / 3) / np.std([0.1, -0.1, 0.1], ddof=1) * np.sqrt(252),
                        "volatility": np.std([0.1, -0.1, 0.1], ddof=1) * np.sqrt(252),
                        "winning_days": 2 / 3}),
    # A loss from the start, deepest at the end.
    ([95, 90, 92, 85], {"total_return": -0.15, "max_drawdown": 0.15, "winning_days": 0.25}),
    # Flat: no risk, no Sharpe.
    ([100, 100], {"total_return": 0.0, "max_drawdown": 0.0, "sharpe": np.nan,
                  "volatility": 0.0, "winning_days": 0.0}),
    # One day: no deviation to speak of.
    ([104], {"total_return": 0.04, "sharpe": np.nan, "volatility": np.nan}),
])
def test_metrics_of_hand_made_equity(totals, expected):
    frame = pd.DataFrame({"total": totals, "pnl": np.diff([100] + totals),
                          "traded_amount": 50.0, "ordered_quantity": 200,
                          "traded_quantity": 100, "fees": 1.005, "taxes": 0.5,
                          "orders": 2, "fills": 1})
    got = metrics.figures(frame, 100)
    for key, value in expected.items():
        assert got[key] == pytest.approx(value, nan_ok=True), key
    assert got["turnover"] == pytest.approx(0.5 * len(totals))
    assert got["fill_ratio"] == 0.5
    assert got["orders"] == 2 * len(totals)


def test_the_report_page_renders(chained):
    out, _ = chained
    page = (out / "report.html").read_text()
    assert len(re.findall(r"<tr[ >]", page)) == 3  # the header and two runs
    images = re.findall(r'src="data:image/png;base64,([^"]+)"', page)
    assert len(images) == 2
    assert all(base64.b64decode(image).startswith(b"\x89PNG") for image in images)
    assert "src=\"http" not in page and "href=" not in page  # nothing outside the page
    browser = shutil.which("chromium")
    assert browser, "chromium is not installed"
    shot = out / "report.png"
    arguments = [browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--hide-scrollbars", "--window-size=1200,1600"]
    dom = subprocess.run(arguments + ["--dump-dom", (out / "report.html").as_uri()],
                         capture_output=True, text=True, timeout=120)
    assert dom.returncode == 0, dom.stderr
    assert "<table" in dom.stdout and "run2" in dom.stdout
    drawn = subprocess.run(arguments + [f"--screenshot={shot}", (out / "report.html").as_uri()],
                           capture_output=True, text=True, timeout=120)
    assert drawn.returncode == 0, drawn.stderr
    assert shot.read_bytes().startswith(b"\x89PNG") and shot.stat().st_size > 10000


@pytest.mark.parametrize("arguments, message", [
    (["--days", "/nonexistent.tape"], "/nonexistent.tape: no such tape"),
    (["--generate", "1", "--param", "slowest=1"], "the script's PARAMS have no slowest"),
    (["--generate", "1", "--param", "lot=big"], "parameter lot: 'big' is not int"),
    (["--generate", "1", "--param", "fast"], "expected NAME=VALUE"),
    (["--generate", "1", "--sim", "VELTRANE_SIM_TAPE=x"], "set by the runner"),
    (["--generate", "1", "--sim", "VELTRANE_SIM_SPEEED=max"],
     "--sim: VELTRANE_SIM_SPEEED is not a setting of the simulated exchange; did you mean "
     "VELTRANE_SIM_SPEED?"),
    (["--generate", "1", "--sim", "VELTRANE_SIM_SEED=abc"],
     "--sim: VELTRANE_SIM_SEED='abc': expected an unsigned 64-bit decimal number"),
    (["--generate", "1", "--day-memory", "lots"], "'lots' is not a size such as 4G"),
])
def test_the_command_line_refuses_what_it_cannot_run(tmp_path, arguments, message):
    done = subprocess.run([sys.executable, "-m", "veltrane.backtest", str(EXAMPLE), *arguments,
                           "--out", str(tmp_path), "--build", str(BUILD)],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 2
    assert message in done.stderr, done.stderr


CALM = MISTAKE.read_text()


# (case, the script's text, what the runner says of it)
SCRIPTS = [
    ("no PARAMS", CALM.replace('PARAMS = {"mistake": "none"}', ""),
     "no PARAMS: a strategy script names its parameters and their defaults in PARAMS"),
    ("no CODES", CALM.replace('CODES = ["600000.SH"]', ""),
     "no CODES: a strategy script lists what it trades in CODES"),
    ("no Strategy", CALM.replace("class Strategy(", "class Mine("), "no class Strategy"),
    ("event methods missing",
     CALM.replace("    RtnTransaction = RtnQryAccountMaxEntrustCount = RtnConnect\n", ""),
     "Strategy lacks RtnTransaction, RtnQryAccountMaxEntrustCount: Ombrel calls a method for "
     "every event"),
    ("the base class not initialised",
     CALM.replace("        Ombrel.QuantCallBack.__init__(self)\n", ""),
     "Strategy.__init__ does not call Ombrel.QuantCallBack.__init__(self), so no event can "
     "reach it"),
    ("a Strategy() that raises", CALM.replace('self.mistake = PARAMS["mistake"]',
                                              'self.mistake = PARAMS["mistakes"]'),
     "Strategy() raised KeyError: 'mistakes'"),
]


@pytest.mark.parametrize("text, message", [c[1:] for c in SCRIPTS], ids=[c[0] for c in SCRIPTS])
def test_a_script_that_cannot_run_is_refused_before_any_day(tmp_path, text, message):
    script = tmp_path / "strategy.py"
    script.write_text(text)
    done = subprocess.run([sys.executable, "-m", "veltrane.backtest", str(script), "--generate",
                           "1", "--out", str(tmp_path / "out"), "--build", str(BUILD)],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 2, done.stdout + done.stderr
    assert message in done.stderr, done.stderr
    assert not (tmp_path / "out" / "report.html").exists()

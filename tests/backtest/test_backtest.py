"""The backtest runner over generated days on local Dask clusters: the same
results whatever the number of workers, and when a worker is killed; days
chained through the account report (T+1 across the night, cash and
positions to the cent); a strategy that raises fails its run only; the
metrics of hand-made equity; the report's page in a headless browser."""

import base64
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

from veltrane_backtest import days, metrics, report, sweep

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent
BUILD = pathlib.Path(os.environ.get("VELTRANE_BUILD", ROOT / "build"))
EXAMPLE = ROOT / "examples" / "paper_strategy.py"
CHAIN = HERE / "chain_strategy.py"


@pytest.fixture(scope="module")
def two_days(tmp_path_factory):
    folder = tmp_path_factory.mktemp("tapes")
    return days.generate(str(BUILD / "sim" / "quotetape"), folder, 2, 11,
                         ["600000.SH", "000001.SZ", "601318.SH"], "0930-1000")


def sweep_of(script, day_list, grid, out):
    return sweep.Sweep(script, day_list, grid, out, "1000000", {}, BUILD, 300)


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
        [sys.executable, "-m", "veltrane_backtest", str(CHAIN), "--generate", "2", "--seed", "5",
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
    # The strategy lacks an event method: reported as live, and the day goes on.
    assert "in RtnRspOrderInsert" in (out / "runs" / "run1" / "day01.log").read_text()


def test_a_strategy_that_raises_fails_its_run_and_the_others_complete(chained):
    out, done = chained
    assert done.returncode == 1, done.stdout + done.stderr
    results = pd.read_csv(out / "results.csv", keep_default_na=False)
    assert list(results["status"]) == ["ok", "failed"]
    error = "explode=1: day 2 (day02) failed: RuntimeError: boom on a day that starts with shares"
    assert results["error"][1] == error
    assert error in done.stderr
    assert "1 complete, 1 failed" in done.stdout
    day_rows = pd.read_csv(out / "days.csv", keep_default_na=False)
    assert list(day_rows["status"]) == ["ok", "ok", "ok", "failed"]
    page = (out / "report.html").read_text()
    assert "Traceback (most recent call last)" in page and "in RtnMarket" in page
    assert "raise RuntimeError" in (out / "runs" / "run2" / "day02.log").read_text()


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
])
def test_the_command_line_refuses_what_it_cannot_run(tmp_path, arguments, message):
    done = subprocess.run([sys.executable, "-m", "veltrane_backtest", str(EXAMPLE), *arguments,
                           "--out", str(tmp_path), "--build", str(BUILD)],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 2
    assert message in done.stderr, done.stderr

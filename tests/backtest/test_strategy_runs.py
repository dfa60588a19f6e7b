"""veltrane.Strategy scripts against the stand-ins' simulated exchange: the
rewritten example makes the raw example's trades; python3 -m veltrane run,
veltrane.run and a backtest give the same fills on the same day; a handler
that raises and a parameter that does not exist are told."""

import json
import os
import pathlib
import subprocess
import sys

import pytest

from veltrane import backtest
from veltrane.backtest import days

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent
BUILD = pathlib.Path(os.environ.get("VELTRANE_BUILD", ROOT / "build"))
EXAMPLE = ROOT / "examples" / "paper_strategy.py"
RAW = ROOT / "tests" / "python" / "raw_paper_strategy.py"
CODES = ["600000.SH", "000001.SZ", "601318.SH"]


def run(command, directory, **variables):
    """Runs a command against the stand-ins in `directory`; returns it done."""
    environment = {name: value for name, value in os.environ.items()
                   if not name.startswith("VELTRANE_SIM_") and name != "LD_LIBRARY_PATH"}
    environment["PYTHONPATH"] = os.pathsep.join([str(ROOT / "python"), str(BUILD / "Ombrel")])
    environment.update(variables)
    return subprocess.run(command, cwd=directory, env=environment, capture_output=True,
                          text=True, timeout=300)


def told_fills(out):
    """(code, side, quantity, price) of each 'bought'/'sold' line."""
    fills = []
    for line in out.splitlines():
        words = line.split()
        if len(words) > 5 and words[1] in ("bought", "sold"):
            fills.append((words[2], "buy" if words[1] == "bought" else "sell", int(words[3]),
                          words[5]))
    return fills


def test_the_rewritten_example_trades_as_the_raw_one(tmp_path):
    day = dict(VELTRANE_SIM_INSTRUMENTS="600000:10.52,000001:11.23,601318:45.00",
               VELTRANE_SIM_POSITIONS="600000:1000:10.40,000001:1000:11.10,601318:1000:45.00",
               VELTRANE_SIM_SESSIONS="0930-1030", VELTRANE_SIM_SPEED="max")
    fills = []
    for script in (RAW, EXAMPLE):
        folder = tmp_path / script.stem
        folder.mkdir()
        done = run([sys.executable, str(script)], folder, **day)
        assert done.returncode == 0, done.stdout + done.stderr
        fills.append(told_fills(done.stdout))
    assert fills[0] and fills[0] == fills[1]
    assert len(EXAMPLE.read_text().splitlines()) <= len(RAW.read_text().splitlines()) // 3


@pytest.fixture(scope="module")
def tape(tmp_path_factory):
    folder = tmp_path_factory.mktemp("tape")
    return days.generate(str(BUILD / "sim" / "quotetape"), folder, 1, 21, CODES,
                         "0930-1000")[0]["tape"]


def report_fills(path):
    return [(f["code"], f["side"], f["price"], f["quantity"])
            for f in json.loads(pathlib.Path(path).read_text())["fills"]]


def test_three_ways_of_running_give_the_same_fills(tape, tmp_path):
    day = dict(VELTRANE_SIM_TAPE=tape, VELTRANE_SIM_SPEED="max")
    fills = []
    for way, command in (("module", [sys.executable, "-m", "veltrane", "run", str(EXAMPLE)]),
                         ("function", [sys.executable, str(EXAMPLE)])):
        folder = tmp_path / way
        folder.mkdir()
        done = run(command, folder, VELTRANE_SIM_ACCOUNT_REPORT=str(folder / "day.json"), **day)
        assert done.returncode == 0, done.stdout + done.stderr
        assert "orders," in done.stdout and "P&L" in done.stdout
        fills.append(report_fills(folder / "day.json"))
    result = backtest.run(EXAMPLE, days=[tape], out=tmp_path / "backtest", build=BUILD)
    assert list(result.runs["status"]) == ["ok"]
    fills.append([(f.code, f.side, f.price, f.quantity) for f in result.fills.itertuples()])
    assert fills[0], "the example made no trade on the day"
    assert fills[0] == fills[1] == fills[2]
    assert result.report(tmp_path / "page.html").read_text().startswith("<")


BROKEN = '''
import veltrane

class Broken(veltrane.Strategy):
    codes = ["600000.SH"]
    params = {"size": 100}

    def on_book(self, book):
        if book.mid is not None:
            raise ValueError("a bug in on_book")
'''


@pytest.mark.parametrize("arguments,status,told", [
    ([], 1, "ValueError: a bug in on_book"),
    (["--param", "lot=3"], 2, "Broken.params has no lot (it has: size)"),
    (["--param", "size=many"], 2, "'many' is not int"),
])
def test_a_run_says_what_went_wrong(tmp_path, arguments, status, told):
    script = tmp_path / "broken.py"
    script.write_text(BROKEN)
    done = run([sys.executable, "-m", "veltrane", "run", str(script), *arguments], tmp_path,
               VELTRANE_SIM_SESSIONS="0930-0935", VELTRANE_SIM_SPEED="max",
               VELTRANE_SIM_INSTRUMENTS="600000:10.52")
    assert done.returncode == status, done.stdout + done.stderr
    assert told in done.stderr

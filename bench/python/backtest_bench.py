"""A backtest day's speed, per worker; run by scripts/bench.

A generated day of ten instruments through the example strategy at full
speed, each run a day's process as the runner starts it: in lockstep (the
exchange waits for each of the strategy's handlers: the backtest's way) and
without (the exchange runs ahead; fills may then differ, so backtests never
do). Messages per second are the tape's messages over the time from the
subscription to the day's end. Then the same with the strategy subscribed
to all ten codes, five times the events for Python.

    /usr/bin/python3 bench/python/backtest_bench.py BUILD_DIR
"""

import pathlib
import re
import statistics
import subprocess
import sys
import tempfile

from veltrane.backtest import sweep

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent
INSTRUMENTS = ["600000.SH", "600036.SH", "601318.SH", "601988.SH", "600519.SH",
               "000001.SZ", "000333.SZ", "000858.SZ", "002594.SZ", "300750.SZ"]
RUNS = 3


def main():
    build = pathlib.Path(sys.argv[1]).resolve()
    quotetape = str(build / "sim" / "quotetape")
    with tempfile.TemporaryDirectory() as folder:
        folder = pathlib.Path(folder)
        tape = folder / "day10.tape"
        subprocess.run([quotetape, "generate", str(tape), "--instruments", ",".join(INSTRUMENTS)],
                       check=True, capture_output=True)
        stats = subprocess.run([quotetape, "stats", str(tape)], check=True, capture_output=True,
                               text=True).stdout
        messages = int(re.search(r"^messages\s+(\d+)", stats, re.M).group(1))
        example = ROOT / "examples" / "paper_strategy.py"
        every_code = folder / "paper_strategy_all_codes.py"
        every_code.write_text(re.sub(r"^CODES = .*$", f"CODES = {INSTRUMENTS!r}",
                                     example.read_text(), count=1, flags=re.M))
        day = [{"name": "day10", "tape": str(tape)}]
        print(f"a generated day of 10 instruments, {messages} messages; medians of {RUNS} runs")
        for script, codes in ((example, "the example's 3 codes"), (every_code, "all 10 codes")):
            for lockstep in (True, False):
                work = sweep.Sweep(script, day, [{}], folder / "out", build=build)
                run = work.runs()[0]
                run["harness_options"] = [] if lockstep else ["--no-lockstep"]
                seconds = []
                for _ in range(RUNS):
                    result = sweep.run_day(run, 0, None)
                    if not result["ok"]:
                        sys.exit(result["error"] + "\n" + result.get("log", ""))
                    seconds.append(result["seconds"])
                median = statistics.median(seconds)
                print(f"  {codes:22} {'lockstep' if lockstep else 'no lockstep':12} "
                      f"{median:6.3f} s  {messages / median:12,.0f} messages/s per worker")


if __name__ == "__main__":
    main()

"""The days a backtest runs over: recorded tapes, or generated ones.

Generated days follow one another: each instrument's previous close on day
k + 1 is its last price on day k, so positions carried overnight are valued
on a continuous price, as on a real calendar. Day k is generated with seed
`seed + k - 1`.
"""

import pathlib
import re
import subprocess


class DayError(Exception):
    """A tape that cannot be used, or a day that cannot be generated."""


def from_tapes(paths):
    days = []
    for path in paths:
        path = pathlib.Path(path).resolve()
        if not path.is_file():
            raise DayError(f"{path}: no such tape")
        days.append({"name": path.stem, "tape": str(path)})
    names = [day["name"] for day in days]
    if len(set(names)) != len(names):
        # Two folders' day1.tape: name them by their place in the list.
        for number, day in enumerate(days):
            day["name"] = f"{number + 1:02d}-{day['name']}"
    return days


def last_prices(quotetape, tape):
    """Each code's last traded price on a tape, from `quotetape stats`."""
    done = subprocess.run([quotetape, "stats", tape], capture_output=True, text=True)
    if done.returncode != 0:
        raise DayError(f"{tape}: {done.stderr.strip()}")
    prices = {}
    rows = False
    for line in done.stdout.splitlines():
        if line.startswith("by code"):
            rows = True
            continue
        if rows:
            match = re.match(r"\s+(\d{6})\s+\d+\s+\d+\s+\d+\s+\d+\s+(\d+\.\d+)$", line)
            if not match:
                break
            prices[match.group(1)] = match.group(2)
    return prices


def generate(quotetape, directory, count, seed, codes, sessions=None, progress=None):
    """`count` chained days of `codes` (such as '600000.SH') into `directory`."""
    directory = pathlib.Path(directory).resolve()
    directory.mkdir(parents=True, exist_ok=True)
    closes = {}
    days = []
    for number in range(1, count + 1):
        tape = directory / f"day{number:0{max(2, len(str(count)))}d}.tape"
        instruments = ",".join(code + (f":{closes[code[:6]]}" if code[:6] in closes else "")
                               for code in codes)
        command = [quotetape, "generate", str(tape), "--seed", str(seed + number - 1),
                   "--instruments", instruments]
        if sessions:
            command += ["--sessions", sessions]
        done = subprocess.run(command, capture_output=True, text=True)
        if done.returncode != 0:
            raise DayError(f"generating {tape.name}: {done.stderr.strip() or done.stdout.strip()}")
        # A code that did not trade keeps its close.
        closes.update({code: price for code, price in last_prices(quotetape, str(tape)).items()
                       if float(price) > 0})
        days.append({"name": tape.stem, "tape": str(tape)})
        if progress is not None:
            progress()
    return days

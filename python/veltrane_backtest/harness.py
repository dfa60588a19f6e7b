"""One backtest day in this process: python3 -m veltrane_backtest.harness.

The parent (sweep.run_day) sets the simulated exchange's variables: the
day's tape, VELTRANE_SIM_SPEED=max, where the account report goes, and the
account to start from. The harness loads the strategy script with its
parameters, makes the API with the script's Strategy, logs in, lets the
strategy start, subscribes its CODES and waits for the day's end.

The end is not guessed from a quiet feed: the exchange writes one byte to a
pipe (VELTRANE_SIM_DAY_END_FD) once the tape is done, the close has expired
what was working, and every answer and report has reached the client. The
harness then lets the strategy finish and writes its result file.

Events are delivered in lockstep (Ombrel.SetEventQueueLimit(1)): the
exchange waits for each handler, so what a handler sends is taken before the
market moves on and every run of a day gives the same fills. A strategy that
raises, on any thread, fails the day: its traceback goes to the result file
and the process ends at once, since what follows would not be its day.
"""

import argparse
import ctypes
import json
import os
import signal
import sys
import threading
import time
import traceback

from veltrane_backtest import strategy_script


def write_result(path, result):
    temporary = f"{path}.part"
    with open(temporary, "w") as out:
        json.dump(result, out)
    os.replace(temporary, path)


def die_with_parent():
    """A day's process goes when the worker thread that started it does
    (a worker killed mid-day must not leave its day running)."""
    parent = os.getppid()
    ctypes.CDLL("libc.so.6").prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    if os.getppid() != parent:  # it went before the line above
        os._exit(3)


def main(argv=None):
    die_with_parent()
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--script", required=True)
    parser.add_argument("--params", default="{}", help="the parameter set, as JSON")
    parser.add_argument("--result", required=True, help="where the result goes, as JSON")
    parser.add_argument("--no-lockstep", action="store_true",
                        help="let the exchange run ahead of the strategy (benchmarks only: "
                             "the fills may then differ from run to run)")
    options = parser.parse_args(argv)

    def fail(kind, value, trace):
        # Only the strategy's own code fails the day. An error that no line of
        # Python raised (an event method the class lacks) is printed and
        # delivery goes on, as it does live.
        if trace is None:
            sys.__excepthook__(kind, value, trace)
            return
        text = "".join(traceback.format_exception(kind, value, trace))
        sys.stderr.write(text)
        sys.stderr.flush()
        sys.stdout.flush()
        write_result(options.result, {"ok": False, "traceback": text})
        os._exit(3)

    sys.excepthook = fail
    threading.excepthook = lambda hook: fail(hook.exc_type, hook.exc_value, hook.exc_traceback)

    # Before Ombrel loads the stand-ins: the exchange reads its settings once.
    day_end, told = os.pipe()
    os.environ["VELTRANE_SIM_DAY_END_FD"] = str(told)
    try:
        module = strategy_script.load(options.script, json.loads(options.params))
        import Ombrel

        Ombrel.SetEventQueueLimit(0 if options.no_lockstep else 1)
        strategy = module.Strategy()
        api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(strategy, False, "", "")
        Ombrel.ZR_QuantApi_Python36.Init()
        api.Login(os.environ.get("VELTRANE_SIM_USER", "demo"),
                  os.environ.get("VELTRANE_SIM_PASSWORD", "demo"))
        if hasattr(strategy, "start") and strategy.start() is False:
            raise RuntimeError("the strategy's start() returned False")
        began = time.perf_counter()
        quotes = list(getattr(module, "QUOTES", ["market"]))
        result = Ombrel.PyQuantApi.ReqSubQuote(1, quotes, [], list(module.CODES), "", "")
        if result != 0:
            raise RuntimeError(f"the subscription of {module.CODES} returned {result}")
        os.read(day_end, 1)
        seconds = time.perf_counter() - began
        if hasattr(strategy, "finish"):
            strategy.finish()
    except BaseException:  # noqa: B902 - the day fails whatever the strategy raised
        fail(*sys.exc_info())
    sys.stdout.flush()
    write_result(options.result, {"ok": True, "seconds": seconds})
    return 0


if __name__ == "__main__":
    sys.exit(main())

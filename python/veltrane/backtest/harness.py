"""One backtest day in this process: python3 -m veltrane.backtest.harness.

The parent (sweep.run_day) sets the simulated exchange's variables: the
day's tape, VELTRANE_SIM_SPEED=max, where the account report goes, and the
account to start from. The harness bounds its memory, loads the strategy
script with its parameters, makes the API with the script's Strategy, logs
in and waits for both logins' answers (a refused one fails the day at once),
lets the strategy start, subscribes its CODES and waits for the day's end.

The end is not guessed from a quiet feed: the exchange writes one byte to a
pipe (VELTRANE_SIM_DAY_END_FD) once the tape is done, the close has expired
what was working, and every answer and report has reached the client. The
harness then lets the strategy finish and writes its result file.

Events are delivered in lockstep (Ombrel.SetEventQueueLimit(1)): the
exchange waits for each handler, so what a handler sends is taken before the
market moves on and every run of a day gives the same fills. A handler (or a
thread of the strategy's, or finish()) that raises does not end the day, as
it would not live: its error is printed, counted, and the first traceback
goes to the result file, which makes the day's status "error". What keeps
the day from being the strategy's (the script cannot be loaded, start()
raises or returns False, a login is refused) ends the process at once.

With --check the harness only loads the script and checks its Strategy
(strategy_script.check_strategy), as the runner asks before any day runs.
"""

import argparse
import ctypes
import json
import os
import resource
import signal
import sys
import threading
import time
import traceback

from veltrane.backtest import strategy_script

# Both logins are answered from the exchange's thread as soon as they are
# made; far longer than that means no answer is coming.
LOGIN_SECONDS = 30


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


class Errors:
    """The exceptions raised in the strategy's handlers and threads: each
    printed with its traceback, as live; counted, and the first kept."""

    def __init__(self):
        self.count = 0
        self.first = None
        self._lock = threading.Lock()

    def hook(self, kind, value, trace):
        text = "".join(traceback.format_exception(kind, value, trace))
        sys.stderr.write(text)
        sys.stderr.flush()
        with self._lock:
            self.count += 1
            if self.first is None:
                self.first = text


class Logins:
    """The answers of the two logins (the trade gateway's and the quote
    feed's), seen through the strategy's own RtnUserInfo and RtnLoginWarn,
    which are then called as they would be."""

    def __init__(self, strategy):
        self.answered = 0
        self.refused = None  # the status of the first refusal
        self._done = threading.Event()
        for name, refused in (("RtnUserInfo", False), ("RtnLoginWarn", True)):
            setattr(strategy, name, self._watched(strategy, getattr(strategy, name), refused))

    def _watched(self, strategy, method, refused):
        def watched():
            self.answered += 1
            if refused and self.refused is None:
                self.refused = strategy.rspdict.get("pInfo")
            if refused or self.answered == 2:
                self._done.set()
            method()
        return watched

    def wait(self, seconds):
        return self._done.wait(seconds)


def run_strategy(module, day_end, options, errors):
    """A veltrane.Strategy's day; returns the seconds from its subscription
    to the day's end. Its handlers' errors reach `errors` through
    sys.excepthook."""
    from veltrane.session import RunError, Session

    session = Session(module.STRATEGY, module.STRATEGY_PARAMS,
                      os.environ.get("VELTRANE_SIM_USER", "demo"),
                      os.environ.get("VELTRANE_SIM_PASSWORD", "demo"),
                      lockstep=not options.no_lockstep, day_end=day_end)
    try:
        session.run()
    except RunError as error:
        if error.login_status is None:
            raise
        sys.stdout.flush()
        write_result(options.result, {"ok": False, "login_refused": error.login_status})
        os._exit(3)
    sys.stdout.flush()
    return session.day_seconds


def check(script):
    """Loads the script with its defaults and checks its Strategy."""
    try:
        module = strategy_script.load(script, {})
        import Ombrel

        strategy_script.check_strategy(module, Ombrel)
    except strategy_script.ScriptError as error:
        print(error, file=sys.stderr)
        return 2
    except BaseException:  # noqa: B902 - the script's own code failed to load
        print(f"{script}: the script raised when loaded:\n{traceback.format_exc()}",
              file=sys.stderr)
        return 2
    return 0


def main(argv=None):
    die_with_parent()
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--script", required=True)
    parser.add_argument("--check", action="store_true",
                        help="only check the script's Strategy, then exit (2: unusable)")
    parser.add_argument("--params", default="{}", help="the parameter set, as JSON")
    parser.add_argument("--result", help="where the result goes, as JSON")
    parser.add_argument("--memory", type=int, default=0,
                        help="bytes of address space the day may take (0: no bound)")
    parser.add_argument("--no-lockstep", action="store_true",
                        help="let the exchange run ahead of the strategy (benchmarks only: "
                             "the fills may then differ from run to run)")
    options = parser.parse_args(argv)
    if options.check:
        return check(options.script)
    if options.memory > 0:
        resource.setrlimit(resource.RLIMIT_AS, (options.memory, options.memory))

    def fail(kind, value, trace):
        text = "".join(traceback.format_exception(kind, value, trace))
        sys.stderr.write(text)
        sys.stderr.flush()
        sys.stdout.flush()
        write_result(options.result, {"ok": False, "traceback": text})
        os._exit(3)

    errors = Errors()
    sys.excepthook = errors.hook
    threading.excepthook = lambda hook: errors.hook(hook.exc_type, hook.exc_value,
                                                    hook.exc_traceback)

    # Before Ombrel loads the stand-ins: the exchange reads its settings once.
    day_end, told = os.pipe()
    os.environ["VELTRANE_SIM_DAY_END_FD"] = str(told)
    try:
        module = strategy_script.load(options.script, json.loads(options.params))
        if getattr(module, "STRATEGY", None) is not None:
            seconds = run_strategy(module, day_end, options, errors)
            write_result(options.result, {"ok": True, "seconds": seconds,
                                          "errors": errors.count,
                                          "traceback": errors.first or ""})
            return 0
        import Ombrel

        Ombrel.SetEventQueueLimit(0 if options.no_lockstep else 1)
        strategy = module.Strategy()
        logins = Logins(strategy)
        api = Ombrel.ZR_QuantApi_Python36.ZR_QuantApi(strategy, False, "", "")
        Ombrel.ZR_QuantApi_Python36.Init()
        api.Login(os.environ.get("VELTRANE_SIM_USER", "demo"),
                  os.environ.get("VELTRANE_SIM_PASSWORD", "demo"))
        if not logins.wait(LOGIN_SECONDS):
            raise RuntimeError(f"no answer to the login within {LOGIN_SECONDS} s")
        if logins.refused is not None:
            sys.stdout.flush()
            write_result(options.result, {"ok": False, "login_refused": logins.refused})
            os._exit(3)
        if hasattr(strategy, "start") and strategy.start() is False:
            raise RuntimeError("the strategy's start() returned False")
        began = time.perf_counter()
        quotes = list(getattr(module, "QUOTES", ["market"]))
        result = Ombrel.PyQuantApi.ReqSubQuote(1, quotes, [], list(module.CODES), "", "")
        if result != 0:
            raise RuntimeError(f"the subscription of {module.CODES} returned {result}")
        os.read(day_end, 1)
        seconds = time.perf_counter() - began
    except BaseException:  # noqa: B902 - the day fails whatever kept it from running
        fail(*sys.exc_info())
    if hasattr(strategy, "finish"):
        try:
            strategy.finish()
        except Exception:  # noqa: B902 - the day ran; finish() is one more handler
            errors.hook(*sys.exc_info())
    sys.stdout.flush()
    write_result(options.result, {"ok": True, "seconds": seconds, "errors": errors.count,
                                  "traceback": errors.first or ""})
    return 0


if __name__ == "__main__":
    sys.exit(main())

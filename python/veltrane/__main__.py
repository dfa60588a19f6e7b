"""python3 -m veltrane run SCRIPT: runs a script's veltrane.Strategy for a day.

    python3 -m veltrane run examples/mean_reversion.py --param band=0.002
    python3 -m veltrane run my_strategy.py --user U --password P

Paper trading uses the simulated exchange's VELTRANE_SIM_* settings; with
the vendor's libraries first on LD_LIBRARY_PATH it trades live. Prints a
summary; the status is 1 when a handler raised, 2 when the day could not
run.
"""

import argparse
import sys

from veltrane import runner
from veltrane.backtest.strategy_script import ScriptError, typed_value
from veltrane.session import RunError
from veltrane.strategy import StrategyError


def parse_params(cls, texts):
    params = {}
    for text in texts:
        name, sign, value = text.partition("=")
        if not sign or not name:
            raise StrategyError(f"--param {text}: expected NAME=VALUE")
        if name not in cls.params:
            known = ", ".join(cls.params) or "none"
            raise StrategyError(f"--param {name}: {cls.__name__}.params has no {name} "
                                f"(it has: {known})")
        try:
            params[name] = typed_value(name, value, cls.params[name])
        except ScriptError as error:
            raise StrategyError(f"--param {error}") from None
    return params


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m veltrane",
                                     description=__doc__.splitlines()[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog=__doc__.split("\n", 2)[2])
    commands = parser.add_subparsers(dest="command", required=True)
    run = commands.add_parser("run", help="run a strategy script for a day")
    run.add_argument("script")
    run.add_argument("--param", action="append", default=[], metavar="NAME=VALUE",
                     help="a value of one of the strategy's params (repeat)")
    run.add_argument("--user", default="demo")
    run.add_argument("--password", default="demo")
    options = parser.parse_args(argv)
    try:
        module = runner.load_script(options.script)
        cls = runner.strategy_class(module)
        params = parse_params(cls, options.param)
        result = runner.run(cls, params, options.user, options.password)
    except (StrategyError, RunError) as error:
        print(f"veltrane: {error}", file=sys.stderr)
        return 2
    print(result.summary())
    return 1 if result.errors else 0


if __name__ == "__main__":
    sys.exit(main())

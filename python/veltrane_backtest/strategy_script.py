"""What the runner needs of a strategy script, and loading it.

A strategy script runs unchanged live, paper traded or backtested. It holds,
at module level:

    PARAMS = {"fast": 0.3, "slow": 0.05}   # its parameters and their defaults
    CODES = ["600000.SH", "000001.SZ"]     # the codes it trades, with suffix
    QUOTES = ["market"]                    # optional: the kinds to subscribe
    class Strategy(Ombrel.QuantCallBack):  # made with no arguments
        def start(self): ...               # optional: after the login, before
                                           # the subscription; False fails the day
        def finish(self): ...              # optional: once the day is over

and reads its parameters from PARAMS when a Strategy is made: the runner
puts each parameter set into PARAMS first. PARAMS, CODES and QUOTES are
literals, so that the runner reads them without running the script, and its
own start-up code stays under `if __name__ == "__main__":`.
"""

import ast
import importlib.machinery
import pathlib
import sys
import types

LITERALS = ("PARAMS", "CODES", "QUOTES")


class ScriptError(Exception):
    """A strategy script that does not follow the contract above."""


def read_literals(path):
    """PARAMS, CODES and QUOTES of the script at `path`, without running it."""
    path = pathlib.Path(path)
    try:
        tree = ast.parse(path.read_text(), str(path))
    except (OSError, SyntaxError, ValueError) as error:
        raise ScriptError(f"{path}: {error}") from None
    found = {}
    for node in tree.body:
        targets = node.targets if isinstance(node, ast.Assign) else []
        for target in targets:
            if isinstance(target, ast.Name) and target.id in LITERALS:
                try:
                    found[target.id] = ast.literal_eval(node.value)
                except ValueError:
                    raise ScriptError(f"{path}:{node.lineno}: {target.id} must be a literal") \
                        from None
    params = found.get("PARAMS", {})
    codes = found.get("CODES")
    if not isinstance(params, dict) or not all(isinstance(k, str) for k in params):
        raise ScriptError(f"{path}: PARAMS must be a dict of names to default values")
    if not isinstance(codes, list) or not codes or \
            not all(isinstance(c, str) and c[-3:] in (".SH", ".SZ") for c in codes):
        raise ScriptError(f"{path}: CODES must be a list of codes such as '600000.SH'")
    quotes = found.get("QUOTES", ["market"])
    if not isinstance(quotes, list) or not quotes:
        raise ScriptError(f"{path}: QUOTES must be a list such as ['market', 'transaction']")
    return {"PARAMS": params, "CODES": codes, "QUOTES": quotes}


def typed_value(name, text, default):
    """The text of a --param value as the type of the parameter's default."""
    if isinstance(default, bool):
        if text.lower() in ("1", "true", "yes", "on"):
            return True
        if text.lower() in ("0", "false", "no", "off"):
            return False
        raise ScriptError(f"parameter {name}: '{text}' is not a boolean")
    kind = type(default) if isinstance(default, (int, float)) else str
    try:
        return kind(text)
    except ValueError:
        raise ScriptError(f"parameter {name}: '{text}' is not {kind.__name__}") from None


def load(path, params):
    """Runs the script as a module (not as __main__) with PARAMS updated."""
    path = pathlib.Path(path).resolve()
    loader = importlib.machinery.SourceFileLoader("strategy", str(path))
    module = types.ModuleType(loader.name)
    module.__file__, module.__loader__ = str(path), loader
    sys.modules[loader.name] = module
    sys.path.insert(0, str(path.parent))
    loader.exec_module(module)
    unknown = sorted(set(params) - set(getattr(module, "PARAMS", {})))
    if unknown:
        raise ScriptError(f"{path}: no parameter {', '.join(unknown)} in PARAMS")
    module.PARAMS.update(params)
    if not isinstance(getattr(module, "Strategy", None), type):
        raise ScriptError(f"{path}: no class Strategy")
    return module

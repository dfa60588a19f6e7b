"""What the runner needs of a strategy script, and loading it.

A strategy script runs unchanged live, paper traded or backtested. It holds,
at module level:

    PARAMS = {"fast": 0.3, "slow": 0.05}   # its parameters and their defaults
    CODES = ["600000.SH", "000001.SZ"]     # the codes it trades, with suffix
    QUOTES = ["market"]                    # optional: the kinds to subscribe
    class Strategy(Ombrel.QuantCallBack):  # made with no arguments
        def __init__(self):
            Ombrel.QuantCallBack.__init__(self)
        def RtnMarket(self): ...           # and every other method of EVENT_METHODS
        def start(self): ...               # optional: after the login, before
                                           # the subscription; False fails the day
        def finish(self): ...              # optional: once the day is over

and reads its parameters from PARAMS when a Strategy is made: the runner
puts each parameter set into PARAMS first. PARAMS, CODES and QUOTES are
literals, so that the runner reads them without running the script, and its
own start-up code stays under `if __name__ == "__main__":`. Before any day
runs, the runner checks all of this (check_strategy), so that a mistake is
one message at once rather than a day of errors.

Or it defines one subclass of veltrane.Strategy, whose `codes`, `params`
and `quotes` are class-level literals for the same reason; the runner gives
each parameter set to it as self.params, and veltrane keeps its orders,
positions and T+1.
"""

import ast
import pathlib

LITERALS = ("PARAMS", "CODES", "QUOTES")
# Ombrel's event methods, each of which a Strategy defines: Ombrel calls the
# method of every event, and one the class lacks raises on each of them.
EVENT_METHODS = (
    "RtnConnect", "RtnDisconnect", "RtnUserInfo", "RtnLoginWarn", "RtnRspQryOrder",
    "RtnRspQryMatch", "RtnRspQryPosition", "RtnRspOrderInsert", "RtnRspOrderDelete",
    "RtnOrderStatusChangeNotice", "RtnOrderMatchNotice", "RtnRspSubQuote", "RtnMarket",
    "RtnTransaction", "RtnQryAccountMaxEntrustCount",
)


class ScriptError(Exception):
    """A strategy script that does not follow the contract above."""


def _class_literals(path, tree):
    """codes, params and quotes of the one class whose bases name Strategy
    (veltrane.Strategy), with its name; None when there is none."""
    classes = [node for node in tree.body if isinstance(node, ast.ClassDef) and any(
        (isinstance(base, ast.Attribute) and base.attr == "Strategy") or
        (isinstance(base, ast.Name) and base.id == "Strategy") for base in node.bases)]
    if not classes:
        return None
    if len(classes) > 1:
        names = ", ".join(node.name for node in classes)
        raise ScriptError(f"{path}: several veltrane.Strategy subclasses ({names}); keep one "
                          "per script")
    found = {"CLASS": classes[0].name}
    for node in classes[0].body:
        targets = node.targets if isinstance(node, ast.Assign) else []
        for target in targets:
            if isinstance(target, ast.Name) and target.id in ("codes", "params", "quotes"):
                try:
                    value = ast.literal_eval(node.value)
                except ValueError:
                    raise ScriptError(f"{path}:{node.lineno}: {target.id} must be a literal") \
                        from None
                found[target.id.upper()] = list(value) if target.id != "params" else value
    found.setdefault("PARAMS", {})
    if "CODES" not in found:
        raise ScriptError(f"{path}: {found['CLASS']} has no codes: a strategy lists what it "
                          "trades in codes = ['600000.SH', ...]")
    found["QUOTES"] = [{"book": "market", "trades": "transaction"}.get(q, q)
                       for q in found.get("QUOTES", ["book"])]
    return found


def read_literals(path):
    """PARAMS, CODES and QUOTES of the script at `path`, without running it:
    a raw script's module-level literals, or the codes, params and quotes of
    its veltrane.Strategy subclass (then also CLASS, its name)."""
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
    if "PARAMS" not in found and "CODES" not in found:
        found = _class_literals(path, tree) or found
    if "PARAMS" not in found:
        raise ScriptError(f"{path}: no PARAMS: a strategy script names its parameters and "
                          "their defaults in PARAMS = {...} ({} for none), or is a "
                          "veltrane.Strategy subclass")
    if "CODES" not in found:
        raise ScriptError(f"{path}: no CODES: a strategy script lists what it trades in "
                          "CODES = ['600000.SH', ...]")
    params = found["PARAMS"]
    codes = found["CODES"]
    if not isinstance(params, dict) or not all(isinstance(k, str) for k in params):
        raise ScriptError(f"{path}: PARAMS must be a dict of names to default values")
    if not isinstance(codes, list) or not codes or \
            not all(isinstance(c, str) and c[-3:] in (".SH", ".SZ") for c in codes):
        raise ScriptError(f"{path}: CODES must be a list of codes such as '600000.SH'")
    quotes = found.get("QUOTES", ["market"])
    if not isinstance(quotes, list) or not quotes:
        raise ScriptError(f"{path}: QUOTES must be a list such as ['market', 'transaction']")
    return {"PARAMS": params, "CODES": codes, "QUOTES": quotes, "CLASS": found.get("CLASS")}


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
    """Runs the script as a module (not as __main__). A raw script's PARAMS
    are updated with `params`; a veltrane.Strategy script's module gets
    STRATEGY (its class) and STRATEGY_PARAMS (the run's values)."""
    from veltrane import runner
    from veltrane.strategy import StrategyError, merged_params

    module = runner.load_script(path)
    path = module.__file__
    classes = runner.strategy_classes(module)
    if classes:
        try:
            cls = runner.strategy_class(module)
            module.STRATEGY, module.STRATEGY_PARAMS = cls, merged_params(cls, params)
        except StrategyError as error:
            raise ScriptError(f"{path}: {error}") from None
        return module
    unknown = sorted(set(params) - set(getattr(module, "PARAMS", {})))
    if unknown:
        raise ScriptError(f"{path}: no parameter {', '.join(unknown)} in PARAMS")
    module.PARAMS.update(params)
    if not isinstance(getattr(module, "Strategy", None), type):
        raise ScriptError(f"{path}: no class Strategy, and no subclass of veltrane.Strategy")
    return module


def check_strategy(module, ombrel):
    """The loaded script's Strategy as the runner needs it: a subclass of
    QuantCallBack with every event method, made with no arguments, whose
    __init__ has made it a QuantCallBack. Raises ScriptError saying what is
    wrong."""
    path = module.__file__
    if getattr(module, "STRATEGY", None) is not None:
        from veltrane.strategy import StrategyError, check_class

        try:
            check_class(module.STRATEGY)
        except StrategyError as error:
            raise ScriptError(f"{path}: {error}") from None
        return module.STRATEGY
    strategy = module.Strategy
    base = ombrel.QuantCallBack
    if not issubclass(strategy, base):
        raise ScriptError(f"{path}: Strategy is not a subclass of Ombrel.QuantCallBack")
    # The methods QuantCallBack registers only raise; a subclass must have its own.
    missing = [name for name in EVENT_METHODS
               if not callable(getattr(strategy, name, None))
               or getattr(strategy, name) is getattr(base, name, None)]
    if missing:
        raise ScriptError(f"{path}: Strategy lacks {', '.join(missing)}: Ombrel calls a "
                          "method for every event, so each needs one (an empty one will do)")
    try:
        made = strategy()
    except Exception as error:  # noqa: B902 - whatever the script's __init__ raises
        raise ScriptError(f"{path}: Strategy() raised {type(error).__name__}: {error}") from error
    try:
        made.errorid  # noqa: B018 - a member only an initialised QuantCallBack has
    except Exception:  # noqa: B902 - the binding's ArgumentError
        raise ScriptError(f"{path}: Strategy.__init__ does not call "
                          "Ombrel.QuantCallBack.__init__(self), so no event can reach it") \
            from None
    return made

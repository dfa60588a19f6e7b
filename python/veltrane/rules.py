"""The A-share rules an order must follow before it is worth sending.

One row per board, the same figures as the simulated exchange's board table
and the README's "The exchanges' rules" (a test holds this table to the
README's). Prices here are in 1/10000 yuan (the wire's unit) so that tick
arithmetic is exact; sizes are shares.
"""

import functools
from typing import NamedTuple, Optional, Tuple


class Board(NamedTuple):
    key: str
    name: str
    prefixes: Tuple[str, ...]
    limit_pct: int  # daily band, % of the previous close either way
    st_limit_pct: int  # the band of a share under risk warning
    minimum: int  # smallest buy; a sell of all that may be sold may be less
    step: int  # above the minimum, sizes go up in steps of this many
    max_quantity: int  # largest limit order


BOARDS = (
    Board("sh_main", "the Shanghai main board", ("600", "601", "603", "605"),
          10, 10, 100, 100, 1000000),
    Board("star", "the STAR Market", ("688", "689"), 20, 20, 200, 1, 100000),
    Board("sz_main", "the Shenzhen main board", ("000", "001", "002", "003"),
          10, 10, 100, 100, 1000000),
    Board("chinext", "ChiNext", ("300", "301"), 20, 20, 100, 100, 300000),
)
_BY_PREFIX = {prefix: board for board in BOARDS for prefix in board.prefixes}
_BY_KEY = {board.key: board for board in BOARDS}

# Wire units (1/10000 yuan) per yuan, and the shares' tick: 0.01 yuan.
UNIT = 10000
TICK = 100


def check_code(code: str) -> Optional[str]:
    """None for a code such as '600000.SH', else what is wrong with it."""
    if not isinstance(code, str):
        return f"a code is a str such as '600000.SH', not {type(code).__name__}"
    if len(code) != 9 or not code[:6].isdigit() or code[6:] not in (".SH", ".SZ"):
        return f"'{code}' is not a code such as '600000.SH' or '000001.SZ'"
    return None


@functools.lru_cache(maxsize=None)
def board_of(code: str) -> Board:
    """The board of '600000.SH': by its first three digits; a code of no
    board's prefix trades by its exchange's main-board rules."""
    board = _BY_PREFIX.get(code[:3])
    if board is not None:
        return board
    return _BY_KEY["sh_main" if code.endswith(".SH") else "sz_main"]


@functools.lru_cache(maxsize=4096)
def limits(code: str, pre_close: int) -> Tuple[int, int]:
    """Today's lower and upper limit in wire units: the previous close less
    and plus the board's band, rounded half up to the tick. (0, 0) without a
    previous close. Marks the feed does not carry (ST, a new listing) are not
    known here; their bands are the main figures."""
    if pre_close <= 0:
        return 0, 0
    percent = board_of(code).limit_pct
    cents = (pre_close + TICK // 2) // TICK
    return (max(1, (cents * (100 - percent) + 50) // 100) * TICK,
            (cents * (100 + percent) + 50) // 100 * TICK)


def on_tick(price: float, buy: bool) -> int:
    """A price in yuan as wire units on the tick, rounded toward the passive
    side (a buy down, a sell up) so that rounding never crosses the book.
    A price within a millionth of a tick of one is that tick (10.62 as a
    float is a hair off it)."""
    units = price * UNIT
    ticks = units / TICK
    nearest = round(ticks)
    if abs(ticks - nearest) < 1e-6:
        return int(nearest) * TICK
    return (int(ticks // 1) + (0 if buy else 1)) * TICK


def size_rule(board: Board) -> str:
    """'whole lots of 100 shares' or 'at least 200 shares, then steps of 1'."""
    if board.step == board.minimum:
        return f"whole lots of {board.minimum} shares"
    return f"at least {board.minimum} shares, then steps of {board.step}"


def follows_size_rule(board: Board, quantity: int) -> bool:
    return quantity >= board.minimum and (quantity - board.minimum) % board.step == 0


def largest_buy(board: Board, quantity: int) -> int:
    """The largest size at most `quantity` that a buy may have (0 if none)."""
    if quantity < board.minimum:
        return 0
    return min(board.max_quantity,
               board.minimum + (quantity - board.minimum) // board.step * board.step)

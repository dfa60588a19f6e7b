"""A broker's fee schedule, as a strategy estimates its fills' fees.

The defaults are the simulated exchange's: commission 2.5 basis points on
both sides with at least 5 yuan an order, stamp duty 5 basis points on sells
(since 28 August 2023), transfer fee 0.1 basis points on both sides (since
29 April 2022). An order filled in parts is charged as one trade: each fill
pays what the fees of the order's whole traded amount grow by, each fee
rounded half up to the cent, so the least commission is paid once.
"""

import functools
from typing import NamedTuple

# Rates are taken to 1/10000 of a basis point, so that fees are integer
# arithmetic: wire units (1/10000 yuan) x rate (1e-8) -> cents at 1e10.
_RATE = 10000
_TO_CENTS = 10 ** 10


def _fee(amount_units: int, rate: int) -> int:
    """Rounded half up to the cent; `rate` in 1/10000 basis points."""
    return (amount_units * rate + _TO_CENTS // 2) // _TO_CENTS


@functools.lru_cache(maxsize=64)
def _rates(fees):
    """Least commission in cents, then each rate in 1/10000 basis points."""
    return (round(fees.min_commission * 100), round(fees.commission_bp * _RATE),
            round(fees.stamp_duty_bp * _RATE), round(fees.transfer_fee_bp * _RATE))


class Fees(NamedTuple):
    commission_bp: float = 2.5
    min_commission: float = 5
    stamp_duty_bp: float = 5
    transfer_fee_bp: float = 0.1

    def of_order(self, buy: bool, amount_units: int) -> int:
        """The fees in cents of an order that traded `amount_units` (1/10000
        yuan) in all; 0 for an order that did not trade."""
        if amount_units <= 0:
            return 0
        least, commission, stamp, transfer = _rates(self)
        fees = max(least, _fee(amount_units, commission)) + _fee(amount_units, transfer)
        return fees if buy else fees + _fee(amount_units, stamp)

    def check(self) -> None:
        for name, value in self._asdict().items():
            if isinstance(value, bool) or not isinstance(value, (int, float)) or value < 0:
                raise ValueError(f"Fees({name}={value!r}): a number of 0 or more")

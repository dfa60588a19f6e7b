"""veltrane: A-share strategies in Python on top of Ombrel.

    import veltrane

    class Trend(veltrane.Strategy):
        codes = ["600000.SH"]
        def on_book(self, book):
            if book.mid and self.position(book.code).quantity == 0:
                self.buy(book.code, 100, book.ask_prices[0])

    result = veltrane.run(Trend)

Orders, fills, positions, cash and T+1 are kept for the strategy from the
gateway's answers; prices are yuan, times exchange time. Ombrel is loaded
only when a day runs. veltrane.backtest runs a strategy over many days.
"""

from veltrane.fees import Fees
from veltrane.ledger import Fill, Order, Position
from veltrane.market import Bar, Book, Trade
from veltrane.runner import Result, run
from veltrane.session import RunError
from veltrane.strategy import Strategy, StrategyError

__all__ = ["Bar", "Book", "Fees", "Fill", "Order", "Position", "Result", "RunError", "Strategy",
           "StrategyError", "Trade", "run"]

"""mean_reversion: buys a stock whose one-minute bar closes well below its
recent average and sells it when the price comes back, on veltrane.Strategy.

Bars are built from the market's trades. What it bought today it can only
sell tomorrow (T+1), so at 14:55 a timer flattens what may be sold: today's
buys stay for the next day.

    PYTHONPATH=build/Ombrel:python /usr/bin/python3 -m veltrane run examples/mean_reversion.py
    scripts/backtest examples/mean_reversion.py --generate 5 --out results/
"""

import veltrane


class MeanReversion(veltrane.Strategy):
    codes = ["600000.SH", "000001.SZ", "300750.SZ"]
    # Bars in the average, how far below it (a share of it) a close must be
    # to buy, and the shares bought each time.
    params = {"window": 20, "band": 0.002, "size": 500}
    quotes = ("book", "trades")
    bar_seconds = 60

    def on_start(self):
        self.closes = {code: [] for code in self.codes}
        self.at("14:55", self.flatten)

    def on_bar(self, bar):
        closes = self.closes[bar.code]
        closes.append(bar.close)
        window = self.params["window"]
        if len(closes) < window:
            return
        average = sum(closes[-window:]) / window
        book = self.book(bar.code)
        if book is None or book.mid is None or any(o.code == bar.code for o in self.orders):
            return
        position = self.position(bar.code)
        if bar.close < average * (1 - self.params["band"]) and position.quantity == 0:
            self.buy(bar.code, self.params["size"], book.bid)
        elif bar.close > average and position.sellable > 0:
            self.sell(bar.code, position.sellable, book.ask)

    def flatten(self):
        self.log("flattening what may be sold")
        for code in self.codes:
            book = self.book(code)
            if book is not None and book.bid:
                self.target(code, self.position(code).quantity - self.position(code).sellable,
                            book.bid)

    def on_fill(self, fill):
        self.log(f"{fill.side} {fill.code} {fill.volume} @ {fill.price:.2f}, fees {fill.fees:.2f}")

    def on_stop(self):
        for code in self.codes:
            self.log(self.position(code))

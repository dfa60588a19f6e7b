"""paper_strategy: a small trend-following strategy on veltrane.Strategy.

It buys up to `lot` shares at the ask when a fast average of the mid price
rises above a slow one and sells what it may sell at the bid when it falls
below, one order at a time per stock; veltrane keeps orders, positions, cash
and T+1. It prints a summary and draws its fills into paper_strategy.png.

Paper traded by scripts/demo, or by hand:
    VELTRANE_SIM_SESSIONS=0930-1000 VELTRANE_SIM_SPEED=120 \\
    PYTHONPATH=build/Ombrel:python /usr/bin/python3 examples/paper_strategy.py
and backtested unchanged: scripts/backtest examples/paper_strategy.py ...
"""

import sys

import veltrane


class Trend(veltrane.Strategy):
    codes = ["600000.SH", "000001.SZ", "601318.SH"]
    # The weights of the fast and the slow average of the mid price, how far
    # apart they must be to trade, and the most shares held.
    params = {"fast": 0.3, "slow": 0.05, "band": 0.0005, "lot": 1000}
    # Checked by veltrane before an order leaves: far above what this
    # strategy means to do, so only a bug meets them.
    risk_limits = {"max_orders_per_second": 20, "max_orders_per_day": 2000,
                   "max_cancels_per_day": 2000, "max_order_quantity": 2000,
                   "max_order_value": 200000, "max_working_orders": 6,
                   "max_working_orders_per_code": 2, "price_band": 0.02,
                   "refuse_self_cross": True, "max_position_per_code": 3000}

    def on_start(self):
        self.averages = {}  # code -> (fast, slow)
        self.mids = {code: [] for code in self.codes}  # (time, mid) for the chart

    def on_book(self, book):
        mid = book.mid
        if mid is None:  # an auction's book, or one side empty
            return
        p, code = self.params, book.code
        self.mids[code].append((book.time, mid))
        fast, slow = self.averages.get(code, (mid, mid))
        fast += p["fast"] * (mid - fast)
        slow += p["slow"] * (mid - slow)
        self.averages[code] = fast, slow
        if any(order.code == code for order in self.orders):
            return
        position = self.position(code)
        if position.quantity < p["lot"] and fast > slow * (1 + p["band"]):
            self.buy(code, (p["lot"] - position.quantity) // 100 * 100, book.ask)
        elif position.sellable > 0 and fast < slow * (1 - p["band"]):
            self.sell(code, position.sellable, book.bid)

    def on_fill(self, fill):
        self.log(f"{'bought' if fill.side == 'buy' else 'sold  '} {fill.code} {fill.volume} "
                 f"@ {fill.price:.2f} (order {fill.order.id})")

    def on_order(self, order):
        if order.reason:
            self.log(f"order {order.status}: {order.reason}")


def draw(result, path="paper_strategy.png"):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no chart")
        return
    figure, axes = plt.subplots(3, 1, figsize=(10, 9), sharex=True)
    for axis, code in zip(axes, Trend.codes):
        axis.plot(*zip(*result.strategy.mids[code] or [(None, None)]), lw=0.8, label="mid")
        for side, marker, colour in (("buy", "^", "green"), ("sell", "v", "red")):
            fills = result.fills[(result.fills["code"] == code) & (result.fills["side"] == side)]
            axis.scatter(fills["time"], fills["price"], marker=marker, color=colour, s=60,
                         label=side, zorder=3)
        axis.set(title=code, ylabel="yuan")
        axis.legend(loc="upper left", fontsize="small")
    figure.tight_layout()
    figure.savefig(path)
    print(f"chart: {path}")


if __name__ == "__main__":
    user, password = sys.argv[1:3] if len(sys.argv) == 3 else ("demo", "demo")
    day = veltrane.run(Trend, user=user, password=password)
    print(day.summary())
    draw(day)
    sys.exit(1 if day.errors else 0)

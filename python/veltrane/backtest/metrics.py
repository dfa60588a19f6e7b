"""A run's figures from its days, with pandas and numpy.

Daily returns are each day's change of the account's total (cash plus
positions at their last price) over the total it began with; the first day
begins with the starting capital. Annualised with 252 trading days a year
and a risk-free rate of 0.
"""

import numpy as np
import pandas as pd

TRADING_DAYS = 252

# The columns of results.csv after the parameters, in order.
RESULT_COLUMNS = ["status", "total_return", "sharpe", "max_drawdown", "volatility", "turnover",
                  "fees", "taxes", "orders", "fills", "fill_ratio", "winning_days", "final_total",
                  "days", "error"]


def equity_curve(totals, capital):
    """The account's total before the first day and after each."""
    return pd.concat([pd.Series([float(capital)]), pd.Series(totals, dtype=float)],
                     ignore_index=True)


def drawdowns(equity):
    """How far below its best so far the equity stands, as a share (<= 0)."""
    return equity / equity.cummax() - 1.0


def figures(days, capital):
    """results.csv's figures of one run from its rows of days.csv (in order)."""
    equity = equity_curve(days["total"], capital)
    returns = equity.pct_change().dropna()
    deviation = returns.std(ddof=1) if len(returns) > 1 else np.nan
    sharpe = (returns.mean() / deviation * np.sqrt(TRADING_DAYS)
              if deviation and np.isfinite(deviation) and deviation > 0 else np.nan)
    ordered = days["ordered_quantity"].sum()
    return {
        "total_return": equity.iloc[-1] / equity.iloc[0] - 1.0,
        "sharpe": sharpe,
        "max_drawdown": -drawdowns(equity).min(),
        "volatility": deviation * np.sqrt(TRADING_DAYS),
        "turnover": days["traded_amount"].sum() / float(capital),
        "fees": round(days["fees"].sum(), 2),
        "taxes": round(days["taxes"].sum(), 2),
        "orders": int(days["orders"].sum()),
        "fills": int(days["fills"].sum()),
        "fill_ratio": days["traded_quantity"].sum() / ordered if ordered > 0 else np.nan,
        "winning_days": (days["pnl"] > 0).mean(),
        "final_total": equity.iloc[-1],
        "days": len(days),
    }

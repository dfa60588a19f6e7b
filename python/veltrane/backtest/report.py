"""What a sweep leaves in its output folder:

    results.csv   one row per parameter set: its parameters, then
                  metrics.RESULT_COLUMNS
    days.csv      one row per parameter set and day: its parameters, then
                  account.DAY_COLUMNS
    report.html   one page, images embedded: the table sorted by Sharpe, the
                  equity curves and drawdowns of the best runs, each day's
                  PnL, and the days that failed or whose handlers raised,
                  with their tracebacks
    runs/RUN/DAY.json, DAY.log   each day's account report and output
"""

import base64
import html
import io

import pandas as pd

from veltrane.backtest import account, metrics
from veltrane.backtest.sweep import first_line

# Runs drawn in the figures: the best by Sharpe.
BEST_DRAWN = 5


def tables(sweep, results, capital):
    """days.csv and results.csv as data frames, from the results by run."""
    day_rows, run_rows = [], []
    for run, chain in zip(sweep.runs(), results):
        start_total = str(capital)
        rows = []
        for result in chain:
            row = {**run["params"], "run": run["name"], "index": result["index"] + 1,
                   "day": result["day"], "errors": 0, "error": "", "traceback": ""}
            if result["ok"]:
                row.update(status="error" if result["errors"] else "ok",
                           **account.day_row(result["report"], start_total))
                if result["errors"]:
                    row.update(errors=result["errors"], traceback=result["traceback"],
                               error=first_line(result["traceback"]))
                start_total = str(row["total"])  # the report's two decimals, as written
            elif result.get("skipped"):
                row.update(status="skipped", error=result["error"])
            else:
                row.update(status="failed", error=result["error"],
                           traceback=result.get("traceback", ""))
            rows.append(row)
        day_rows += rows
        failed = next((r for r in chain if not r["ok"]), None)
        raised = [row for row in rows if row["status"] == "error"]
        summary = {**run["params"], "run": run["name"]}
        if failed is None:
            summary.update(status="error" if raised else "ok", error="",
                           **metrics.figures(pd.DataFrame(rows), capital))
            if raised:
                summary["error"] = (f"{run['label']}: handlers raised on {len(raised)} of "
                                    f"{len(rows)} days, first on day {raised[0]['index']} "
                                    f"({raised[0]['day']}): {raised[0]['error']}")
        else:
            summary.update(status="failed", error=failed["error"],
                           days=sum(1 for r in chain if r["ok"]))
        run_rows.append(summary)
    keys = list(sweep.grid[0]) if sweep.grid else []
    days = pd.DataFrame(day_rows).reindex(columns=keys + account.DAY_COLUMNS)
    runs = pd.DataFrame(run_rows).reindex(columns=keys + ["run"] + metrics.RESULT_COLUMNS)
    return runs, days


def write(sweep, results, capital, title):
    out = sweep.out
    out.mkdir(parents=True, exist_ok=True)
    for run, chain in zip(sweep.runs(), results):
        folder = out / "runs" / run["name"]
        folder.mkdir(parents=True, exist_ok=True)
        for result in chain:
            if result.get("skipped"):
                continue
            if result.get("report"):
                (folder / f"{result['day']}.json").write_text(result["report"])
            (folder / f"{result['day']}.log").write_text(result.get("log", ""))
    runs, days = tables(sweep, results, capital)
    runs.to_csv(out / "results.csv", index=False)
    days.to_csv(out / "days.csv", index=False)
    (out / "report.html").write_text(page(runs, days, capital, title))
    return runs, days


def _image(figure):
    buffer = io.BytesIO()
    figure.savefig(buffer, format="png", dpi=100, bbox_inches="tight")
    return ('<img alt="" src="data:image/png;base64,'
            + base64.b64encode(buffer.getvalue()).decode("ascii") + '">')


def figures(runs, days, capital):
    """The equity curves, drawdowns and daily PnL of the best runs, as <img>s."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FuncFormatter, MaxNLocator

    money = FuncFormatter(lambda value, _: f"{value:,.0f}")

    ranked = runs[runs["status"] != "failed"].sort_values("sharpe", ascending=False,
                                                          na_position="last")
    best = ranked["run"].head(BEST_DRAWN).tolist()
    if not best:
        return []
    images = []
    figure, (top, bottom) = plt.subplots(2, 1, figsize=(10, 6.5), sharex=True,
                                         height_ratios=[2, 1])
    for name in best:
        mine = days[days["run"] == name]
        equity = metrics.equity_curve(mine["total"], capital)
        label = f"{name} {_label(ranked, name)}"
        line, = top.plot(equity.index, equity.values, marker="o", markersize=3, label=label)
        drawdown = metrics.drawdowns(equity).values * 100
        bottom.fill_between(equity.index, drawdown, 0, color=line.get_color(), alpha=0.1)
        bottom.plot(equity.index, drawdown, color=line.get_color(), linewidth=1)
    top.yaxis.set_major_formatter(money)
    bottom.xaxis.set_major_locator(MaxNLocator(integer=True))
    top.set_title("Equity of the best runs by Sharpe (yuan; day 0 is the start)")
    top.legend(fontsize="small", loc="best")
    top.grid(alpha=0.3)
    bottom.set_title("Drawdown (%)")
    bottom.set_xlabel("day")
    bottom.grid(alpha=0.3)
    figure.tight_layout()
    images.append(_image(figure))
    plt.close(figure)

    figure, axis = plt.subplots(figsize=(10, 3.5))
    width = 0.8 / len(best)
    for number, name in enumerate(best):
        mine = days[days["run"] == name]
        axis.bar(mine["index"] + (number - (len(best) - 1) / 2) * width, mine["pnl"], width,
                 label=name)
    axis.axhline(0, color="black", linewidth=0.8)
    axis.yaxis.set_major_formatter(money)
    axis.xaxis.set_major_locator(MaxNLocator(integer=True))
    axis.set_title("PnL of each day (yuan)")
    axis.set_xlabel("day")
    axis.legend(fontsize="small")
    axis.grid(alpha=0.3, axis="y")
    figure.tight_layout()
    images.append(_image(figure))
    plt.close(figure)
    return images


def _label(runs, name):
    params = [c for c in runs.columns if c not in metrics.RESULT_COLUMNS and c != "run"]
    row = runs[runs["run"] == name].iloc[0]
    return " ".join(f"{key}={row[key]}" for key in params)


def _percent(value):
    return "" if pd.isna(value) else f"{value * 100:.2f}%"


def _number(value):
    return "" if pd.isna(value) else f"{value:.2f}"


STYLE = """
body { font-family: sans-serif; margin: 1.5em; color: #222; }
table { border-collapse: collapse; font-size: 0.85em; }
th, td { border: 1px solid #ccc; padding: 0.3em 0.6em; text-align: right; }
th { background: #f0f0f0; }
pre { background: #f8f8f8; border: 1px solid #ddd; padding: 0.8em; overflow-x: auto; }
img { max-width: 100%; display: block; margin: 1em 0; }
"""


def page(runs, days, capital, title):
    ranked = runs.sort_values(["sharpe", "run"], ascending=[False, True], na_position="last")
    shown = ranked.copy()
    formats = {"total_return": _percent, "max_drawdown": _percent, "volatility": _percent,
               "fill_ratio": _percent, "winning_days": _percent, "sharpe": _number,
               "turnover": _number, "fees": _number, "taxes": _number,
               "final_total": _number}
    for column, format_ in formats.items():
        shown[column] = shown[column].map(format_)
    for column in ("orders", "fills", "days"):
        shown[column] = shown[column].map(lambda v: "" if pd.isna(v) else str(int(v)))
    # Headers that can wrap keep the table within the page.
    shown = shown.drop(columns=["error"]).rename(columns=lambda name: name.replace("_", " "))
    table = shown.to_html(index=False, border=0, na_rep="", classes="results")
    failures = []
    for row in days[days["status"].isin(["failed", "error"])].itertuples():
        what = (row.error if row.status == "failed" else
                f"{row.run} day {row.index} ({row.day}): {row.errors} errors in handlers; "
                f"the first: {row.error}")
        failures.append(f"<h3>{html.escape(what)}</h3><pre>{html.escape(row.traceback)}</pre>")
    ok = int((runs["status"] == "ok").sum())
    raised = int((runs["status"] == "error").sum())
    parts = [
        "<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8">',
        f"<title>{html.escape(title)}</title><style>{STYLE}</style></head><body>",
        f"<h1>{html.escape(title)}</h1>",
        f"<p>{len(runs)} parameter sets over {days['index'].max() if len(days) else 0} days, "
        f"{ok} complete, {raised} with errors in handlers; each starts with "
        f"{float(capital):,.2f} yuan. Sorted by the "
        "annualised Sharpe ratio of daily returns (252 days, no risk-free rate).</p>",
        table,
        *figures(runs, days, capital),
    ]
    if failures:
        parts += ["<h2>Failures and errors</h2>", *failures]
    parts.append("</body></html>")
    return "\n".join(parts)

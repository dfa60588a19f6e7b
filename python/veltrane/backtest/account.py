"""A day's row of days.csv from the simulated venue's account report."""

import json
from decimal import Decimal

# The columns of days.csv after the parameters, in order. A day's status is
# "ok", "error" (it ran; its handlers raised `errors` times, `traceback` the
# first), "failed" (it did not finish: `error` says how) or "skipped" (an
# earlier day of its run failed).
DAY_COLUMNS = ["run", "index", "day", "status", "cash", "positions_value", "total", "pnl",
               "fees", "taxes", "orders", "fills", "traded_amount", "ordered_quantity",
               "traded_quantity", "positions", "errors", "error", "traceback"]


def day_row(report_text, start_total):
    """The figures of one day; money summed in Decimal, to the cent."""
    report = json.loads(report_text, parse_float=Decimal)
    fees = report["fees"]
    total = Decimal(report["total"])
    orders = report["orders"]
    return {
        "cash": float(report["cash"]),
        "positions_value": float(report["value"]),
        "total": float(total),
        "pnl": float(total - Decimal(start_total)),
        "fees": float(Decimal(fees["commission"]) + Decimal(fees["transfer_fee"])),
        "taxes": float(fees["stamp_duty"]),
        "orders": len(orders),
        "fills": len(report["fills"]),
        "traded_amount": float(sum((Decimal(f["amount"]) for f in report["fills"]), Decimal(0))),
        "ordered_quantity": sum(int(o["quantity"]) for o in orders),
        "traded_quantity": sum(int(o["traded"]) for o in orders),
        "positions": " ".join(f"{p['code']}:{p['quantity']}" for p in report["positions"]),
    }

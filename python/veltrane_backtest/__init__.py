"""Backtests of Ombrel strategy scripts over many days and parameter sets,
on a local or a running Dask cluster, with a report.

From a shell: scripts/backtest (veltrane_backtest.cli). From Python:

    from veltrane_backtest import days, report, sweep
    work = sweep.Sweep("my_strategy.py", days.from_tapes(["d1.tape", "d2.tape"]),
                       [{"fast": 0.2}, {"fast": 0.3}], "results/")
    with sweep.local_client(2) as client:
        results = work.run(client)
    report.write(work, results, "1000000", "my strategy")
"""

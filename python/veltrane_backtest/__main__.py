import sys

from veltrane_backtest.cli import main

sys.exit(main())

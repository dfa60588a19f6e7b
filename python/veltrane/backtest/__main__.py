import sys

from veltrane.backtest.cli import main

sys.exit(main())

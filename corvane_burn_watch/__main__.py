"""``python -m corvane_burn_watch`` and the ``burn-watch`` console script."""

import sys

from .cli import main

__all__ = ["main"]

if __name__ == "__main__":
    sys.exit(main())

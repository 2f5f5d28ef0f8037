"""``python -m corvane_burn_watch`` and the ``burn-watch`` console script.

Ctrl-C may come while the program is still loading: the command line, and
the compiled module with it, is imported inside the handling of it, so that
even the first moments end with "interrupted" and exit code 130, never a
traceback.
"""

import sys

__all__ = ["main"]

EXIT_SIGINT = 130


def main() -> int:
    try:
        from .cli import main as run

        return run()
    except KeyboardInterrupt:
        print("burn-watch: interrupted", file=sys.stderr, flush=True)
        return EXIT_SIGINT


if __name__ == "__main__":
    sys.exit(main())

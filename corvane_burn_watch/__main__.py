"""``python -m corvane_burn_watch`` and the ``burn-watch`` console script.

Ctrl-C may come while the program is still loading: the command line, and
the compiled module with it, is imported inside the handling of it, so that
from this package's first line on Ctrl-C ends with "interrupted" and exit
code 130, never a traceback.
"""

import sys

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence

__all__ = ["main"]

# cli.exit_codes' value, not imported from there: that would load the
# command line before Ctrl-C is handled.
EXIT_SIGINT = 130


def main(argv: "Sequence[str] | None" = None) -> int:
    try:
        if list(sys.argv[1:] if argv is None else argv) == ["--version"]:
            # Answered before the command line's parser is imported and
            # built, which costs several times what printing a version should.
            from . import __version__

            print(f"burn-watch {__version__}")
            return 0
        from .cli import main as run

        return run(argv)
    except KeyboardInterrupt:
        print("burn-watch: interrupted", file=sys.stderr, flush=True)
        return EXIT_SIGINT


if __name__ == "__main__":
    sys.exit(main())

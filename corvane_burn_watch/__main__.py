"""``python -m corvane_burn_watch`` and the ``burn-watch`` console script."""

from __future__ import annotations

import sys

TYPE_CHECKING = False  # typing's costs an import at start; type checkers take this one as theirs
if TYPE_CHECKING:
    from collections.abc import Sequence

__all__ = ["main"]


def main(argv: Sequence[str] | None = None) -> int:
    if list(sys.argv[1:] if argv is None else argv) == ["--version"]:
        # Answered before the command line's parser is imported and built,
        # which costs several times what printing a version should.
        from . import __version__

        print(f"burn-watch {__version__}")
        return 0
    from .cli import main as run

    return run(argv)


if __name__ == "__main__":
    sys.exit(main())

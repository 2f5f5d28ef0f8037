"""``python -m corvane_burn_watch`` and the ``burn-watch`` console script.

Ctrl-C may come while the program is still loading: the command line, and
the compiled module with it, is imported inside the handling of it, so that
from this package's first line on Ctrl-C ends with "interrupted" and exit
code 130, never a traceback.
"""

import _thread
import os
import sys
import time

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence
    from types import FrameType

__all__ = ["main"]

# cli.exit_codes' value, not imported from there: that would load the
# command line before Ctrl-C is handled.
EXIT_SIGINT = 130


def _send_again(signum: int) -> None:
    time.sleep(0.01)
    os.kill(os.getpid(), signum)


def _interrupt(signum: int, frame: "FrameType | None") -> None:
    """Ctrl-C as KeyboardInterrupt, except where Python or the binding library
    would drop the exception: in the callback by which importlib lets go of a
    module's lock (reported as "ignored", with a traceback) and in the code
    nanobind runs while the compiled module loads. There the signal is sent
    again a moment later."""
    code = frame.f_code if frame is not None else None
    if code is not None and (
        code.co_filename == "<internal>"
        or (code.co_name == "cb" and code.co_filename.startswith("<frozen"))
    ):
        _thread.start_new_thread(_send_again, (signum,))
        return
    raise KeyboardInterrupt


def main(argv: "Sequence[str] | None" = None) -> int:
    try:
        if list(sys.argv[1:] if argv is None else argv) == ["--version"]:
            # Answered before the command line's parser is imported and
            # built, which costs several times what printing a version should.
            from . import __version__

            print(f"burn-watch {__version__}")
            return 0
        # signal costs an enum at start, which --version does without.
        import signal

        signal.signal(signal.SIGINT, _interrupt)
        from .cli import main as run

        return run(argv)
    except KeyboardInterrupt:
        print("burn-watch: interrupted", file=sys.stderr, flush=True)
        return EXIT_SIGINT


if __name__ == "__main__":
    sys.exit(main())

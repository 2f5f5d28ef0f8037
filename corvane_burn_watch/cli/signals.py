"""SIGTERM handled like Ctrl-C.

A service manager stops the program with SIGTERM. Left at its default, the
signal kills the process wherever it is. Raised as an exception instead, it
ends the library's waits the way Ctrl-C does (the library checks for signals
at least once a second while it sleeps or waits on the network), and the
program stops between file writes, with no traceback.
"""

from __future__ import annotations

import contextlib
import signal
import threading
from collections.abc import Iterator

__all__ = ["TerminationRequested", "sigterm_as_interrupt"]


class TerminationRequested(KeyboardInterrupt):
    """SIGTERM arrived. A KeyboardInterrupt, so nothing that catches
    ordinary errors (the poll loop included) swallows it."""


def _raise_termination(signum: int, frame: object) -> None:
    raise TerminationRequested()


@contextlib.contextmanager
def sigterm_as_interrupt() -> Iterator[None]:
    """Raises TerminationRequested on SIGTERM while the block runs.

    Signal handlers can only be installed from the main thread; elsewhere the
    block runs unchanged.
    """
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    previous = signal.signal(signal.SIGTERM, _raise_termination)
    try:
        yield
    finally:
        signal.signal(signal.SIGTERM, previous)

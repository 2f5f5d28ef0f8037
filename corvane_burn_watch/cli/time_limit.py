"""A time limit on calls into the library that take no deadline of their own.

The library checks for signals at least every 100 ms or so while it waits on
the network or sleeps, and a Python exception raised by a signal handler ends
the wait: a timer signal that raises :class:`TimeLimitPassed` ends a request
that a slow server keeps alive one byte at a time.
"""

from __future__ import annotations

import contextlib
import signal
import threading
from collections.abc import Iterator

__all__ = ["TimeLimitPassed", "time_limit"]


class TimeLimitPassed(Exception):
    """The block ran longer than its limit."""

    def __init__(self, seconds: float) -> None:
        super().__init__(f"no answer within {seconds:g} s")
        self.seconds = seconds


@contextlib.contextmanager
def time_limit(seconds: float) -> Iterator[None]:
    """Raises TimeLimitPassed in the block once ``seconds`` have passed.

    Uses SIGALRM, so only the main thread can have a limit; elsewhere the
    block runs without one.
    """
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    armed = True

    def expire(signum: int, frame: object) -> None:
        # A signal that comes as the block ends is no reason to fail it.
        if armed:
            raise TimeLimitPassed(seconds)

    previous = signal.signal(signal.SIGALRM, expire)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    try:
        yield
    finally:
        armed = False
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)

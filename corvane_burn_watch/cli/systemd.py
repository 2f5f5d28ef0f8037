"""systemd's readiness, status and watchdog notifications, without a library.

A service of ``Type=notify`` gets ``$NOTIFY_SOCKET``, a datagram socket (a
path, or a name in the abstract namespace written with a leading "@"), and
with ``WatchdogSec=`` also ``$WATCHDOG_USEC``. The watch sends ``READY=1``
once the startup snapshot is done, ``STATUS=`` with each pass's summary,
``WATCHDOG=1`` at least every half watchdog interval while it gets on (see
:class:`PassProgress`), and ``STOPPING=1`` when it stops. Without
``$NOTIFY_SOCKET`` every call does nothing.

A notification never holds the watch up: a service manager that does not
read its socket gets fewer notifications, never a stopped watch.
"""

from __future__ import annotations

import contextlib
import os
import socket
import time
from collections.abc import Iterator, Mapping

# typing's costs an import at start; type checkers take this one as theirs.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from ..burn_watch import CycleReport

__all__ = ["Notifier", "PassProgress"]

# Whatever $WATCHDOG_USEC says, no more pings than this a second: a tiny
# value would otherwise keep the watch busy pinging.
PINGS_PER_SECOND = 5
# The library's pause between the messages of one long text, which it makes
# only after a message was delivered.
PAUSE_BETWEEN_MESSAGES = 0.4
# What the data service's back-off may wait in one pass, on top of
# --max-retry-after (its pauses grow from 2 s: five of them come to 45 s).
DATA_SERVICE_BACKOFF = 60.0


class PassProgress:
    """Whether the watch is getting on, told from the waits the library asks for.

    Between two passes the library sleeps one interval, in steps; every step
    counts as getting on. Within a pass, the waits it may make are the pauses
    between the messages of a long text, each after a delivered message, and
    the waits a rate limit asks for, which the pass keeps within
    ``--max-retry-after`` (and the data service's back-off). A pass that goes
    on waiting beyond that since its last delivered message, each wait counted
    as at least a second, is stuck, re-sending to a service that never lets
    it through: it no longer counts as getting on, so that systemd's watchdog
    ends it.
    """

    def __init__(self, interval_seconds: float, max_retry_after: float) -> None:
        self._interval = interval_seconds
        self._allowance = max_retry_after + DATA_SERVICE_BACKOFF
        self._interval_left = 0.0  # the startup snapshot, a pass, comes first
        self._waited = 0.0  # within a pass, since the last delivered message

    def pass_ended(self) -> None:
        """A pass ended: the interval's sleep comes next."""
        self._interval_left = self._interval
        self._waited = 0.0

    def wait(self, seconds: float) -> bool:
        """The library asks to wait ``seconds``: whether the watch still gets on."""
        if self._interval_left > 1e-9:
            self._interval_left -= seconds
            return True
        if seconds == PAUSE_BETWEEN_MESSAGES:
            self._waited = 0.0
            return True
        self._waited += max(1.0, seconds)
        return self._waited <= self._allowance


class Notifier:
    """Sends notifications to the service manager, if there is one."""

    def __init__(self, address: str | None, watchdog_seconds: float | None = None) -> None:
        self._address = "\0" + address[1:] if address and address.startswith("@") else address
        self._socket: socket.socket | None = None
        if self._address:
            self._socket = socket.socket(
                socket.AF_UNIX, socket.SOCK_DGRAM | socket.SOCK_CLOEXEC | socket.SOCK_NONBLOCK
            )
        # Pings at least every half watchdog interval, as systemd asks: the
        # sleep below wakes for a ping at a quarter, so one ping may come late
        # by a quarter and still be in time.
        self.ping_every = (
            max(watchdog_seconds / 4, 1 / PINGS_PER_SECOND)
            if watchdog_seconds and self._socket
            else None
        )
        self._last_ping = -float("inf")
        self._progress: PassProgress | None = None

    @classmethod
    def from_environment(cls, environ: Mapping[str, str]) -> Notifier:
        address = environ.get("NOTIFY_SOCKET") or None
        watchdog = None
        pid = environ.get("WATCHDOG_PID")
        # The watchdog is this process's only when systemd names no other one.
        if pid is None or pid == str(os.getpid()):
            with contextlib.suppress(ValueError):
                microseconds = int(environ.get("WATCHDOG_USEC", ""))
                watchdog = microseconds / 1e6 if microseconds > 0 else None
        return cls(address, watchdog)

    @property
    def active(self) -> bool:
        """Whether there is a service manager to tell anything."""
        return self._socket is not None

    def _send(self, *assignments: str) -> None:
        if self._socket is None or self._address is None:
            return
        # Sent without waiting: a full queue (a manager that does not read)
        # drops the datagram, and a manager that is gone (stopping) has
        # nothing to be told.
        with contextlib.suppress(OSError):
            self._socket.sendto("\n".join(assignments).encode(), socket.MSG_DONTWAIT, self._address)

    def ready(self) -> None:
        self._send("READY=1")
        if self._progress is not None:
            self._progress.pass_ended()  # the poll loop starts with an interval

    def stopping(self) -> None:
        self._send("STOPPING=1")

    def ping(self) -> None:
        now = time.monotonic()
        if self.ping_every is not None and now - self._last_ping >= 1 / PINGS_PER_SECOND:
            self._last_ping = now
            self._send("WATCHDOG=1")

    def observe(self, report: CycleReport) -> None:
        """After each pass: its summary as the status, and a ping."""
        self._send("STATUS=" + " ".join(report.summary.splitlines()))
        if self._progress is not None:
            self._progress.pass_ended()
        self.ping()

    def sleep(self, seconds: float) -> None:
        """Sleeps as the library asks, pinging the watchdog meanwhile while
        the watch gets on."""
        getting_on = self._progress is None or self._progress.wait(seconds)
        end = time.monotonic() + max(0.0, seconds)
        while True:
            now = time.monotonic()
            if (
                getting_on
                and self.ping_every is not None
                and now - self._last_ping >= self.ping_every
            ):
                self.ping()
            left = end - now
            if left <= 0:
                return
            time.sleep(min(left, self.ping_every or left))

    @contextlib.contextmanager
    def watching(self, progress: PassProgress | None = None) -> Iterator[None]:
        """While the block runs: the library sleeps through ``sleep`` (when the
        watchdog is on), pings follow ``progress`` (every wait counts when
        None), and STOPPING=1 is sent when it ends, however it ends."""
        from .. import burn_watch

        watchdog = self.ping_every is not None
        if watchdog:
            burn_watch._set_sleep(self.sleep)
        self._progress = progress
        self.ping()
        try:
            yield
        finally:
            self._progress = None
            if watchdog:
                burn_watch._set_sleep(None)
            self.stopping()

    def close(self) -> None:
        if self._socket is not None:
            self._socket.close()
            self._socket = None

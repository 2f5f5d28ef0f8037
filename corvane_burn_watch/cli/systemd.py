"""systemd's readiness, status and watchdog notifications, without a library.

A service of ``Type=notify`` gets ``$NOTIFY_SOCKET``, a datagram socket (a
path, or a name in the abstract namespace written with a leading "@"), and
with ``WatchdogSec=`` also ``$WATCHDOG_USEC``. The watch sends ``READY=1``
once the startup table is done, ``STATUS=`` with each pass's summary,
``WATCHDOG=1`` at least every half watchdog interval while it works or
sleeps, and ``STOPPING=1`` when it stops. Without ``$NOTIFY_SOCKET`` every
call does nothing.
"""

from __future__ import annotations

import contextlib
import os
import socket
import time
from collections.abc import Iterator, Mapping

TYPE_CHECKING = False  # typing's costs an import at start; type checkers take this one as theirs
if TYPE_CHECKING:
    from .reports import CycleReport

__all__ = ["Notifier"]


class Notifier:
    """Sends notifications to the service manager, if there is one."""

    def __init__(self, address: str | None, watchdog_seconds: float | None = None) -> None:
        self._address = "\0" + address[1:] if address and address.startswith("@") else address
        self._socket: socket.socket | None = None
        if self._address:
            self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM | socket.SOCK_CLOEXEC)
        # Pings at least every half watchdog interval, as systemd asks: the
        # sleep below wakes for a ping at a quarter, so one ping may come late
        # by a quarter and still be in time.
        self.ping_every = watchdog_seconds / 4 if watchdog_seconds and self._socket else None
        self._last_ping = time.monotonic()

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
        # The service manager may be gone (stopping); nothing to tell then.
        with contextlib.suppress(OSError):
            self._socket.sendto("\n".join(assignments).encode(), self._address)

    def ready(self) -> None:
        self._send("READY=1")

    def stopping(self) -> None:
        self._send("STOPPING=1")

    def ping(self) -> None:
        if self.ping_every is not None:
            self._last_ping = time.monotonic()
            self._send("WATCHDOG=1")

    def observe(self, report: CycleReport) -> None:
        """After each pass: its summary as the status, and a ping."""
        self._send("STATUS=" + " ".join(report.summary.splitlines()))
        self.ping()

    def sleep(self, seconds: float) -> None:
        """Sleeps as the library asks, pinging the watchdog meanwhile."""
        end = time.monotonic() + max(0.0, seconds)
        while True:
            now = time.monotonic()
            if self.ping_every is not None and now - self._last_ping >= self.ping_every:
                self.ping()
            left = end - now
            if left <= 0:
                return
            time.sleep(min(left, self.ping_every or left))

    @contextlib.contextmanager
    def watching(self) -> Iterator[None]:
        """While the block runs: the library sleeps through ``sleep`` (when the
        watchdog is on), and STOPPING=1 is sent when it ends, however it ends."""
        from .. import burn_watch

        watchdog = self.ping_every is not None
        if watchdog:
            burn_watch._set_sleep(self.sleep)
        self.ping()
        try:
            yield
        finally:
            if watchdog:
                burn_watch._set_sleep(None)
            self.stopping()

    def close(self) -> None:
        if self._socket is not None:
            self._socket.close()
            self._socket = None

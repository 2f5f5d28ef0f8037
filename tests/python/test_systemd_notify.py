"""systemd notifications: a datagram socket the test binds stands in for
the service manager."""

from __future__ import annotations

import os
import socket
from dataclasses import dataclass

import pytest

from corvane_burn_watch._systemd import Notifier


@dataclass(frozen=True)
class Report:
    summary: str


def received(listener: socket.socket) -> list[str]:
    listener.setblocking(False)
    out = []
    while True:
        try:
            out.append(listener.recv(4096).decode())
        except BlockingIOError:
            return out


@pytest.mark.parametrize("abstract", [False, True], ids=["path", "abstract_namespace"])
def test_ready_status_watchdog_and_stopping_arrive(tmp_path, abstract):
    name = f"burn-watch-test-{os.getpid()}"
    address, bound = (f"@{name}", f"\0{name}") if abstract else ((str(tmp_path / "n"),) * 2)
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as listener:
        listener.bind(bound)
        # A watchdog of 0.4 s: a ping at least every 0.2 s.
        notifier = Notifier.from_environment({"NOTIFY_SOCKET": address, "WATCHDOG_USEC": "400000"})
        notifier.ready()
        notifier.sleep(0.5)
        notifier.observe(Report("3 subnets,\n1 alert sent"))
        notifier.stopping()
        notifier.close()
        messages = received(listener)
    pings = messages[1:-3]
    assert messages[0] == "READY=1" and len(pings) >= 2 and set(pings) == {"WATCHDOG=1"}
    assert messages[-3:] == ["STATUS=3 subnets, 1 alert sent", "WATCHDOG=1", "STOPPING=1"]

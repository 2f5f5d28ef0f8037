"""burn-watch run under systemd's notification protocol: a datagram socket
the test binds stands in for the service manager."""

from __future__ import annotations

import os
import signal
import socket
import subprocess
import sys
import time

import pytest

import corvane_burn_watch
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

TOKEN = "1717:notify-token"
PACKAGE_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(corvane_burn_watch.__file__)))


def receive_until(listener: socket.socket, wanted: str, timeout: float = 30) -> list[str]:
    """Every notification up to and including ``wanted``."""
    got: list[str] = []
    deadline = time.monotonic() + timeout
    while wanted not in got:
        listener.settimeout(max(0.01, deadline - time.monotonic()))
        got.append(listener.recv(4096).decode())  # socket.timeout fails the test
    return got


@pytest.mark.parametrize("abstract", [False, True], ids=["path", "abstract_namespace"])
def test_ready_status_watchdog_and_stopping(tmp_path, abstract):
    if signal.getsignal(signal.SIGTERM) == signal.SIG_IGN:
        pytest.skip("SIGTERM is ignored in this process, and so in its children")
    name = f"burn-watch-test-{os.getpid()}"
    address, bound = (f"@{name}", f"\0{name}") if abstract else ((str(tmp_path / "notify"),) * 2)
    with (
        socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as listener,
        FakeDataService(make_rows(3, burn=0.2)) as service,
        TelegramSink(TOKEN) as sink,
    ):
        listener.bind(bound)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("ORBISCA_", "BURN_"))}
        env.update(
            PYTHONPATH=os.pathsep.join(filter(None, [PACKAGE_ROOT, env.get("PYTHONPATH")])),
            ORBISCA_API_BASE=service.url,
            ORBISCA_API_KEY="k",
            BURN_TELEGRAM_API_BASE=sink.url,
            BURN_TELEGRAM_TOKEN=TOKEN,
            BURN_TELEGRAM_CHAT_ID="-100",
            NOTIFY_SOCKET=address,
            WATCHDOG_USEC="400000",  # a ping at least every 0.2 s
        )
        state = str(tmp_path / "state.json")
        log = tmp_path / "stderr.txt"
        with open(log, "wb") as stderr:
            process = subprocess.Popen(
                [sys.executable, "-m", "corvane_burn_watch", "run", "--state-file", state],
                env=env,
                cwd=tmp_path,
                stdout=subprocess.DEVNULL,
                stderr=stderr,
            )
        try:
            started = receive_until(listener, "READY=1")
            # Sleeping until the first cycle, a minute away: the pings go on.
            sleeping = receive_until(listener, "WATCHDOG=1")
            sleeping += receive_until(listener, "WATCHDOG=1")
            sleeping += receive_until(listener, "WATCHDOG=1")
            process.send_signal(signal.SIGTERM)
            stopping = receive_until(listener, "STOPPING=1")
            assert process.wait(timeout=10) == 143
        finally:
            if process.poll() is None:
                process.kill()
            process.wait()
    assert log.read_text().splitlines()[-1] == "burn-watch: stopped by SIGTERM"
    statuses = [m for m in started if m.startswith("STATUS=")]
    assert len(statuses) == 1 and statuses[0].startswith("STATUS=startup ok at ")
    assert statuses[0].endswith(": 3 subnets, 0 alert message(s) sent, 0 subnet(s) pending")
    assert started[0] == "WATCHDOG=1" and started.index("READY=1") > started.index(statuses[0])
    assert sleeping == ["WATCHDOG=1"] * 3
    assert stopping[-1] == "STOPPING=1" and set(stopping[:-1]) <= {"WATCHDOG=1"}

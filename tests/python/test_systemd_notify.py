"""burn-watch run under systemd's notification protocol: a datagram socket
the test binds stands in for the service manager."""

from __future__ import annotations

import os
import signal
import socket
import subprocess
import sys
import time
from collections.abc import Iterator
from pathlib import Path

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


def receive_for(listener: socket.socket, seconds: float) -> list[tuple[float, str]]:
    """Every notification that comes within ``seconds``, with when it came."""
    got: list[tuple[float, str]] = []
    start = time.monotonic()
    while (left := start + seconds - time.monotonic()) > 0:
        listener.settimeout(left)
        try:
            message = listener.recv(4096).decode()
        except TimeoutError:
            break
        got.append((time.monotonic() - start, message))
    return got


def skip_if_ignored(signum: int) -> None:
    if signal.getsignal(signum) == signal.SIG_IGN:
        pytest.skip("the signal is ignored in this process, and so in its children")


@pytest.fixture
def services() -> Iterator[tuple[FakeDataService, TelegramSink]]:
    with FakeDataService(make_rows(3, burn=0.2)) as service, TelegramSink(TOKEN) as sink:
        yield service, sink


@pytest.fixture
def start(tmp_path, services):
    """start(notify_socket, watchdog_usec, *args): the watch under a service
    manager at that address; killed after the test if still running."""
    service, sink = services
    started: list[subprocess.Popen[bytes]] = []

    def run(address: str, watchdog_usec: str, *args: str) -> subprocess.Popen[bytes]:
        env = {k: v for k, v in os.environ.items() if not k.startswith(("ORBISCA_", "BURN_"))}
        env.update(
            PYTHONPATH=os.pathsep.join(filter(None, [PACKAGE_ROOT, env.get("PYTHONPATH")])),
            ORBISCA_API_BASE=service.url,
            ORBISCA_API_KEY="k",
            BURN_TELEGRAM_API_BASE=sink.url,
            BURN_TELEGRAM_TOKEN=TOKEN,
            BURN_TELEGRAM_CHAT_ID="-100",
            NOTIFY_SOCKET=address,
            WATCHDOG_USEC=watchdog_usec,
        )
        state = str(tmp_path / "state.json")
        with (
            open(tmp_path / "stdout.txt", "ab") as stdout,
            open(tmp_path / "stderr.txt", "ab") as stderr,
        ):
            process = subprocess.Popen(
                [sys.executable, "-m", "corvane_burn_watch", "run", "--state-file", state, *args],
                env=env,
                cwd=tmp_path,
                stdout=stdout,
                stderr=stderr,
            )
        started.append(process)
        return process

    yield run
    for process in started:
        if process.poll() is None:
            process.kill()
        process.wait()


def log_lines(tmp_path: Path) -> list[str]:
    return (tmp_path / "stderr.txt").read_text().splitlines()


@pytest.mark.parametrize("abstract", [False, True], ids=["path", "abstract_namespace"])
def test_ready_status_watchdog_and_stopping(tmp_path, start, abstract):
    skip_if_ignored(signal.SIGTERM)
    name = f"burn-watch-test-{os.getpid()}"
    address, bound = (f"@{name}", f"\0{name}") if abstract else ((str(tmp_path / "notify"),) * 2)
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as listener:
        listener.bind(bound)
        process = start(address, "400000")  # a ping at least every 0.2 s
        started = receive_until(listener, "READY=1")
        # Sleeping until the first cycle, a minute away: the pings go on.
        sleeping = receive_until(listener, "WATCHDOG=1")
        sleeping += receive_until(listener, "WATCHDOG=1")
        sleeping += receive_until(listener, "WATCHDOG=1")
        process.send_signal(signal.SIGTERM)
        stopping = receive_until(listener, "STOPPING=1")
        assert process.wait(timeout=10) == 143
    assert log_lines(tmp_path)[-1] == "burn-watch: stopped by SIGTERM"
    statuses = [m for m in started if m.startswith("STATUS=")]
    assert len(statuses) == 1 and statuses[0].startswith("STATUS=startup ok at ")
    assert statuses[0].endswith(": 3 subnets, 0 alert message(s) sent, 0 subnet(s) pending")
    assert started[0] == "WATCHDOG=1" and started.index("READY=1") > started.index(statuses[0])
    assert sleeping == ["WATCHDOG=1"] * 3
    assert stopping[-1] == "STOPPING=1" and set(stopping[:-1]) <= {"WATCHDOG=1"}


def test_pings_come_a_few_times_a_second_whatever_the_watchdog_asks(tmp_path, start):
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as listener:
        listener.bind(str(tmp_path / "notify"))
        start(str(tmp_path / "notify"), "1")  # a ping every microsecond, it says
        receive_until(listener, "READY=1")
        pings = [m for _, m in receive_for(listener, 2.0) if m == "WATCHDOG=1"]
    assert 2 <= len(pings) <= 12


def fill(path: str) -> None:
    """Fills the queue of the socket at ``path`` until a sender would block."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as sender:
        sender.setblocking(False)
        sender.connect(path)
        while True:
            try:
                sender.send(b"X" * 1024)
            except BlockingIOError:
                return


@pytest.mark.parametrize("stop", ["pause_file", "sigterm"])
def test_a_manager_that_never_reads_never_holds_the_watch(tmp_path, services, start, stop):
    skip_if_ignored(signal.SIGTERM)
    _, sink = services
    address = str(tmp_path / "notify")
    pause = tmp_path / "pause"
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as listener:
        listener.bind(address)
        fill(address)
        process = start(address, "1", "--pause-file", str(pause))
        deadline = time.monotonic() + 30
        while not sink.messages:  # the snapshot table: the watch got past its first pings
            assert process.poll() is None and time.monotonic() < deadline, log_lines(tmp_path)
            time.sleep(0.05)
        time.sleep(0.5)  # into the interval's sleep, pinging
        if stop == "pause_file":
            pause.write_text("")
            assert process.wait(timeout=10) == 0
            assert log_lines(tmp_path)[-1] == "[burn] monitoring paused"
        else:
            process.send_signal(signal.SIGTERM)
            assert process.wait(timeout=10) == 143
            assert log_lines(tmp_path)[-1] == "burn-watch: stopped by SIGTERM"


def test_a_pass_stuck_resending_stops_feeding_the_watchdog(tmp_path, services, start):
    # Telegram answers every send with "wait 0 seconds": a pass that never
    # gets a message through. Either the pass gives up and ends (READY=1
    # follows its report), or the pings stop while it is stuck.
    _, sink = services
    sink.fail(*[TelegramSink.rate_limited(0)] * 100_000)
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as listener:
        listener.bind(str(tmp_path / "notify"))
        start(str(tmp_path / "notify"), "400000", "--max-retry-after", "0")
        deadline = time.monotonic() + 30
        while not sink.messages:
            assert time.monotonic() < deadline, log_lines(tmp_path)
            time.sleep(0.01)
        got = receive_for(listener, 4.0)
    messages = [m for _, m in got]
    last_ping = max((t for t, m in got if m == "WATCHDOG=1"), default=0.0)
    assert "READY=1" in messages or last_ping < 2.0, (len(sink.messages), got[-5:])

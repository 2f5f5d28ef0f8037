"""Helpers of the fault-injection tests: the watch under test, standard error
as seen across reads, and checks that the bot token never leaks.

The bot token must never show up on standard error or in an exception's text:
the autouse ``stderr`` fixture (conftest.py) checks all output at the end of
every test, and ``raised`` checks each exception a test provokes.
"""

from __future__ import annotations

import contextlib
import json
import socket
import threading
import traceback
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import Any, TypeVar

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.data_service import FakeDataService
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

API_KEY = "reliability-key"
TOKEN = "8086:AAH-reliability_SECRET.token~z"
CHAT = "-100200300"
SUBNETS = 32


def assert_no_token(text: str) -> None:
    assert TOKEN not in text, "the bot token leaked"
    # The part after the colon alone is the secret too.
    assert TOKEN.split(":", 1)[1] not in text, "the bot token leaked"


class Stderr:
    """What the library wrote to standard error, kept across reads."""

    def __init__(self, capfd: pytest.CaptureFixture[str]) -> None:
        self._capfd = capfd
        self.everything = ""

    def new(self) -> str:
        """Output written since the last call."""
        out, err = self._capfd.readouterr()
        self.everything += out + err
        return err

    def lines(self) -> list[str]:
        return self.new().splitlines()


E = TypeVar("E", bound=BaseException)


@contextlib.contextmanager
def raised(kind: type[E]) -> Iterator[pytest.ExceptionInfo[E]]:
    """pytest.raises that also checks the exception's text and traceback."""
    with pytest.raises(kind) as info:
        yield info
    error = info.value
    assert str(error), "an error without a message"
    assert_no_token(str(error))
    assert_no_token(repr(error))
    assert_no_token("".join(traceback.format_exception(error)))


class Watch:
    """One state file, the two fakes and the library pointed at them."""

    def __init__(self, state: Path, service: FakeDataService, sink: TelegramSink) -> None:
        self.state = state
        self.service = service
        self.sink = sink
        self.burn = 0.1

    def once(self, threshold: float = 0.0, options: bw.WatchOptions | None = None) -> int:
        return bw.run_burn_watch_once(
            state_path=str(self.state),
            threshold=threshold,
            burn_token=TOKEN,
            burn_chat_id=CHAT,
            options=options,
        )

    def poll_until_paused(self, pause: Path, sleep: Callable[[float], None]) -> None:
        """Runs the poll loop, with `sleep` standing in for the library's
        sleeping, until the pause file stops it."""
        bw._set_sleep(sleep)
        try:
            bw.run_burn_poll_loop(
                state_path=str(self.state),
                threshold=0.0,
                interval_minutes=1,
                burn_token=TOKEN,
                burn_chat_id=CHAT,
                pause_path=str(pause),
            )
        finally:
            bw._set_sleep(None)

    def saved(self) -> dict[str, str]:
        burns: dict[str, str] = json.loads(self.state.read_text())["owner_burn_rate"]
        return burns

    def temp_files(self) -> list[str]:
        return sorted(p.name for p in self.state.parent.iterdir() if p.name != self.state.name)

    def change_burn(self, netuid: int = 3) -> str:
        """Moves one subnet's burn and returns the alert line a cycle should
        give for it against the stored baseline."""
        self.burn = round(self.burn + 0.1, 4)
        self.service.set_burn(netuid, self.burn)
        old = float(self.saved()[str(netuid)])
        return f"SN{netuid}: {old:.4f} \u2192 {self.burn:.4f}"

    def assert_recovers(self, stderr: Stderr) -> None:
        """The next cycle after a fault works: it fetches, compares with the
        baseline that survived the fault, saves and delivers the alert."""
        expected = self.change_burn()
        before = len(self.sink.messages)
        assert self.once() == 0
        assert stderr.lines() == ["[burn] alert sent (1 subnet(s))"]
        texts = [m.text for m in self.sink.messages[before:]]
        assert len(texts) == 1 and texts[0] is not None and texts[0].endswith("\n" + expected)
        assert self.saved()["3"] == repr(self.burn)
        assert self.temp_files() == []


def make_watch(state: Path, fakes: tuple[FakeDataService, TelegramSink], stderr: Stderr) -> Watch:
    """A watch whose baseline is in place: one first pass already ran."""
    service, sink = fakes
    watch = Watch(state, service, sink)
    assert watch.once() == 0
    assert stderr.lines() == []
    assert watch.saved()["3"] == "0.1"
    service.http.clear()
    return watch


def one_line_json(line: str, prefix: str) -> dict[str, Any]:
    """The JSON object of a log line, after its prefix."""
    assert line.startswith(prefix), line
    document = json.loads(line[len(prefix) :])
    assert isinstance(document, dict), line
    return document


class SilentServer:
    """Accepts connections and never sends a byte."""

    def __init__(self) -> None:
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen()
        self.listener.settimeout(0.2)
        self.url = f"http://127.0.0.1:{self.listener.getsockname()[1]}"
        self.accepted: list[socket.socket] = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._accept, daemon=True)
        self._thread.start()

    def _accept(self) -> None:
        while not self._stop.is_set():
            try:
                connection, _ = self.listener.accept()
            except OSError:
                continue
            self.accepted.append(connection)

    def close(self) -> None:
        self._stop.set()
        self._thread.join()
        for connection in self.accepted:
            connection.close()
        self.listener.close()

"""Fixtures shared by the test suites."""

from __future__ import annotations

from collections.abc import Iterator

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.http_fake import FakeHttpServer


@pytest.fixture
def pauses() -> Iterator[list[float]]:
    """Every pause the library asks for, in seconds, taken without waiting."""
    recorded: list[float] = []
    bw._set_sleep(recorded.append)
    try:
        yield recorded
    finally:
        bw._set_sleep(None)


@pytest.fixture
def server(monkeypatch) -> Iterator[FakeHttpServer]:
    """A scripted loopback server that the data client is pointed at."""
    with FakeHttpServer() as fake:
        monkeypatch.setenv("ORBISCA_API_BASE", fake.url)
        monkeypatch.delenv("ORBISCA_USER_AGENT", raising=False)
        yield fake

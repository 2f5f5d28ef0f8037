"""Fixtures of the fault-injection tests; the helpers live in harness.py."""

from __future__ import annotations

import sys
from collections.abc import Iterator
from pathlib import Path

import pytest

# The tests import their helpers (harness.py) from this folder.
sys.path.insert(0, str(Path(__file__).parent))

from harness import (
    API_KEY,
    SUBNETS,
    TOKEN,
    Stderr,
    Watch,
    assert_no_token,
    make_watch,
)

from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.telegram_sink import TelegramSink


@pytest.fixture(autouse=True)
def _state_dir(tmp_path) -> None:
    (tmp_path / "state").mkdir()


@pytest.fixture(autouse=True)
def stderr(capfd) -> Iterator[Stderr]:
    seen = Stderr(capfd)
    yield seen
    seen.new()
    assert_no_token(seen.everything)


@pytest.fixture
def fakes(monkeypatch) -> Iterator[tuple[FakeDataService, TelegramSink]]:
    with (
        FakeDataService(make_rows(SUBNETS, 0.1), api_key=API_KEY) as service,
        TelegramSink(token=TOKEN) as sink,
    ):
        monkeypatch.setenv("ORBISCA_API_BASE", service.url)
        monkeypatch.setenv("ORBISCA_API_KEY", API_KEY)
        monkeypatch.setenv("BURN_TELEGRAM_API_BASE", sink.url)
        yield service, sink


@pytest.fixture
def watch(tmp_path, fakes, pauses, stderr) -> Watch:
    return make_watch(tmp_path / "state" / "burn_state.json", fakes, stderr)

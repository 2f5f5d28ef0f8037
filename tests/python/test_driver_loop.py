"""The poll loop, the pause file and the interval sleep.

Sleeps go through the library's sleep seam and are recorded instead of
waited for; a host creating the pause file meanwhile is played by the
recorder acting at a chosen step.
"""

from __future__ import annotations

import math
import os
import signal
import threading
import time
from collections.abc import Callable
from pathlib import Path

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.http_fake import Reply

API_KEY = "loop-key"
PAUSED = "[burn] monitoring paused\n"


class Sleeps:
    """Records requested sleeps; runs `action` when the given step is reached."""

    def __init__(self) -> None:
        self.steps: list[float] = []
        self.actions: dict[int, Callable[[], None]] = {}

    def at(self, step: int, action: Callable[[], None]) -> Sleeps:
        self.actions[step] = action
        return self

    def __call__(self, seconds: float) -> None:
        self.steps.append(seconds)
        action = self.actions.get(len(self.steps))
        if action is not None:
            action()


@pytest.fixture
def sleeps():
    recorder = Sleeps()
    bw._set_sleep(recorder)
    yield recorder
    bw._set_sleep(None)


@pytest.fixture
def service(monkeypatch):
    with FakeDataService(make_rows(3, burn=0.5), api_key=API_KEY) as fake:
        monkeypatch.setenv("ORBISCA_API_BASE", fake.url)
        monkeypatch.setenv("ORBISCA_API_KEY", API_KEY)
        yield fake


def run_loop(tmp_path: Path, interval_minutes: float = 1, pause: Path | None = None) -> None:
    bw.run_burn_poll_loop(
        state_path=str(tmp_path / "state.json"),
        threshold=0.01,
        interval_minutes=interval_minutes,
        burn_token="",
        burn_chat_id="",
        pause_path="" if pause is None else str(pause),
    )


# ---- pause file and interval sleep -------------------------------------------------


@pytest.mark.parametrize(
    ("make", "paused"),
    [
        (lambda p: p.write_text("x"), True),
        (lambda p: p.write_bytes(b""), True),
        (lambda p: p.mkdir(), False),
        (lambda p: None, False),
        (lambda p: (p.with_name("target").write_text(""), p.symlink_to("target")), True),
        (lambda p: p.symlink_to("missing"), False),
        (lambda p: (p.with_name("d").mkdir(), p.symlink_to("d")), False),
    ],
    ids=["file", "empty_file", "directory", "missing", "link_to_file", "dangling", "link_to_dir"],
)
def test_burn_is_paused_means_a_regular_file(tmp_path, make, paused):
    path = tmp_path / "pause"
    make(path)
    assert bw._burn_is_paused(str(path)) is paused


@pytest.mark.parametrize(
    "suffix", ["/below", "\0", "/" + "x" * 5000], ids=["below_a_file", "nul_byte", "too_long"]
)
def test_paths_that_cannot_be_examined_are_no_pause(tmp_path, suffix):
    (tmp_path / "file").write_text("")
    assert bw._burn_is_paused(str(tmp_path / "file") + suffix) is False


def test_empty_pause_path_switches_pausing_off():
    assert bw._burn_is_paused("") is False


@pytest.mark.parametrize(
    ("interval", "steps"),
    [(2.5, [1.0, 1.0, 0.5]), (3, [1.0, 1.0, 1.0]), (0.3, [0.3]), (0, []), (-2, []), (math.nan, [])],
)
def test_sleep_until_interval_steps(sleeps, interval, steps):
    assert bw._sleep_until_interval(interval, "") is True
    assert sleeps.steps == steps


@pytest.mark.parametrize(
    ("interval", "create_at", "steps_taken"),
    [(0, None, 0), (5, None, 0), (5, 2, 2), (2.5, 3, 3)],
    ids=["zero_interval", "present_at_start", "during_a_step", "during_the_last_step"],
)
def test_sleep_until_interval_notices_the_pause_file(
    tmp_path, sleeps, interval, create_at, steps_taken
):
    pause = tmp_path / "pause"
    if create_at is None:
        pause.write_text("")
    else:
        sleeps.at(create_at, lambda: pause.write_text(""))
    assert bw._sleep_until_interval(interval, str(pause)) is False
    assert len(sleeps.steps) == steps_taken


# ---- the loop -----------------------------------------------------------------------


def test_pause_file_at_start_stops_at_once(tmp_path, sleeps, service, capfd):
    pause = tmp_path / "pause"
    pause.write_text("")
    run_loop(tmp_path, pause=pause)
    assert capfd.readouterr().err == PAUSED
    assert sleeps.steps == [] and service.requests == []


@pytest.mark.parametrize(
    ("minutes", "seconds"),
    [(0.5, 60), (1, 60), (1.5, 90), (2, 120), (0, 60), (-1, 60), (math.nan, 60)],
)
def test_first_cycle_comes_one_interval_after_the_start(
    tmp_path, sleeps, service, minutes, seconds
):
    pause = tmp_path / "pause"
    slept_before_cycle: list[float] = []

    def rows_then_pause(request):
        slept_before_cycle.append(sum(sleeps.steps))
        pause.write_text("")  # noticed as soon as the cycle ends
        return Reply.json('{"data": [{"netuid": 1, "incentive_burn": 0.5}]}')

    service.fail(rows_then_pause)
    run_loop(tmp_path, interval_minutes=minutes, pause=pause)
    assert slept_before_cycle == [seconds]
    assert sleeps.steps == [1.0] * seconds


@pytest.mark.parametrize(
    ("create_at", "cycles"),
    [(1, 0), (60, 0), (61, 1), (120, 1), (121, 2), (125, 2)],
)
def test_pause_file_created_after_n_steps(tmp_path, sleeps, service, capfd, create_at, cycles):
    pause = tmp_path / "pause"
    sleeps.at(create_at, lambda: pause.write_text(""))
    run_loop(tmp_path, interval_minutes=1, pause=pause)
    assert len(service.requests) == cycles
    assert len(sleeps.steps) == create_at
    assert capfd.readouterr().err == PAUSED
    assert (tmp_path / "state.json").exists() == (cycles > 0)


def test_directory_is_not_a_pause(tmp_path, sleeps, service, capfd):
    pause = tmp_path / "pause"
    pause.mkdir()

    def replace_directory_by_file():
        pause.rmdir()
        pause.write_text("")

    sleeps.at(150, replace_directory_by_file)
    run_loop(tmp_path, pause=pause)
    assert len(service.requests) == 2  # cycles after steps 60 and 120
    assert capfd.readouterr().err == PAUSED


def test_cycle_errors_are_logged_and_the_loop_goes_on(tmp_path, sleeps, service, capfd):
    pause = tmp_path / "pause"
    # First cycle: a success body that is a list, which the data client rejects.
    # Second: rows. Third: a refusal whose retry pause raises in the host.
    service.fail(Reply.json("[1]"), Reply.json('{"data": [{"netuid": 4}]}'))
    service.rate_limit(1)

    def host_sleep_fails():
        raise RuntimeError("boom")

    sleeps.at(181, host_sleep_fails)  # the retry pause of the third cycle
    sleeps.at(241, lambda: pause.write_text(""))
    run_loop(tmp_path, pause=pause)
    lines = capfd.readouterr().err.splitlines(keepends=True)
    assert len(lines) == 3
    assert lines[0].startswith("[burn] error: ") and lines[0] != "[burn] error: \n"
    assert lines[1:] == ["[burn] error: boom\n", PAUSED]
    assert sleeps.steps[180] == 2.0  # the third cycle's first retry pause
    assert len(service.requests) == 3
    assert (tmp_path / "state.json").exists()


def test_non_integer_netuid_is_logged_by_the_loop(tmp_path, sleeps, service, capfd):
    bw.save_burn_state(str(tmp_path / "state.json"), {"7": "0.1"}, "2026-01-01T00:00:00Z")
    service.rows = [{"netuid": 7.0, "incentive_burn": 0.9}]
    sleeps.at(61, lambda: (tmp_path / "pause").write_text(""))
    run_loop(tmp_path, pause=tmp_path / "pause")
    err = capfd.readouterr().err
    assert err.startswith("[burn] error: ") and err.endswith(PAUSED)
    assert err.count("\n") == 2
    assert bw.load_burn_state(str(tmp_path / "state.json")) == {"7": "0.1"}


@pytest.mark.parametrize("stop", [KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("where", [60, 61], ids=["loop_sleep", "cycle_retry_pause"])
def test_interrupts_are_never_caught(tmp_path, sleeps, service, capfd, stop, where):
    service.rate_limit(1)  # the cycle after step 60 sleeps for a retry

    def interrupt():
        raise stop()

    sleeps.at(where, interrupt)
    with pytest.raises(stop):
        run_loop(tmp_path)
    assert capfd.readouterr().err == ""


def test_error_in_the_loops_own_sleep_reaches_the_host(tmp_path, sleeps, service):
    failure = RuntimeError("clock broke")

    def fail():
        raise failure

    sleeps.at(3, fail)
    with pytest.raises(RuntimeError) as raised:
        run_loop(tmp_path)
    assert raised.value is failure
    assert service.requests == []


# ---- real waiting ------------------------------------------------------------------


def test_loop_on_a_background_thread_leaves_the_main_thread_running(tmp_path, service, capfd):
    pause = tmp_path / "pause"
    outcome: list[object] = []

    def background():
        try:
            run_loop(tmp_path, interval_minutes=1, pause=pause)
            outcome.append("returned")
        except BaseException as error:  # reported to the main thread below
            outcome.append(error)

    thread = threading.Thread(target=background, daemon=True)
    thread.start()
    # The main thread keeps executing Python while the loop waits.
    work, deadline = 0, time.monotonic() + 0.5
    while time.monotonic() < deadline:
        work += 1
    assert work > 1000 and thread.is_alive()
    pause.write_text("")
    thread.join(timeout=10)
    assert not thread.is_alive() and outcome == ["returned"]
    assert capfd.readouterr().err == PAUSED
    assert service.requests == []


def test_ctrl_c_ends_the_loop_during_a_real_sleep(tmp_path, service):
    pause = tmp_path / "pause"
    # A backstop, so that a missed interrupt fails instead of hanging.
    backstop = threading.Timer(20, pause.write_text, ("",))
    interrupt = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    backstop.start()
    interrupt.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            run_loop(tmp_path, pause=pause)
    finally:
        interrupt.cancel()
        backstop.cancel()
    assert not pause.exists()

"""Delivery that loses no alert: Telegram down for many cycles, cycles killed
at random instants, Telegram's own rules, restarts, and one watch per state
file. Every change must reach the chat, coalesced, and the bot token must
never show up in the pending file, a log line or an error."""

from __future__ import annotations

import functools
import json
import os
import random
import re
import socket
import subprocess
import sys
import threading
import time
from collections.abc import Callable
from pathlib import Path

import pytest
from harness import API_KEY, CHAT, TOKEN, Watch, assert_no_token

import corvane_burn_watch
from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.http_fake import RecordedRequest, Reply
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

REDELIVER = bw.WatchOptions(redeliver=True)
LINE = re.compile(r"SN(\d+): (\S+) \u2192 (\S+)")
KILLER = Path(__file__).with_name("kill_cycles.py")


def closed_port_url() -> str:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return f"http://127.0.0.1:{probe.getsockname()[1]}"


def delivered_lines(sink: TelegramSink) -> list[tuple[str, str, str]]:
    """(subnet, old, new) of every alert line the chat has, in arrival order."""
    return [
        (match[1], match[2], match[3])
        for m in sink.delivered()
        for match in LINE.finditer(m.text or "")
    ]


def pending_file(watch: Watch) -> Path:
    return watch.state.parent / (watch.state.name + ".pending.json")


# ---- Telegram down for ten cycles ---------------------------------------------------------


def test_outage_of_ten_cycles_then_every_change_arrives_once_coalesced(watch, stderr, monkeypatch):
    telegram = os.environ["BURN_TELEGRAM_API_BASE"]

    def refused_connections() -> None:
        monkeypatch.setenv("BURN_TELEGRAM_API_BASE", closed_port_url())

    def long_rate_limit() -> None:
        monkeypatch.setenv("BURN_TELEGRAM_API_BASE", telegram)
        watch.sink.fail(TelegramSink.rate_limited(3600))

    outage: list[Callable[[], object]] = [
        functools.partial(watch.sink.fail, Reply(status)) for status in (500, 502, 503, 504)
    ]
    outage += [refused_connections] * 3 + [long_rate_limit] * 3
    rng = random.Random(12)
    final = dict.fromkeys(range(32), 0.1)
    for cycle, start_fault in enumerate(outage):
        for netuid in [*rng.sample(range(32), 6), 3]:  # subnet 3 moves every cycle
            final[netuid] = round(rng.uniform(0.2, 0.9), 2)
        final[7] = 0.5 if cycle % 2 == 0 else 0.1  # ends where the chat last saw it
        watch.service.rows = [{"netuid": n, "incentive_burn": b} for n, b in final.items()]
        start_fault()
        assert watch.once(options=REDELIVER) == 1
        assert stderr.lines()[-1].endswith("stay pending for the next cycle")
    assert watch.sink.delivered() == []

    assert watch.once(options=REDELIVER) == 0
    expected = [
        (str(n), "0.1000", f"{b:.4f}") for n, b in sorted(final.items()) if f"{b:.4f}" != "0.1000"
    ]
    assert delivered_lines(watch.sink) == expected
    assert len(watch.sink.delivered()) == 1
    assert stderr.lines() == [f"[burn] alert sent ({len(expected)} subnet(s))"]
    assert not pending_file(watch).exists()
    # Telegram was asked once per cycle: a failed message ends the cycle's sending.
    assert len(watch.sink.messages) == 4 + 3 + 1


# ---- SIGKILL at random instants -------------------------------------------------------------


class MovingRates:
    """Moves some subnets' rates before each answer of the data service, so
    that cycles keep finding changes, now and then enough for a long alert."""

    def __init__(self, service: FakeDataService, seed: int) -> None:
        self.service = service
        self.rng = random.Random(seed)
        self.lock = threading.Lock()

    def __call__(self) -> None:
        with self.lock:
            rows = self.service.rows
            for row in self.rng.sample(rows, self.rng.choice([0, 1, 5, 20, 200])):
                row["incentive_burn"] = round(self.rng.random(), 2)
            self.service.rows = rows


def check_chat(
    lines: list[tuple[str, str, str]], baseline: dict[str, str], final: dict[str, str]
) -> int:
    """Every subnet's lines form a chain from the baseline to the final value:
    each starts where the chat was, or where it was before a line whose
    delivery the killed cycle could not record (a duplicate). Returns the
    number of duplicates; a line from a value the chat never had is a lost
    change and fails."""
    told = {k: f"{float(v):.4f}" for k, v in baseline.items()}
    history = {k: {v} for k, v in told.items()}
    duplicates = 0
    for subnet, old, new in lines:
        if old != told[subnet]:
            assert old in history[subnet], f"SN{subnet}: {old} was never told (a lost change)"
            duplicates += 1
        told[subnet] = new
        history[subnet].add(new)
    assert told == {k: f"{float(v):.4f}" for k, v in final.items()}, "a change never arrived"
    return duplicates


@pytest.mark.parametrize(
    "kills",
    [pytest.param(100, id="100"), pytest.param(1000, id="1000", marks=pytest.mark.slow)],
)
def test_killed_cycles_lose_no_change(watch, stderr, kills):
    service, sink = watch.service, watch.sink
    service.rows = make_rows(300, 0.1)
    watch.state.unlink()
    assert watch.once(options=REDELIVER) == 0  # the baseline
    baseline = watch.saved()
    service.before_answer = MovingRates(service, seed=kills)
    env = program_env(BURN_TELEGRAM_TOKEN=TOKEN, BURN_TELEGRAM_CHAT_ID=CHAT)
    finished = subprocess.run(
        [sys.executable, str(KILLER), str(watch.state), str(kills), str(kills)],
        env=env,
        capture_output=True,
        text=True,
        timeout=1200,
        check=True,
    )
    summary = json.loads(finished.stdout)
    assert_no_token(finished.stderr)
    assert summary["raised"] == 0, finished.stderr

    # Then the watch runs on until nothing is pending.
    service.before_answer = None
    runs = 0
    while pending_file(watch).exists() or runs == 0:
        runs += 1
        assert runs <= 3
        assert watch.once(options=REDELIVER) == 0
    stderr.new()
    lines = delivered_lines(sink)
    summary.update(
        duplicates=check_chat(lines, baseline, watch.saved()),
        exact_duplicates=len(lines) - len(set(lines)),
        lines=len(lines),
        messages=len(sink.delivered()),
        runs_to_drain=runs,
    )
    print(json.dumps(summary))
    # Kills landed in every phase: before and after the state was saved, and
    # while messages went out (the duplicates).
    assert summary["killed_after_state_saved"] > kills // 10
    assert 0 < summary["killed_after_pending_written"] < kills
    assert summary["duplicates"] > 0 and summary["lines"] > kills


# ---- Telegram's rules ---------------------------------------------------------------------------


def test_retry_after_1_is_waited_and_the_same_cycle_succeeds(watch, stderr, pauses):
    expected = watch.change_burn()
    watch.sink.fail(TelegramSink.rate_limited(1))
    assert watch.once(options=REDELIVER) == 0
    assert pauses == [1.0]
    assert stderr.lines() == [
        "[burn] telegram asked to wait 1 s (rate limited): waiting, then sending again",
        "[burn] alert sent (1 subnet(s))",
    ]
    (message,) = watch.sink.delivered()
    assert message.text.endswith("\n" + expected)


def test_group_migration_mid_alert_is_followed_and_remembered(watch, stderr):
    supergroup = "-1009876543210"
    watch.service.rows = make_rows(400, 0.1)
    watch.state.unlink()
    assert watch.once(options=REDELIVER) == 0
    watch.service.rows = make_rows(400, 0.3)
    # The group becomes a supergroup right after the alert's first message.
    watch.sink.on_message = lambda message: watch.sink.migrate(CHAT, supergroup)
    assert watch.once(options=REDELIVER) == 0
    assert [m.chat_id for m in watch.sink.messages] == [CHAT, CHAT, supergroup, supergroup]
    assert len(delivered_lines(watch.sink)) == 400
    lines = stderr.lines()
    assert f"set BURN_TELEGRAM_CHAT_ID={supergroup}" in lines[0]
    assert lines[1] == "[burn] alert sent (400 subnet(s))"

    # A restart: the next process goes straight to the supergroup.
    watch.sink.on_message = None
    watch.sink.http.clear()
    watch.service.set_burn(5, 0.9)
    assert watch.once(options=REDELIVER) == 0
    assert [m.chat_id for m in watch.sink.messages] == [supergroup]
    assert stderr.lines()[0] == (
        f"[burn] sending to chat {supergroup}, where Telegram moved chat {CHAT}; "
        f"set BURN_TELEGRAM_CHAT_ID={supergroup}"
    )


def echo(status: int, template: bytes):
    """A reply that quotes the request path, bot token included."""

    def reply(request: RecordedRequest) -> Reply:
        return Reply(status, template.replace(b"PATH", request.path.encode()))

    return reply


@pytest.mark.parametrize(
    "reply",
    [
        pytest.param(echo(502, b"<html>no route to PATH</html>"), id="5xx-echo"),
        pytest.param(echo(200, b"garbage PATH"), id="garbage-echo"),
        pytest.param(echo(403, b'{"ok": false, "description": "PATH blocked"}'), id="403-echo"),
    ],
)
def test_the_token_never_reaches_the_pending_file_or_a_log_line(watch, stderr, reply):
    watch.change_burn()
    watch.sink.fail(reply)
    assert watch.once(options=REDELIVER) in (1, 2)  # the stderr fixture checks the log
    pending = pending_file(watch).read_text()
    assert json.loads(pending)["alerts"]
    assert_no_token(pending)
    assert TOKEN not in "".join(p.read_text() for p in watch.state.parent.iterdir())


# ---- the program: refused at start, one watch per state file -------------------------------------


# The package under test, wherever it was imported from, for the programs
# these tests start in another working directory.
PACKAGE_ROOT = str(Path(corvane_burn_watch.__file__).parent.parent.absolute())


def program_env(**settings: str) -> dict[str, str]:
    path = os.pathsep.join(filter(None, [PACKAGE_ROOT, os.environ.get("PYTHONPATH")]))
    return dict(os.environ, PYTHONPATH=path, **settings)


def program(tmp_path: Path, *args: str, token: str = TOKEN) -> subprocess.Popen[str]:
    env = program_env(
        BURN_TELEGRAM_TOKEN=token, BURN_TELEGRAM_CHAT_ID=CHAT, ORBISCA_API_KEY=API_KEY
    )
    return subprocess.Popen(
        [sys.executable, "-m", "corvane_burn_watch", *args],
        env=env,
        cwd=tmp_path,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )


def test_401_at_start_exits_2(watch, tmp_path):
    run = program(tmp_path, "run", "--state-file", str(watch.state), token="9:not-the-bot")
    out, err = run.communicate(timeout=60)
    assert run.returncode == 2 and out == ""
    lines = err.splitlines()
    assert lines[-2] == (
        "[burn] startup telegram failed: Telegram refused: Unauthorized "
        "(the bot token is not valid: check BURN_TELEGRAM_TOKEN)"
    )
    assert lines[-1].startswith("burn-watch: Telegram refused the bot or the chat at start-up")
    assert_no_token(err)


@pytest.mark.parametrize("second", ["run", "once", "snapshot"])
def test_a_second_instance_exits_2_naming_the_first(watch, tmp_path, second):
    pause = tmp_path / "pause"
    first = program(tmp_path, "run", "--state-file", str(watch.state), "--pause-file", str(pause))
    try:
        deadline = time.monotonic() + 30
        while not watch.sink.delivered():  # the first one's startup snapshot
            assert first.poll() is None and time.monotonic() < deadline
            time.sleep(0.05)
        started = time.monotonic()
        other = program(tmp_path, second, "--state-file", str(watch.state))
        out, err = other.communicate(timeout=30)
        assert other.returncode == 2 and out == ""
        assert err == (
            f"burn-watch: error: burn state file {watch.state} is in use by process "
            f"{first.pid} (lock file {watch.state}.lock)\n"
        )
        assert time.monotonic() - started < 10
    finally:
        pause.touch()
        first.communicate(timeout=30)
    assert first.returncode == 0

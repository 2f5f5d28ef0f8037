"""The watch options of a long-running watch, end to end through the loopback
fakes: rows and state files that would blind the watch, request deadlines,
pending alerts, the startup pass, messages' extra fields, dry runs and the
cycle observer. Telegram failing for many cycles, kills and restarts are the
fault suite's (tests/reliability/test_delivery_faults.py)."""

from __future__ import annotations

import datetime as dt
import json
import os
import time
from pathlib import Path
from typing import Any

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.http_fake import Reply
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

API_KEY = "options-key"
TOKEN = "4343:options-token"
CHAT = "-100888"
UPDATED_AT = "2026-03-01T12:00:00Z"
CLOCK = dt.datetime(2026, 3, 1, 12, 0, 0, tzinfo=dt.UTC).timestamp()
ARROW = "\u2192"
SERVICE = {"skip_bad_rows": True, "keep_corrupt_state": True, "warn_full_page": True}


class Watch:
    """A state file, the two fakes, and the library pointed at them."""

    def __init__(self, tmp_path: Path, service: FakeDataService, sink: TelegramSink):
        self.state = tmp_path / "burn_state.json"
        self.pending = tmp_path / "burn_state.json.pending.json"
        self.service = service
        self.sink = sink

    def once(self, threshold: float = 0.01, token: str = TOKEN, **options) -> int:
        return bw.run_burn_watch_once(
            state_path=str(self.state),
            threshold=threshold,
            burn_token=token,
            burn_chat_id=CHAT,
            options=bw.WatchOptions(**options),
        )

    def snapshot(self, **options) -> int:
        return bw.run_burn_startup_snapshot(
            state_path=str(self.state),
            burn_token=TOKEN,
            burn_chat_id=CHAT,
            options=bw.WatchOptions(**options),
        )

    def serve(self, burns: dict[int, float]) -> None:
        self.service.rows = [{"netuid": k, "incentive_burn": v} for k, v in burns.items()]

    def store(self, burns: dict[str, str]) -> None:
        bw.save_burn_state(str(self.state), burns, "2026-02-28T00:00:00Z")

    def saved(self) -> dict[str, str]:
        burns: dict[str, str] = json.loads(self.state.read_text())["owner_burn_rate"]
        return burns

    def pending_alerts(self) -> dict[str, dict[str, object]]:
        alerts: dict[str, dict[str, object]] = json.loads(self.pending.read_text())["alerts"]
        return alerts

    def delivered_lines(self) -> list[str]:
        return [
            line
            for message in self.sink.delivered()
            for line in (message.text or "").splitlines()
            if line.startswith("SN")
        ]

    def files(self) -> list[str]:
        return sorted(p.name for p in self.state.parent.iterdir())


@pytest.fixture
def watch(tmp_path, monkeypatch, pauses):
    with FakeDataService(api_key=API_KEY) as service, TelegramSink(token=TOKEN) as sink:
        monkeypatch.setenv("ORBISCA_API_BASE", service.url)
        monkeypatch.setenv("ORBISCA_API_KEY", API_KEY)
        monkeypatch.setenv("BURN_TELEGRAM_API_BASE", sink.url)
        bw._set_clock(lambda: CLOCK)
        try:
            yield Watch(tmp_path, service, sink)
        finally:
            bw._set_clock(None)


@pytest.fixture
def reports():
    seen: list[bw.CycleReport] = []
    bw._set_cycle_observer(seen.append)
    yield seen
    bw._set_cycle_observer(None)


# ---- the record itself ---------------------------------------------------------------


def test_default_options_change_nothing(tmp_path, watch, capfd):
    """One scenario (baseline, an alert, a refused alert) run without options,
    then with WatchOptions(): the same requests, files and log lines."""

    def scenario(options: bw.WatchOptions | None) -> tuple[object, ...]:
        watch.sink.http.clear()
        watch.state.unlink(missing_ok=True)
        watch.serve({1: 0.1, 2: 0.2})
        call: dict[str, Any] = {
            "state_path": str(watch.state),
            "burn_token": TOKEN,
            "burn_chat_id": CHAT,
        }
        codes = [bw.run_burn_startup_snapshot(options=options, **call)]
        codes.append(bw.run_burn_watch_once(threshold=0.01, options=options, **call))
        watch.serve({1: 0.5, 2: 0.2})
        codes.append(bw.run_burn_watch_once(threshold=0.01, options=options, **call))
        watch.serve({1: 0.9, 2: 0.2})
        watch.sink.fail(TelegramSink.refusal("Forbidden: bot was blocked by the user", 403))
        codes.append(bw.run_burn_watch_once(threshold=0.01, options=options, **call))
        bodies = [m.body for m in watch.sink.messages]
        return codes, bodies, watch.state.read_bytes(), watch.files(), capfd.readouterr()

    assert scenario(None) == scenario(bw.WatchOptions())


# ---- rows, state file, deadline, page --------------------------------------------------


@pytest.mark.parametrize("operation", ["once", "snapshot"])
def test_rows_whose_id_is_no_whole_number_are_left_out(watch, capfd, operation):
    watch.store({"1": "0.1", "2": "0.2"})
    watch.service.rows = [
        {"netuid": 1, "incentive_burn": 0.5},
        {"netuid": None, "incentive_burn": 0.3},
        {"netuid": "abc", "incentive_burn": 0.3},
        {"netuid": 1.5, "incentive_burn": 0.3},
        {"incentive_burn": 0.3},
        {"netuid": 2, "incentive_burn": 0.2},
    ]
    assert getattr(watch, operation)(**SERVICE) == 0
    assert watch.saved() == {"1": "0.5", "2": "0.2"}
    (text,) = watch.sink.texts()
    assert [line for line in text.splitlines() if line.startswith("SN")] == (
        [f"SN1: 0.1000 {ARROW} 0.5000"] if operation == "once" else ["SN1: 0.5000", "SN2: 0.2000"]
    )
    warning = (
        "[burn] left out 4 row(s) whose netuid is not a whole number: None, abc, 1.5, (missing)"
    )
    assert capfd.readouterr().err.splitlines()[0] == warning


@pytest.mark.parametrize(
    ("content", "why"),
    [
        (b"hello", "is not valid JSON"),
        (b'{\n  "owner_burn_rate": {\n    "1": "0.', "is not valid JSON"),
        (b'\xef\xbb\xbf{"owner_burn_rate": {"1": "0.1"}}', "starts with a byte-order mark"),
        (b'{"owner_burn_rate": {"1": "\xff"}}', "is not UTF-8 text"),
        (b"[]", "holds a JSON list, not an object"),
        (b'{"updated_at_utc": "x"}', 'has no "owner_burn_rate" map'),
    ],
    ids=["hello", "truncated", "bom", "not_utf8", "list", "no_map"],
)
@pytest.mark.parametrize("operation", ["once", "snapshot"])
def test_unusable_state_file_is_kept_before_it_is_replaced(watch, capfd, content, why, operation):
    watch.state.write_bytes(content)
    watch.serve({1: 0.1})
    assert getattr(watch, operation)(**SERVICE) == 0
    kept = watch.state.parent / (watch.state.name + ".corrupt-20260301T120000Z")
    assert kept.read_bytes() == content
    assert watch.saved() == {"1": "0.1"}
    line = capfd.readouterr().err.splitlines()[0]
    assert line.startswith(f"[burn] burn state file {watch.state} {why}")
    assert line.endswith(f": kept as {kept}; starting a new baseline")


# Under a millisecond is still a deadline (libcurl would read 0 ms as none).
@pytest.mark.parametrize(
    ("service_name", "deadline"), [("data", 0.5), ("telegram", 0.5), ("data", 0.0005)]
)
def test_request_deadline_ends_a_trickling_answer(watch, capfd, service_name, deadline):
    watch.store({"1": "0.1"})
    watch.serve({1: 0.5})
    trickle = Reply.json('{"ok": true}', body_delay=5)
    started = time.monotonic()
    if service_name == "data":
        watch.service.fail(Reply.json('{"data": []}', body_delay=5))
        with pytest.raises(TimeoutError):
            watch.once(request_deadline_seconds=deadline)
        assert watch.saved() == {"1": "0.1"}
    else:
        watch.sink.fail(trickle)
        assert watch.once(request_deadline_seconds=deadline, redeliver=True) == 1
        assert "stay pending" in capfd.readouterr().err
        # The message may have arrived before the deadline struck: noted as such.
        assert watch.pending_alerts() == {
            "1": {"told": "0.1", "latest": "0.5", "maybe_told": ["0.5"]}
        }
    assert time.monotonic() - started < 4


@pytest.mark.parametrize(
    ("rows", "warning"),
    [
        (1024, "filled its whole page of 1024 rows"),
        (1023, None),
        (1100, "came with 1100 rows for a page of 1024"),
    ],
)
def test_full_page_is_warned_of(watch, capfd, rows, warning):
    # The fake keeps to the page size; one that does not is scripted.
    watch.service.fail(Reply.json(json.dumps({"data": make_rows(rows, burn=0.1)})))
    assert watch.once(**SERVICE) == 0
    warnings = [line for line in capfd.readouterr().err.splitlines() if "page" in line]
    assert len(warnings) == (warning is not None)
    assert all(warning in line for line in warnings)


# ---- pending alerts ---------------------------------------------------------------------


def test_delivered_chunks_leave_the_pending_file_at_once(watch, capfd):
    count = 400  # an alert of three messages
    watch.store({str(n): "0.1" for n in range(count)})
    watch.service.rows = make_rows(count, burn=0.25)
    watch.sink.fail(Reply.json('{"ok": true}'), Reply(502, b"bad gateway"))
    assert watch.once(redeliver=True) == 1
    first = watch.sink.messages[0].text.splitlines()
    sent = [line.split(":")[0][2:] for line in first if line.startswith("SN")]
    assert sorted(watch.pending_alerts(), key=int) == [
        str(n) for n in range(count) if str(n) not in sent
    ]
    assert capfd.readouterr().err.splitlines() == [
        f"[burn] alert sent ({len(sent)} subnet(s))",
        (
            "[burn] telegram failed: bad gateway; "
            f"{count - len(sent)} subnet(s) stay pending for the next cycle"
        ),
    ]
    # The next cycle sends only what is left, and the file goes.
    watch.sink.http.clear()
    assert watch.once(redeliver=True) == 0
    again = [line for text in watch.sink.texts() for line in text.splitlines()]
    assert not set(again) & {line for line in first if line.startswith("SN")}
    assert not watch.pending.exists()


def test_pending_subnet_back_within_the_threshold_is_dropped(watch, capfd):
    watch.serve({1: 0.1, 2: 0.1})
    assert watch.once(redeliver=True) == 0
    watch.serve({1: 0.5, 2: 0.6})
    watch.sink.fail(Reply(500))
    assert watch.once(redeliver=True) == 1
    watch.serve({1: 0.105, 2: 0.7})
    assert watch.once(redeliver=True) == 0
    assert watch.delivered_lines() == [f"SN2: 0.1000 {ARROW} 0.7000"]
    assert capfd.readouterr().err.splitlines()[-1] == "[burn] alert sent (1 subnet(s))"
    assert not watch.pending.exists()


@pytest.mark.parametrize(
    ("refusal", "advice"),
    [
        (TelegramSink.refusal("Unauthorized", 401), "check BURN_TELEGRAM_TOKEN"),
        (TelegramSink.refusal("Forbidden: bot was kicked", 403), "add it again"),
        (TelegramSink.refusal("Bad Request: chat not found"), "check BURN_TELEGRAM_CHAT_ID"),
    ],
    ids=["401", "403", "chat_not_found"],
)
def test_refusal_keeps_the_alert_and_says_what_to_fix(watch, capfd, refusal, advice):
    watch.store({"1": "0.1"})
    watch.serve({1: 0.5})
    watch.sink.fail(refusal)
    assert watch.once(redeliver=True) == 2
    (line,) = capfd.readouterr().err.splitlines()
    assert line.startswith("[burn] telegram failed: Telegram refused: ")
    assert advice in line and line.endswith("; 1 subnet(s) stay pending for the next cycle")
    assert watch.pending_alerts() == {"1": {"told": "0.1", "latest": "0.5"}}


# ---- the startup pass and message fields -------------------------------------------------


@pytest.mark.parametrize("table", [True, False], ids=["table", "no_table"])
def test_startup_alerts_what_changed_while_stopped_then_posts_the_table(watch, capfd, table):
    watch.store({"1": "0.1", "2": "0.2"})
    watch.serve({1: 0.1, 2: 0.9})
    code = watch.snapshot(redeliver=True, startup_threshold=0.01, startup_table=table)
    assert code == 0
    texts = watch.sink.texts()
    assert texts[0] == f"Owner burn rate changed\n{UPDATED_AT} UTC\n\nSN2: 0.2000 {ARROW} 0.9000"
    assert len(texts) == (2 if table else 1)
    if table:
        assert texts[1].startswith("Subnet owner burn rates (startup)")
    assert watch.saved() == {"1": "0.1", "2": "0.9"}
    assert not watch.pending.exists()


@pytest.mark.parametrize(
    ("options", "thread", "silent_table"),
    [({}, None, False), ({"message_thread_id": "77", "quiet_startup_table": True}, "77", True)],
    ids=["neither", "topic_and_quiet_table"],
)
def test_topic_and_quiet_table(watch, options, thread, silent_table):
    watch.store({"1": "0.1"})
    watch.serve({1: 0.5})
    assert watch.snapshot(redeliver=True, **options) == 0
    alert, table = watch.sink.messages
    assert [(m.thread_id, m.silent) for m in (alert, table)] == [
        (thread, False),
        (thread, silent_table),
    ]
    if not options:
        assert [name for name, _ in table.fields] == ["chat_id", "text", "disable_web_page_preview"]


def test_migrated_startup_table_follows_the_group(watch, capfd):
    watch.serve({1: 0.1})
    watch.sink.migrate(CHAT, "-1009999")
    assert watch.snapshot(redeliver=True) == 0
    assert [m.chat_id for m in watch.sink.messages] == [CHAT, "-1009999"]
    assert "set BURN_TELEGRAM_CHAT_ID=-1009999" in capfd.readouterr().err
    migrations = json.loads(watch.pending.read_text())["chat_migrations"]
    assert migrations == {CHAT: "-1009999"}


# ---- dry runs -------------------------------------------------------------------------------


def test_dry_run_prints_the_messages_and_writes_nothing(watch, capfd):
    watch.store({"1": "0.1", "2": "0.2"})
    before = watch.state.read_bytes()
    watch.serve({1: 0.5, 2: 0.2})
    assert watch.once(redeliver=True, dry_run=True, **SERVICE) == 0
    assert watch.snapshot(redeliver=True, dry_run=True, **SERVICE) == 0
    out, err = capfd.readouterr()
    messages = out.split("\n----\n")
    alert = f"Owner burn rate changed\n{UPDATED_AT} UTC\n\nSN1: 0.1000 {ARROW} 0.5000"
    assert messages[:2] == [alert, alert]  # nothing was recorded, so the snapshot alerts again
    assert messages[2].startswith("Subnet owner burn rates (startup)") and messages[3] == ""
    assert err.splitlines()[0] == "[burn] alert sent (1 subnet(s)) [dry run]"
    assert watch.sink.messages == []
    assert watch.state.read_bytes() == before
    assert watch.files() == ["burn_state.json"]


# ---- the cycle observer ---------------------------------------------------------------------


def test_reports_of_passes_that_succeed_fail_and_raise(watch, reports, pauses):
    watch.serve({1: 0.1, 2: 0.2})
    assert watch.snapshot(redeliver=True) == 0
    watch.serve({1: 0.5, 2: 0.2})
    watch.sink.fail(TelegramSink.rate_limited(1), Reply(503))
    assert watch.once(redeliver=True) == 1
    watch.service.fail(Reply(500))
    assert watch.once(redeliver=True) == 1
    watch.service.fail(Reply.json('{"data": "rows"}'))
    with pytest.raises(TypeError):
        watch.once(redeliver=True)

    startup, failed_send, failed_fetch, raised = reports
    assert (startup.kind, startup.result, startup.error) == ("startup", 0, "")
    assert startup.burns == {"1": "0.1", "2": "0.2"}
    # The wall clock is read once; the end is the start plus the time elapsed.
    assert startup.started == CLOCK <= startup.finished
    assert startup.summary == (
        "startup ok at 12:00:00Z: 2 subnets, 0 alert message(s) sent, 0 subnet(s) pending"
    )
    assert (failed_send.kind, failed_send.result, failed_send.alerts_sent) == ("cycle", 1, 0)
    assert failed_send.telegram_failures == ["rate_limited", "server_error"]
    assert failed_send.pending_subnets == 1
    assert failed_send.summary.startswith("cycle failed at 12:00:00Z: telegram: server_error")
    assert (failed_fetch.result, failed_fetch.burns) == (1, None)
    assert raised.result is None and "instead of a list of rows" in raised.error
    assert pauses == [1.0]


def test_an_observer_that_raises_is_logged_and_the_watch_goes_on(watch, capfd):
    def observer(report: bw.CycleReport) -> None:
        raise RuntimeError("metrics are down")

    watch.serve({1: 0.1})
    bw._set_cycle_observer(observer)
    try:
        assert watch.once() == 0
    finally:
        bw._set_cycle_observer(None)
    assert capfd.readouterr().err == "[burn] cycle observer failed: metrics are down\n"
    assert watch.saved() == {"1": "0.1"}


# ---- what servers and files may get wrong ----------------------------------------------


def test_rate_limit_without_a_wait_ends_the_pass(watch, capfd, pauses, reports):
    """429 with retry_after 0 on every send: each wait counts as a second, and a
    message is sent a handful of times in one pass, never without end."""
    watch.store({"1": "0.1"})
    watch.serve({1: 0.5})
    watch.sink.fail(*[TelegramSink.rate_limited(0)] * 50)
    assert watch.once(redeliver=True, max_retry_after_seconds=60) == 1
    assert len(watch.sink.messages) == 5
    assert pauses == [1.0] * 4
    assert "stay pending" in capfd.readouterr().err
    # The state moved on, so the pass made progress though nothing arrived.
    assert reports[-1].progressed and reports[-1].alerts_sent == 0


def test_ca_file_that_is_a_fifo_fails_at_once(watch, tmp_path, monkeypatch):
    fifo = tmp_path / "ca.pem"
    os.mkfifo(fifo)
    monkeypatch.setenv("SSL_CERT_FILE", str(fifo))
    watch.serve({1: 0.5})
    started = time.monotonic()
    with pytest.raises(OSError, match="is not a regular file"):
        watch.once(request_deadline_seconds=5)
    assert time.monotonic() - started < 2


@pytest.mark.parametrize("own_file", ["lock", "pending"])
def test_own_files_are_never_written_through_a_link(watch, tmp_path, own_file):
    precious = tmp_path / "precious.txt"
    precious.write_text("keep me\n")
    watch.store({"1": "0.1"})
    watch.serve({1: 0.5})
    link = tmp_path / "burn_state.json.lock" if own_file == "lock" else watch.pending
    link.symlink_to(precious)
    open_it = (
        (lambda: bw.StateLock(str(watch.state)))
        if own_file == "lock"
        else (lambda: watch.once(redeliver=True))
    )
    with pytest.raises(OSError, match="symbolic link") as refused:
        open_it()
    assert refused.value.filename == str(link)
    assert precious.read_text() == "keep me\n"


@pytest.mark.parametrize("mode", [0o600, 0o640])
@pytest.mark.parametrize("which", ["state", "pending"])
def test_corrupt_copy_is_no_more_readable_than_its_file(watch, tmp_path, mode, which):
    broken = watch.state if which == "state" else watch.pending
    if which == "pending":
        watch.store({"1": "0.1"})
    broken.write_text("{not json")
    broken.chmod(mode)
    watch.serve({1: 0.1})
    assert watch.once(redeliver=True, **SERVICE) == 0
    (copy,) = tmp_path.glob(broken.name + ".corrupt-*")
    assert copy.stat().st_mode & 0o777 == mode


def test_subnet_missing_from_an_answer_is_alerted_when_it_returns(watch, capfd):
    options = dict(SERVICE, keep_absent_days=7.0, redeliver=True)
    watch.store({"0": "0.5", "1": "0.5", "2": "0.5"})
    watch.serve({0: 0.5})
    assert watch.once(**options) == 0
    assert watch.saved() == {"0": "0.5", "1": "0.5", "2": "0.5"}
    assert (
        "[burn] 2 subnet(s) missing from the answer, kept at their last rates for up to 7 "
        "day(s): 1, 2" in capfd.readouterr().err.splitlines()
    )
    watch.serve({0: 0.5, 1: 0.9, 2: 0.9})
    assert watch.once(**options) == 0
    assert watch.delivered_lines() == [f"SN1: 0.5000 {ARROW} 0.9000", f"SN2: 0.5000 {ARROW} 0.9000"]
    # Gone for longer than that: forgotten.
    watch.serve({0: 0.5})
    assert watch.once(**options) == 0
    bw._set_clock(lambda: CLOCK + 8 * 86400)
    assert watch.once(**options) == 0
    assert watch.saved() == {"0": "0.5"}
    assert "forgotten: 1, 2" in capfd.readouterr().err


@pytest.mark.parametrize("odd", ["NaN", "Infinity", "-inf"])
def test_change_through_a_value_that_is_no_finite_number_is_alerted(watch, odd):
    watch.store({"1": "0.5"})
    for burn in (odd, 0.9):
        watch.service.rows = [{"netuid": 1, "incentive_burn": burn}]
        assert watch.once(non_finite_changes=True) == 0
    assert len(watch.delivered_lines()) == 2


def test_only_a_boolean_true_delivers(watch, capfd):
    watch.store({"1": "0.1"})
    watch.serve({1: 0.5})
    watch.sink.fail(Reply.json('{"ok": "false"}'))
    assert watch.once(redeliver=True, strict_telegram_ok=True) == 1
    assert watch.pending_alerts() == {"1": {"told": "0.1", "latest": "0.5"}}


@pytest.mark.parametrize(
    "answer",
    [
        Reply.json(f'{{"message": "invalid key {API_KEY}"}}', status=401),
        Reply(200, f"<html>key={API_KEY}</html>".encode()),
        Reply(200, f"<html>key={API_KEY.replace('-', '%252D')}</html>".encode()),
    ],
    ids=["error_message", "raw_body", "percent_encoded_twice"],
)
def test_api_key_echoed_by_the_service_stays_out_of_the_log(watch, capfd, answer):
    watch.service.fail(answer)
    assert watch.once() == 1
    err = capfd.readouterr().err
    assert err.startswith("[burn] fetch failed: ") and "<redacted>" in err
    assert "options" not in err.replace("<redacted>", "")


def test_chat_moved_to_anything_but_a_number_is_an_ordinary_failure(watch, capfd):
    watch.store({"1": "0.1"})
    watch.serve({1: 0.5})
    moved = {"migrate_to_chat_id": {"x": 1}}
    watch.sink.fail(TelegramSink.refusal("Bad Request: group upgraded", 400, moved))
    assert watch.once(redeliver=True) == 1
    assert "BURN_TELEGRAM_CHAT_ID=" not in capfd.readouterr().err
    assert json.loads(watch.pending.read_text())["chat_migrations"] == {}


def test_server_text_cannot_forge_a_log_line(watch, capfd):
    watch.service.rows = [
        {"netuid": 1, "incentive_burn": 0.5},
        {"netuid": "\n[burn] alert sent (5 subnet(s))", "incentive_burn": 0.5},
    ]
    assert watch.once(one_line_logs=True, **SERVICE) == 0
    lines = capfd.readouterr().err.splitlines()
    assert len(lines) == 1 and "\\n[burn] alert sent" in lines[0]


def test_gateway_page_at_startup_is_no_refusal(watch, capfd):
    watch.serve({1: 0.5})
    watch.sink.fail(Reply(404, b"<html>404 Not Found (nginx)</html>"))
    assert watch.snapshot(redeliver=True) == 1
    assert "Telegram refused" not in capfd.readouterr().err


def test_token_cut_short_by_the_url_stays_out_of_the_log(watch, capfd):
    watch.store({"1": "0.1"})
    watch.serve({1: 0.5})
    watch.sink.fail(lambda request: Reply(404, f"no such page: {request.path}".encode()))
    assert watch.once(token="123:abcdef#gh") == 1
    err = capfd.readouterr().err
    assert "/bot<redacted>" in err and "abcdef" not in err


def test_repeated_subnet_rows_are_warned_of_and_never_alerted(watch, capfd):
    watch.store({"1": "0.5", "2": "0.5"})
    watch.service.rows = [
        {"netuid": 1, "incentive_burn": 0.5},
        {"netuid": 2, "incentive_burn": 0.5},
        {"netuid": 1, "incentive_burn": 0.9},
        {"netuid": 2, "incentive_burn": 0.5},
    ]
    assert watch.once(check_duplicate_rows=True, keep_absent_days=7.0, **SERVICE) == 0
    assert watch.sink.messages == []
    assert "2 subnet(s) came in more than one row" in capfd.readouterr().err
    assert watch.saved() == {"1": "0.5", "2": "0.5"}

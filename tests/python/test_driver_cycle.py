"""The watch cycle and the startup snapshot, end to end through loopback fakes
of the data service and of Telegram."""

from __future__ import annotations

import datetime as dt
import json
import socket
from pathlib import Path
from typing import Any

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.http_fake import Reply
from corvane_burn_watch.simulator.json_document import JsonValue
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

API_KEY = "cycle-key"
TOKEN = "4242:cycle-token"
CHAT = "-100777"
UPDATED_AT = "2026-03-01T12:00:00Z"
# Within the same second as UPDATED_AT: the timestamp is truncated, not rounded.
CLOCK = dt.datetime(2026, 3, 1, 12, 0, 0, 900000, tzinfo=dt.UTC).timestamp()


class Watch:
    """A state file, the two fakes, and the library pointed at them."""

    def __init__(self, tmp_path: Path, service: FakeDataService, sink: TelegramSink):
        self.state = tmp_path / "burn_state.json"
        self.service = service
        self.sink = sink

    def once(self, threshold: float = 0.01, token: str = TOKEN, chat_id: str = CHAT) -> int:
        return bw.run_burn_watch_once(
            state_path=str(self.state), threshold=threshold, burn_token=token, burn_chat_id=chat_id
        )

    def snapshot(self, token: str = TOKEN, chat_id: str = CHAT) -> int:
        return bw.run_burn_startup_snapshot(
            state_path=str(self.state), burn_token=token, burn_chat_id=chat_id
        )

    def serve(self, burns: dict[int | float, JsonValue]) -> None:
        self.service.rows = [{"netuid": k, "incentive_burn": v} for k, v in burns.items()]

    def store(self, burns: dict[str, str]) -> bytes:
        bw.save_burn_state(str(self.state), burns, "2026-02-28T00:00:00Z")
        return self.state.read_bytes()

    def saved(self) -> dict[str, str]:
        burns: dict[str, str] = json.loads(self.state.read_text())["owner_burn_rate"]
        return burns


@pytest.fixture
def watch(tmp_path, monkeypatch):
    sleeps: list[float] = []
    with FakeDataService(api_key=API_KEY) as service, TelegramSink(token=TOKEN) as sink:
        monkeypatch.setenv("ORBISCA_API_BASE", service.url)
        monkeypatch.setenv("ORBISCA_API_KEY", API_KEY)
        monkeypatch.setenv("BURN_TELEGRAM_API_BASE", sink.url)
        bw._set_clock(lambda: CLOCK)
        bw._set_sleep(sleeps.append)  # chunk and retry pauses, without waiting
        try:
            yield Watch(tmp_path, service, sink)
        finally:
            bw._set_clock(None)
            bw._set_sleep(None)


# ---- watch cycle ----------------------------------------------------------------


@pytest.mark.parametrize(
    "previous",
    [None, b"", b"{}", b'{"owner_burn_rate": {}}', b"not json"],
    ids=["no_file", "empty_file", "no_map", "empty_map", "malformed"],
)
def test_first_pass_saves_and_sends_nothing(watch, capfd, previous):
    if previous is not None:
        watch.state.write_bytes(previous)
    watch.serve({1: 0.18, 2: 1e-05, 10: 0})
    assert watch.once() == 0
    assert watch.state.read_text() == (
        '{\n  "owner_burn_rate": {\n    "1": "0.18",\n    "10": "0",\n    "2": "1e-05"\n  },\n'
        f'  "updated_at_utc": "{UPDATED_AT}"\n}}\n'
    )
    assert watch.sink.messages == []
    assert capfd.readouterr().err == ""


def test_change_sends_one_alert_after_saving(watch, capfd):
    watch.store({"3": "0.5", "7": "0.1"})
    watch.serve({3: 0.5, 7: 0.25})
    assert watch.once(threshold=0.01) == 0
    (message,) = watch.sink.messages
    assert message.text == f"Owner burn rate changed\n{UPDATED_AT} UTC\n\nSN7: 0.1000 \u2192 0.2500"
    assert (message.token, message.chat_id) == (TOKEN, CHAT)
    assert capfd.readouterr().err == "[burn] alert sent (1 subnet(s))\n"
    assert watch.saved() == {"3": "0.5", "7": "0.25"}


@pytest.mark.parametrize("preset", [False, True], ids=["plain", "service"])
@pytest.mark.parametrize("operation", ["once", "snapshot"])
def test_wall_clock_is_read_once_per_pass(watch, operation, preset):
    readings: list[float] = []

    def ticking() -> float:  # one second later at every reading
        readings.append(CLOCK + len(readings))
        return readings[-1]

    watch.store({"7": "0.1"})
    watch.serve({7: 0.25})
    # The service's options ask the time for mutes and quiet hours as well.
    options = bw.WatchOptions.service() if preset else bw.WatchOptions()
    options.rules.quiet_hours = "00:00-23:59"
    bw._set_clock(ticking)
    if operation == "once":
        code = bw.run_burn_watch_once(
            state_path=str(watch.state),
            threshold=0.01,
            burn_token=TOKEN,
            burn_chat_id=CHAT,
            options=options,
        )
    else:
        options.startup_table = not preset  # the service alerts the change instead
        code = bw.run_burn_startup_snapshot(
            state_path=str(watch.state), burn_token=TOKEN, burn_chat_id=CHAT, options=options
        )
    assert code == 0
    (message,) = watch.sink.messages
    assert (message.text or "").split("\n")[1] == f"{UPDATED_AT} UTC"
    assert json.loads(watch.state.read_text())["updated_at_utc"] == UPDATED_AT
    assert len(readings) == 1


def test_state_is_saved_before_the_alert_goes_out(watch):
    watch.store({"1": "0.1"})
    watch.serve({1: 0.2})
    seen_by_chat: list[dict[str, str]] = []

    def deliver(request):
        seen_by_chat.append(watch.saved())
        return Reply.json('{"ok": true}')

    watch.sink.fail(deliver)
    assert watch.once() == 0
    assert seen_by_chat == [{"1": "0.2"}]


def test_only_subnets_in_both_maps_past_the_threshold_are_reported(watch, capfd):
    watch.store({"1": "0.18", "2": "0.5", "3": "abc", "4": "0.3", "gone": "1"})
    watch.service.rows = [
        {"netuid": 4, "incentive_burn": 0.305},  # within the threshold
        {"netuid": 2, "incentive_burn": "0.5000"},  # equal as a number
        {"incentive_burn": 9},  # no netuid: neither saved nor reported
        {"netuid": 3, "incentive_burn": "0.1"},  # text to number
        {"netuid": 1, "incentive_burn": 0.19},  # just past 0.01 in double arithmetic
        {"netuid": 12, "incentive_burn": 0.7},  # new: saved, not reported
    ]
    assert watch.once(threshold=0.01) == 0
    (text,) = watch.sink.texts()
    assert text.splitlines()[3:] == ["SN1: 0.1800 \u2192 0.1900", "SN3: abc \u2192 0.1000"]
    assert capfd.readouterr().err == "[burn] alert sent (2 subnet(s))\n"
    assert watch.saved() == {"4": "0.305", "2": "0.5000", "3": "0.1", "1": "0.19", "12": "0.7"}


def test_alert_count_is_changes_not_chunks(watch, capfd):
    count = 400
    watch.store({str(n): "0.1" for n in range(count)})
    watch.service.rows = make_rows(count, burn=0.25)
    assert watch.once() == 0
    texts = watch.sink.texts()
    assert len(texts) > 1
    total = len(texts)
    assert [t.split("\n", 1)[0] for t in texts] == [f"({i}/{total})" for i in range(1, total + 1)]
    change_lines = [line for t in texts for line in t.splitlines() if line.startswith("SN")]
    assert change_lines == [f"SN{n}: 0.1000 \u2192 0.2500" for n in range(count)]
    assert capfd.readouterr().err == f"[burn] alert sent ({count} subnet(s))\n"


@pytest.mark.parametrize(
    ("reply", "logged"),
    [
        (Reply.json('{"data": []}'), {"error": "no_subnet_rows", "response": {"data": []}}),
        (
            Reply(500, body=b"upstream down"),
            {
                "error": "no_subnet_rows",
                "response": {"status_code": 500, "message": "upstream down", "http_status": 500},
            },
        ),
        (
            Reply.json('{"note": "caf\u00e9", "data": null}'),
            {"error": "no_subnet_rows", "response": {"note": "caf\u00e9", "data": None}},
        ),
        # A "data" that is itself a failure mapping is a failed fetch too.
        (Reply.json('{"data": {"error": 3, "why": "x"}}'), {"error": 3, "why": "x"}),
    ],
    ids=["empty_data", "http_error", "null_data", "error_in_data"],
)
def test_failed_fetch_logs_one_line_json_and_leaves_state(watch, capfd, reply, logged):
    before = watch.store({"1": "0.5"})
    watch.service.fail(reply)
    assert watch.once() == 1
    err = capfd.readouterr().err
    # Python's json.dumps writes the same one-line layout the log promises.
    assert err == f"[burn] fetch failed: {json.dumps(logged)}\n"
    assert watch.state.read_bytes() == before
    assert watch.sink.messages == []


@pytest.mark.parametrize(
    ("reply", "saved", "logged"),
    [
        pytest.param(
            Reply.json(
                '{"data": [{"netuid": 1, "incentive_burn": 0.5, "price": 1e400},'
                ' {"netuid": 2, "incentive_burn": 0.25, "volume": [-1e400]}]}'
            ),
            {"1": "0.5", "2": "0.25"},
            None,
            id="member-nobody-reads",
        ),
        pytest.param(
            Reply.json(
                '{"data": [{"netuid": 1, "incentive_burn": 1e400}, {"netuid": 2,'
                ' "incentive_burn": -1E+999}]}'
            ),
            {"1": "inf", "2": "-inf"},
            None,
            id="burn",
        ),
        pytest.param(
            Reply(503, body=b'{"message": "busy", "retry_after": 1e400}'),
            None,
            {"message": "busy", "retry_after": float("inf"), "http_status": 503},
            id="failure-mapping",
        ),
    ],
)
def test_numbers_beyond_double_range_read_as_infinity(watch, capfd, reply, saved, logged):
    watch.service.fail(reply)
    assert watch.once() == (0 if logged is None else 1)
    err = capfd.readouterr().err
    if logged is None:
        assert err == "" and watch.saved() == saved
    else:
        # Python's json.dumps writes an infinity as Infinity, as the log does.
        response = {"error": "no_subnet_rows", "response": logged}
        assert err == f"[burn] fetch failed: {json.dumps(response)}\n"
        assert not watch.state.exists()


def test_empty_data_line_is_byte_exact(watch, capfd):
    watch.service.fail(Reply.json('{"data": []}'))
    assert watch.once() == 1
    assert capfd.readouterr().err == (
        '[burn] fetch failed: {"error": "no_subnet_rows", "response": {"data": []}}\n'
    )
    assert not watch.state.exists()


@pytest.mark.parametrize("key", [None, "", "  \t "], ids=["unset", "empty", "blank"])
@pytest.mark.parametrize("operation", ["once", "snapshot"])
def test_no_api_key_returns_1_before_any_traffic(watch, capfd, monkeypatch, key, operation):
    if key is None:
        monkeypatch.delenv("ORBISCA_API_KEY")
    else:
        monkeypatch.setenv("ORBISCA_API_KEY", key)
    before = watch.store({"1": "0.5"})
    assert getattr(watch, operation)() == 1
    assert capfd.readouterr().err == (
        "[burn] orbisca API not available (must be bundled in package defaults)\n"
    )
    assert watch.service.requests == [] and watch.sink.messages == []
    assert watch.state.read_bytes() == before


@pytest.mark.parametrize(
    ("token", "refusal", "detail"),
    [
        (TOKEN, TelegramSink.refusal("Bad Request: chat not found"), "Bad Request: chat not found"),
        (TOKEN, Reply.json('{"ok": false, "error_code": 400}'), "{'ok': False, 'error_code': 400}"),
        ("", None, "burn telegram not configured"),
    ],
    ids=["refused", "ok_false", "not_configured"],
)
def test_failed_delivery_still_keeps_the_new_state(watch, capfd, token, refusal, detail):
    watch.store({"5": "0.1"})
    watch.serve({5: 0.9})
    if refusal is not None:
        watch.sink.fail(refusal)
    assert watch.once(token=token) == 1
    assert capfd.readouterr().err == f"[burn] telegram failed: {detail}\n"
    assert watch.saved() == {"5": "0.9"}


def test_non_integer_netuid_raises_and_keeps_old_state(watch, capfd):
    before = watch.store({"7": "0.1"})
    watch.serve({7.0: 0.9})
    with pytest.raises(ValueError):
        watch.once()
    assert watch.state.read_bytes() == before
    assert watch.sink.messages == []
    assert capfd.readouterr().err == ""


def test_later_duplicate_row_wins(watch):
    watch.service.rows = [
        {"netuid": 4, "incentive_burn": 0.1},
        {"netuid": "4", "incentive_burn": 0.2},
    ]
    assert watch.once() == 0
    assert watch.saved() == {"4": "0.2"}


def test_change_across_a_failed_fetch_is_still_reported(watch, capfd):
    watch.serve({1: 0.1})
    assert watch.once() == 0
    watch.serve({1: 0.3})
    watch.service.fail(Reply(503, body=b""))
    assert watch.once() == 1
    assert watch.once() == 0
    assert watch.sink.texts() == [
        f"Owner burn rate changed\n{UPDATED_AT} UTC\n\nSN1: 0.1000 \u2192 0.3000"
    ]
    assert capfd.readouterr().err.splitlines()[-1] == "[burn] alert sent (1 subnet(s))"


def test_network_failure_is_raised_and_leaves_state(watch, monkeypatch):
    before = watch.store({"1": "0.5"})
    closed = watch.service.url
    watch.service.close()
    monkeypatch.setenv("ORBISCA_API_BASE", closed)
    with pytest.raises(OSError):
        watch.once()
    assert watch.state.read_bytes() == before


# ---- startup snapshot -------------------------------------------------------------


def test_snapshot_counts_every_row_and_saves_those_with_netuid(watch, capfd):
    rows = make_rows(128, burn=0.25)
    lacking = (0, 50, 127)
    for index in lacking:
        del rows[index]["netuid"]
    watch.service.rows = rows
    watch.store({"999": "1"})  # replaced, not merged
    assert watch.snapshot() == 0
    assert capfd.readouterr().err == "[burn] startup snapshot sent (128 subnets)\n"
    saved = watch.saved()
    assert len(saved) == 125
    assert set(saved) == {str(row["netuid"]) for row in rows if "netuid" in row}
    (text,) = watch.sink.texts()
    lines = text.split("\n")
    header = ["Subnet owner burn rates (startup)", f"{UPDATED_AT} UTC", "128 subnets", ""]
    assert lines[:4] == header
    assert lines[4:7] == ["SNNone: 0.2500"] * 3  # sorted as subnet 0, ahead of the rest
    assert len(lines) == 4 + 128


@pytest.mark.parametrize(
    ("netuid", "key"),
    [(7, "7"), ("07", "07"), (7.0, "7.0"), (None, "None"), (True, "True"), (False, "False")],
)
def test_keys_are_netuid_text_forms(watch, netuid, key):
    watch.service.rows = [{"netuid": netuid, "incentive_burn": "0.5"}]
    assert watch.once() == 0  # a first pass compares nothing, so any key is kept
    assert watch.saved() == {key: "0.5"}


def test_snapshot_saves_before_building_the_text(watch, capfd):
    # A null netuid has a key but no place in the table's order.
    watch.service.rows = [{"netuid": 1, "incentive_burn": 0.5}, {"netuid": None}]
    with pytest.raises(ValueError):
        watch.snapshot()
    assert watch.saved() == {"1": "0.5", "None": "0"}
    assert watch.sink.messages == []
    assert capfd.readouterr().err == ""


def test_snapshot_undelivered_still_saves(watch, capfd):
    watch.serve({1: 0.3, 2: 0})
    assert watch.snapshot(token="") == 1
    err = capfd.readouterr().err
    assert err == "[burn] startup telegram failed: burn telegram not configured\n"
    assert watch.saved() == {"1": "0.3", "2": "0"}
    assert watch.sink.messages == []


def test_snapshot_fetch_failure_leaves_state(watch, capfd):
    before = watch.store({"1": "0.5"})
    watch.service.fail(Reply(404, body=b""))
    assert watch.snapshot() == 1
    payload = {"status_code": 404, "message": "Not Found", "http_status": 404}
    logged = json.dumps({"error": "no_subnet_rows", "response": payload})
    assert capfd.readouterr().err == f"[burn] startup fetch failed: {logged}\n"
    assert watch.state.read_bytes() == before


@pytest.mark.parametrize("data", ['{"data": {"1": 2}}', '{"data": "rows"}', '{"data": 5}'])
def test_rows_that_are_not_a_list_are_an_error(watch, data):
    watch.service.fail(Reply.json(data))
    with pytest.raises(TypeError):
        watch.once()
    assert not watch.state.exists()


# ---- arguments -------------------------------------------------------------------------


ONCE = {"state_path": "s", "threshold": 0.1, "burn_token": "t", "burn_chat_id": "c"}
SNAPSHOT = {"state_path": "s", "burn_token": "t", "burn_chat_id": "c"}
LOOP = dict(ONCE, interval_minutes=5, pause_path="")


# Each call breaks the signature on purpose: what the type checker rejects
# here is what the library must refuse at run time.
@pytest.mark.parametrize(
    "call",
    [
        lambda: bw.run_burn_watch_once("s", 0.1, "t", "c"),  # type: ignore[call-arg]
        lambda: bw.run_burn_startup_snapshot("s", "t", "c"),  # type: ignore[call-arg]
        lambda: bw.run_burn_poll_loop("s", 0.1, 5, "t", "c"),  # type: ignore[call-arg]
        lambda: bw.run_burn_watch_once(**dict(ONCE, state_path=None)),  # type: ignore[arg-type]
        lambda: bw.run_burn_watch_once(**dict(ONCE, threshold="0.1")),  # type: ignore[arg-type]
        lambda: bw.run_burn_watch_once(**dict(ONCE, burn_chat_id=None)),  # type: ignore[arg-type]
        lambda: bw.run_burn_startup_snapshot(**dict(SNAPSHOT, burn_token=1)),  # type: ignore[arg-type]
        lambda: bw.run_burn_poll_loop(**dict(LOOP, interval_minutes=None)),  # type: ignore[arg-type]
        lambda: bw.run_burn_poll_loop(**dict(LOOP, pause_path=None)),  # type: ignore[arg-type]
        lambda: bw.run_burn_poll_loop(**dict(LOOP, threshold=[0.1])),  # type: ignore[arg-type]
    ],
    ids=[
        "once_positional",
        "snapshot_positional",
        "loop_positional",
        "none_path",
        "text_threshold",
        "none_chat",
        "int_token",
        "none_interval",
        "none_pause",
        "list_threshold",
    ],
)
def test_wrong_arguments_are_type_errors_before_any_work(watch, call):
    with pytest.raises(TypeError):
        call()
    assert watch.service.requests == []


@pytest.mark.parametrize(
    "run",
    [
        pytest.param(lambda watch, token, chat: watch.once(token=token, chat_id=chat), id="once"),
        pytest.param(
            lambda watch, token, chat: watch.snapshot(token=token, chat_id=chat), id="snapshot"
        ),
        pytest.param(
            # The pause file is there: without the check the loop would just stop.
            lambda watch, token, chat: bw.run_burn_poll_loop(
                **dict(LOOP, burn_token=token, burn_chat_id=chat, pause_path=str(watch.state))
            ),
            id="loop",
        ),
    ],
)
@pytest.mark.parametrize(
    ("token", "chat", "setting"),
    [
        pytest.param(TOKEN + "\r\n", CHAT, "BURN_TELEGRAM_TOKEN", id="token-crlf"),
        pytest.param(TOKEN, CHAT + "\x00", "BURN_TELEGRAM_CHAT_ID", id="chat-nul"),
    ],
)
def test_control_character_in_token_or_chat_is_refused_before_the_fetch(
    watch, capfd, run, token, chat, setting
):
    before = watch.store({"1": "0.5"})
    watch.serve({1: "0.9"})
    with pytest.raises(ValueError, match=setting):
        run(watch, token, chat)
    assert watch.service.requests == [] and watch.sink.messages == []
    assert watch.state.read_bytes() == before
    assert capfd.readouterr().err == ""


def test_integer_threshold_is_taken_as_a_number(watch, capfd):
    watch.store({"1": "1", "2": "1"})
    watch.serve({1: 2, 2: 3})
    assert watch.once(threshold=1) == 0  # |1 - 2| is not over 1, |1 - 3| is
    assert watch.sink.texts()[0].endswith("\n\nSN2: 1.0000 \u2192 3.0000")


# ---- the host's settings and log -----------------------------------------------------


@pytest.mark.parametrize("operation", ["once", "snapshot"])
def test_settings_record_takes_the_place_of_the_environment(watch, monkeypatch, operation):
    with socket.socket() as probe:  # an address nothing listens on
        probe.bind(("127.0.0.1", 0))
        nowhere = f"http://127.0.0.1:{probe.getsockname()[1]}"
    for variable in ("ORBISCA_API_BASE", "BURN_TELEGRAM_API_BASE"):
        monkeypatch.setenv(variable, nowhere)
    monkeypatch.delenv("ORBISCA_API_KEY")
    settings = bw.Settings(
        api_base=watch.service.url, api_key=API_KEY, telegram_api_base=watch.sink.url
    )
    watch.store({"1": "0.1"})
    watch.serve({1: 0.5})
    common: dict[str, Any] = {
        "state_path": str(watch.state),
        "burn_token": TOKEN,
        "burn_chat_id": CHAT,
    }
    if operation == "once":
        code = bw.run_burn_watch_once(threshold=0.01, settings=settings, **common)
    else:
        code = bw.run_burn_startup_snapshot(settings=settings, **common)
    assert code == 0
    assert watch.saved() == {"1": "0.5"}
    assert len(watch.sink.messages) == 1


def test_log_lines_go_to_the_hosts_function_until_it_is_removed(watch, capfd, monkeypatch):
    lines: list[tuple[str, str]] = []
    watch.store({"1": "0.1"})
    watch.serve({1: 0.5})
    bw._set_log(lambda level, message: lines.append((level, message)))
    try:
        assert watch.once() == 0
        monkeypatch.delenv("ORBISCA_API_KEY")
        assert watch.once() == 1
    finally:
        bw._set_log(None)
    assert lines == [
        ("info", "alert sent (1 subnet(s))"),
        ("error", "orbisca API not available (must be bundled in package defaults)"),
    ]
    assert capfd.readouterr().err == ""
    assert watch.once() == 1
    assert capfd.readouterr().err.startswith("[burn] orbisca API not available")


@pytest.mark.parametrize("raised", [LookupError("sink full"), KeyboardInterrupt()])
def test_error_from_the_log_function_reaches_the_caller(watch, raised):
    def log(level, message):
        raise raised

    watch.store({"1": "0.1"})
    watch.serve({1: 0.5})
    bw._set_log(log)
    try:
        with pytest.raises(type(raised)) as caught:
            watch.once()
    finally:
        bw._set_log(None)
    assert caught.value is raised

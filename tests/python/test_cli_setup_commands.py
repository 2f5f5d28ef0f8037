"""``burn-watch check`` and ``burn-watch test-message`` against the loopback fakes."""

from __future__ import annotations

import json
import re
import time

import pytest

from corvane_burn_watch.cli import main
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.http_fake import Reply
from corvane_burn_watch.simulator.json_document import JsonValue
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

API_KEY = "setup-key-5a7e"
TOKEN = "6060:setup-token-b00c"
CHAT = "-100424242"
BOT = "burn_ops_bot"
CHATS: dict[str, dict[str, JsonValue]] = {
    CHAT: {"id": int(CHAT), "title": "Burn ops", "type": "supergroup"}
}


@pytest.fixture
def fakes(tmp_path, monkeypatch, cli_environment):
    monkeypatch.setenv("XDG_STATE_HOME", str(tmp_path / "xdg"))
    bundle = tmp_path / "ca.pem"
    bundle.write_text("")
    monkeypatch.setenv("SSL_CERT_FILE", str(bundle))
    with (
        FakeDataService(make_rows(3, burn=0.25), api_key=API_KEY) as service,
        TelegramSink(token=TOKEN, username=BOT, chats=CHATS) as sink,
    ):
        cli_environment(service, sink, key=API_KEY, token=TOKEN, chat=CHAT)
        yield service, sink


def _baseline(tmp_path, monkeypatch, service, sink):
    state = tmp_path / "state.json"
    state.write_text(json.dumps({"owner_burn_rate": {"0": "0.1", "1": "0.2", "2": "x"}}))
    return state


def _all_wrong(tmp_path, monkeypatch, service, sink):
    (tmp_path / "ca.pem").unlink()
    monkeypatch.setenv("ORBISCA_API_KEY", "stale-key")
    monkeypatch.setenv("BURN_TELEGRAM_TOKEN", "6060:revoked")
    state = tmp_path / "state.json"
    state.write_text("half a write")
    return state


def _migrated(tmp_path, monkeypatch, service, sink):
    # The default state file, not there yet: no path to return.
    sink.migrate(CHAT, "-100777")


def _secrets_echoed(tmp_path, monkeypatch, service, sink):
    service.fail(Reply(500, body=f"no such key {API_KEY}".encode()))
    sink.fail(TelegramSink.refusal(f"token {TOKEN} is not known here", 401))
    return tmp_path / "state.json"


CA_LINE = "CA certificates {ca} (SSL_CERT_FILE): ok"
OK_LINES = [
    CA_LINE,
    "data service {data}, 3 subnets: ok",
    f"telegram bot @{BOT}: ok",
    f'telegram chat {CHAT}, "Burn ops" (supergroup): ok',
]


@pytest.mark.parametrize(
    ("setup", "code", "expected"),
    [
        (
            _baseline,
            0,
            [*OK_LINES, "state file {state}, baseline of 3 subnets, folder writable: ok"],
        ),
        (
            _all_wrong,
            1,
            [
                "CA certificates {ca} (SSL_CERT_FILE): FAILED: cannot be read",
                "data service {data}: FAILED: HTTP 401: Unauthorized",
                "telegram bot: FAILED: the token is refused (Unauthorized)",
                f"telegram chat {CHAT}: FAILED: Unauthorized",
                (
                    "state file {state}: FAILED: unusable, not JSON (Expecting value: line 1 "
                    "column 1 (char 0)); the watch would start a new baseline"
                ),
            ],
        ),
        (
            _migrated,
            1,
            [
                *OK_LINES[:3],
                (
                    f"telegram chat {CHAT}: FAILED: the group became a supergroup: "
                    "set BURN_TELEGRAM_CHAT_ID to -100777"
                ),
                "state file {state}, none yet, folder writable: ok",
            ],
        ),
        (
            _secrets_echoed,
            1,
            [
                CA_LINE,
                "data service {data}: FAILED: HTTP 500: no such key <redacted>",
                "telegram bot: FAILED: token <redacted> is not known here",
                *OK_LINES[3:],
                "state file {state}, none yet, folder writable: ok",
            ],
        ),
    ],
    ids=["ready", "all_wrong", "migrated_chat", "secrets_echoed"],
)
def test_check_says_what_works_and_changes_nothing(
    tmp_path, monkeypatch, capfd, fakes, setup, code, expected
):
    service, sink = fakes
    state = setup(tmp_path, monkeypatch, service, sink)
    before = {p: p.read_bytes() for p in tmp_path.rglob("*") if p.is_file()}
    argv = ["check"] if state is None else ["check", "--state-file", str(state)]
    assert main(argv) == code
    out, err = capfd.readouterr()
    default = tmp_path / "xdg" / "corvane-burn-watch" / "burn_state.json"
    state_text = str(state or default)
    # The checks, then the rules in effect (none given here).
    lines = out.splitlines()
    assert lines[: len(expected)] == [
        line.format(data=service.url, state=state_text, ca=tmp_path / "ca.pem") for line in expected
    ]
    assert lines[len(expected) :] == [
        "watched: every subnet",
        "threshold: 0.01",
        "changes measured from: the previous cycle",
        "quiet hours: none",
        "muted: none",
    ]
    assert err == ""
    assert sink.messages == []
    assert {p: p.read_bytes() for p in tmp_path.rglob("*") if p.is_file()} == before
    assert not default.parent.exists()


def _refused(monkeypatch, sink):
    sink.fail(TelegramSink.refusal("Forbidden: bot was kicked from the supergroup chat", 403))


def _moved_group_in_a_topic(monkeypatch, sink):
    monkeypatch.setenv("BURN_TELEGRAM_THREAD_ID", "7")
    sink.migrate(CHAT, "-100777")


DEFAULT_TEXT = r"burn-watch test message from \S+ at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC"
DELIVERED = "burn-watch: test message delivered"


@pytest.mark.parametrize(
    ("argv", "setup", "code", "delivered", "said"),
    [
        ([], None, 0, [(CHAT, None, DEFAULT_TEXT)], [DELIVERED]),
        (["hello, ops"], None, 0, [(CHAT, None, "hello, ops")], [DELIVERED]),
        (
            [],
            _moved_group_in_a_topic,
            0,
            [("-100777", "7", DEFAULT_TEXT)],
            [
                (
                    f"[burn] Telegram moved chat {CHAT} to -100777 (the group became a "
                    "supergroup): sending there from now on; set BURN_TELEGRAM_CHAT_ID=-100777"
                ),
                DELIVERED,
            ],
        ),
        (
            [],
            _refused,
            1,
            [],
            [
                (
                    "burn-watch: test message not delivered: "
                    "Forbidden: bot was kicked from the supergroup chat"
                )
            ],
        ),
    ],
    ids=["default_text", "own_text", "moved_group_in_a_topic", "refused"],
)
def test_test_message_goes_the_alerts_way(
    tmp_path, monkeypatch, capfd, fakes, argv, setup, code, delivered, said
):
    service, sink = fakes
    if setup is not None:
        setup(monkeypatch, sink)
    before = sorted(tmp_path.rglob("*"))
    assert main(["test-message", *argv]) == code
    out, err = capfd.readouterr()
    got = sink.delivered()
    assert [(m.chat_id, m.thread_id) for m in got] == [(c, t) for c, t, _ in delivered]
    assert all(
        re.fullmatch(text, m.text or "") for m, (_, _, text) in zip(got, delivered, strict=True)
    )
    assert (out, err.splitlines()) == ("", said)
    assert service.requests == []
    assert sorted(tmp_path.rglob("*")) == before  # nothing written


def test_test_message_dry_run_says_it_printed_and_sent_nothing(capfd, fakes):
    _, sink = fakes
    assert main(["test-message", "--dry-run", "hello, ops"]) == 0
    out, err = capfd.readouterr()
    assert out == "hello, ops\n----\n"
    assert err == "burn-watch: test message printed, not sent (dry run)\n"
    assert sink.messages == []


@pytest.mark.parametrize("slow", ["data_service", "telegram"])
def test_check_gives_up_on_a_request_at_the_deadline(tmp_path, capfd, fakes, slow):
    # An answer that never ends: a byte every 0.3 s keeps any idle time-out away.
    service, sink = fakes
    (service if slow == "data_service" else sink).fail(Reply(200, b" " * 1000, trickle=0.3))
    started = time.monotonic()
    code = main(["check", "--request-deadline", "1", "--state-file", str(tmp_path / "state.json")])
    took = time.monotonic() - started
    assert code == 1
    failed = [line for line in capfd.readouterr().out.splitlines() if "FAILED" in line]
    assert len(failed) == 1 and failed[0].endswith(": FAILED: no answer within 1 s")
    assert took < 20  # the whole answer would take five minutes

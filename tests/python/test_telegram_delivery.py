"""Posting texts to a loopback fake of the Telegram Bot API."""

from __future__ import annotations

import json
import signal
import socket
import threading

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.http_fake import Reply
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

TOKEN = "7411:AAF-secret_bot.token~x"
CHAT = "-100123"
AT = "2026-03-01T12:00:00Z"
SEND = (bw.send_burn_telegram, bw.send_burn_telegram_messages)


@pytest.fixture
def sink(monkeypatch):
    with TelegramSink(token=TOKEN) as fake:
        monkeypatch.setenv("BURN_TELEGRAM_API_BASE", fake.url)
        yield fake


def closed_port_url() -> str:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    return f"http://127.0.0.1:{port}"


def test_request_is_a_form_post_byte_for_byte(sink):
    text = "a&b=c+d e\nSN1: 0.1000 \u2192 0.2000 ~_.-"
    assert bw.send_burn_telegram(text, TOKEN, CHAT) == (True, "")
    (message,) = sink.messages
    assert message.path == f"/bot{TOKEN}/sendMessage"
    assert message.header("Content-Type") == "application/x-www-form-urlencoded"
    assert message.body == (
        b"chat_id=-100123"
        b"&text=a%26b%3Dc%2Bd+e%0ASN1%3A+0.1000+%E2%86%92+0.2000+~_.-"
        b"&disable_web_page_preview=true"
    )
    assert message.fields == [
        ("chat_id", CHAT),
        ("text", text),
        ("disable_web_page_preview", "true"),
    ]
    assert sink.http.requests[0].method == "POST"


def test_base_url_is_read_on_every_call(monkeypatch):
    with TelegramSink() as first, TelegramSink() as second:
        for fake in (first, second, first):
            monkeypatch.setenv("BURN_TELEGRAM_API_BASE", fake.url)
            assert bw.send_burn_telegram("hi", TOKEN, CHAT) == (True, "")
        assert len(first.messages) == 2 and len(second.messages) == 1


def long_json_without_description() -> str:
    return json.dumps({"ok": False, "note": "x\u00e9" * 240}, ensure_ascii=False)


@pytest.mark.parametrize(
    ("reply", "expected"),
    [
        pytest.param(None, (True, ""), id="sink-accepts"),
        pytest.param(Reply.json('{"ok": true}'), (True, ""), id="ok-true"),
        pytest.param(Reply.json('{"ok": 1, "x": null}'), (True, ""), id="ok-truthy-number"),
        pytest.param(Reply.json('{"ok": false}'), (False, "{'ok': False}"), id="ok-false"),
        pytest.param(
            Reply.json('{"ok": false, "error_code": 400}'),
            (False, "{'ok': False, 'error_code': 400}"),
            id="ok-false-text-form",
        ),
        pytest.param(
            Reply.json('{"result": {"a": [1.5, "b", true]}}'),
            (False, "{'result': {'a': [1.5, 'b', True]}}"),
            id="ok-missing",
        ),
        pytest.param(
            TelegramSink.refusal("Bad Request: chat not found"),
            (False, "Bad Request: chat not found"),
            id="description",
        ),
        pytest.param(
            Reply.json('{"ok": false, "description": ""}', status=403),
            (False, '{"ok": false, "description": ""}'),
            id="empty-description-gives-body",
        ),
        pytest.param(
            Reply.json(long_json_without_description(), status=500),
            (False, long_json_without_description()[:300]),
            id="json-without-description-cut-to-300",
        ),
        pytest.param(
            Reply(502, body=("\u00e9" * 500).encode()),
            (False, "\u00e9" * 500),
            id="non-json-body-whole",
        ),
        pytest.param(
            Reply(503, reason="Service Unavailable"),
            (False, "HTTP Error 503: Service Unavailable"),
            id="empty-error-body",
        ),
        pytest.param(
            Reply(429, reason="Slow Down"),
            (False, "HTTP Error 429: Slow Down"),
            id="empty-error-body-own-reason",
        ),
    ],
)
def test_delivery_result(sink, reply, expected):
    if reply is not None:
        sink.fail(reply)
    result = bw.send_burn_telegram("hello", TOKEN, CHAT)
    assert result == expected
    assert type(result) is tuple
    assert len(sink.messages) == 1


@pytest.mark.parametrize(
    "reply",
    [
        pytest.param(Reply(200, body=b'{"ok": true}' * 10, cut_after=5), id="success-body-short"),
        pytest.param(
            Reply(200, body=b'{"ok": true}' * 10, cut_after=5, reset=True), id="success-body-reset"
        ),
    ],
)
def test_failure_while_reading_success_body_is_a_result(sink, reply):
    sink.fail(reply)
    ok, detail = bw.send_burn_telegram("hello", TOKEN, CHAT)
    assert ok is False and detail


def test_refused_connection_is_a_result(monkeypatch):
    monkeypatch.setenv("BURN_TELEGRAM_API_BASE", closed_port_url())
    ok, detail = bw.send_burn_telegram("hello", TOKEN, CHAT)
    assert ok is False
    assert "connect" in detail.lower()


@pytest.mark.parametrize(
    ("reply", "error"),
    [
        pytest.param(Reply(200, body=b"<html>ok</html>"), ValueError, id="success-not-json"),
        pytest.param(Reply.json("[true]"), ValueError, id="success-json-list"),
        # Without a length a clean close ends the body, here in the middle of the JSON.
        pytest.param(
            Reply(200, body=b'{"ok": true}', content_length=False, cut_after=4),
            ValueError,
            id="success-body-closed-early-without-length",
        ),
        pytest.param(Reply(200, body=b'{"ok": "\xff"}'), UnicodeDecodeError, id="success-not-utf8"),
        pytest.param(Reply.json('["no"]', status=400), ValueError, id="error-json-list"),
        pytest.param(Reply(400, body=b"\xc3("), UnicodeDecodeError, id="error-not-utf8"),
    ],
)
def test_broken_answers_raise(sink, reply, error):
    sink.fail(reply)
    with pytest.raises(error):
        bw.send_burn_telegram("hello", TOKEN, CHAT)


@pytest.mark.parametrize(
    ("body", "shown"),
    [
        pytest.param(b"<html>ok</html>", "'<html>ok</html>'", id="short"),
        pytest.param(b"", "''", id="empty"),
        pytest.param(
            ("<p>" + "x" * 196 + "\u00e9" + "z" * 300).encode(),
            "'<p>" + "x" * 196 + "\u00e9'",
            id="first-200-code-points",
        ),
    ],
)
def test_success_answer_that_is_not_json_names_telegram_and_shows_its_start(sink, body, shown):
    sink.fail(Reply(200, body=body))
    with pytest.raises(ValueError) as caught:
        bw.send_burn_telegram("hello", TOKEN, CHAT)
    assert type(caught.value) is ValueError
    message = str(caught.value)
    assert message.startswith("Telegram answered 200 with a body that is not JSON")
    assert message.endswith("it begins: " + shown)


def echo_path(status: int, shape: str):
    """A responder whose answer quotes the request path, token included."""

    def respond(request):
        if shape == "description":
            return Reply.json(json.dumps({"description": f"no bot at {request.path}"}), status)
        if shape == "json":
            return Reply.json(json.dumps({"ok": False, "path": request.path}), status)
        return Reply(status, body=f"cannot route {request.path}".encode())

    return respond


@pytest.mark.parametrize(
    "responder",
    [
        pytest.param(echo_path(404, "description"), id="description"),
        pytest.param(echo_path(400, "json"), id="json-first-300"),
        pytest.param(echo_path(500, "text"), id="non-json-body"),
        pytest.param(echo_path(200, "json"), id="success-text-form"),
    ],
)
def test_token_is_redacted_from_echoed_paths(sink, responder):
    sink.fail(responder)
    ok, detail = bw.send_burn_telegram("hello", TOKEN, CHAT)
    assert ok is False
    assert TOKEN not in detail
    assert "/bot<redacted>/sendMessage" in detail


def test_token_is_redacted_from_network_failure(monkeypatch):
    # The connection layer names the host it failed to reach; a token equal to
    # that host text must not come back through it.
    monkeypatch.setenv("BURN_TELEGRAM_API_BASE", closed_port_url())
    ok, detail = bw.send_burn_telegram("hello", "127.0.0.1", CHAT)
    assert ok is False
    assert "127.0.0.1" not in detail and "<redacted>" in detail


def test_token_is_not_in_error_of_broken_answer(sink):
    sink.fail(lambda request: Reply(200, body=f"<p>{request.path}</p>".encode()))
    with pytest.raises(ValueError) as caught:
        bw.send_burn_telegram("hello", TOKEN, CHAT)
    assert TOKEN not in str(caught.value)


@pytest.mark.parametrize("send", SEND, ids=lambda f: f.__name__)
@pytest.mark.parametrize(("token", "chat_id"), [("", CHAT), (TOKEN, ""), ("", "")])
def test_not_configured_sends_nothing(sink, pauses, send, token, chat_id):
    assert send("hello", token, chat_id) == (False, "burn telegram not configured")
    assert sink.messages == [] and pauses == []


@pytest.mark.parametrize("send", SEND, ids=lambda f: f.__name__)
@pytest.mark.parametrize(
    ("token", "chat_id", "setting"),
    [
        pytest.param(TOKEN + "\r\nX-Injected: yes", CHAT, "BURN_TELEGRAM_TOKEN", id="token-crlf"),
        pytest.param("\x00" + TOKEN, CHAT, "BURN_TELEGRAM_TOKEN", id="token-nul"),
        pytest.param(TOKEN + "\x7f", CHAT, "BURN_TELEGRAM_TOKEN", id="token-del"),
        pytest.param(TOKEN, CHAT + "\n", "BURN_TELEGRAM_CHAT_ID", id="chat-lf"),
        pytest.param(TOKEN, "\t" + CHAT, "BURN_TELEGRAM_CHAT_ID", id="chat-tab"),
    ],
)
def test_control_character_in_token_or_chat_is_refused_before_any_request(
    sink, send, token, chat_id, setting
):
    with pytest.raises(ValueError, match=setting) as caught:
        send("hello", token, chat_id)
    assert TOKEN not in str(caught.value) and CHAT not in str(caught.value)
    assert sink.http.requests == []


@pytest.mark.parametrize("send", SEND, ids=lambda f: f.__name__)
def test_token_of_spaces_counts_as_configured(sink, send):
    # Only emptiness means "not configured": such a token is tried, and the
    # URL it makes is refused by the HTTP layer instead.
    ok, detail = send("hello", "  ", CHAT)
    assert ok is False
    assert detail and detail != "burn telegram not configured"


@pytest.mark.parametrize("send", SEND, ids=lambda f: f.__name__)
@pytest.mark.parametrize(
    "args",
    [
        (None, TOKEN, CHAT),
        ("hi", None, CHAT),
        ("hi", TOKEN, None),
        (b"hi", TOKEN, CHAT),
        ("hi", TOKEN, -100123),
        ("hi", 7411, CHAT),
    ],
)
def test_argument_kinds_are_checked_before_sending(sink, send, args):
    with pytest.raises(TypeError):
        send(*args)
    assert sink.messages == []


def test_keyword_arguments(sink):
    assert bw.send_burn_telegram(text="a", token=TOKEN, chat_id=CHAT) == (True, "")
    assert bw.send_burn_telegram_messages(text="b", token=TOKEN, chat_id=CHAT) == (True, "")
    assert sink.texts() == ["a", "b"]


def three_chunk_text() -> str:
    return "T\nD\nN\n\n" + "\n".join(letter * 3000 for letter in "abc")


def test_short_text_is_one_message_without_numbering(sink, pauses):
    text = bw.format_burn_alert([("3", "0.18", "0.2")], AT)
    assert bw.send_burn_telegram_messages(text, TOKEN, CHAT) == (True, "")
    assert sink.texts() == [text]
    assert pauses == []


def test_three_chunks_are_numbered_and_paused_between(sink, pauses):
    assert bw.send_burn_telegram_messages(three_chunk_text(), TOKEN, CHAT) == (True, "")
    assert sink.texts() == [
        f"({k}/3)\nT\nD\nN\n\n{letter * 3000}" for k, letter in zip((1, 2, 3), "abc", strict=False)
    ]
    assert pauses == [0.4, 0.4]


@pytest.mark.parametrize(
    ("failing", "sent", "expected_pauses"),
    [(1, 1, []), (2, 2, [0.4]), (3, 3, [0.4, 0.4])],
)
def test_stops_at_first_failed_chunk(sink, pauses, failing, sent, expected_pauses):
    accepted = Reply.json('{"ok": true, "result": {}}')
    sink.fail(*[accepted] * (failing - 1), TelegramSink.refusal("Too Many Requests", 429))
    result = bw.send_burn_telegram_messages(three_chunk_text(), TOKEN, CHAT)
    assert result == (False, "Too Many Requests")
    numbers = [text.split("\n")[0] for text in sink.texts()]
    assert numbers == [f"({k}/3)" for k in range(1, sent + 1)]
    assert pauses == expected_pauses


def test_network_failure_of_a_chunk_stops_the_text(monkeypatch, pauses):
    monkeypatch.setenv("BURN_TELEGRAM_API_BASE", closed_port_url())
    ok, detail = bw.send_burn_telegram_messages(three_chunk_text(), TOKEN, CHAT)
    assert ok is False and detail
    assert pauses == []


def received_body(sink, header_lines: int) -> tuple[list[list[str]], list[str]]:
    """The numbering-free chunks' header lines and all their body lines."""
    messages = sink.texts()
    total = len(messages)
    headers: list[list[str]] = []
    body: list[str] = []
    for number, message in enumerate(messages, start=1):
        prefix = f"({number}/{total})\n"
        assert message.startswith(prefix)
        lines = message[len(prefix) :].split("\n")
        assert len(message) - len(prefix) <= 3900
        assert lines[header_lines] == ""
        headers.append(lines[:header_lines])
        body.extend(lines[header_lines + 1 :])
    return headers, body


def test_line_longer_than_a_message_is_cut_at_delivery_into_numbered_parts(sink, pauses):
    # A burn text that is no number is shown as it came, however long: its
    # chunk (header, empty line, that one line) is too long for Telegram.
    long_burn = "9," * 4500
    text = bw.format_burn_alert([("1", "0.1", long_burn), ("2", "0.1", "0.2")], AT)
    assert bw._chunk_text(text)[0].endswith(long_burn)
    assert bw.send_burn_telegram_messages(text, TOKEN, CHAT) == (True, "")
    texts = sink.texts()
    assert len(texts) == 4 and all(len(t) <= 4096 for t in texts)
    opening = f"Owner burn rate changed\n{AT} UTC\n\n"
    body = ""
    for number, message in enumerate(texts[:3], 1):
        prefix = f"({number}/4)\n" + opening
        assert message.startswith(prefix)
        body += message.removeprefix(prefix)
    assert body == f"SN1: 0.1000 \u2192 {long_burn}"
    # The chunk that fits goes as it is.
    assert texts[3] == "(4/4)\n" + opening + "SN2: 0.1000 \u2192 0.2000"


def test_snapshot_of_1000_subnets_reaches_the_chat_whole(sink, pauses):
    text = bw.format_burn_snapshot(
        [{"netuid": n, "incentive_burn": f"0.{n:04d}5"} for n in reversed(range(1000))], AT
    )
    assert bw.send_burn_telegram_messages(text, TOKEN, CHAT) == (True, "")
    headers, body = received_body(sink, 3)
    expected_header = ["Subnet owner burn rates (startup)", f"{AT} UTC", "1000 subnets"]
    assert all(header == expected_header for header in headers)
    assert body == text.split("\n")[4:]
    assert body[0].startswith("SN0: ") and body[-1].startswith("SN999: ")
    assert len(pauses) == len(headers) - 1 and len(headers) > 1


def test_alert_of_300_changes_reaches_the_chat_whole(sink, pauses):
    changes = [(str(n), f"0.{n:03d}", f"0.{n + 1:03d}9") for n in range(300)]
    text = bw.format_burn_alert(changes, AT)
    assert len(text) > 3900
    assert bw.send_burn_telegram_messages(text, TOKEN, CHAT) == (True, "")
    headers, body = received_body(sink, 2)
    assert all(header == ["Owner burn rate changed", f"{AT} UTC"] for header in headers)
    assert body == text.split("\n")[3:]
    assert len(body) == 300 and body[0].startswith("SN0: ")
    assert len(pauses) == len(headers) - 1 and len(headers) > 1


def test_interrupt_ends_a_wait_and_is_not_a_result(sink):
    sink.fail(Reply.json('{"ok": true}', delay=20))
    main = threading.main_thread().ident
    timer = threading.Timer(0.3, signal.pthread_kill, (main, signal.SIGINT))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            bw.send_burn_telegram("hello", TOKEN, CHAT)
    finally:
        timer.cancel()

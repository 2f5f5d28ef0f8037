"""Telegram misbehaving while an alert is due: the cycle reports it (a log
line, or an error the poll loop logs), the new burns are already saved, and
the next cycle alerts again. Several fakes echo the request path, bot token
included, to prove that it never reaches a log line or an error."""

from __future__ import annotations

import time
import urllib.parse

import pytest
from harness import CHAT, TOKEN, SilentServer, raised

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.data_service import make_rows
from corvane_burn_watch.simulator.http_fake import RecordedRequest, Reply
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

FAILED = "[burn] telegram failed: "


def echo_path(status: int, template: bytes):
    """A reply whose body quotes the request path (and so the token)."""

    def reply(request: RecordedRequest) -> Reply:
        return Reply(status, template.replace(b"PATH", request.path.encode()))

    return reply


@pytest.mark.parametrize(
    ("reply", "detail"),
    [
        pytest.param(
            TelegramSink.refusal("Too Many Requests: retry after 3", 429),
            "Too Many Requests: retry after 3",
            id="429-json",
        ),
        pytest.param(Reply(429, b""), "HTTP Error 429: Too Many Requests", id="429-empty"),
        pytest.param(Reply(500, b""), "HTTP Error 500: Internal Server Error", id="500-empty"),
        pytest.param(
            echo_path(500, b"<html>no route to PATH</html>"),
            "<html>no route to /bot<redacted>/sendMessage</html>",
            id="500-html-echo",
        ),
        pytest.param(
            echo_path(404, b'{"ok": false, "description": "Not Found: PATH"}'),
            "Not Found: /bot<redacted>/sendMessage",
            id="404-description-echo",
        ),
        pytest.param(
            Reply.json('{"ok": false, "error_code": 400}'),
            "{'ok': False, 'error_code': 400}",
            id="200-not-ok",
        ),
        pytest.param(
            Reply(200, b'{"ok": true, "result": {', cut_after=5, reset=True),
            "Connection reset",
            id="reset",
        ),
    ],
)
def test_refused_alert_is_logged_and_the_next_cycle_alerts(watch, stderr, reply, detail):
    watch.change_burn()
    watch.sink.fail(reply)
    assert watch.once() == 1
    (line,) = stderr.lines()
    assert line.startswith(FAILED)
    assert detail in line
    assert watch.saved()["3"] == repr(watch.burn)  # saved before sending
    watch.assert_recovers(stderr)


def echo_token(status: int, template: str, spell):
    """A reply whose body quotes the bot token as ``spell`` writes it."""

    def reply(request: RecordedRequest) -> Reply:
        token = request.path.split("/")[1][len("bot") :]
        return Reply(status, template.replace("TOKEN", spell(token)).encode())

    return reply


def every_byte_encoded(text: str) -> str:
    return "".join(f"%{byte:02x}" for byte in text.encode())


DESCRIBED = '{"ok": false, "description": "No route to /botTOKEN/sendMessage"}'
# Without a description the detail is the first 300 characters: the token
# starts 290 characters in, so a cut through the body would keep a part of it.
CUT_THROUGH = '{"ok": false, "x": "' + "y" * 270 + 'TOKEN/sendMessage"}'


@pytest.mark.parametrize(
    ("reply", "detail"),
    [
        pytest.param(
            echo_token(404, DESCRIBED, urllib.parse.quote),
            "No route to /bot<redacted>/sendMessage",
            id="percent-encoded",
        ),
        pytest.param(
            echo_token(404, DESCRIBED, lambda t: urllib.parse.quote(t).replace("%3A", "%3a")),
            "No route to /bot<redacted>/sendMessage",
            id="percent-encoded-lower-case",
        ),
        pytest.param(
            echo_token(404, DESCRIBED, every_byte_encoded),
            "No route to /bot<redacted>/sendMessage",
            id="every-byte-encoded",
        ),
        pytest.param(
            echo_token(502, "<p>token=TOKEN</p>", urllib.parse.quote_plus),
            "<p>token=<redacted></p>",
            id="form-encoded",
        ),
        pytest.param(
            echo_token(400, CUT_THROUGH, str), '"x": "' + "y" * 270 + "<redacted>", id="cut"
        ),
    ],
)
def test_token_is_masked_in_every_wire_form(watch, stderr, reply, detail):
    watch.change_burn()
    watch.sink.fail(reply)
    assert watch.once() == 1
    (line,) = stderr.lines()
    assert line.startswith(FAILED) and detail in line
    assert TOKEN[:8] not in line and "%3A" not in line.upper()


def test_huge_error_body_is_cut_in_the_log_but_whole_for_a_caller(watch, stderr):
    # An HTML error page, not JSON: the detail is the whole body.
    page = ("<html>" + "<p>Bad Gateway</p>" * 280_000 + "</html>").encode()
    assert len(page) > 5_000_000
    watch.change_burn()
    watch.sink.fail(Reply(502, page))
    assert watch.once() == 1
    line = stderr.new()
    assert line.count("\n") == 1 and len(line.encode()) <= 8 * 1024
    assert line.startswith(FAILED + "<html><p>Bad Gateway</p>")
    left_out = len(page) - len(line.removeprefix(FAILED).split(" [... ")[0])
    assert line.endswith(f" [... {left_out} more characters]\n")
    watch.sink.fail(Reply(502, page))
    assert bw.send_burn_telegram("hello", TOKEN, CHAT) == (False, page.decode())


@pytest.mark.parametrize(
    ("reply", "error"),
    [
        pytest.param(echo_path(200, b"garbage PATH"), ValueError, id="garbage-echo"),
        pytest.param(echo_path(200, b"\xff\xfe PATH"), UnicodeDecodeError, id="not-utf8-echo"),
        pytest.param(
            echo_path(502, b"PATH \xc3\x28"), UnicodeDecodeError, id="error-not-utf8-echo"
        ),
        pytest.param(Reply.json('["ok"]'), ValueError, id="json-list"),
        pytest.param(Reply(200, b"<html><body>Bad Gateway</body></html>"), ValueError, id="html"),
    ],
)
def test_garbage_answer_raises_and_the_next_cycle_alerts(watch, stderr, reply, error):
    watch.change_burn()
    watch.sink.fail(reply)
    with raised(error):
        watch.once()
    assert stderr.new() == ""
    assert watch.saved()["3"] == repr(watch.burn)
    watch.assert_recovers(stderr)


def test_garbage_answer_is_logged_by_the_poll_loop(watch, stderr, tmp_path):
    expected = watch.change_burn()
    watch.sink.fail(echo_path(200, b"\xff PATH"))
    pause = tmp_path / "pause"
    cycles: list[int] = []

    def sleep(seconds: float) -> None:
        # Interval steps pass at once; after the second cycle, pause. The
        # second cycle sees a fresh change, so it alerts again.
        count = len(watch.service.requests)
        if count > len(cycles):
            cycles.append(count)
            if count == 1:
                second[0] = watch.change_burn()
            else:
                pause.touch()

    second = [""]
    watch.poll_until_paused(pause, sleep)
    lines = stderr.lines()
    assert lines[0].startswith("[burn] error: ") and "utf-8" in lines[0]
    assert lines[1:] == ["[burn] alert sent (1 subnet(s))", "[burn] monitoring paused"]
    assert expected.split(": ")[0] == second[0].split(": ")[0]
    assert watch.sink.texts()[-1].endswith(second[0])


def test_refusal_of_a_middle_chunk_stops_the_rest(watch, stderr, pauses):
    watch.service.rows = make_rows(400, 0.1)
    assert watch.once() == 0  # subnets new to the baseline are not reported
    watch.service.rows = make_rows(400, 0.5)
    watch.sink.fail(
        watch.sink._answer, TelegramSink.refusal("Too Many Requests: retry after 9", 429)
    )
    assert watch.once() == 1
    assert stderr.lines() == [FAILED + "Too Many Requests: retry after 9"]
    texts = watch.sink.texts()
    assert len(texts) == 2 and texts[0].startswith("(1/") and texts[1].startswith("(2/")
    assert pauses == [0.4]
    assert watch.saved()["399"] == "0.5"
    watch.burn = 0.5
    watch.assert_recovers(stderr)


@pytest.mark.slow
def test_silent_telegram_times_out_after_30_s(watch, stderr, monkeypatch):
    silent = SilentServer()
    monkeypatch.setenv("BURN_TELEGRAM_API_BASE", silent.url)
    watch.change_burn()
    started = time.monotonic()
    try:
        assert watch.once() == 1
    finally:
        silent.close()
    assert 30 <= time.monotonic() - started < 45
    (line,) = stderr.lines()
    assert line.startswith(FAILED) and "30 seconds" in line
    monkeypatch.setenv("BURN_TELEGRAM_API_BASE", watch.sink.url)
    watch.assert_recovers(stderr)

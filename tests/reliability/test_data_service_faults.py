"""The data service misbehaving: every fault ends the cycle with a clear error
or log line, leaves the stored baseline as it was, and the next cycle works."""

from __future__ import annotations

import json
import socket
import time

import pytest
from harness import SUBNETS, SilentServer, make_watch, one_line_json, raised

from corvane_burn_watch.simulator.data_service import make_rows
from corvane_burn_watch.simulator.http_fake import Reply

FETCH_FAILED = "[burn] fetch failed: "
RETRY_PAUSES = [2.0, 3.6, 6.48, 11.664, 20.9952]
MB = 1 << 20


def rows_body() -> bytes:
    return json.dumps({"data": make_rows(SUBNETS, 0.1)}).encode()


# ---- answers that never become rows: raised errors ------------------------------------


@pytest.mark.parametrize(
    ("reply", "error"),
    [
        pytest.param(
            Reply(200, rows_body(), cut_after=700, reset=True), ConnectionError, id="reset"
        ),
        pytest.param(Reply(200, rows_body(), cut_after=700), ConnectionError, id="closed-early"),
        pytest.param(Reply(200, b'{"data": "\xff\xfe"}'), UnicodeDecodeError, id="invalid-utf8"),
        pytest.param(
            Reply(500, b"<html>\xc3\x28</html>"), UnicodeDecodeError, id="invalid-utf8-error"
        ),
        pytest.param(Reply(200, b"[1, 2]"), ValueError, id="json-list"),
        pytest.param(Reply(503, b'"down"'), ValueError, id="error-json-text"),
    ],
)
def test_broken_answer_raises_and_keeps_the_baseline(watch, stderr, reply, error):
    before = watch.state.read_bytes()
    watch.change_burn()
    watch.service.fail(reply)
    with raised(error):
        watch.once()
    assert watch.state.read_bytes() == before
    assert watch.sink.messages == []
    assert stderr.new() == ""
    watch.assert_recovers(stderr)


def test_connection_refused_raises(watch, stderr, monkeypatch):
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        closed = f"http://127.0.0.1:{probe.getsockname()[1]}"
    monkeypatch.setenv("ORBISCA_API_BASE", closed)
    before = watch.state.read_bytes()
    with raised(ConnectionError):
        watch.once()
    assert watch.state.read_bytes() == before
    monkeypatch.setenv("ORBISCA_API_BASE", watch.service.url)
    watch.assert_recovers(stderr)


# ---- answers that become failure payloads: logged, result 1 ------------------------------


HTML = (
    b"<!DOCTYPE html>\n<html><head><title>502 Bad Gateway</title></head><body>nginx</body></html>"
)


@pytest.mark.parametrize(
    ("reply", "expected"),
    [
        pytest.param(
            Reply(200, HTML, headers=(("Content-Type", "text/html"),)),
            {"parse_error": str, "raw": HTML.decode()},
            id="html-200",
        ),
        pytest.param(
            Reply(502, HTML, headers=(("Content-Type", "text/html"),)),
            {"status_code": 502, "message": HTML.decode(), "http_status": 502},
            id="html-502",
        ),
        pytest.param(Reply(200, b""), {"parse_error": str, "raw": ""}, id="empty-200"),
        pytest.param(
            Reply(200, b'{"data": []}'),
            {
                "data": [],
            },
            id="no-rows",
        ),
    ],
)
def test_unusable_answer_is_logged_and_keeps_the_baseline(watch, stderr, reply, expected):
    before = watch.state.read_bytes()
    watch.service.fail(reply)
    assert watch.once() == 1
    (line,) = stderr.lines()
    logged = one_line_json(line, FETCH_FAILED)
    assert logged["error"] == "no_subnet_rows"
    response = logged["response"]
    assert list(response) == list(expected)
    for key, value in expected.items():
        if value is str:
            assert isinstance(response[key], str) and response[key]
        else:
            assert response[key] == value
    assert watch.state.read_bytes() == before
    watch.assert_recovers(stderr)


def test_rate_limit_forever_is_bounded_every_cycle(watch, stderr, pauses):
    before = watch.state.read_bytes()
    watch.service.http.default = lambda request: Reply(
        429, b"Rate Limited: too many requests", reason="Too Many Requests"
    )
    for cycle in range(3):
        assert watch.once() == 1
        (line,) = stderr.lines()
        assert one_line_json(line, FETCH_FAILED) == {
            "error": "no_subnet_rows",
            "response": {
                "status_code": 429,
                "message": "Rate Limited: too many requests",
                "http_status": 429,
            },
        }
        assert pauses == pytest.approx(RETRY_PAUSES * (cycle + 1))
        assert len(watch.service.requests) == 6 * (cycle + 1)
    assert watch.state.read_bytes() == before
    assert watch.sink.messages == []
    watch.service.http.default = watch.service._answer
    pauses.clear()
    watch.assert_recovers(stderr)
    assert pauses == []


def test_rate_limit_then_rows_is_retried_within_one_cycle(watch, stderr, pauses):
    expected = watch.change_burn()
    watch.service.rate_limit(4)
    assert watch.once() == 0
    assert pauses == pytest.approx(RETRY_PAUSES[:4])
    assert stderr.lines() == ["[burn] alert sent (1 subnet(s))"]
    assert watch.sink.texts()[-1].endswith(expected)


# ---- 50 MB answers -------------------------------------------------------------------------


def test_50_mb_of_garbage_gives_a_short_log_line(watch, stderr):
    before = watch.state.read_bytes()
    watch.service.fail(Reply(200, b"\x1f" + b"x" * (50 * MB)))
    assert watch.once() == 1
    (line,) = stderr.lines()
    assert len(line) < 1000
    logged = one_line_json(line, FETCH_FAILED)
    assert logged["response"]["raw"] == "\x1f" + "x" * 499
    assert watch.state.read_bytes() == before
    watch.assert_recovers(stderr)


def test_50_mb_answer_with_rows_is_used(watch, stderr):
    expected = watch.change_burn()
    rows = watch.service.rows
    padding = "p" * (50 * MB)
    watch.service.fail(Reply.json(json.dumps({"data": rows, "padding": padding})))
    assert watch.once() == 0
    assert stderr.lines() == ["[burn] alert sent (1 subnet(s))"]
    assert watch.sink.texts()[-1].endswith(expected)
    watch.assert_recovers(stderr)


# ---- a server that accepts and never answers --------------------------------------------


@pytest.mark.slow
def test_silent_server_times_out_after_60_s_and_the_loop_goes_on(
    tmp_path, fakes, stderr, monkeypatch
):
    """The real 60-second wait, through the poll loop: the first cycle meets a
    silent server and is logged, the second reaches the service again."""
    watch = make_watch(tmp_path / "state" / "burn_state.json", fakes, stderr)
    expected = watch.change_burn()
    silent = SilentServer()
    pause = tmp_path / "pause"

    def sleep(seconds: float) -> None:
        # Interval steps pass at once. Once the silent server has had its
        # connection, the library is pointed back at the service; once the
        # service has answered, the pause file ends the loop.
        if silent.accepted:
            monkeypatch.setenv("ORBISCA_API_BASE", watch.service.url)
        if watch.service.requests:
            pause.touch()

    monkeypatch.setenv("ORBISCA_API_BASE", silent.url)
    started = time.monotonic()
    try:
        watch.poll_until_paused(pause, sleep)
    finally:
        silent.close()
    elapsed = time.monotonic() - started
    assert 60 <= elapsed < 90
    lines = stderr.lines()
    assert len(silent.accepted) == 1
    # libcurl's words for its time-out: "... transferred the last 60 seconds".
    assert lines[0].startswith("[burn] error: ") and "60 seconds" in lines[0], lines
    assert lines[1:] == ["[burn] alert sent (1 subnet(s))", "[burn] monitoring paused"]
    last = watch.sink.texts()[-1]
    assert last is not None and last.endswith(expected)
    assert watch.saved()["3"] == repr(watch.burn)

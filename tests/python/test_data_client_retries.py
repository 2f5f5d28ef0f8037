"""Rate-limit detection and the retry schedule, with pauses recorded instead of slept."""

import json

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.http_fake import FakeHttpServer, Reply

REFUSAL = Reply(429, b"Too many requests")
SUCCESS = Reply(200, b'{"data": [{"netuid": 1}]}')
DEFAULT_PAUSES = [2.0, 3.6, 6.48, 11.664, 20.9952]


# ---- is_rate_limited ------------------------------------------------------------------


@pytest.mark.parametrize(
    ("payload", "limited"),
    [
        ({"status_code": 429}, True),
        ({"status_code": 429.0}, True),
        ({"status_code": "429"}, False),
        ({"status_code": 428}, False),
        ({"status_code": 429.5}, False),
        ({"status_code": True}, False),
        ({}, False),
        ({"http_status": 429}, False),
        ({"http_status": 429, "message": "Too many"}, False),
        ({"status_code": "429", "message": "slow down"}, False),
        ({"message": "Rate Limited"}, True),
        ({"message": "Error: Rate Limited (try later)", "status_code": 200}, True),
        ({"message": "rate limited"}, False),
        ({"message": "Rate  Limited"}, False),
        ({"message": None}, False),
        ({"message": ["x", "Rate Limited"]}, True),
        ({"message": {"detail": "Rate Limited"}}, True),
        ({"message": {"Rate Limited": 1}}, True),
        ({"message": [["deep", ["Rate Limited by upstream"]]]}, True),
        ({"message": ["Rate", "Limited"]}, False),
        ({"message": 429}, False),
        ({"status_code": 500, "message": {"text": "ok"}}, False),
    ],
)
def test_is_rate_limited(payload, limited):
    assert bw.is_rate_limited(payload) is limited


@pytest.mark.parametrize("payload", [None, [], "429", 429])
def test_is_rate_limited_wants_a_mapping(payload):
    with pytest.raises(TypeError):
        bw.is_rate_limited(payload)


# ---- with_retries ----------------------------------------------------------------------


@pytest.mark.parametrize(
    ("replies", "max_retries", "requests", "expected_pauses"),
    [
        ([SUCCESS], 6, 1, []),
        ([REFUSAL, SUCCESS], 6, 2, [2.0]),
        ([REFUSAL] * 6, 6, 6, DEFAULT_PAUSES),
        ([REFUSAL] * 3, 1, 1, []),
        ([REFUSAL, REFUSAL, SUCCESS], 2, 2, [2.0]),
        (
            [REFUSAL] * 10,
            10,
            10,
            [*DEFAULT_PAUSES, 37.79136, 68.024448, 120.0, 120.0],
        ),
    ],
)
def test_pause_schedule(server, pauses, replies, max_retries, requests, expected_pauses):
    server.script(*replies)
    payload = bw.with_retries("/x", {"a": 1}, "key", max_retries=max_retries)
    assert len(server.requests) == requests
    assert pauses == pytest.approx(expected_pauses, rel=1e-12)
    last = replies[requests - 1]
    if last is REFUSAL:
        assert payload == {"status_code": 429, "message": "Too many requests", "http_status": 429}
    else:
        assert payload == {"data": [{"netuid": 1}]}


def test_default_is_six_attempts(server, pauses):
    server.script(*[REFUSAL] * 8)
    bw.with_retries("/x", {}, "key")
    assert len(server.requests) == 6
    assert pauses == pytest.approx(DEFAULT_PAUSES, rel=1e-12)


def test_every_attempt_sends_the_same_request(server, pauses):
    server.script(REFUSAL, REFUSAL, SUCCESS)
    bw.with_retries("/p", {"limit": 5, "skip": None, "order": "a&b"}, "k", max_retries=3)
    seen = {(r.path, tuple(r.headers)) for r in server.requests}
    assert len(server.requests) == 3 and len(seen) == 1
    assert seen.pop()[0] == "/p?limit=5&order=a&b"


def test_pause_restarts_at_two_seconds_on_every_call(server, pauses):
    server.script(REFUSAL, REFUSAL, SUCCESS, REFUSAL, SUCCESS)
    bw.with_retries("/x", {}, "k")
    bw.with_retries("/x", {}, "k")
    assert pauses == pytest.approx([2.0, 3.6, 2.0], rel=1e-12)


@pytest.mark.parametrize(
    "reply",
    [
        Reply(401, b'{"message": "Unauthorized"}'),
        Reply(404, b"no such path"),
        Reply(500),
        Reply(429, b'{"message": "slow down"}'),  # JSON 429 without the refusal marks
        Reply(200, b"not json"),
    ],
)
def test_answers_that_are_not_refusals_return_at_once(server, pauses, reply):
    server.script(reply, SUCCESS)
    payload = bw.with_retries("/x", {}, "k")
    assert len(server.requests) == 1 and pauses == []
    assert payload != {"data": [{"netuid": 1}]}


@pytest.mark.parametrize(
    "body",
    [{"message": "Rate Limited"}, {"status_code": 429}, {"errors": 1, "message": ["Rate Limited"]}],
)
def test_json_refusals_are_retried(server, pauses, body):
    server.script(Reply(429, json.dumps(body).encode()), SUCCESS)
    assert bw.with_retries("/x", {}, "k") == {"data": [{"netuid": 1}]}
    assert pauses == [2.0]


@pytest.mark.parametrize("max_retries", [0, -1, -(10**15)])
def test_max_retries_below_one_is_a_value_error_without_request(server, pauses, max_retries):
    with pytest.raises(ValueError):
        bw.with_retries("/x", {}, "k", max_retries=max_retries)
    assert server.requests == [] and pauses == []


# Each call breaks the signature on purpose: what the type checker rejects
# here is what the library must refuse at run time.
@pytest.mark.parametrize(
    "call",
    [
        lambda: bw.with_retries("/x", {}, "k", 6),  # type: ignore[call-arg]  # max_retries: keyword only
        lambda: bw.with_retries("/x", {}, "k", max_retries="6"),  # type: ignore[arg-type]
        lambda: bw.with_retries("/x", {}, "k", max_retries=2.0),  # type: ignore[arg-type]
        lambda: bw.with_retries("/x", {}, None),  # type: ignore[arg-type]
        lambda: bw.with_retries(None, {}, "k"),  # type: ignore[arg-type]
        lambda: bw.with_retries("/x", None, "k"),  # type: ignore[arg-type]
    ],
)
def test_wrong_argument_kinds_fail_before_any_request(server, call):
    with pytest.raises(TypeError):
        call()
    assert server.requests == []


def test_null_answer_is_rejected_by_the_rate_limit_check(server, pauses):
    server.script(Reply(200, b"null"), SUCCESS)
    with pytest.raises(TypeError):
        bw.with_retries("/x", {}, "k")
    assert len(server.requests) == 1 and pauses == []


def test_non_object_answer_error_passes_through(server, pauses):
    server.script(REFUSAL, Reply(200, b"[1]"), SUCCESS)
    with pytest.raises(ValueError):
        bw.with_retries("/x", {}, "k")
    assert len(server.requests) == 2 and pauses == [2.0]


def test_connection_failure_on_third_attempt_after_two_pauses(monkeypatch):
    fake = FakeHttpServer()
    monkeypatch.setenv("ORBISCA_API_BASE", fake.url)
    recorded = []

    def sleep(seconds):
        recorded.append(seconds)
        if len(recorded) == 2:
            fake.close()  # nothing listens when the third attempt connects

    fake.script(REFUSAL, REFUSAL, SUCCESS)
    bw._set_sleep(sleep)
    try:
        with pytest.raises(ConnectionError):
            bw.with_retries("/x", {}, "k")
    finally:
        bw._set_sleep(None)
        fake.close()
    assert recorded == pytest.approx([2.0, 3.6], rel=1e-12)
    assert len(fake.requests) == 2


def test_error_from_the_sleep_function_reaches_the_caller(server):
    class Stop(Exception):
        pass

    def sleep(seconds):
        raise Stop(seconds)

    server.script(REFUSAL, SUCCESS)
    bw._set_sleep(sleep)
    try:
        with pytest.raises(Stop):
            bw.with_retries("/x", {}, "k")
    finally:
        bw._set_sleep(None)
    assert len(server.requests) == 1

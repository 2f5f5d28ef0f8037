"""The subnet list fetch against the fake data service."""

import json

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.http_fake import Reply
from corvane_burn_watch.simulator.json_document import JsonValue

ENDPOINT = "/api/subnet/latest/v1?limit=1024&order=netuid_asc"


@pytest.fixture
def service(monkeypatch):
    with FakeDataService(api_key="the-key") as fake:
        monkeypatch.setenv("ORBISCA_API_BASE", fake.url + "/")
        yield fake


def test_rows_come_back_unchanged_and_in_service_order(service):
    rows: list[dict[str, JsonValue]] = [
        {"netuid": 3, "incentive_burn": 0.18, "extra": {"b": 1, "a": 2}},
        {"netuid": 1, "incentive_burn": "0.5"},
        {"name": "no id"},
        {"netuid": 2, "incentive_burn": None, "nested": [1, 2.5, None]},
    ]
    service.rows = rows
    result = bw.fetch_all_subnets_latest("the-key")
    assert result == rows
    assert isinstance(result, list)
    assert [list(row) for row in result] == [list(row) for row in rows]
    assert [(r.path, r.header("Authorization")) for r in service.requests] == [
        (ENDPOINT, "the-key")
    ]


ROWS_OF_EVERY_KIND = (
    '[{"netuid": 9223372036854775808, "incentive_burn": -0.0, "low": -9223372036854775808,'
    ' "n": [1, 2.5e-7, null, true, {"k": "\\u00e9\\ud83d\\ude00", "k": 1}], "e": "", "x": {}},'
    ' {"netuid": 1, "netuid": 2, "t": "a\\u0000b"}, 3, []%s]'
)


@pytest.mark.parametrize(
    "odd_row",
    [
        pytest.param("", id="every-row-plain"),
        pytest.param(', {"z": NaN}', id="nan"),
        pytest.param(', {"z": 1180591620717411303424}', id="beyond-64-bits"),
        pytest.param(', {"z": "\\udcff"}', id="lone-surrogate"),
    ],
)
def test_rows_are_built_as_pythons_own_decoder_builds_them(service, odd_row):
    body = '{"data": [0], "data": ' + ROWS_OF_EVERY_KIND.replace("%s", odd_row) + "}"
    service.fail(Reply(200, body.encode()))
    expected = json.loads(body)["data"]
    result = bw.fetch_all_subnets_latest("the-key")
    assert repr(result) == repr(expected)  # NaN, -0.0 and key order included


def test_a_full_page_of_1024_rows_takes_one_request(service):
    service.rows = make_rows(1500)
    result = bw.fetch_all_subnets_latest("the-key")
    assert isinstance(result, list)
    assert [row["netuid"] for row in result] == list(range(1024))
    assert len(service.requests) == 1


@pytest.mark.parametrize(
    "answer",
    [
        {"data": []},
        {"data": None},
        {"data": {}},
        {"data": ""},
        {"data": 0},
        {"data": 0.0},
        {"data": False},
        {"total": 0},
        {},
    ],
)
def test_answers_without_rows_give_the_no_rows_result(service, answer):
    service.fail(Reply(200, json.dumps(answer).encode()))
    result = bw.fetch_all_subnets_latest("the-key")
    assert isinstance(result, dict)
    assert list(result.items()) == [("error", "no_subnet_rows"), ("response", answer)]
    wrapped = result["response"]
    assert isinstance(wrapped, dict)
    assert list(wrapped) == list(answer)


@pytest.mark.parametrize("data", [{"netuid": 1}, "rows", 7, True, [None]])
def test_any_non_empty_data_is_returned_as_is(service, data):
    service.fail(Reply(200, json.dumps({"data": data}).encode()))
    assert bw.fetch_all_subnets_latest("the-key") == data


@pytest.mark.parametrize(
    ("reply", "response"),
    [
        (
            Reply(500, b"upstream exploded"),
            {"status_code": 500, "message": "upstream exploded", "http_status": 500},
        ),
        (Reply(404, b'{"message": "gone"}'), {"message": "gone", "http_status": 404}),
    ],
)
def test_failed_answers_are_wrapped_in_the_no_rows_result(service, reply, response):
    service.fail(reply)
    result = bw.fetch_all_subnets_latest("the-key")
    assert isinstance(result, dict)
    assert list(result) == ["error", "response"] and result["error"] == "no_subnet_rows"
    wrapped = result["response"]
    assert isinstance(wrapped, dict)
    assert list(wrapped.items()) == list(response.items())
    assert len(service.requests) == 1


def test_answer_that_is_not_json_gives_the_parse_failure_inside(service):
    service.fail(Reply(200, b"<html>maintenance</html>"))
    result = bw.fetch_all_subnets_latest("the-key")
    assert isinstance(result, dict)
    assert result["error"] == "no_subnet_rows"
    wrapped = result["response"]
    assert isinstance(wrapped, dict)
    assert list(wrapped) == ["parse_error", "raw"]
    assert wrapped["raw"] == "<html>maintenance</html>"


def test_wrong_key_gives_the_services_refusal(service):
    result = bw.fetch_all_subnets_latest("other-key")
    assert result == {
        "error": "no_subnet_rows",
        "response": {"message": "Unauthorized", "http_status": 401},
    }


def test_error_answer_with_data_returns_that_data(service):
    service.fail(Reply(503, b'{"data": [{"netuid": 9}], "message": "stale"}'))
    assert bw.fetch_all_subnets_latest("the-key") == [{"netuid": 9}]


def test_rate_limit_then_rows(service, pauses):
    service.rows = make_rows(2)
    service.rate_limit(2)
    assert bw.fetch_all_subnets_latest("the-key") == make_rows(2)
    assert pauses == pytest.approx([2.0, 3.6], rel=1e-12)
    assert len(service.requests) == 3


def test_six_refusals_give_the_last_refusal(service, pauses):
    service.rows = make_rows(2)
    service.rate_limit(5)
    service.fail(Reply(429, b"Rate Limited: sixth", reason="Slow Down"))
    result = bw.fetch_all_subnets_latest("the-key")
    assert result == {
        "error": "no_subnet_rows",
        "response": {"status_code": 429, "message": "Rate Limited: sixth", "http_status": 429},
    }
    assert len(service.requests) == 6 and len(pauses) == 5


@pytest.mark.parametrize(
    ("reply", "error"),
    [(Reply(200, b"null"), TypeError), (Reply(200, b"[]"), ValueError)],
)
def test_answers_that_are_not_objects_raise(service, reply, error):
    service.fail(reply)
    with pytest.raises(error):
        bw.fetch_all_subnets_latest("the-key")


@pytest.mark.parametrize("auth", [None, 42, b"the-key"])
def test_auth_must_be_text(service, auth):
    with pytest.raises(TypeError):
        bw.fetch_all_subnets_latest(auth)
    assert service.requests == []

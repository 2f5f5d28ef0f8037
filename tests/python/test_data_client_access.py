"""Service access: environment, headers, the request on the wire and every payload kind."""

import json
import socket

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.http_fake import Reply

DEFAULT_USER_AGENT = (
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/131.0.0.0 Safari/537.36"
)


def get(server, reply, path="/x", params=None, auth="key"):
    server.script(reply)
    return bw.http_get_json(path, {} if params is None else params, auth)


# ---- environment -------------------------------------------------------------


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        ("https://data.example", "https://data.example"),
        ("https://data.example/", "https://data.example"),
        ("https://data.example///", "https://data.example"),
        ("https://data.example/v2//", "https://data.example/v2"),
        (" https://data.example/ ", " https://data.example/ "),  # nothing else trimmed
        ("", ""),
        ("///", ""),
    ],
)
def test_api_base_strips_every_trailing_slash_only(monkeypatch, value, expected):
    monkeypatch.setenv("ORBISCA_API_BASE", value)
    assert bw.api_base() == expected


def test_api_base_default_is_an_https_origin(monkeypatch):
    monkeypatch.delenv("ORBISCA_API_BASE", raising=False)
    base = bw.api_base()
    scheme, _, rest = base.partition("://")
    assert scheme == "https"
    assert rest and "/" not in rest


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        (None, None),
        ("", None),
        (" \t\r\n ", None),
        ("\u00a0\u3000", None),
        ("  abc-123\n", "abc-123"),
        ("\u2003key\u00a0", "key"),
        ("two words", "two words"),
    ],
)
def test_orbisca_auth_trims_white_space(monkeypatch, value, expected):
    if value is None:
        monkeypatch.delenv("ORBISCA_API_KEY", raising=False)
    else:
        monkeypatch.setenv("ORBISCA_API_KEY", value)
    assert bw.orbisca_auth() == expected


@pytest.mark.parametrize("user_agent", [None, "", "  agent/1.0  "])
def test_request_headers_order_and_values(monkeypatch, user_agent):
    if user_agent is None:
        monkeypatch.delenv("ORBISCA_USER_AGENT", raising=False)
    else:
        monkeypatch.setenv("ORBISCA_USER_AGENT", user_agent)
    assert list(bw.request_headers(" k ").items()) == [
        ("Authorization", " k "),
        ("User-Agent", DEFAULT_USER_AGENT if user_agent is None else user_agent),
        ("Accept", "application/json, text/plain, */*"),
        ("Accept-Language", "en-US,en;q=0.9"),
    ]


def test_environment_is_read_on_every_call(monkeypatch):
    monkeypatch.setenv("ORBISCA_API_BASE", "https://one.example/")
    first = bw.api_base()
    monkeypatch.setenv("ORBISCA_API_BASE", "https://two.example/")
    assert (first, bw.api_base()) == ("https://one.example", "https://two.example")


# ---- the request on the wire ---------------------------------------------------


@pytest.mark.parametrize(
    ("params", "target"),
    [
        ({"limit": 1024, "order": "netuid_asc"}, "/x?limit=1024&order=netuid_asc"),
        ({"order": "netuid_asc", "limit": 1024}, "/x?order=netuid_asc&limit=1024"),
        ({"a": None, "b": "", "c": "1"}, "/x?c=1"),
        ({"a": None, "b": ""}, "/x"),
        ({}, "/x"),
        ({"q": "a&b=c", "r": "x=y"}, "/x?q=a&b=c&r=x=y"),
        ({"zero": 0, "no": False, "neg": -5}, "/x?zero=0&no=False&neg=-5"),
        ({"big": 10**30, "f": 1.5}, "/x?big=1000000000000000000000000000000&f=1.5"),
        ({"city": "Zürich", "mark": "✓"}, "/x?city=Zürich&mark=✓"),
    ],
)
def test_query_text_goes_on_the_wire_unescaped(server, params, target):
    get(server, Reply(200, b"{}"), params=params)
    assert server.requests[0].raw_target == target.encode("utf-8")


def test_base_with_trailing_slashes_joins_path_directly(server, monkeypatch):
    monkeypatch.setenv("ORBISCA_API_BASE", server.url + "/svc///")
    get(server, Reply(200, b"{}"), path="/api/v1", params={"a": 1})
    assert server.requests[0].path == "/svc/api/v1?a=1"


@pytest.mark.parametrize("user_agent", [None, ""])
def test_headers_on_the_wire(server, monkeypatch, user_agent):
    if user_agent is not None:
        monkeypatch.setenv("ORBISCA_USER_AGENT", user_agent)
    get(server, Reply(200, b"{}"), auth="secret-key")
    request = server.requests[0]
    assert request.method == "GET"
    assert request.body == b""
    assert [(k, v) for k, v in request.headers if k != "Host"] == [
        ("Authorization", "secret-key"),
        ("User-Agent", DEFAULT_USER_AGENT if user_agent is None else ""),
        ("Accept", "application/json, text/plain, */*"),
        ("Accept-Language", "en-US,en;q=0.9"),
    ]


def test_each_request_opens_its_own_connection(server):
    for _ in range(3):
        get(server, Reply(200, b"{}"))
    assert len({r.client_port for r in server.requests}) == 3


def test_space_in_query_is_refused_by_the_http_client(server):
    with pytest.raises(OSError):
        bw.http_get_json("/x", {"q": "a b"}, "key")
    assert server.requests == []


# ---- success answers -------------------------------------------------------------


def test_success_object_keeps_member_order(server):
    payload = get(server, Reply(200, b'{"z": 1, "a": [true, null], "m": {"y": 2, "b": 3}}'))
    assert list(payload) == ["z", "a", "m"]
    assert list(payload["m"].items()) == [("y", 2), ("b", 3)]
    assert payload["a"] == [True, None]


WHOLE_NUMBERS = [
    0,
    7,
    -7,
    10**17,
    10**18 - 1,
    -(10**18 - 1),
    10**18,
    -(10**18),
    2**63 - 1,
    2**63,
    -(2**63),
    -(2**63) - 1,
    10**30,
    -(10**30),
]


def test_success_values_come_back_as_pythons_own_decoder_gives_them(server):
    # Rows sharing their member names, and whole numbers on both sides of
    # what a machine word holds.
    rows = [
        {"netuid": n, "name": f"subnet-{i}", "burn": 0.25 * i, "ok": i % 2 == 0, "x": None}
        for i, n in enumerate(WHOLE_NUMBERS)
    ]
    body = json.dumps({"data": rows, "-0": -0, "-0.0": -0.0}).encode()
    payload = get(server, Reply(200, body))
    assert payload == json.loads(body)
    assert [type(row["netuid"]) for row in payload["data"]] == [int] * len(WHOLE_NUMBERS)
    assert list(payload["data"][3]) == ["netuid", "name", "burn", "ok", "x"]


def test_success_null_gives_none(server):
    assert get(server, Reply(200, b" null ")) is None


@pytest.mark.parametrize("status", [200, 201, 299])
def test_every_2xx_status_is_a_success(server, status):
    assert get(server, Reply(status, b'{"ok": 1}')) == {"ok": 1}


@pytest.mark.parametrize(
    ("body", "kind"),
    [(b"[1, 2]", "list"), (b'"text"', "str"), (b"42", "int"), (b"4.5", "float"), (b"true", "bool")],
)
def test_success_of_another_json_kind_is_a_value_error(server, body, kind):
    with pytest.raises(ValueError) as error:
        get(server, Reply(200, body))
    message = str(error.value)
    assert "object" in message or "dict" in message
    assert kind in message


@pytest.mark.parametrize(
    "body",
    [
        "",
        "not json",
        '{"a": 1',
        "x" * 800,
        "é" * 800,
        "😀a" * 400,
        "<html>" + "ü" * 494 + "</html>",
    ],
)
def test_parse_failure_payload_keeps_first_500_code_points(server, body):
    payload = get(server, Reply(200, body.encode("utf-8")))
    assert list(payload) == ["parse_error", "raw"]
    assert isinstance(payload["parse_error"], str) and payload["parse_error"]
    assert payload["raw"] == body[:500]


# ---- error answers ------------------------------------------------------------------


@pytest.mark.parametrize(
    ("reply", "message"),
    [
        (Reply(429, b"Too many requests, slow down"), "Too many requests, slow down"),
        (Reply(503), "Service Unavailable"),
        (Reply(503, reason="Backend Asleep"), "Backend Asleep"),
        (Reply(500, reason=""), ""),
        (Reply(500, b"{"), "{"),
        (Reply(502, ("long " * 400).encode()), "long " * 400),
        (Reply(404, "nicht gefunden: ä".encode()), "nicht gefunden: ä"),
        (Reply(302, headers=[("Location", "/elsewhere")]), "Found"),
    ],
)
def test_http_error_payload(server, reply, message):
    payload = get(server, reply)
    assert list(payload.items()) == [
        ("status_code", reply.status),
        ("message", message),
        ("http_status", reply.status),
    ]
    assert len(server.requests) == 1  # redirects are not followed


@pytest.mark.parametrize(
    ("body", "expected"),
    [
        ('{"message": "Not Found"}', [("message", "Not Found"), ("http_status", 404)]),
        ("{}", [("http_status", 404)]),
        (
            '{"http_status": "x", "message": "m", "data": []}',
            [("http_status", 404), ("message", "m"), ("data", [])],
        ),
        (
            '{"a": 1, "http_status": 1, "b": 2}',
            [("a", 1), ("http_status", 404), ("b", 2)],
        ),
    ],
)
def test_error_body_object_gets_http_status(server, body, expected):
    assert list(get(server, Reply(404, body.encode())).items()) == expected


@pytest.mark.parametrize("body", [b"[1]", b'"oops"', b"7", b"false", b"null"])
def test_error_body_json_of_another_kind_is_a_value_error(server, body):
    with pytest.raises(ValueError):
        get(server, Reply(500, body))


@pytest.mark.parametrize("status", [200, 500])
@pytest.mark.parametrize("body", [b"\xff", b'{"a": "\xc3"}', b"caf\xe9", b"\xed\xa0\x80"])
def test_body_that_is_not_utf8_raises_unicode_decode_error(server, status, body):
    with pytest.raises(UnicodeDecodeError):
        get(server, Reply(status, body))


# ---- arguments and network failures ------------------------------------------------------


@pytest.mark.parametrize(
    "args",
    [
        (None, {}, "k"),
        (b"/x", {}, "k"),
        ("/x", None, "k"),
        ("/x", [("a", 1)], "k"),
        ("/x", {}, None),
        ("/x", {}, 5),
        ("/x", {1: "a"}, "k"),
    ],
)
def test_wrong_argument_kinds_fail_before_any_request(server, args):
    with pytest.raises(TypeError):
        bw.http_get_json(*args)
    assert server.requests == []


INJECTIONS = ["v\r\nX-Injected: yes", "v\n", "\tv", "v\x7f", "v\x01"]


@pytest.mark.parametrize(
    "call",
    [
        pytest.param(lambda auth: bw.http_get_json("/x", {}, auth), id="http_get_json"),
        pytest.param(lambda auth: bw.with_retries("/x", {}, auth), id="with_retries"),
        pytest.param(bw.fetch_all_subnets_latest, id="fetch_all_subnets_latest"),
    ],
)
@pytest.mark.parametrize(
    ("setting", "apply"),
    [
        pytest.param("ORBISCA_API_KEY", lambda value, env: value, id="key"),
        pytest.param(
            "ORBISCA_USER_AGENT",
            lambda value, env: env.setenv("ORBISCA_USER_AGENT", value) or "key",
            id="user-agent",
        ),
    ],
)
@pytest.mark.parametrize("value", INJECTIONS)
def test_control_character_in_a_header_is_refused_before_any_request(
    server, monkeypatch, call, setting, apply, value
):
    auth = apply(value, monkeypatch)
    with pytest.raises(ValueError, match=setting) as caught:
        call(auth)
    assert value not in str(caught.value)
    assert server.requests == []


@pytest.mark.parametrize("auth", [None, 1, b"k"])
def test_request_headers_wants_text(auth):
    with pytest.raises(TypeError):
        bw.request_headers(auth)


def test_refused_connection_is_a_connection_error(monkeypatch):
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    monkeypatch.setenv("ORBISCA_API_BASE", f"http://127.0.0.1:{port}")
    with pytest.raises(ConnectionError):
        bw.http_get_json("/x", {}, "k")


@pytest.mark.parametrize("reset", [False, True])
def test_connection_dropped_mid_body_is_a_connection_error(server, reset):
    with pytest.raises(ConnectionError):
        get(server, Reply(200, b'{"data": [1, 2, 3]}', cut_after=5, reset=reset))


def test_empty_base_url_is_an_os_error(monkeypatch):
    monkeypatch.setenv("ORBISCA_API_BASE", "")
    with pytest.raises(OSError):
        bw.http_get_json("/x", {}, "k")

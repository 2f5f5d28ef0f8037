"""Values at the edge of what Python can hand over: nesting far past any real
document, and texts holding lone surrogates."""

from __future__ import annotations

import json
import threading
from typing import Any

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.http_fake import Reply

AT = "2026-03-01T12:00:00Z"
ARROW = " \u2192 "


def nested(levels: int) -> Any:
    """`levels` lists inside one another (of any type a test needs: they go
    where no stub type allows them, on purpose)."""
    value: list[Any] = []
    for _ in range(levels - 1):
        value = [value]
    return value


def in_thread(call):
    """Runs `call` on a thread of its own; returns its result or raises its error."""
    outcome: dict[str, Any] = {}

    def run():
        try:
            outcome["result"] = call()
        except BaseException as error:  # handed back to the test
            outcome["error"] = error

    thread = threading.Thread(target=run)
    thread.start()
    thread.join(60)
    if "error" in outcome:
        raise outcome["error"]
    return outcome["result"]


# ---- deep nesting -------------------------------------------------------------------

# Each takes one value and puts it where the operation reads it.
TAKE_A_VALUE = [
    pytest.param(lambda v, path: bw.owner_burn_from_row({"incentive_burn": v}), id="row"),
    pytest.param(lambda v, path: bw.is_rate_limited({"message": v}), id="payload"),
    pytest.param(lambda v, path: bw.save_burn_state(path, {"1": v}, AT), id="burn-map"),
    pytest.param(lambda v, path: bw.diff_burns({"1": v}, {"1": "1"}, 0.0), id="diff"),
    pytest.param(lambda v, path: bw.format_burn_alert([(v, "1", "2")], AT), id="change"),
    pytest.param(lambda v, path: bw.format_burn_snapshot([{"netuid": v}], AT), id="rows"),
    pytest.param(lambda v, path: bw.http_get_json("/x", {"q": v}, "k"), id="params"),
]


@pytest.mark.parametrize("on_thread", [False, True], ids=["main-thread", "worker-thread"])
@pytest.mark.parametrize("operation", TAKE_A_VALUE)
def test_value_nested_40000_deep_raises_recursion_error(operation, on_thread, tmp_path, server):
    deep = nested(40_000)
    path = str(tmp_path / "state.json")
    with pytest.raises(RecursionError):
        in_thread(lambda: operation(deep, path)) if on_thread else operation(deep, path)
    assert not (tmp_path / "state.json").exists()


def test_500_levels_still_work(tmp_path):
    deep = nested(500)
    assert bw.owner_burn_from_row({"incentive_burn": deep}) == str(deep)
    path = str(tmp_path / "state.json")
    bw.save_burn_state(path, {"1": deep}, AT)
    assert bw.load_burn_state(path) == {"1": str(deep)}
    assert bw.format_burn_alert([(deep, "1", "2")], AT).endswith(f"SN{deep}: 1.0000{ARROW}2.0000")


DEEP_TEXT = '{"owner_burn_rate": {"1": ' + "[" * 40_000 + "]" * 40_000 + "}}"


def test_deeply_nested_answer_is_a_parse_failure(server):
    server.script(Reply(200, DEEP_TEXT.encode()))
    payload = bw.http_get_json("/x", {}, "k")
    assert isinstance(payload, dict)
    assert sorted(payload) == ["parse_error", "raw"]
    assert "nesting too deep" in str(payload["parse_error"])


def test_deeply_nested_state_file_counts_as_empty(tmp_path):
    path = tmp_path / "state.json"
    path.write_text(DEEP_TEXT)
    assert bw.load_burn_state(str(path)) == {}


# ---- lone surrogates ------------------------------------------------------------------


@pytest.mark.parametrize(
    ("call", "expected"),
    [
        pytest.param(
            lambda: bw.owner_burn_from_row({"incentive_burn": "\udcff"}), "\udcff", id="row"
        ),
        pytest.param(lambda: bw.format_owner_burn("\udcff"), "\udcff", id="format"),
        pytest.param(lambda: bw.owner_burn_changed("\ud800", "\ud800", 0.0), False, id="same"),
        pytest.param(lambda: bw.owner_burn_changed("\ud800", "\ud801", 0.0), True, id="differ"),
        pytest.param(
            lambda: bw.owner_burn_from_row({"incentive_burn": ["\ud800"]}),
            str(["\ud800"]),
            id="text-form-escapes-as-python",
        ),
        pytest.param(
            lambda: bw.diff_burns({"1": "\ud800"}, {"1": "x"}, 0.0),
            [("1", "\ud800", "x")],
            id="diff",
        ),
        pytest.param(
            lambda: bw.format_burn_alert([("\udcff", "\ud800", "1")], AT),
            f"Owner burn rate changed\n{AT} UTC\n\nSN\udcff: \ud800{ARROW}1.0000",
            id="alert",
        ),
        pytest.param(
            lambda: bw.format_burn_snapshot([{"netuid": 1, "incentive_burn": "\udcff"}], AT),
            f"Subnet owner burn rates (startup)\n{AT} UTC\n1 subnets\n\nSN1: \udcff",
            id="snapshot",
        ),
        pytest.param(lambda: bw._chunk_text("\ud800" * 4, 4), ["\ud800" * 4], id="counted-as-one"),
    ],
)
def test_lone_surrogates_come_back_unchanged(call, expected):
    assert call() == expected


def test_answer_with_escaped_lone_surrogates_fetches(server):
    rows = [
        {"netuid": 1, "name": "\ud800", "incentive_burn": "0.5"},
        {"netuid": 2, "\udbff": ["x\udc00"], "incentive_burn": "\udcff"},
    ]
    server.script(Reply(200, json.dumps({"data": rows}).encode()))  # escaped: ASCII on the wire
    assert bw.fetch_all_subnets_latest("k") == rows


def test_state_file_keeps_lone_surrogates(tmp_path):
    burns = {"1": "\ud800", "\udcff": "0.5"}
    path = tmp_path / "state.json"
    bw.save_burn_state(str(path), burns, AT)
    assert path.read_bytes().isascii()
    assert json.loads(path.read_text())["owner_burn_rate"] == burns
    assert bw.load_burn_state(str(path)) == burns


@pytest.mark.parametrize(
    "call",
    [
        pytest.param(lambda: bw.http_get_json("/x", {"q": "a\ud800"}, "k"), id="query"),
        pytest.param(lambda: bw.http_get_json("/\udcff", {}, "k"), id="path"),
        pytest.param(lambda: bw.http_get_json("/x", {}, "k\ud800"), id="header"),
        pytest.param(lambda: bw.send_burn_telegram("a\ud800", "1:t", "1"), id="text"),
        pytest.param(lambda: bw.send_burn_telegram("a", "1:t", "\udfff"), id="chat-id"),
    ],
)
def test_lone_surrogate_cannot_go_on_the_wire(call, server, monkeypatch):
    monkeypatch.setenv("BURN_TELEGRAM_API_BASE", server.url)
    with pytest.raises(UnicodeEncodeError, match="surrogates not allowed") as caught:
        call()
    assert caught.value.encoding == "utf-8"
    assert caught.value.object[caught.value.start] in "\ud800\udcff\udfff"
    assert server.requests == []

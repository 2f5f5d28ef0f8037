"""Splitting long texts into chunks, as reachable from Python."""

import pytest

from corvane_burn_watch import burn_watch as bw

SAMPLE = "T\nD\nN\n\naaaa\nbbbb\ncccc"  # 21 code points
ONE_EACH = ["T\nD\nN\n\naaaa", "T\nD\nN\n\nbbbb", "T\nD\nN\n\ncccc"]
AT = "2026-03-01T12:00:00Z"


@pytest.mark.parametrize(
    ("max_len", "expected"),
    [
        pytest.param(15, ONE_EACH, id="15"),
        pytest.param(16, ["T\nD\nN\n\naaaa\nbbbb", "T\nD\nN\n\ncccc"], id="16"),
        pytest.param(21, [SAMPLE], id="21"),
        pytest.param(15.99, ONE_EACH, id="float-cut"),
        pytest.param(16.0, ["T\nD\nN\n\naaaa\nbbbb", "T\nD\nN\n\ncccc"], id="whole-float"),
        pytest.param(-0.9, ONE_EACH, id="cut-to-0"),
        pytest.param(10**40, [SAMPLE], id="int-beyond-64-bits"),
        pytest.param(float("inf"), [SAMPLE], id="float-infinity"),
        pytest.param(-(10**40), ONE_EACH, id="very-negative"),
    ],
)
def test_worked_example_and_limit_kinds(max_len, expected):
    assert bw._chunk_text(SAMPLE, max_len) == expected
    assert bw._chunk_text(text=SAMPLE, max_len=max_len) == expected


@pytest.mark.parametrize(
    ("args", "error"),
    [
        pytest.param((None,), TypeError, id="text-none"),
        pytest.param((b"T\nD",), TypeError, id="text-bytes"),
        pytest.param((SAMPLE, None), TypeError, id="limit-none"),
        pytest.param((SAMPLE, "15"), TypeError, id="limit-text"),
        pytest.param((SAMPLE, [15]), TypeError, id="limit-list"),
        pytest.param((SAMPLE, 15j), TypeError, id="limit-complex"),
        pytest.param((SAMPLE, float("nan")), ValueError, id="limit-nan"),
    ],
)
def test_rejects(args, error):
    with pytest.raises(error):
        bw._chunk_text(*args)


def changes(count):
    return [(str(n), "0.1", f"0.{n + 2}") for n in range(count)]


@pytest.mark.parametrize("count", [2, 40, 300])
@pytest.mark.parametrize("max_len", [0, 60, 500, 3900])
def test_alert_chunks_repeat_header_and_keep_every_change_once(count, max_len):
    text = bw.format_burn_alert(changes(count), AT)
    lines = text.split("\n")
    chunks = bw._chunk_text(text, max_len)
    if len(text) <= max_len:
        assert chunks == [text]
        return
    opening = f"Owner burn rate changed\n{AT} UTC\n\n"
    body = []
    for chunk in chunks:
        assert chunk.startswith(opening)
        part = chunk[len(opening) :].split("\n")
        assert part and all(line.startswith("SN") for line in part)
        assert len(part) == 1 or len(chunk) <= max_len
        body.extend(part)
    assert body == lines[3:]


LONG = "x" * 5000


@pytest.mark.parametrize(
    ("text", "max_len", "expected"),
    [
        pytest.param("aaaa\nbbbb\ncccc", 5, ["aaaa\nbbbb\ncccc"], id="three-lines-over-limit"),
        pytest.param("T\nD\nN\nX", 3, ["T\nD\nN"], id="four-lines-drop-the-fourth"),
        pytest.param("aa", 1, ["aa"], id="single-line-over-limit"),
        pytest.param("x" * 3900, None, ["x" * 3900], id="default-limit-exact"),
        pytest.param("\u2192" * 3900, None, ["\u2192" * 3900], id="default-limit-in-code-points"),
        pytest.param("T\nD\nN\n" + "x" * 3900, None, ["T\nD\nN"], id="four-lines-over-default"),
        pytest.param("a\nb\nc\nd", 7, ["a\nb\nc\nd"], id="exactly-at-limit"),
        pytest.param("a\nb\nc\nd", 6, ["a\nb\nc"], id="one-over-limit"),
        pytest.param("", -1, [""], id="empty-text-negative-limit"),
        pytest.param("a\nb\nc\nd\ne", 9, ["a\nb\nc\nd\ne"], id="within-limit-keeps-fourth"),
        pytest.param(
            "T\nD\nN\n\naa\n" + LONG + "\ncc",
            12,
            ["T\nD\nN\n\naa", "T\nD\nN\n\n" + LONG, "T\nD\nN\n\ncc"],
            id="long-body-line-whole-in-its-own-chunk",
        ),
        pytest.param(
            "Title\nDate\nCount\n\nx\ny",
            5,
            ["Title\nDate\nCount\n\nx", "Title\nDate\nCount\n\ny"],
            id="header-over-limit-repeated",
        ),
        pytest.param("T\nD\nN\n\na\nb", 0, ["T\nD\nN\n\na", "T\nD\nN\n\nb"], id="limit-0"),
        pytest.param("", 0, [""], id="empty-text-limit-0"),
        pytest.param(
            "T\nD\nN\n\n\u00e9\u00e9\n\u2192\u2192",
            11,
            ["T\nD\nN\n\n\u00e9\u00e9", "T\nD\nN\n\n\u2192\u2192"],
            id="code-points",
        ),
        pytest.param(
            "T\nD\nN\n\nab\r\ncd", 10, ["T\nD\nN\n\nab\r", "T\nD\nN\n\ncd"], id="carriage-return"
        ),
        pytest.param(
            "T\nD\nN\n\naaaa\n", 10, ["T\nD\nN\n\naaaa", "T\nD\nN\n\n"], id="empty-last-line"
        ),
    ],
)
def test_splitting_rule(text, max_len, expected):
    got = bw._chunk_text(text) if max_len is None else bw._chunk_text(text, max_len)
    assert got == expected


def test_snapshot_of_1000_subnets_splits_on_whole_lines():
    text = bw.format_burn_snapshot(
        [{"netuid": n, "incentive_burn": n / 7} for n in range(999, -1, -1)], AT
    )
    chunks = bw._chunk_text(text)
    assert len(chunks) > 1
    opening = f"Subnet owner burn rates (startup)\n{AT} UTC\n1000 subnets\n\n"
    body = []
    for chunk in chunks:
        assert chunk.startswith(opening)
        assert len(chunk) <= 3900
        body.extend(chunk[len(opening) :].split("\n"))
    assert body == text.split("\n")[4:]
    assert body[0] == "SN0: 0.0000" and body[-1] == f"SN999: {999 / 7:.4f}"

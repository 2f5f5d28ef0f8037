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
    ("text", "max_len", "expected"),
    [
        pytest.param("x" * 3900, None, ["x" * 3900], id="default-limit-exact"),
        pytest.param("\u2192" * 3900, None, ["\u2192" * 3900], id="default-limit-in-code-points"),
        pytest.param("T\nD\nN\n" + "x" * 3900, None, ["T\nD\nN"], id="four-lines-over-default"),
        pytest.param("a\nb\nc\nd", 7, ["a\nb\nc\nd"], id="exactly-at-limit"),
        pytest.param("a\nb\nc\nd", 6, ["a\nb\nc"], id="one-over-limit"),
        pytest.param("", -1, [""], id="empty-text-negative-limit"),
    ],
)
def test_edges(text, max_len, expected):
    got = bw._chunk_text(text) if max_len is None else bw._chunk_text(text, max_len)
    assert got == expected


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


def pieces(lines, room):
    """The lines as chunks carry them: one longer than room is cut into pieces."""
    if room < 1:
        return lines
    return [line[i : i + room] for line in lines for i in range(0, max(len(line), 1), room)]


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
    room = max_len - len(opening)
    body = []
    for chunk in chunks:
        assert chunk.startswith(opening)
        part = chunk[len(opening) :].split("\n")
        # Within the limit whenever the header leaves room for a body line.
        assert len(chunk) <= max_len or (room < 1 and len(part) == 1)
        body.extend(part)
    assert body == pieces(lines[3:], room)


@pytest.mark.parametrize(
    ("text", "max_len"),
    [
        pytest.param("H\nT\n\nSN1: " + "x" * 5000, 3900, id="alert-line"),
        pytest.param(
            "S\nT\n2 subnets\n\nSN1: " + "\u2192" * 9000 + "\nSN2: 1", 3900, id="snapshot"
        ),
        pytest.param("x" * 10000, 3900, id="one-line-text"),
        pytest.param("a\nb\n" + "c" * 50, 20, id="three-lines"),
    ],
)
def test_line_longer_than_the_limit_is_cut_so_no_chunk_exceeds_it(text, max_len):
    chunks = bw._chunk_text(text, max_len)
    assert len(chunks) > 1
    assert all(len(chunk) <= max_len for chunk in chunks)
    # Every character arrives, in order; only the repeated header is added.
    lines = text.split("\n")
    layout = 2 if lines[2:3] == [""] and lines[3:4] != [""] else 3
    opening = "\n".join(lines[:layout]) + "\n\n"
    if len(lines) <= layout + 1:
        assert "".join(chunks).replace("\n", "") == text.replace("\n", "")
    else:
        body = "".join(chunk.removeprefix(opening).replace("\n", "") for chunk in chunks)
        assert body == "".join(lines[layout + 1 :])


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

"""Owner burn values through the module: burn text of a row, display, change test."""

import math

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

from corvane_burn_watch import burn_watch as bw

ASCII_SPACE = " \t\n\v\f\r"


def python_float(text):
    try:
        return float(text)
    except ValueError:
        return None


# Texts assembled from the pieces of a numeral, so that near misses (doubled
# or stray underscores, a lone point, a bare exponent, words) are frequent.
pieces = st.sampled_from(
    ["0", "1", "5", "9", "_", ".", "e", "E", "+", "-", "inf", "Infinity", "nAn", "x", " "]
)
assembled = st.lists(pieces, max_size=10).map("".join)
padding = st.text(ASCII_SPACE, max_size=2)
decimals = st.from_regex(r"[+-]?[0-9]{1,25}(\.[0-9]{0,25})?([eE][+-]?[0-9]{1,3})?", fullmatch=True)
grouped = st.integers(-(10**30), 10**30).map(lambda n: f"{n:_}")
float_reprs = st.floats().map(repr)
burn_texts = st.tuples(padding, assembled | decimals | grouped | float_reprs, padding).map("".join)


@given(burn_texts)
@example("0.12345")
@example("-0.00001")
@example("1e999")
def test_format_matches_python(text):
    number = python_float(text)
    expected = text if number is None else format(number, ".4f")
    assert bw.format_owner_burn(text) == expected


@given(old=burn_texts, new=burn_texts, threshold=st.floats() | st.integers(-5, 5))
@example(old="0.18", new="0.19", threshold=0.01)
@example(old="inf", new="inf", threshold=-1.0)
def test_changed_matches_python(old, new, threshold):
    a, b = python_float(old), python_float(new)
    expected = old != new if a is None or b is None else abs(a - b) > threshold
    assert bw.owner_burn_changed(old, new, threshold) is expected


@given(st.floats() | st.integers() | st.booleans() | st.none() | st.text())
@example(-0.0)
@example(10**40)
def test_row_value_matches_python_text(value):
    expected = str(value) if value else "0"
    assert bw.owner_burn_from_row({"netuid": 1, "incentive_burn": value}) == expected


@pytest.mark.parametrize(
    ("row", "expected"),
    [
        pytest.param({}, "0", id="missing"),
        pytest.param({"incentive_burn": None}, "0", id="null"),
        pytest.param({"incentive_burn": 0.0}, "0", id="zero-double"),
        pytest.param({"incentive_burn": []}, "0", id="empty-list"),
        pytest.param({"incentive_burn": {}}, "0", id="empty-dict"),
        pytest.param({"incentive_burn": "0.0"}, "0.0", id="text-zero-kept"),
        pytest.param({"incentive_burn": " "}, " ", id="space-kept"),
        pytest.param({"incentive_burn": 1e-05}, "1e-05", id="small"),
        pytest.param({"incentive_burn": 100.0}, "100.0", id="hundred-double"),
        pytest.param({"incentive_burn": 100}, "100", id="hundred-int"),
        pytest.param({"incentive_burn": True}, "True", id="true"),
        pytest.param({"incentive_burn": float("nan")}, "nan", id="nan"),
        pytest.param({"incentive_burn": [1, "a", None]}, "[1, 'a', None]", id="list"),
        pytest.param({"incentive_burn": {"k": 0.5}}, "{'k': 0.5}", id="dict"),
    ],
)
def test_owner_burn_from_row(row, expected):
    assert bw.owner_burn_from_row(row) == expected
    assert bw.owner_burn_from_row(row=row) == expected


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("0.18", "0.1800"),
        (" 0.5 ", "0.5000"),
        ("1_000.25", "1000.2500"),
        ("1e-05", "0.0000"),
        ("0.03125", "0.0312"),
        ("0.09375", "0.0938"),
        ("1e20", "100000000000000000000.0000"),
        ("-0", "-0.0000"),
        ("Infinity", "inf"),
        ("-nan", "nan"),
        ("abc", "abc"),
        ("", ""),
        ("None", "None"),
        ("\u00a01", "\u00a01"),  # only ASCII white space is trimmed
    ],
)
def test_format_owner_burn(text, expected):
    assert bw.format_owner_burn(value=text) == expected


@pytest.mark.parametrize(
    ("old", "new", "threshold", "expected"),
    [
        ("0.18", "0.1800", 0.0, False),
        ("0.18", "0.185", 0.01, False),
        ("abc", "abc", 1.0, False),
        ("abc", "0.1", 1e9, True),
        ("nan", "nan", 0.0, False),
        ("nan", "1", 0.0, False),
        ("1", "3", 2, False),  # an int threshold is taken as the equal double
        ("1", "3", 1, True),
        ("1", "1", -1, True),
        ("-inf", "-inf", -1.0, False),
    ],
)
def test_owner_burn_changed(old, new, threshold, expected):
    assert bw.owner_burn_changed(old=old, new=new, threshold=threshold) is expected


@pytest.mark.parametrize(
    ("function", "args"),
    [
        pytest.param(bw.owner_burn_from_row, (None,), id="row-none"),
        pytest.param(bw.owner_burn_from_row, ([("incentive_burn", 1)],), id="row-list"),
        pytest.param(bw.owner_burn_from_row, ({"incentive_burn": {1, 2}},), id="row-set"),
        pytest.param(bw.format_owner_burn, (None,), id="value-none"),
        pytest.param(bw.format_owner_burn, (0.5,), id="value-float"),
        pytest.param(bw.format_owner_burn, (b"0.5",), id="value-bytes"),
        pytest.param(bw.owner_burn_changed, (None, "1", 0.0), id="old-none"),
        pytest.param(bw.owner_burn_changed, ("1", 1.0, 0.0), id="new-float"),
        pytest.param(bw.owner_burn_changed, ("1", "1", "0"), id="threshold-text"),
        pytest.param(bw.owner_burn_changed, ("1", "1", None), id="threshold-none"),
    ],
)
def test_wrong_argument_kinds(function, args):
    with pytest.raises(TypeError):
        function(*args)


def test_decimals_constant_matches_display():
    assert bw.OWNER_BURN_DECIMALS == 4
    shown = bw.format_owner_burn("1")
    assert len(shown.partition(".")[2]) == bw.OWNER_BURN_DECIMALS
    assert math.isclose(float(shown), 1.0)

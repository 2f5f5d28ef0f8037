"""The change list between two burn maps, through the module."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

from corvane_burn_watch import burn_watch as bw


@pytest.mark.parametrize(
    ("prev", "current", "threshold", "expected"),
    [
        pytest.param({}, {"2": "1", " 7 ": "1"}, 0.0, [], id="empty-prev"),
        pytest.param({"1": "0"}, {}, 0.0, [], id="empty-current"),
        pytest.param(
            {"1": "0", "2": "0", "10": "0"},
            {"10": "0.2", "2": "0.3", "1": "0.1"},
            0,
            [("1", "0", "0.1"), ("2", "0", "0.3"), ("10", "0", "0.2")],
            id="numeric-order",
        ),
        pytest.param({"1": "0.18"}, {"1": "0.180"}, 0.0, [], id="equal-in-other-form"),
        pytest.param({"1": "0.5"}, {"1": "1.0"}, 0.5, [], id="exactly-threshold"),
        pytest.param({"1": "0.18"}, {"1": "0.19"}, 0.01, [("1", "0.18", "0.19")], id="just-over"),
        pytest.param({"1": "abc"}, {"1": "0.1"}, 1e300, [("1", "abc", "0.1")], id="text-to-number"),
        pytest.param({"1": "abc"}, {"1": "abc"}, 0.0, [], id="same-text"),
        pytest.param({"1": None}, {"1": "5"}, 0.0, [], id="none-is-absent"),
        pytest.param({"9": "0"}, {"1": "5"}, 0.0, [], id="new-and-gone"),
        pytest.param(
            {"01": "0", "1": "0"},
            {"1": "2", "01": "3", "7": "4"},
            0.0,
            [("1", "0", "2"), ("01", "0", "3")],
            id="stable-and-exact-lookup",
        ),
        pytest.param(
            {"18446744073709551616": "0", "-5": "0"},
            {"18446744073709551616": "1", "-5": "1"},
            0.0,
            [("-5", "0", "1"), ("18446744073709551616", "0", "1")],
            id="beyond-64-bits-and-negative",
        ),
    ],
)
def test_diff_burns(prev, current, threshold, expected):
    result = bw.diff_burns(prev=prev, current=current, threshold=threshold)
    assert result == expected
    assert all(type(triple) is tuple for triple in result)


# Id texts in the forms an integer can take: signs, zeros, underscores, spaces.
id_texts = st.builds(
    lambda n, zeros, sign, pad, grouped: (
        pad
        + (sign if n >= 0 else "-")
        + "0" * zeros
        + (f"{abs(n):_}" if grouped else str(abs(n)))
        + pad
    ),
    st.integers(-(10**25), 10**25),
    st.integers(0, 2),
    st.sampled_from(["", "+"]),
    st.sampled_from(["", " ", "\t"]),
    st.booleans(),
)


@given(st.dictionaries(id_texts, st.sampled_from(["0", "1", "x"]), max_size=30))
def test_order_matches_python_int_sort(current):
    prev = dict.fromkeys(current, "0")
    changed = [key for key in sorted(current, key=int) if current[key] != "0"]
    assert [triple[0] for triple in bw.diff_burns(prev, current, 0.5)] == changed


@pytest.mark.parametrize("bad_id", ["7.0", "", "abc", "1__0", "_1", "0x1", "1 0"])
def test_id_that_is_not_an_integer(bad_id):
    # "1" would fail its comparison with a TypeError: ids are read first.
    with pytest.raises(ValueError, match="not an integer") as caught:
        # An int burn, which the stub does not allow, on purpose.
        bw.diff_burns({"1": "0"}, {"1": 5, bad_id: "1"}, 0.0)  # type: ignore[dict-item]
    assert repr(bad_id) in str(caught.value)


@pytest.mark.parametrize(
    "args",
    [
        pytest.param((None, {}, 0.0), id="prev-none"),
        pytest.param(({}, None, 0.0), id="current-none"),
        pytest.param(({}, [("1", "2")], 0.0), id="current-list"),
        pytest.param(({}, {}, None), id="threshold-none"),
        pytest.param(({}, {}, "0.5"), id="threshold-text"),
        pytest.param(({"1": 0.5}, {"1": "1"}, 0.0), id="old-burn-not-text"),
        pytest.param(({"1": "0"}, {"1": None}, 0.0), id="new-burn-none"),
    ],
)
def test_wrong_kinds(args):
    with pytest.raises(TypeError):
        bw.diff_burns(*args)


def test_maps_are_left_unchanged():
    prev, current = {"2": "0", "1": "0"}, {"2": "1", "1": "1"}
    bw.diff_burns(prev, current, 0.0)
    assert list(prev.items()) == [("2", "0"), ("1", "0")]
    assert list(current.items()) == [("2", "1"), ("1", "1")]

"""The alert and snapshot message texts."""

import math

import pytest

from corvane_burn_watch import burn_watch as bw

AT = "2026-03-01T12:00:00Z"
ARROW = " \u2192 "


@pytest.mark.parametrize(
    ("changes", "updated_at", "expected"),
    [
        pytest.param(
            [("3", "0.18", "0.2"), ("12", "0", "abc")],
            AT,
            "Owner burn rate changed\n2026-03-01T12:00:00Z UTC\n\n"
            "SN3: 0.1800 \u2192 0.2000\nSN12: 0.0000 \u2192 abc",
            id="worked-example",
        ),
        pytest.param(
            [], AT, "Owner burn rate changed\n2026-03-01T12:00:00Z UTC\n", id="no-changes"
        ),
        pytest.param([], "", "Owner burn rate changed\n UTC\n", id="empty-timestamp"),
        pytest.param(
            [["12", "1", "2"], ("3", "1", "2")],
            AT,
            f"Owner burn rate changed\n{AT} UTC\n\n"
            f"SN12: 1.0000{ARROW}2.0000\nSN3: 1.0000{ARROW}2.0000",
            id="keeps-given-order-lists-and-tuples",
        ),
        pytest.param(
            [("9", "0.00001", "0.00002")],
            AT,
            f"Owner burn rate changed\n{AT} UTC\n\nSN9: 0.0000{ARROW}0.0000",
            id="shown-values-may-look-alike",
        ),
        pytest.param(
            [(5, " 1_000.25 ", "Infinity"), (None, "", "-nan")],
            AT,
            f"Owner burn rate changed\n{AT} UTC\n\nSN5: 1000.2500{ARROW}inf\nSNNone: {ARROW}nan",
            id="plain-id-forms-and-odd-burns",
        ),
    ],
)
def test_format_burn_alert(changes, updated_at, expected):
    assert bw.format_burn_alert(changes, updated_at) == expected
    assert bw.format_burn_alert(changes=changes, updated_at=updated_at) == expected


@pytest.mark.parametrize(
    ("changes", "updated_at", "error"),
    [
        pytest.param((("3", "1", "2"),), AT, TypeError, id="changes-tuple"),
        pytest.param(None, AT, TypeError, id="changes-none"),
        pytest.param({"3": ("1", "2")}, AT, TypeError, id="changes-dict"),
        pytest.param([], None, TypeError, id="updated-at-none"),
        pytest.param([], 20260301, TypeError, id="updated-at-int"),
        pytest.param([("3", "1")], AT, ValueError, id="two-items"),
        pytest.param([("3", "1", "2", "4")], AT, ValueError, id="four-items"),
        pytest.param([("3", "1", "2"), ()], AT, ValueError, id="later-element-empty"),
        pytest.param([("3", 0.1, "2")], AT, TypeError, id="old-burn-float"),
        pytest.param([("3", "1", None)], AT, TypeError, id="new-burn-none"),
        pytest.param([7], AT, TypeError, id="element-not-a-sequence"),
    ],
)
def test_format_burn_alert_rejects(changes, updated_at, error):
    with pytest.raises(error):
        bw.format_burn_alert(changes, updated_at)


def snapshot(*lines, count=None):
    header = ["Subnet owner burn rates (startup)", f"{AT} UTC", f"{count}"]
    return "\n".join([*header, "", *list(lines)])


@pytest.mark.parametrize(
    ("rows", "expected"),
    [
        pytest.param(
            [
                {"netuid": 10, "incentive_burn": 0.05},
                {"netuid": 2, "incentive_burn": 0},
                {"netuid": 7, "incentive_burn": "0.333333"},
            ],
            snapshot("SN2: 0.0000", "SN7: 0.3333", "SN10: 0.0500", count="3 subnets"),
            id="worked-example",
        ),
        pytest.param([], f"Subnet owner burn rates (startup)\n{AT} UTC\n0 subnets\n", id="no-rows"),
        pytest.param(
            [{"netuid": 4}], snapshot("SN4: 0.0000", count="1 subnets"), id="one-row-no-burn"
        ),
        pytest.param(
            [{"netuid": 10}, {"netuid": 2}, {"netuid": 1}],
            snapshot("SN1: 0.0000", "SN2: 0.0000", "SN10: 0.0000", count="3 subnets"),
            id="numeric-not-text-order",
        ),
        pytest.param(
            [{"netuid": "3", "incentive_burn": "x"}, {"netuid": " 2 "}, {"netuid": "+1"}],
            snapshot("SN+1: 0.0000", "SN 2 : 0.0000", "SN3: x", count="3 subnets"),
            id="text-ids-sort-by-value-and-show-unchanged",
        ),
        pytest.param(
            [
                {"netuid": 1, "incentive_burn": "a"},
                {"incentive_burn": "b"},
                {"netuid": 0, "incentive_burn": "c"},
                {"incentive_burn": "d"},
            ],
            snapshot("SNNone: b", "SN0: c", "SNNone: d", "SN1: a", count="4 subnets"),
            id="missing-id-sorts-as-zero-in-input-order",
        ),
        pytest.param(
            [{"netuid": 5, "incentive_burn": "1"}, {"netuid": 5, "incentive_burn": "2"}],
            snapshot("SN5: 1.0000", "SN5: 2.0000", count="2 subnets"),
            id="equal-ids-keep-input-order",
        ),
        pytest.param(
            [{"netuid": 7.9}, {"netuid": 7}, {"netuid": -7.9}, {"netuid": True}, {"netuid": "0_7"}],
            snapshot(
                "SN-7.9: 0.0000",
                "SNTrue: 0.0000",
                "SN7.9: 0.0000",
                "SN7: 0.0000",
                "SN0_7: 0.0000",
                count="5 subnets",
            ),
            id="fractions-cut-toward-zero-bools-as-numbers",
        ),
        pytest.param(
            [{"netuid": 10**30}, {"netuid": 5}, {"netuid": -(10**30)}, {"netuid": 1e300}],
            snapshot(
                f"SN{-(10**30)}: 0.0000",
                "SN5: 0.0000",
                f"SN{10**30}: 0.0000",
                "SN1e+300: 0.0000",
                count="4 subnets",
            ),
            id="ids-beyond-64-bits",
        ),
        pytest.param(
            [{"netuid": 1, "incentive_burn": b} for b in (None, False, 1e-05, 100, "0.0", True)],
            snapshot(
                "SN1: 0.0000",
                "SN1: 0.0000",
                "SN1: 0.0000",
                "SN1: 100.0000",
                "SN1: 0.0000",
                "SN1: True",
                count="6 subnets",
            ),
            id="burns-through-owner-burn-rules",
        ),
    ],
)
def test_format_burn_snapshot(rows, expected):
    before = [dict(row) for row in rows]
    assert bw.format_burn_snapshot(rows, AT) == expected
    assert rows == before  # the caller's list is not reordered


@pytest.mark.parametrize(
    ("rows", "updated_at", "error"),
    [
        pytest.param(({"netuid": 1},), AT, TypeError, id="rows-tuple"),
        pytest.param(None, AT, TypeError, id="rows-none"),
        pytest.param([], b"2026", TypeError, id="updated-at-bytes"),
        pytest.param([{"netuid": 1}, [1, 2]], AT, TypeError, id="row-not-a-dict"),
        pytest.param([{"netuid": None}], AT, ValueError, id="id-null"),
        pytest.param([{"netuid": "7.0"}], AT, ValueError, id="id-decimal-text"),
        pytest.param([{"netuid": "abc"}], AT, ValueError, id="id-word"),
        pytest.param([{"netuid": [7]}], AT, ValueError, id="id-list"),
        pytest.param([{"netuid": math.nan}], AT, ValueError, id="id-nan"),
        pytest.param([{"netuid": -math.inf}], AT, ValueError, id="id-infinity"),
        pytest.param([{"netuid": 1}] * 5 + [{"netuid": "x"}], AT, ValueError, id="late-bad-id"),
    ],
)
def test_format_burn_snapshot_rejects(rows, updated_at, error):
    with pytest.raises(error):
        bw.format_burn_snapshot(rows, updated_at)

"""The watch rules through the program, on the loopback fakes: the watchlist,
per-subnet thresholds, drift, mutes, quiet hours and the rules file.

``run`` is driven in-process: the sleep seam takes no time, and between two
cycles the next step of a scenario changes the rates, the rules file, the
mutes or the clock; after the last step the pause file stops the watch.
"""

from __future__ import annotations

import re
from collections.abc import Callable, Iterator, Sequence
from pathlib import Path

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.cli import main
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.http_fake import Reply
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

API_KEY = "rules-key"
TOKEN = "5151:rules-token"
CHAT = "-100777"
INTERVAL_SECONDS = 60
# 2026-03-01T00:00:00Z
MIDNIGHT = 1772323200.0

Step = Callable[[], None]


@pytest.fixture
def fakes(tmp_path, monkeypatch, cli_environment):
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    monkeypatch.setenv("XDG_STATE_HOME", str(tmp_path / "xdg"))
    with (
        FakeDataService(make_rows(10, burn=0.2), api_key=API_KEY) as service,
        TelegramSink(token=TOKEN) as sink,
    ):
        cli_environment(service, sink, key=API_KEY, token=TOKEN, chat=CHAT)
        yield service, sink


@pytest.fixture
def clock() -> Iterator[list[float]]:
    """The library's clock: now[0], moved by the tests."""
    now = [MIDNIGHT + 12 * 3600]
    bw._set_clock(lambda: now[0])
    try:
        yield now
    finally:
        bw._set_clock(None)


def run_watch(tmp_path: Path, argv: Sequence[str], scenario: Sequence[Step]) -> int:
    """``burn-watch run`` with a cycle after each step (the startup table
    comes before the first); the pause file stops it after the last."""
    pause = tmp_path / "pause"
    remaining = list(scenario)
    slept = [0.0]

    def sleep(seconds: float) -> None:
        slept[0] += seconds
        if slept[0] < INTERVAL_SECONDS:
            return
        slept[0] = 0.0
        if remaining:
            remaining.pop(0)()
        else:
            pause.touch()

    bw._set_sleep(sleep)
    try:
        return main(
            [
                "run",
                "--state-file",
                str(tmp_path / "state.json"),
                "--interval-minutes",
                "1",
                "--pause-file",
                str(pause),
                *argv,
            ]
        )
    finally:
        bw._set_sleep(None)


def alert_lines(sink: TelegramSink) -> list[list[str]]:
    """Each alert's subnet lines."""
    return [
        message.text.splitlines()[3:]
        for message in sink.messages
        if message.text and message.text.startswith("Owner burn rate changed")
    ]


def table_subnets(sink: TelegramSink) -> list[str]:
    tables = [m.text for m in sink.messages if m.text and m.text.startswith("Subnet owner burn")]
    return [line.split(":")[0] for line in tables[0].splitlines()[4:]] if tables else []


def steps(*actions: Callable[[], object]) -> Step:
    """One step made of several actions, in order."""

    def step() -> None:
        for action in actions:
            action()

    return step


def set_burns(service: FakeDataService, **burns: float) -> Step:
    def step() -> None:
        for subnet, burn in burns.items():
            service.set_burn(int(subnet[2:]), burn)

    return step


def metric(text: str, name: str) -> float:
    found = re.search(rf"^{re.escape(name)} (\S+)$", text, re.MULTILINE)
    assert found, name
    return float(found.group(1))


# ---- Watchlist, ignored subnets and thresholds of their own ----------------------


@pytest.mark.parametrize(
    ("argv", "rules", "table", "alerts", "suppressed"),
    [
        ([], None, [f"SN{i}" for i in range(10)], ["SN1", "SN3", "SN7", "SN8"], {}),
        (
            ["--subnets", "1-3,7"],
            None,
            ["SN1", "SN2", "SN3", "SN7"],
            ["SN1", "SN3", "SN7"],
            {"unwatched": 1},
        ),
        (
            ["--ignore-subnets", "3,8"],
            None,
            ["SN0", "SN1", "SN2", "SN4", "SN5", "SN6", "SN7", "SN9"],
            ["SN1", "SN7"],
            {"ignored": 2},
        ),
        (
            ["--subnets", "1-8", "--ignore-subnets", "3", "--subnet-threshold", "7=0.5"],
            None,
            ["SN1", "SN2", "SN4", "SN5", "SN6", "SN7", "SN8"],
            ["SN1", "SN8"],
            {"ignored": 1},
        ),
        (
            [],
            'subnets = [1, "3-7"]\nignore_subnets = [3]\n[subnet.1]\nthreshold = 0.5\n',
            ["SN1", "SN4", "SN5", "SN6", "SN7"],
            ["SN7"],
            {"ignored": 1, "unwatched": 1},
        ),
        # The command line wins over the file.
        (
            ["--subnets", "8", "--subnet-threshold", "8=0.5"],
            "subnets = [1]\n[subnet.8]\nthreshold = 0.01\n",
            ["SN8"],
            [],
            {"unwatched": 3},
        ),
    ],
    ids=["no_rules", "watchlist", "ignored", "both_and_own_threshold", "rules_file", "flags_win"],
)
def test_which_subnets_are_tabled_and_alerted(
    tmp_path, fakes, argv, rules, table, alerts, suppressed
):
    service, sink = fakes
    if rules is not None:
        (tmp_path / "rules.toml").write_text(rules)
        argv = [*argv, "--rules", str(tmp_path / "rules.toml")]
    metrics = tmp_path / "watch.prom"
    scenario = [set_burns(service, SN1=0.3, SN3=0.4, SN7=0.5, SN8=0.6)]
    assert run_watch(tmp_path, [*argv, "--metrics-file", str(metrics)], scenario) == 0
    assert table_subnets(sink) == table
    assert [line.split(":")[0] for lines in alert_lines(sink) for line in lines] == alerts
    text = metrics.read_text()
    for reason in ("muted", "ignored", "unwatched"):
        name = f'burn_watch_changes_suppressed_total{{reason="{reason}"}}'
        assert metric(text, name) == suppressed.get(reason, 0)
    # The state file keeps every subnet, watched or not.
    assert len(bw.load_burn_state(str(tmp_path / "state.json"))) == 10


# ---- Drift --------------------------------------------------------------------------


def _creep(service: FakeDataService, cycle: int) -> Step:
    return set_burns(service, SN1=round(0.2 + 0.004 * cycle, 6))


@pytest.mark.parametrize(
    ("argv", "first_run", "second_run", "told_file"),
    [
        # The plain watch never sees a single step past the threshold.
        ([], [], [], False),
        (
            ["--compare-to", "alerted"],
            [["SN1: 0.2000 → 0.2120"]],
            # The restart's table told the chat 0.2160: measured from there.
            [["SN1: 0.2160 → 0.2280"]],
            True,
        ),
        (
            ["--compare-to", "alerted", "--no-startup-table"],
            [["SN1: 0.2000 → 0.2120"]],
            # Without a table the chat still knows 0.2120: kept across the restart.
            [["SN1: 0.2120 → 0.2240"]],
            True,
        ),
        (
            ["--compare-to", "alerted", "--no-redeliver"],
            [["SN1: 0.2000 → 0.2120"]],
            [["SN1: 0.2160 → 0.2280"]],
            True,
        ),
    ],
    ids=["compare_to_last", "alerted", "alerted_without_table", "alerted_without_redelivery"],
)
def test_drift_is_measured_from_the_value_last_told(
    tmp_path, fakes, argv, first_run, second_run, told_file
):
    service, sink = fakes
    assert run_watch(tmp_path, argv, [_creep(service, c) for c in (1, 2, 3, 4)]) == 0
    assert alert_lines(sink) == first_run
    assert (tmp_path / "state.json.told.json").exists() == told_file
    (tmp_path / "pause").unlink()
    assert run_watch(tmp_path, argv, [_creep(service, c) for c in (5, 6, 7)]) == 0
    assert alert_lines(sink)[len(first_run) :] == second_run


def test_drift_meets_pending_alerts(tmp_path, fakes):
    """An alert that did not arrive waits in the pending file and runs from the
    value last told to the latest; once delivered, that is the value told."""
    service, sink = fakes
    refuse = Reply.json('{"ok": false, "error_code": 502, "description": "Bad Gateway"}', 502)
    scenario = [
        _creep(service, 1),
        _creep(service, 2),
        steps(_creep(service, 3), lambda: sink.fail(refuse)),
        _creep(service, 4),
        _creep(service, 5),
        _creep(service, 6),
    ]
    assert run_watch(tmp_path, ["--compare-to", "alerted"], scenario) == 0
    assert alert_lines(sink) == [["SN1: 0.2000 → 0.2120"], ["SN1: 0.2000 → 0.2160"]]
    # Cycles 5 and 6 measure from 0.2160: 0.2240 is within 0.01 of it.
    assert not (tmp_path / "state.json.pending.json").exists()


# ---- Mutes --------------------------------------------------------------------------


@pytest.mark.parametrize("compare_to", ["last", "alerted"])
def test_mutes_end_or_are_lifted_while_run_runs(tmp_path, fakes, clock, compare_to, capfd):
    service, sink = fakes
    state = str(tmp_path / "state.json")
    refuse = Reply.json('{"ok": false, "error_code": 502, "description": "Bad Gateway"}', 502)

    def mute(*args: str) -> Step:
        return steps(lambda: main([*args, "--state-file", state]))

    def later(seconds: float) -> Step:
        return lambda: clock.__setitem__(0, clock[0] + seconds)

    scenario = [
        # SN4's alert does not arrive and waits as pending ...
        steps(set_burns(service, SN4=0.5), lambda: sink.fail(refuse)),
        # ... until SN4 is muted: its line is dropped.
        steps(mute("mute", "1", "4", "--for", "90s"), set_burns(service, SN1=0.4)),
        steps(later(120), set_burns(service, SN1=0.5)),  # the mute of 1 has ended
        steps(mute("mute", "2"), set_burns(service, SN2=0.6)),
        steps(mute("unmute", "2"), set_burns(service, SN2=0.7)),
    ]
    metrics = tmp_path / "watch.prom"
    argv = ["--compare-to", compare_to, "--metrics-file", str(metrics)]
    assert run_watch(tmp_path, argv, scenario) == 0
    # Alerting resumes from the rate when the mute ended.
    assert alert_lines(sink) == [
        ["SN4: 0.2000 → 0.5000"],
        ["SN1: 0.4000 → 0.5000"],
        ["SN2: 0.6000 → 0.7000"],
    ]
    assert sink.delivered()[-1].text.endswith("SN2: 0.6000 → 0.7000")
    assert not (tmp_path / "state.json.pending.json").exists()
    # SN1 and SN2; measured from the value told, SN4's change is kept back too.
    muted = 3 if compare_to == "alerted" else 2
    assert (
        metric(metrics.read_text(), 'burn_watch_changes_suppressed_total{reason="muted"}') == muted
    )
    assert metric(metrics.read_text(), "burn_watch_muted_subnets") == 0
    assert "muted SN2 until unmuted" in capfd.readouterr().out


# ---- Quiet hours --------------------------------------------------------------------


@pytest.mark.parametrize(
    ("window", "zone", "utc_minutes", "silent"),
    [
        ("22:00-07:00", "UTC", 23 * 60 + 30, True),
        ("22:00-07:00", "UTC", 6 * 60 + 59, True),
        ("22:00-07:00", "UTC", 7 * 60, False),
        ("22:00-07:00", "UTC", 12 * 60, False),
        # 21:30 UTC is 23:30 two hours east of Greenwich.
        ("22:00-07:00", "Etc/GMT-2", 21 * 60 + 30, True),
        ("22:00-07:00", "Etc/GMT+5", 21 * 60 + 30, False),
    ],
)
@pytest.mark.parametrize("dry_run", [False, True], ids=["sent", "dry_run"])
def test_quiet_hours_silence_what_is_sent_inside_the_window(
    tmp_path, fakes, clock, capfd, window, zone, utc_minutes, silent, dry_run
):
    service, sink = fakes
    clock[0] = MIDNIGHT + utc_minutes * 60
    state = tmp_path / "state.json"
    bw.save_burn_state(str(state), {str(i): "0.2" for i in range(10)}, "2026-03-01T00:00:00Z")
    service.set_burn(3, 0.9)
    argv = ["once", "--state-file", str(state), "--quiet-hours", window, "--timezone", zone]
    assert main([*argv, "--dry-run"] if dry_run else argv) == 0
    out = capfd.readouterr().out
    if dry_run:
        assert sink.messages == []
        assert out.endswith("\n---- (silent)\n" if silent else "SN3: 0.2000 → 0.9000\n----\n")
    else:
        assert [m.silent for m in sink.messages] == [silent]


# ---- The rules file, edited while run runs ----------------------------------------


@pytest.mark.parametrize(
    ("bad_edit", "warning"),
    [
        ("subnets = [3\n", ": line "),
        ("subnets = [3]\nthreshold = 'high'\n", ": line 2: threshold must be a number"),
        ("subnets = [3]\n[subnet.x]\nthreshold = 0.1\n", ": line 3: [subnet.x]"),
    ],
    ids=["not_toml", "bad_value", "bad_subnet"],
)
def test_rules_file_is_read_at_every_cycle(tmp_path, fakes, capfd, bad_edit, warning):
    service, sink = fakes
    rules = tmp_path / "rules.toml"
    rules.write_text("subnets = [1]\n")
    scenario = [
        set_burns(service, SN1=0.3, SN3=0.3),
        steps(lambda: rules.write_text("subnets = [3]\n"), set_burns(service, SN1=0.4, SN3=0.4)),
        steps(lambda: rules.write_text(bad_edit), set_burns(service, SN1=0.5, SN3=0.5)),
        set_burns(service, SN1=0.6, SN3=0.6),
        steps(lambda: rules.write_text("subnets = [1]\n"), set_burns(service, SN1=0.7, SN3=0.7)),
    ]
    assert run_watch(tmp_path, ["--rules", str(rules)], scenario) == 0
    assert alert_lines(sink) == [
        ["SN1: 0.2000 → 0.3000"],
        ["SN3: 0.3000 → 0.4000"],
        ["SN3: 0.4000 → 0.5000"],  # the last good rules
        ["SN3: 0.5000 → 0.6000"],
        ["SN1: 0.6000 → 0.7000"],
    ]
    warnings = [line for line in capfd.readouterr().err.splitlines() if "keeping the last" in line]
    assert len(warnings) == 2  # one per cycle until mended
    assert all(f"[burn] rules file {rules}{warning}" in line for line in warnings)


# ---- Bad rules at start ---------------------------------------------------------


@pytest.mark.parametrize(
    ("argv", "rules", "message"),
    [
        (["--subnets", "1,x"], None, 'argument --subnets: "x" in "1,x" is not a subnet id'),
        (["--ignore-subnets", "9-3"], None, "argument --ignore-subnets: the range"),
        (["--subnet-threshold", "7"], None, "argument --subnet-threshold: must be ID=RATE"),
        (["--subnet-threshold", "7=-1"], None, "argument --subnet-threshold: must be a number"),
        (["--compare-to", "first"], None, "argument --compare-to: must be"),
        (["--quiet-hours", "22-07"], None, "argument --quiet-hours: "),
        (["--timezone", "Mars/Base"], None, "argument --timezone: 'Mars/Base' is not a known"),
        (["--told-file", "{tmp}/state.json"], None, "told values file {tmp}/state.json is the"),
        ([], "threshold = 0.1\nsubnets = [1,\n", "rules.toml: line "),
        ([], "threshold = 0.1\nwatch = [1]\n", "rules.toml: line 2: unknown key 'watch'"),
        ([], "quiet_hours = '25:00-07:00'\n", "rules.toml: line 1: quiet_hours "),
        ([], "[subnet.7]\nthreshold = -2\n", "rules.toml: line 2: [subnet.7] threshold must be"),
    ],
)
def test_bad_rules_exit_2_naming_them(tmp_path, fakes, capfd, argv, rules, message):
    service, sink = fakes
    if rules is not None:
        (tmp_path / "rules.toml").write_text(rules)
        argv = [*argv, "--rules", str(tmp_path / "rules.toml")]
    argv = [arg.replace("{tmp}", str(tmp_path)) for arg in argv]
    assert main(["once", "--state-file", str(tmp_path / "state.json"), *argv]) == 2
    err = capfd.readouterr().err
    assert err.startswith("burn-watch: error: ") and err.count("\n") == 1
    assert message.replace("{tmp}", str(tmp_path)) in err
    assert service.requests == [] and sink.messages == []


def test_check_shows_the_rules_in_effect(tmp_path, fakes, monkeypatch, capfd):
    from corvane_burn_watch.cli.commands import check

    monkeypatch.setattr(check, "_now", lambda: MIDNIGHT + 23 * 3600)
    state = str(tmp_path / "state.json")
    rules = tmp_path / "rules.toml"
    rules.write_text(
        'subnets = [1, 7, "64-66"]\ncompare_to = "alerted"\nquiet_hours = "22:00-07:00"\n'
        'timezone = "UTC"\n[subnet.7]\nthreshold = 0.05\n'
    )
    assert main(["mute", "7", "--state-file", state]) == 0
    main(["check", "--state-file", state, "--rules", str(rules)])
    assert capfd.readouterr().out.splitlines()[-6:] == [
        f"rules file {rules}: ok",
        "watched: 1,7,64-66 (5 subnets)",
        "threshold: 0.01; own thresholds: SN7 0.05",
        "changes measured from: the value last told to the chat",
        "quiet hours: 22:00-07:00 UTC; quiet now: yes",
        "muted: SN7 until unmuted",
    ]

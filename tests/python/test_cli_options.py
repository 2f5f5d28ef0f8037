"""The ``burn-watch`` command's options and settings, called in-process.

A bad option or setting must end with one line on standard error and exit
code 2 before either service sees a request.
"""

from __future__ import annotations

import json
import os
import stat
import threading
import time
from pathlib import Path

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.cli import main
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.http_fake import Reply
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

API_KEY = "cli-key"
TOKEN = "5150:cli-token"
CHAT = "-100999"


@pytest.fixture
def fakes(tmp_path, monkeypatch, cli_environment):
    """Both services, and an environment that configures everything."""
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    monkeypatch.setenv("XDG_STATE_HOME", str(tmp_path / "xdg"))
    with (
        FakeDataService(make_rows(3, burn=0.2), api_key=API_KEY) as service,
        TelegramSink(token=TOKEN) as sink,
    ):
        cli_environment(service, sink, key=API_KEY, token=TOKEN, chat=CHAT)
        yield service, sink


def _setting(name, value):
    return lambda tmp_path, monkeypatch: monkeypatch.setenv(name, value)


def _unset(name):
    return lambda tmp_path, monkeypatch: monkeypatch.delenv(name)


def _secret_file(name, content):
    def apply(tmp_path, monkeypatch):
        path = tmp_path / name.lower()
        path.write_text(content)
        monkeypatch.setenv(name + "_FILE", str(path))

    return apply


def _file_instead(name, path):
    def apply(tmp_path, monkeypatch):
        monkeypatch.delenv(name)
        monkeypatch.setenv(name + "_FILE", path)

    return apply


def _file_instead_with(name, content):
    def apply(tmp_path, monkeypatch):
        monkeypatch.delenv(name)
        _secret_file(name, content)(tmp_path, monkeypatch)

    return apply


def _nothing(tmp_path, monkeypatch):
    pass


@pytest.mark.parametrize(
    ("argv", "setup", "message"),
    [
        (["--threshold", "abc"], _nothing, "argument --threshold: not a number: 'abc'"),
        (["once", "--threshold", "-0.5"], _nothing, "argument --threshold: must be a number >= 0"),
        (["once", "--threshold", "nan"], _nothing, "argument --threshold: must be a number >= 0"),
        (["run", "--interval-minutes", "0"], _nothing, "argument --interval-minutes: must be"),
        (["run", "--interval-minutes", "inf"], _nothing, "argument --interval-minutes: must be"),
        (["run", "--pause-file", ""], _nothing, "argument --pause-file: must not be empty"),
        (["once", "--interval-minutes", "3"], _nothing, "unrecognized arguments"),
        (["once", "--no-startup-table"], _nothing, "unrecognized arguments"),
        (["watch"], _nothing, "unrecognized arguments: watch"),
        (["once", "--state-file", "{tmp}"], _nothing, "is a directory"),
        (["once", "--state-file", "{tmp}/missing/state.json"], _nothing, "does not exist"),
        (["once"], _unset("ORBISCA_API_KEY"), "no data service key"),
        (["once"], _setting("ORBISCA_API_KEY", "   "), "no data service key"),
        (["snapshot"], _unset("BURN_TELEGRAM_TOKEN"), "no Telegram bot token"),
        (["run"], _unset("BURN_TELEGRAM_CHAT_ID"), "no Telegram chat id"),
        (["once"], _secret_file("BURN_TELEGRAM_TOKEN", "x"), "set only one of"),
        (["once"], _file_instead("ORBISCA_API_KEY", "/nonexistent/key"), "cannot read"),
        (["once"], _setting("ORBISCA_API_BASE", "api.example"), "must start with http"),
        (["once"], _setting("BURN_TELEGRAM_API_BASE", ""), "must start with http"),
        (["run"], _setting("BURN_TELEGRAM_THREAD_ID", "general"), "number of a forum topic"),
        (["once", "--pending-file", "{tmp}/missing/p.json"], _nothing, "does not exist"),
        (["once", "--request-deadline", "0"], _nothing, "must be a number >= 0.001"),
        (["run", "--request-deadline", "0.0005"], _nothing, "must be a number >= 0.001"),
        (["check", "--request-deadline", "0.0005"], _nothing, "must be a number >= 0.001"),
        (["run"], _setting("BURN_TELEGRAM_THREAD_ID", "\u0661\u0662"), "number of a forum topic"),
        (["check"], _unset("BURN_TELEGRAM_TOKEN"), "no Telegram bot token"),
        (["test-message"], _unset("BURN_TELEGRAM_CHAT_ID"), "no Telegram chat id"),
        (["run", "--metrics-port", "65536"], _nothing, "argument --metrics-port: must be a port"),
        (["once", "--metrics-port", "9100"], _nothing, "unrecognized arguments"),
        (["once", "--metrics-file", "{tmp}/missing/w.prom"], _nothing, "metrics file folder"),
        (["snapshot", "--log-format", "xml"], _nothing, "argument --log-format: invalid choice"),
    ],
    ids=[
        "threshold_text",
        "threshold_negative",
        "threshold_nan",
        "interval_zero",
        "interval_infinite",
        "pause_file_empty",
        "interval_for_once",
        "startup_table_for_once",
        "unknown_command",
        "state_file_directory",
        "state_file_directory_missing",
        "no_api_key",
        "blank_api_key",
        "no_token",
        "no_chat_id",
        "token_twice",
        "api_key_file_missing",
        "api_base_not_a_url",
        "telegram_base_empty",
        "thread_id_not_a_number",
        "pending_file_directory_missing",
        "request_deadline_zero",
        "request_deadline_under_a_millisecond",
        "check_request_deadline_under_a_millisecond",
        "thread_id_other_digits",
        "check_no_token",
        "test_message_no_chat",
        "metrics_port_too_high",
        "metrics_port_for_once",
        "metrics_file_folder_missing",
        "log_format_unknown",
    ],
)
def test_bad_settings_exit_2_with_one_line_before_any_traffic(
    tmp_path, monkeypatch, capfd, fakes, argv, setup, message
):
    service, sink = fakes
    setup(tmp_path, monkeypatch)
    argv = [arg.replace("{tmp}", str(tmp_path)) for arg in argv]
    assert main(argv) == 2
    out, err = capfd.readouterr()
    assert out == ""
    assert err.startswith("burn-watch: error: ") and err.count("\n") == 1
    assert message in err
    assert service.requests == [] and sink.messages == []


IS_ROOT = os.geteuid() == 0
ROOT_ONLY = pytest.mark.skipif(not IS_ROOT, reason="only root makes device nodes")


def _node(name, make):
    return lambda tmp_path, monkeypatch: make(tmp_path / name)


def _link(name, target):
    return lambda tmp_path, monkeypatch: (tmp_path / name).symlink_to(target)


def _link_to_precious(name):
    def apply(tmp_path, monkeypatch):
        (tmp_path / "precious.txt").write_text("keep me")
        (tmp_path / name).symlink_to("precious.txt")

    return apply


def _hard_link_to_state(name):
    def apply(tmp_path, monkeypatch):
        (tmp_path / "state.json").write_text('{"owner_burn_rate": {}}')
        os.link(tmp_path / "state.json", tmp_path / name)

    return apply


STATE = ["--state-file", "{tmp}/state.json"]


def _character_device(path):
    # The null device's numbers, on a node of this test's own.
    os.mknod(path, stat.S_IFCHR | 0o600, os.makedev(1, 3))


def _secret_node(name, make):
    def apply(tmp_path, monkeypatch):
        path = tmp_path / "secret-node"
        make(path)
        monkeypatch.delenv(name)
        monkeypatch.setenv(name + "_FILE", str(path))
        if stat.S_ISFIFO(os.stat(path).st_mode):
            threading.Thread(target=_visit_as_writer, args=(path,), daemon=True).start()

    return apply


def _visit_as_writer(fifo):
    """Opened blocking, a FIFO holds its reader until a writer comes: come by
    now and then, so that such a reader fails the test instead of hanging it."""
    for _ in range(50):
        time.sleep(0.1)
        try:
            os.close(os.open(fifo, os.O_RDWR | os.O_NONBLOCK))
        except OSError:
            return


@pytest.mark.parametrize(
    ("argv", "setup", "message"),
    [
        pytest.param(
            ["once", "--state-file", "{tmp}/dangling/state.json"],
            _link("dangling", "nowhere"),
            "is a symbolic link to nothing",
            id="state_directory_dangling_link",
        ),
        pytest.param(
            ["once", "--state-file", "{tmp}/loop"],
            _link("loop", "loop"),
            "is a loop of symbolic links",
            id="state_file_link_loop",
        ),
        pytest.param(
            ["once", "--state-file", "{tmp}/" + "x" * 300],
            _nothing,
            "has a name that is too long",
            id="state_file_name_too_long",
        ),
        pytest.param(
            ["once", "--state-file", "{tmp}/fifo"],
            _node("fifo", os.mkfifo),
            "is a FIFO, not a regular file",
            id="state_file_fifo",
        ),
        pytest.param(
            ["snapshot", "--state-file", "{tmp}/device"],
            _node("device", _character_device),
            "is a character device, not a regular file",
            id="state_file_device",
            marks=ROOT_ONLY,
        ),
        pytest.param(
            ["once"], _setting("ORBISCA_API_BASE", "http://"), "names no host", id="api_no_host"
        ),
        pytest.param(
            ["once"],
            _setting("BURN_TELEGRAM_API_BASE", "https://:8443/"),
            "names no host",
            id="telegram_no_host",
        ),
        pytest.param(
            ["once"],
            _secret_node("BURN_TELEGRAM_TOKEN", os.mkfifo),
            "BURN_TELEGRAM_TOKEN_FILE ({tmp}/secret-node) is a FIFO, not a regular file",
            id="secret_file_fifo",
        ),
        pytest.param(
            ["once"],
            _secret_node("ORBISCA_API_KEY", _character_device),
            "is a character device, not a regular file",
            id="secret_file_device",
            marks=ROOT_ONLY,
        ),
        pytest.param(
            # The pause file would stop a watch that started all the same.
            ["run", "--interval-minutes", "10081", "--pause-file", "{tmp}/pause"],
            _node("pause", Path.touch),
            "argument --interval-minutes: must be a number > 0 and at most 10080",
            id="interval_over_a_week",
        ),
        pytest.param(
            ["once"],
            _setting("ORBISCA_USER_AGENT", "ua\r\nX-Injected: yes"),
            "ORBISCA_USER_AGENT holds a control character",
            id="user_agent_crlf",
        ),
        pytest.param(
            ["once"],
            _setting("ORBISCA_API_KEY", "cli\x7fkey"),
            "ORBISCA_API_KEY holds a control character",
            id="key_del",
        ),
        pytest.param(
            ["snapshot"],
            _setting("BURN_TELEGRAM_TOKEN", "5150:cli\rtoken"),
            "BURN_TELEGRAM_TOKEN holds a control character",
            id="token_cr",
        ),
        pytest.param(
            ["run"],
            _setting("BURN_TELEGRAM_CHAT_ID", "-100\n999"),
            "BURN_TELEGRAM_CHAT_ID holds a control character",
            id="chat_id_lf",
        ),
        pytest.param(
            ["once", *STATE],
            _link_to_precious("state.json.lock"),
            "state lock file {tmp}/state.json.lock is a symbolic link",
            id="lock_file_link",
        ),
        pytest.param(
            ["once", *STATE],
            _link_to_precious("state.json.pending.json"),
            "pending alerts file {tmp}/state.json.pending.json is a symbolic link",
            id="default_pending_file_link",
        ),
        pytest.param(
            ["snapshot", *STATE, "--metrics-file", "{tmp}/watch.prom"],
            _link_to_precious("watch.prom"),
            "metrics file {tmp}/watch.prom is a symbolic link",
            id="metrics_file_link",
        ),
        pytest.param(
            ["once", *STATE, "--pending-file", "{tmp}/state.json"],
            _nothing,
            "pending alerts file {tmp}/state.json is the state file {tmp}/state.json",
            id="pending_file_is_state_file",
        ),
        pytest.param(
            ["once", *STATE, "--pending-file", "{tmp}/other.json"],
            _hard_link_to_state("other.json"),
            "pending alerts file {tmp}/other.json is the state file {tmp}/state.json",
            id="pending_file_hard_link_to_state_file",
        ),
        pytest.param(
            ["run", *STATE, "--pending-file", "{tmp}/state.json.lock"],
            _nothing,
            "pending alerts file {tmp}/state.json.lock is the state lock file",
            id="pending_file_is_lock_file",
        ),
        pytest.param(
            ["run", *STATE, "--pause-file", "{tmp}/stop", "--metrics-file", "{tmp}/./stop"],
            _nothing,
            "metrics file {tmp}/stop is the pause file {tmp}/stop",
            id="metrics_file_is_pause_file",
        ),
        pytest.param(
            ["once", *STATE, "--pending-file", "{tmp}/pending"],
            _node("pending", os.mkdir),
            "pending alerts file {tmp}/pending is a directory, not a regular file",
            id="pending_file_directory",
        ),
        pytest.param(
            ["run", *STATE, "--pending-file", "{tmp}/pending"],
            _node("pending", os.mkfifo),
            "pending alerts file {tmp}/pending is a FIFO, not a regular file",
            id="pending_file_fifo",
        ),
        pytest.param(
            ["once"],
            _secret_node("BURN_TELEGRAM_TOKEN", os.mkdir),
            "BURN_TELEGRAM_TOKEN_FILE ({tmp}/secret-node) is a directory, not a regular file",
            id="secret_file_directory",
        ),
        pytest.param(
            ["once"],
            _file_instead_with("BURN_TELEGRAM_TOKEN", "5150:cli\ntoken\n"),
            "BURN_TELEGRAM_TOKEN_FILE holds a control character",
            id="token_file_inner_line_feed",
        ),
    ],
)
def test_settings_that_could_only_fail_later_exit_2_before_any_traffic(
    tmp_path, monkeypatch, capfd, fakes, argv, setup, message
):
    service, sink = fakes
    setup(tmp_path, monkeypatch)
    argv = [arg.replace("{tmp}", str(tmp_path)) for arg in argv]
    assert main(argv) == 2
    out, err = capfd.readouterr()
    assert out == ""
    assert err.startswith("burn-watch: error: ") and err.count("\n") == 1
    assert message.replace("{tmp}", str(tmp_path)) in err
    for value in ("X-Injected", "cli\x7fkey", "5150:cli", "-100\n999"):
        assert value not in err  # a setting is named, never shown
    assert service.requests == [] and sink.messages == []


@pytest.mark.parametrize(
    ("argv", "setup", "message"),
    [
        pytest.param(
            ["once"],
            _file_instead_with("ORBISCA_API_KEY", " \n"),
            "the file {tmp}/orbisca_api_key named by ORBISCA_API_KEY_FILE is empty",
            id="empty_key_file",
        ),
        pytest.param(
            ["demo", "--subnets", "abc"],
            _nothing,
            "argument --subnets: not a whole number: 'abc'",
            id="demo_subnets_not_a_number",
        ),
    ],
)
def test_refusals_say_what_is_wrong(tmp_path, monkeypatch, capfd, fakes, argv, setup, message):
    service, sink = fakes
    setup(tmp_path, monkeypatch)
    assert main(argv) == 2
    out, err = capfd.readouterr()
    assert out == "" and err.count("\n") == 1
    assert message.replace("{tmp}", str(tmp_path)) in err
    assert service.requests == [] and sink.messages == []


@pytest.mark.parametrize("padding", ["", "  ", "\n", " \t\r\n"])
def test_secrets_from_files_are_trimmed_and_the_environment_is_left_alone(
    tmp_path, monkeypatch, fakes, padding
):
    service, sink = fakes
    for name, value in [
        ("ORBISCA_API_KEY", API_KEY),
        ("BURN_TELEGRAM_TOKEN", TOKEN),
        ("BURN_TELEGRAM_CHAT_ID", CHAT),
    ]:
        monkeypatch.delenv(name)
        _secret_file(name, f"{padding}{value}{padding}")(tmp_path, monkeypatch)
    state = tmp_path / "state.json"
    environment = dict(os.environ)
    assert main(["snapshot", "--state-file", str(state)]) == 0
    # The settings travel as arguments: a thread of the host reading the
    # environment meanwhile sees it as it was.
    assert dict(os.environ) == environment
    # The fakes refuse any other key or token.
    assert [r.header("Authorization") for r in service.requests] == [API_KEY]
    (message,) = sink.messages
    assert (message.token, message.chat_id) == (TOKEN, CHAT)


@pytest.mark.parametrize(
    ("xdg", "expected"),
    [
        ("{tmp}/xdg", "{tmp}/xdg/corvane-burn-watch/burn_state.json"),
        (None, "{tmp}/home/.local/state/corvane-burn-watch/burn_state.json"),
        ("relative/dir", "{tmp}/home/.local/state/corvane-burn-watch/burn_state.json"),
    ],
    ids=["xdg_state_home", "unset", "relative_ignored"],
)
def test_default_state_file_is_created_on_first_use(
    tmp_path, monkeypatch, capfd, fakes, xdg, expected
):
    monkeypatch.chdir(tmp_path)
    if xdg is None:
        monkeypatch.delenv("XDG_STATE_HOME")
    else:
        monkeypatch.setenv("XDG_STATE_HOME", xdg.replace("{tmp}", str(tmp_path)))
    assert main(["once"]) == 0
    state = Path(expected.replace("{tmp}", str(tmp_path)))
    assert json.loads(state.read_text())["owner_burn_rate"] == {"0": "0.2", "1": "0.2", "2": "0.2"}
    assert capfd.readouterr().err == ""


def test_once_returns_the_cycle_result(tmp_path, capfd, fakes):
    service, sink = fakes
    state = str(tmp_path / "state.json")
    assert main(["once", "--state-file", state, "--threshold", "0.5"]) == 0
    service.set_burn(1, 0.6)  # within 0.5 of 0.2: saved, not reported
    service.set_burn(2, 0.9)
    assert main(["once", "--state-file", state, "--threshold", "0.5"]) == 0
    assert [text.splitlines()[3:] for text in sink.texts()] == [["SN2: 0.2000 \u2192 0.9000"]]
    sink.fail(Reply(502, b"bad gateway"))
    service.set_burn(0, 5)
    assert main(["once", "--state-file", state]) == 1
    assert capfd.readouterr().err == (
        "[burn] alert sent (1 subnet(s))\n"
        "[burn] telegram failed: bad gateway; 1 subnet(s) stay pending for the next cycle\n"
    )
    assert bw.load_burn_state(state) == {"0": "5", "1": "0.6", "2": "0.9"}


def test_dry_run_prints_and_leaves_no_file(tmp_path, capfd, fakes):
    _, sink = fakes
    state = tmp_path / "state.json"
    bw.save_burn_state(str(state), {"0": "0.2", "1": "0.1", "2": "0.2"}, "2026-01-01T00:00:00Z")
    before = state.read_bytes()
    assert main(["once", "--state-file", str(state), "--dry-run"]) == 0
    out, err = capfd.readouterr()
    alert, end = out.split("\n----\n")
    assert alert.splitlines()[3:] == ["SN1: 0.1000 \u2192 0.2000"] and end == ""
    assert err == "[burn] alert sent (1 subnet(s)) [dry run]\n"
    assert sink.messages == []
    assert state.read_bytes() == before
    assert sorted(p.name for p in tmp_path.iterdir() if p.name.startswith("state")) == [
        "state.json"
    ]


def test_library_error_is_one_line_and_exit_1(tmp_path, capfd, fakes):
    service, _ = fakes
    service.fail(Reply.json('{"data": {"netuid": 1}}'))  # rows that are no list
    state = str(tmp_path / "state.json")
    assert main(["once", "--state-file", state]) == 1
    err = capfd.readouterr().err
    assert err.startswith("burn-watch: error: TypeError: ") and err.count("\n") == 1


@pytest.mark.parametrize("argv", [["--version"], ["--help"], ["once", "--help"]])
def test_help_and_version_exit_0(capsys, argv):
    with pytest.raises(SystemExit) as exited:
        main(argv)
    assert exited.value.code == 0
    assert "burn-watch" in capsys.readouterr().out


def test_demo_runs_with_the_options_run_runs_with(tmp_path, monkeypatch, capfd, fakes):
    passed: dict[str, list[dict[str, object]]] = {"run": [], "demo": []}
    command = "run"
    fields = [name for name in dir(bw.WatchOptions) if not name.startswith("_")]
    fields.remove("service")

    def value(field: object) -> object:
        if isinstance(field, bw.WatchRules):  # a record without ==: compared member by member
            members = (f for f in dir(field) if not f.startswith("_"))
            return {f: getattr(field, f) for f in members if not callable(getattr(field, f))}
        return field

    def record(result: int):
        def operation(**kwargs: object) -> int:
            passed[command].append({f: value(getattr(kwargs["options"], f)) for f in fields})
            return result

        return operation

    monkeypatch.setattr(bw, "run_burn_startup_snapshot", record(0))
    monkeypatch.setattr(bw, "run_burn_watch_once", record(0))
    monkeypatch.setattr(bw, "run_burn_poll_loop", record(0))
    state = str(tmp_path / "state.json")
    assert main(["run", "--state-file", state]) == 0  # the demo's threshold is run's default
    command = "demo"
    assert main(["demo", "--cycles", "1", "--seconds-between", "0"]) == 0
    capfd.readouterr()
    snapshot, loop = passed["run"]
    assert snapshot == loop
    assert passed["demo"] == [snapshot, snapshot]
    assert snapshot["redeliver"] and snapshot["skip_bad_rows"] and snapshot["startup_threshold"]

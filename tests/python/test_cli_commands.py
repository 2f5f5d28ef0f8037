"""``burn-watch`` as a user runs it: a separate process, talking to loopback
fakes that this test process serves."""

from __future__ import annotations

import json
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

import corvane_burn_watch
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.http_fake import Reply
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

API_KEY = "proc-key"
TOKEN = "8080:proc-token"
CHAT = "-100555"
STAMP = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ UTC"
# The package under test, wherever it was imported from (a build tree or an install).
# Not resolved: a build tree links the package's Python files to the sources.
PACKAGE_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(corvane_burn_watch.__file__)))


def command_env(extra: dict[str, str]) -> dict[str, str]:
    env = {
        k: v
        for k, v in os.environ.items()
        if not k.startswith(("ORBISCA_", "BURN_TELEGRAM_", "XDG_STATE_HOME"))
    }
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [PACKAGE_ROOT, env.get("PYTHONPATH")]))
    env.update(extra)
    return env


def burn_watch(*args: str, env: dict[str, str], cwd: Path, **kwargs):
    # -m, so that the program runs from the package under test; the working
    # directory keeps a source checkout from shadowing it.
    return subprocess.Popen(
        [sys.executable, "-m", "corvane_burn_watch", *args],
        env=command_env(env),
        cwd=cwd,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        **kwargs,
    )


def finish(process: subprocess.Popen[str], timeout: float = 60) -> tuple[int, str, str]:
    out, err = process.communicate(timeout=timeout)
    return process.returncode, out, err


@pytest.fixture
def fakes(tmp_path):
    with (
        FakeDataService(make_rows(4, burn=0.1), api_key=API_KEY) as service,
        TelegramSink(token=TOKEN) as sink,
    ):
        env = {
            "ORBISCA_API_BASE": service.url,
            "ORBISCA_API_KEY": API_KEY,
            "BURN_TELEGRAM_API_BASE": sink.url,
            "BURN_TELEGRAM_TOKEN": TOKEN,
            "BURN_TELEGRAM_CHAT_ID": CHAT,
            "XDG_STATE_HOME": str(tmp_path / "state-home"),
        }
        yield service, sink, env


def test_once_exit_codes_and_output(tmp_path, fakes):
    service, sink, env = fakes
    state = tmp_path / "state.json"
    once = ("once", "--state-file", str(state))

    assert finish(burn_watch(*once, env=env, cwd=tmp_path)) == (0, "", "")
    assert sink.messages == []

    service.set_burn(2, 0.35)
    code, out, err = finish(burn_watch(*once, env=env, cwd=tmp_path))
    assert (code, out, err) == (0, "", "[burn] alert sent (1 subnet(s))\n")
    (text,) = sink.texts()
    title, stamp, blank, change = text.split("\n")
    assert (title, blank, change) == ("Owner burn rate changed", "", "SN2: 0.1000 \u2192 0.3500")
    assert re.fullmatch(STAMP, stamp)
    assert json.loads(state.read_text())["owner_burn_rate"]["2"] == "0.35"

    service.fail(Reply(500, body=b"down"))
    code, out, err = finish(burn_watch(*once, env=env, cwd=tmp_path))
    assert code == 1 and out == ""
    response = {"status_code": 500, "message": "down", "http_status": 500}
    logged = json.dumps({"error": "no_subnet_rows", "response": response})
    assert err == f"[burn] fetch failed: {logged}\n"


def test_snapshot_exit_code_and_default_state_file(tmp_path, fakes):
    _, sink, env = fakes
    code, out, err = finish(burn_watch("snapshot", env=env, cwd=tmp_path))
    assert (code, out, err) == (0, "", "[burn] startup snapshot sent (4 subnets)\n")
    state = tmp_path / "state-home" / "corvane-burn-watch" / "burn_state.json"
    assert json.loads(state.read_text())["owner_burn_rate"] == {str(n): "0.1" for n in range(4)}
    (text,) = sink.texts()
    assert text.splitlines()[2:] == ["4 subnets", ""] + [f"SN{n}: 0.1000" for n in range(4)]


def test_bad_option_is_one_line_exit_2(tmp_path, fakes):
    service, sink, env = fakes
    code, out, err = finish(burn_watch("--interval-minutes", "soon", env=env, cwd=tmp_path))
    assert code == 2 and out == ""
    assert err.count("\n") == 1 and err.startswith("burn-watch: error: ")
    assert service.requests == [] and sink.messages == []


def wait_for(path: Path, text: str, process: subprocess.Popen[bytes], timeout: float = 30) -> None:
    deadline = time.monotonic() + timeout
    while text not in path.read_text():
        assert process.poll() is None, path.read_text()
        assert time.monotonic() < deadline, f"no {text!r} in {path.read_text()!r}"
        time.sleep(0.05)


@pytest.fixture
def processes():
    """Started programs; any still running after the test is killed."""
    started: list[subprocess.Popen[bytes]] = []
    yield started
    for process in started:
        if process.poll() is None:
            process.kill()
            process.wait()


def start_watch(
    tmp_path: Path, env: dict[str, str], processes: list[subprocess.Popen[bytes]], *args: str
):
    """Starts the watch with its standard error going to a file."""
    log = tmp_path / "stderr.txt"
    with open(log, "w") as stderr:
        process = subprocess.Popen(
            [sys.executable, "-m", "corvane_burn_watch", *args],
            env=command_env(env),
            cwd=tmp_path,
            stdout=subprocess.DEVNULL,
            stderr=stderr,
        )
    processes.append(process)
    return process, log


def start_run(
    tmp_path: Path, env: dict[str, str], processes: list[subprocess.Popen[bytes]], *extra: str
):
    state = ["--state-file", str(tmp_path / "s.json")]
    process, log = start_watch(tmp_path, env, processes, "--interval-minutes", "1", *state, *extra)
    wait_for(log, "[burn] startup snapshot sent (4 subnets)\n", process)
    return process, log


def test_run_posts_snapshot_then_stops_at_the_pause_file(tmp_path, fakes, processes):
    service, sink, env = fakes
    pause = tmp_path / "pause"
    process, log = start_run(tmp_path, env, processes, "--pause-file", str(pause))
    pause.write_text("")
    assert process.wait(timeout=30) == 0
    lines = log.read_text().splitlines()
    assert lines[0].startswith("burn-watch: watching every 1 min")
    assert lines[1:] == ["[burn] startup snapshot sent (4 subnets)", "[burn] monitoring paused"]
    assert len(sink.messages) == 1 and len(service.requests) == 1


def test_run_while_paused_posts_nothing(tmp_path, fakes):
    service, sink, env = fakes
    pause = tmp_path / "pause"
    pause.write_text("")
    code, out, err = finish(burn_watch("run", "--pause-file", str(pause), env=env, cwd=tmp_path))
    assert (code, out) == (0, "")
    assert err == f"burn-watch: pause file {pause} exists: not starting (remove it to resume)\n"
    assert service.requests == [] and sink.messages == []


def test_run_goes_on_to_the_loop_after_a_failed_snapshot(tmp_path, fakes, processes):
    _, sink, env = fakes
    pause = tmp_path / "pause"
    sink.fail(Reply(503, b"try later"))
    process, log = start_watch(tmp_path, env, processes, "run", "--pause-file", str(pause))
    wait_for(log, "starting the watch anyway", process)
    pause.write_text("")
    assert process.wait(timeout=30) == 0
    lines = log.read_text().splitlines()
    assert lines[1] == "[burn] startup telegram failed: try later"
    assert lines[-1] == "[burn] monitoring paused"


@pytest.mark.parametrize(
    ("signum", "code", "said"),
    [
        (signal.SIGTERM, 143, "burn-watch: stopped by SIGTERM"),
        (signal.SIGINT, 130, "burn-watch: interrupted"),
    ],
    ids=["sigterm", "ctrl_c"],
)
def test_signal_stops_the_watch_cleanly(tmp_path, fakes, processes, signum, code, said):
    if signal.getsignal(signum) == signal.SIG_IGN:
        pytest.skip("the signal is ignored in this process, and so in its children")
    _, _, env = fakes
    process, log = start_run(tmp_path, env, processes)
    baseline = (tmp_path / "s.json").read_bytes()
    process.send_signal(signum)
    assert process.wait(timeout=10) == code
    err = log.read_text()
    assert "Traceback" not in err
    assert err.splitlines()[-1] == said
    assert (tmp_path / "s.json").read_bytes() == baseline


def test_demo_shows_snapshot_alerts_and_numbered_parts(tmp_path):
    # No credentials at all: the demo brings its own services.
    code, out, err = finish(
        burn_watch("demo", "--seconds-between", "0", "--subnets", "300", env={}, cwd=tmp_path),
        timeout=120,
    )
    assert code == 0, err
    messages = re.split(r"\n=== chat \S+, message \d+ ===\n", out)[1:]
    headers = [m.splitlines()[0] for m in messages]
    # A snapshot too long for one message, a small alert, a quiet cycle, and
    # an alert of every subnet, also in two parts.
    assert headers == ["(1/2)", "(2/2)", "Owner burn rate changed", "(1/2)", "(2/2)"]
    title, stamp, count = messages[0].splitlines()[1:4]
    assert (title, count) == ("Subnet owner burn rates (startup)", "300 subnets")
    assert re.fullmatch(STAMP, stamp)
    snapshot_rows = [line for m in messages[:2] for line in m.splitlines() if line.startswith("SN")]
    assert [row.split(":")[0] for row in snapshot_rows] == [f"SN{n}" for n in range(300)]
    assert "(no message)" in out
    assert err.splitlines() == [
        "[burn] startup snapshot sent (300 subnets)",
        "[burn] alert sent (3 subnet(s))",
        "[burn] alert sent (300 subnet(s))",
    ]
    assert "the chat received 5 message(s)" in out


def test_help_names_the_commands_and_the_environment(tmp_path):
    code, out, err = finish(burn_watch("--help", env={}, cwd=tmp_path))
    assert code == 0 and err == ""
    for word in ("run", "once", "snapshot", "demo", "BURN_TELEGRAM_TOKEN_FILE", "ORBISCA_API_KEY"):
        assert word in out


def test_ctrl_c_while_starting_never_shows_a_traceback(tmp_path):
    # Ctrl-C at every moment of the start-up, loading the compiled module
    # included. Before Python's own handler is in place the signal simply
    # ends the process, and a Python that cannot finish its own start-up says
    # so (exit 1); from the package's first line on, it is "interrupted".
    package = os.sep + "corvane_burn_watch" + os.sep
    for step in range(30):
        process = burn_watch("demo", "--seconds-between", "30", env={}, cwd=tmp_path)
        time.sleep(step * 0.004)
        process.send_signal(signal.SIGINT)
        code, _, err = finish(process)
        assert package not in err, err
        assert code in (-signal.SIGINT, 1, 130), err
        if code == 130:
            assert err.endswith("burn-watch: interrupted\n"), err

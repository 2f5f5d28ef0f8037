"""Whole processes: what a cron job, a timer or a daemon's memory pays.

`burn-watch` as installed (for the figures that count: from the binary wheel)
against the plain-Python program (pure_python_cli.py) run by the same
interpreter, on the 1,024-subnet loopback fakes over HTTP, each process timed
from its start to its exit by the kernel (wait4: user and system CPU, peak
resident memory). The two are run alternately, and medians are reported:
- `once`: one cycle with an alert of two chunks, from a fresh copy of the
  previous state;
- `run`: resident memory once the startup table is posted (read from
  /proc/<pid>/status, then the process is stopped);
- `--version`: the CPU of starting up and printing the version.
"""

from __future__ import annotations

import os
import shutil
import statistics
import subprocess
import tempfile
import time
from pathlib import Path
from typing import Any, TypedDict

import workload

HERE = Path(__file__).resolve().parent
SIZE = 1_024
REPS = 11
QUICK_REPS = 3
RATIO_LIMIT = 0.6
VERSION_LIMIT = 0.020  # seconds of CPU


class Usage(TypedDict):
    user: float
    system: float
    peak_kib: int


def _timed(command: list[str], env: dict[str, str], cwd: str) -> tuple[Usage, str]:
    """Runs a command to its end; its own CPU and peak memory, and its stderr."""
    with tempfile.TemporaryFile() as errors:
        process = subprocess.Popen(
            command, env=env, cwd=cwd, stdout=subprocess.DEVNULL, stderr=errors
        )
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        errors.seek(0)
        stderr = errors.read().decode()
    if process.returncode != 0:
        raise SystemExit(f"{' '.join(command)} failed with {process.returncode}:\n{stderr}")
    return Usage(user=usage.ru_utime, system=usage.ru_stime, peak_kib=usage.ru_maxrss), stderr


def _resident_after_start(command: list[str], env: dict[str, str], cwd: str, ready: str) -> int:
    """KiB resident once the process wrote a line containing `ready` to stderr."""
    process = subprocess.Popen(
        command, env=env, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True
    )
    assert process.stderr is not None
    try:
        seen = []
        for line in process.stderr:
            seen.append(line)
            if ready in line:
                break
        else:
            raise SystemExit(f"{' '.join(command)} ended before '{ready}':\n{''.join(seen)}")
        time.sleep(0.3)  # let the process settle into its sleep
        status = Path(f"/proc/{process.pid}/status").read_text()
        return next(
            int(line.split()[1]) for line in status.splitlines() if line.startswith("VmRSS:")
        )
    finally:
        process.terminate()
        process.wait(timeout=30)


def run(
    quick: bool, env: dict[str, str], directory: str, burn_watch: str, python: str
) -> dict[str, Any]:
    reps = QUICK_REPS if quick else REPS
    state_seed = Path(directory, f"state-{SIZE}.json")
    state = str(Path(directory, "process-state.json"))
    plain = [python, str(HERE / "pure_python_cli.py")]
    env = dict(env, BURN_TELEGRAM_TOKEN=workload.BOT_TOKEN, BURN_TELEGRAM_CHAT_ID=workload.CHAT_ID)
    env.pop("PYTHONPATH", None)  # each side imports what it installed, nothing else

    samples: dict[str, list[Any]] = {
        k: [] for k in ("lib_once", "py_once", "lib_run", "py_run", "version")
    }
    for _ in range(reps):
        for side, command in (("lib", [burn_watch]), ("py", plain)):
            shutil.copy(state_seed, state)
            usage, stderr = _timed([*command, "once", "--state-file", state], env, str(HERE))
            if "alert sent" not in stderr:
                raise SystemExit(f"{side} once sent no alert:\n{stderr}")
            samples[f"{side}_once"].append(usage)
        for side, command, ready in (
            ("lib", [burn_watch], "watching every"),
            ("py", plain, "[burn] started"),
        ):
            Path(state).unlink(missing_ok=True)
            samples[f"{side}_run"].append(
                _resident_after_start(
                    [*command, "run", "--state-file", state], env, str(HERE), ready
                )
            )
        samples["version"].append(_timed([burn_watch, "--version"], env, str(HERE))[0])
    return {"reps": reps, "burn_watch": burn_watch, **samples}


def _median(usages: list[Usage], key: str) -> float:
    return statistics.median(float(u[key]) for u in usages)  # type: ignore[literal-required]


def print_report(results: dict[str, Any]) -> None:
    print()
    print(
        f"Whole processes: {SIZE:,} subnets over HTTP, medians of {results['reps']} alternating "
        f"runs ({results['burn_watch']})"
    )

    def row(label: str, lib: str, py: str, note: str = "") -> None:
        print(f"  {label:<42}{lib:>14}{py:>16}  {note}")

    row("", "burn-watch", "plain Python")
    lib, py = results["lib_once"], results["py_once"]
    row(
        "once, CPU user / system (ms)",
        f"{_median(lib, 'user') * 1e3:.0f} / {_median(lib, 'system') * 1e3:.0f}",
        f"{_median(py, 'user') * 1e3:.0f} / {_median(py, 'system') * 1e3:.0f}",
    )
    lib_cpu = statistics.median(u["user"] + u["system"] for u in lib)
    py_cpu = statistics.median(u["user"] + u["system"] for u in py)
    ratio = lib_cpu / py_cpu
    verdict = "ok" if ratio <= RATIO_LIMIT else "MISSED"
    row(
        "once, CPU total (ms)",
        f"{lib_cpu * 1e3:.0f}",
        f"{py_cpu * 1e3:.0f}",
        f"ratio {ratio:.2f} (target <= {RATIO_LIMIT}): {verdict}",
    )
    lib_peak, py_peak = _median(lib, "peak_kib") / 1024, _median(py, "peak_kib") / 1024
    row(
        "once, peak memory (MiB)",
        f"{lib_peak:.1f}",
        f"{py_peak:.1f}",
        "lower: ok" if lib_peak < py_peak else "not lower: MISSED",
    )
    lib_run = statistics.median(results["lib_run"]) / 1024
    py_run = statistics.median(results["py_run"]) / 1024
    row(
        "run, resident after the startup table (MiB)",
        f"{lib_run:.1f}",
        f"{py_run:.1f}",
        "lower: ok" if lib_run < py_run else "not lower: MISSED",
    )
    version = results["version"]
    version_cpu = statistics.median(u["user"] + u["system"] for u in version)
    row(
        "--version, CPU user / system (ms)",
        f"{_median(version, 'user') * 1e3:.0f} / {_median(version, 'system') * 1e3:.0f}",
        "-",
        f"total {version_cpu * 1e3:.0f} ms (target < {VERSION_LIMIT * 1e3:.0f}): "
        + ("ok" if version_cpu < VERSION_LIMIT else "MISSED"),
    )


if __name__ == "__main__":
    raise SystemExit("run it as: python bench/run.py --processes [--burn-watch PATH]")

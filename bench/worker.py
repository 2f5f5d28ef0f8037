"""One measurement in a fresh process; prints its numbers as one JSON line.

run.py starts one of these per measurement so that every figure (peak
resident memory above all) belongs to that measurement alone, and so that the
loopback fakes, which live in yet another process, never count as our time.
CPU time is the whole process's user + system time (time.process_time), so
work on any helper thread of the HTTP client would count too.

    worker.py import   lib|py
    worker.py cycle    lib|py|py-shared STATE_SEED REPS STATE_DIR
    worker.py stages   lib|py STATE_SEED REPS STATE_DIR
    worker.py idle     PAUSE_PATH
"""

from __future__ import annotations

import json
import os
import resource
import statistics
import sys
import tempfile
import time
from collections.abc import Callable, Iterable, Mapping
from pathlib import Path
from types import ModuleType
from typing import Any

from workload import BOT_TOKEN, CHAT_ID, THRESHOLD, UPDATED_AT


def _peak_rss_kib() -> int:
    """This process's peak resident set. (getrusage's ru_maxrss would not do: a
    child process starts out with its parent's peak.)"""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def _report(result: dict[str, Any]) -> None:
    sys.stdout.write(json.dumps(result) + "\n")
    sys.stdout.flush()


def _load(impl: str) -> ModuleType:
    """The pipeline under test ("lib", "py", or "py-shared": plain Python with
    one SSLContext for every HTTPS request), its chunk pauses no-ops."""
    if impl == "lib":
        import corvane_burn_watch.burn_watch as lib

        lib._set_sleep(lambda seconds: None)
        return lib
    import pure_python

    pure_python.sleep = lambda seconds: None
    if impl == "py-shared":
        pure_python.share_tls_context()
    return pure_python


def _timed(fn: Callable[[], Any]) -> tuple[float, float, Any]:
    wall, cpu = time.perf_counter(), time.process_time()
    value = fn()
    return time.process_time() - cpu, time.perf_counter() - wall, value


def measure_import(impl: str) -> None:
    wall, cpu = time.perf_counter(), time.process_time()
    if impl == "lib":
        import corvane_burn_watch.burn_watch  # noqa: F401
    else:
        import pure_python  # noqa: F401
    _report({"cpu": time.process_time() - cpu, "wall": time.perf_counter() - wall})


def measure_cycle(impl: str, seed_path: str, reps: int, state_dir: str) -> None:
    pipeline = _load(impl)
    seed = Path(seed_path).read_bytes()
    with tempfile.TemporaryDirectory(prefix="burn-bench-", dir=state_dir) as directory:
        state = os.path.join(directory, "burn_state.json")
        baseline = _peak_rss_kib()
        cpu_times, wall_times = [], []
        kernel_time = user_time = 0.0
        for rep in range(reps + 1):  # the first one warms up and is not counted
            Path(state).write_bytes(seed)  # the state the previous cycle left
            before = resource.getrusage(resource.RUSAGE_SELF)
            cpu, wall, code = _timed(
                lambda: pipeline.run_burn_watch_once(
                    state_path=state,
                    threshold=THRESHOLD,
                    burn_token=BOT_TOKEN,
                    burn_chat_id=CHAT_ID,
                )
            )
            if code != 0:
                raise SystemExit(f"watch cycle returned {code}")
            after = resource.getrusage(resource.RUSAGE_SELF)
            if rep:
                cpu_times.append(cpu)
                wall_times.append(wall)
                kernel_time += after.ru_stime - before.ru_stime
                user_time += after.ru_utime - before.ru_utime
        _report(
            {
                "cpu": statistics.median(cpu_times),
                # The kernel's share: sockets, the loopback TCP stack, the file
                # writes and syncs; the rest is user space, the code's own. Linux
                # splits CPU time between user and system by sampling, so only a
                # mean over many cycles is meaningful.
                "kernel_mean": kernel_time / reps,
                "user_mean": user_time / reps,
                "cpu_min": min(cpu_times),
                "wall": statistics.median(wall_times),
                "baseline_rss_kib": baseline,
                "peak_rss_kib": _peak_rss_kib(),
            }
        )


def measure_stages(impl: str, seed_path: str, reps: int, state_dir: str) -> None:
    pipeline = _load(impl)
    seed = Path(seed_path).read_bytes()
    if impl == "lib":

        def build_map(rows: Iterable[Mapping[str, object]]) -> dict[str, str]:
            return {
                (
                    n if isinstance(n := row["netuid"], str) else str(n)
                ): pipeline.owner_burn_from_row(row)
                for row in rows
                if "netuid" in row
            }
    else:
        build_map = pipeline.burn_map

    results: dict[str, float] = {}
    values: dict[str, Any] = {}

    def stage(name: str, fn: Callable[[], Any]) -> None:
        times = []
        for rep in range(reps + 1):
            cpu, _, values[name] = _timed(fn)
            if rep:
                times.append(cpu)
        results[name] = statistics.median(times)

    with tempfile.TemporaryDirectory(prefix="burn-bench-", dir=state_dir) as directory:
        state = os.path.join(directory, "burn_state.json")
        Path(state).write_bytes(seed)
        auth = pipeline.orbisca_auth()
        stage("fetch", lambda: pipeline.fetch_all_subnets_latest(auth))
        stage("map", lambda: build_map(values["fetch"]))
        stage("load", lambda: pipeline.load_burn_state(state))
        stage("diff", lambda: pipeline.diff_burns(values["load"], values["map"], THRESHOLD))
        stage("save", lambda: pipeline.save_burn_state(state, values["map"], UPDATED_AT))
        stage("alert", lambda: pipeline.format_burn_alert(values["diff"], UPDATED_AT))
        stage("chunk", lambda: pipeline._chunk_text(values["alert"]))
        stage(
            "send",
            lambda: pipeline.send_burn_telegram_messages(values["alert"], BOT_TOKEN, CHAT_ID),
        )
        # The fixed price of one request: a fresh connection and a tiny answer.
        stage("request", lambda: pipeline.http_get_json("/nothing-here", {}, auth))
    if values["send"] != (True, ""):
        raise SystemExit(f"sending failed: {values['send']!r}")
    results["changes"] = len(values["diff"])
    results["chunks"] = len(values["chunk"])
    _report(results)


def measure_idle(pause_path: str) -> None:
    """The poll loop with real sleeping until run.py creates the pause file."""
    import corvane_burn_watch.burn_watch as bw

    with tempfile.TemporaryDirectory(prefix="burn-bench-") as directory:
        print("ready", flush=True)
        before = resource.getrusage(resource.RUSAGE_SELF)
        cpu, wall, _ = _timed(
            lambda: bw.run_burn_poll_loop(
                state_path=os.path.join(directory, "burn_state.json"),
                threshold=THRESHOLD,
                interval_minutes=1,
                burn_token=BOT_TOKEN,
                burn_chat_id=CHAT_ID,
                pause_path=pause_path,
            )
        )
        after = resource.getrusage(resource.RUSAGE_SELF)
    wakeups = after.ru_nvcsw - before.ru_nvcsw

    def wake_up_as_often() -> None:
        for _ in range(wakeups):
            time.sleep(wall / max(wakeups, 1))

    # The cost of merely waking up that often, whoever sleeps.
    bare_cpu, _, _ = _timed(wake_up_as_often)
    _report({"cpu": cpu, "wall": wall, "wakeups": wakeups, "bare_cpu": bare_cpu})


def main(argv: list[str]) -> None:
    mode = argv[0]
    if mode == "import":
        measure_import(argv[1])
    elif mode == "cycle":
        measure_cycle(argv[1], argv[2], int(argv[3]), argv[4])
    elif mode == "stages":
        measure_stages(argv[1], argv[2], int(argv[3]), argv[4])
    elif mode == "idle":
        measure_idle(argv[1])
    else:
        raise SystemExit(f"unknown mode {mode!r}")


if __name__ == "__main__":
    main(sys.argv[1:])

"""What the Prometheus metrics cost a watch cycle: the 1,024-subnet cycle with
metrics off, on (what --metrics-port adds to a cycle: the scrapes themselves
happen between cycles, on the server's thread, and one is measured apart) and
on with --metrics-file (the text written after every cycle), user and system
CPU apart.

run.py calls run() while its fakes are up, then print_report(). Each
measurement runs in a fresh process, this file as a program, and the three
are taken in turn several times, so that a drift of the machine falls on all
of them alike:

    metrics_cost.py cycle off|on|file STATE_SEED REPS STATE_DIR
"""

from __future__ import annotations

import contextlib
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
SIZE = 1_024
MODES = ("off", "on", "file")
REPS = 60  # cycles per measurement; --quick takes a quarter
ROUNDS = 5  # measurements per mode, taken in turn
LIMIT = 0.05  # metrics may add at most 5 % to a cycle's CPU


def measure_cycle(mode: str, seed_path: str, reps: int, state_dir: str) -> None:
    import corvane_burn_watch.burn_watch as bw
    from workload import BOT_TOKEN, CHAT_ID, THRESHOLD

    bw._set_sleep(lambda seconds: None)  # the pauses between chunks
    seed = Path(seed_path).read_bytes()
    with contextlib.ExitStack() as stack:
        directory = stack.enter_context(tempfile.TemporaryDirectory(dir=state_dir))
        if mode != "off":
            from corvane_burn_watch._metrics import MetricsFile, WatchMetrics
            from corvane_burn_watch._reports import observing_cycles

            metrics = WatchMetrics()
            consumers = [metrics.observe]
            if mode == "file":
                path = Path(directory, "burn_watch.prom")
                consumers.append(MetricsFile(metrics, path).observe)
            stack.enter_context(observing_cycles(consumers))
        state = os.path.join(directory, "burn_state.json")
        cpu_times, user, system = [], 0.0, 0.0
        for rep in range(reps + 1):  # the first one warms up
            Path(state).write_bytes(seed)
            before = resource.getrusage(resource.RUSAGE_SELF)
            cpu = time.process_time()
            code = bw.run_burn_watch_once(
                state_path=state, threshold=THRESHOLD, burn_token=BOT_TOKEN, burn_chat_id=CHAT_ID
            )
            cpu = time.process_time() - cpu
            after = resource.getrusage(resource.RUSAGE_SELF)
            if code != 0:
                raise SystemExit(f"watch cycle returned {code}")
            if rep:
                cpu_times.append(cpu)
                user += after.ru_utime - before.ru_utime
                system += after.ru_stime - before.ru_stime
    result = {"cpu": statistics.median(cpu_times), "user": user / reps, "system": system / reps}
    if mode != "off":
        # What one scrape costs the server's thread, whenever Prometheus comes.
        scrapes = []
        for _ in range(reps):
            cpu = time.process_time()
            metrics.text()
            scrapes.append(time.process_time() - cpu)
        result["scrape"] = statistics.median(scrapes)
    sys.stdout.write(json.dumps(result) + "\n")


def run(quick: bool, env: dict[str, str], seed: str, state_dir: str) -> dict[str, Any]:
    """Measures the cycle in each mode against the fakes ``env`` points at."""
    reps = max(2, REPS // 4) if quick else REPS
    rounds = 2 if quick else ROUNDS
    runs: dict[str, list[dict[str, float]]] = {mode: [] for mode in MODES}
    for round_ in range(rounds):
        for mode in MODES:
            print(
                f"  metrics {mode:4} watch cycle, {SIZE:,} subnets, round {round_ + 1} of "
                f"{rounds} ({reps} cycles)...",
                file=sys.stderr,
                flush=True,
            )
            done = subprocess.run(
                [
                    sys.executable,
                    str(HERE / "metrics_cost.py"),
                    "cycle",
                    mode,
                    seed,
                    str(reps),
                    state_dir,
                ],
                env=env,
                capture_output=True,
                text=True,
                cwd=str(HERE),
            )
            if done.returncode != 0:
                sys.stderr.write(done.stderr)
                raise SystemExit(f"metrics_cost.py cycle {mode} failed with {done.returncode}")
            runs[mode].append(json.loads(done.stdout.strip().splitlines()[-1]))
    return {
        mode: {key: statistics.median(r[key] for r in results) for key in results[0]}
        for mode, results in runs.items()
    }


def print_report(results: dict[str, Any]) -> None:
    off = results["off"]["cpu"]
    print(f"Prometheus metrics, {SIZE:,}-subnet watch cycle (medians of alternating runs), CPU ms:")
    labels = {
        "off": "metrics off",
        "on": "metrics on (--metrics-port)",
        "file": "metrics on, file written each cycle",
    }
    for mode in MODES:
        figures = results[mode]
        change = (figures["cpu"] / off - 1) * 100
        print(
            f"  {labels[mode]:38} {figures['cpu'] * 1e3:8.3f}  (user {figures['user'] * 1e3:.3f}, "
            f"system {figures['system'] * 1e3:.3f})"
            + ("" if mode == "off" else f"  {change:+.1f} %")
        )
    print(
        f"  one scrape of /metrics ({SIZE:,} subnet gauges), on the server's thread: "
        f"{results['on']['scrape'] * 1e3:.3f} ms"
    )
    on = results["on"]["cpu"] / off - 1
    verdict = "met " if on <= LIMIT else "MISS"
    print(
        f"[{verdict}] metrics on at most {LIMIT * 100:.0f} % dearer per {SIZE:,}-subnet cycle: "
        f"{on * 100:+.1f} %"
    )


if __name__ == "__main__":
    if sys.argv[1:2] != ["cycle"]:
        raise SystemExit(__doc__)
    measure_cycle(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5])

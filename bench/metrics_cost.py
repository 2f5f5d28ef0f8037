"""What the Prometheus metrics cost a watch cycle: the 1,024-subnet cycle with
metrics off, on (what --metrics-port adds to a cycle: the report handed to
the metrics; the scrapes themselves happen between cycles, on the server's
thread, and one is measured apart) and on with --metrics-file (the text
written after every cycle), user and system CPU apart.

run.py calls run() while its fakes are up, then print_report(). Each
measurement is a fresh process, this file as a program, that takes the three
modes in turn, a block of cycles each, round after round: a difference of
a few percent is smaller than the one between two processes of the same
program (where their memory happens to lie), so the modes are compared
within one process.

    metrics_cost.py cycles STATE_SEED REPS ROUNDS STATE_DIR
"""

from __future__ import annotations

import json
import os
import resource
import statistics
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path
from typing import Any

from measurement import measure

HERE = Path(__file__).resolve().parent
SIZE = 1_024
MODES = ("off", "on", "file")
REPS = 40  # cycles per block; --quick takes a quarter
ROUNDS = 5  # blocks per mode in one process, taken in turn
PROCESSES = 3  # measurements; the median is reported
LIMIT = 0.05  # metrics may add at most 5 % to a cycle's CPU


def measure_cycles(seed_path: str, reps: int, rounds: int, state_dir: str) -> None:
    import corvane_burn_watch.burn_watch as bw
    from corvane_burn_watch.burn_watch import CycleReport
    from workload import BOT_TOKEN, CHAT_ID, THRESHOLD

    from corvane_burn_watch.cli.metrics import MetricsFile, WatchMetrics
    from corvane_burn_watch.cli.reports import fan_out

    bw._set_sleep(lambda seconds: None)  # the pauses between chunks
    seed = Path(seed_path).read_bytes()
    with tempfile.TemporaryDirectory(dir=state_dir) as directory:
        metrics = WatchMetrics()
        written = MetricsFile(metrics, Path(directory, "burn_watch.prom"))
        observers: dict[str, Callable[[CycleReport], None] | None] = {
            "off": None,
            "on": fan_out([metrics.observe]),
            "file": fan_out([metrics.observe, written.observe]),
        }
        state = os.path.join(directory, "burn_state.json")
        cpu: dict[str, list[float]] = {mode: [] for mode in MODES}
        user = dict.fromkeys(MODES, 0.0)
        system = dict.fromkeys(MODES, 0.0)
        for _ in range(rounds):
            for mode in MODES:
                bw._set_cycle_observer(observers[mode])
                for rep in range(reps + 1):  # the first one warms up
                    Path(state).write_bytes(seed)
                    before = resource.getrusage(resource.RUSAGE_SELF)
                    started = time.process_time()
                    code = bw.run_burn_watch_once(
                        state_path=state,
                        threshold=THRESHOLD,
                        burn_token=BOT_TOKEN,
                        burn_chat_id=CHAT_ID,
                    )
                    spent = time.process_time() - started
                    after = resource.getrusage(resource.RUSAGE_SELF)
                    if code != 0:
                        raise SystemExit(f"watch cycle returned {code}")
                    if rep:
                        cpu[mode].append(spent)
                        user[mode] += after.ru_utime - before.ru_utime
                        system[mode] += after.ru_stime - before.ru_stime
        bw._set_cycle_observer(None)
        # What one scrape costs the server's thread, whenever Prometheus comes.
        scrapes = []
        for _ in range(reps):
            started = time.process_time()
            metrics.text()
            scrapes.append(time.process_time() - started)
    cycles = reps * rounds
    result: dict[str, Any] = {
        mode: {
            "cpu": cpu[mode],
            "user": user[mode] / cycles,
            "system": system[mode] / cycles,
        }
        for mode in MODES
    }
    result["scrape"] = statistics.median(scrapes)
    sys.stdout.write(json.dumps(result) + "\n")


def run(quick: bool, env: dict[str, str], seed: str, state_dir: str) -> dict[str, Any]:
    """Measures the cycle in each mode against the fakes ``env`` points at."""
    reps = max(2, REPS // 4) if quick else REPS
    processes = 1 if quick else PROCESSES
    runs = []
    for number in range(processes):
        print(
            f"  metrics off/on/file, {SIZE:,}-subnet watch cycles, process {number + 1} of "
            f"{processes} ({ROUNDS} x {reps} cycles each)...",
            file=sys.stderr,
            flush=True,
        )
        command = ["cycles", seed, str(reps), str(ROUNDS), state_dir]
        runs.append(measure("metrics_cost.py", command, env)[0])
    # Every process gives each mode as many cycles: the medians of all of them
    # weigh the processes alike.
    result: dict[str, Any] = {
        mode: {
            "cpu": statistics.median(t for r in runs for t in r[mode]["cpu"]),
            "user": statistics.mean(r[mode]["user"] for r in runs),
            "system": statistics.mean(r[mode]["system"] for r in runs),
        }
        for mode in MODES
    }
    result["scrape"] = statistics.median(r["scrape"] for r in runs)
    return result


def print_report(results: dict[str, Any]) -> None:
    off = results["off"]["cpu"]
    print(
        f"Prometheus metrics, {SIZE:,}-subnet watch cycle (modes taken in turn; median CPU, "
        "user and system means), ms:"
    )
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
        f"{results['scrape'] * 1e3:.3f} ms"
    )
    on = results["on"]["cpu"] / off - 1
    verdict = "met " if on <= LIMIT else "MISS"
    print(
        f"[{verdict}] metrics on at most {LIMIT * 100:.0f} % dearer per {SIZE:,}-subnet cycle: "
        f"{on * 100:+.1f} %"
    )


if __name__ == "__main__":
    if sys.argv[1:2] != ["cycles"]:
        raise SystemExit(__doc__)
    measure_cycles(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5])

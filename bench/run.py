"""Benchmark of one watch cycle: the compiled library against plain Python.

    python bench/run.py [--quick] [--state-dir DIR]
    python bench/run.py --processes [--quick] [--burn-watch PATH]

Prints, for 1,024 and for 100,000 subnets, the CPU time of one full watch
cycle against loopback fakes (fetch, parse, burn map, load, diff, save, alert
text, chunking, send), with the state file on disk and, where the machine has
one, on a tmpfs; the same split by operation; the peak resident memory; the
module's import time; the same figures for the same cycle written in plain
Python, and their ratio; then the CPU a sleeping poll loop uses, and a verdict
on each target. Last, the 1,024-subnet cycle over HTTP and over HTTPS with a
real CA bundle, user and system CPU apart (https_mode.py), and with Prometheus
metrics off and on (metrics_cost.py). The fakes run in a process of their own
and every measurement in a fresh process, so the CPU times are the pipeline's
own. The 0.4 s pauses between chunks are skipped in both pipelines; the poll
loop sleeps for real.

With --processes, whole processes instead (process_mode.py): `burn-watch
once`, `run` and `--version` as installed (the binary wheel's, for the figures
that count) against the plain-Python program run by the same interpreter.

Needs corvane_burn_watch importable: installed (scripts/setup) or a developer
build on PYTHONPATH (PYTHONPATH=build/bench/python).
"""

from __future__ import annotations

import argparse
import json
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from collections.abc import Iterable
from pathlib import Path
from typing import Any, TypedDict

from measurement import measure

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import https_mode
import metrics_cost
import process_mode
import workload

SIZES = (1_024, 100_000)
# Repetitions per measurement: (library, plain Python), median reported.
CYCLE_REPS = {1_024: (60, 20), 100_000: (7, 3)}
STAGE_REPS = {1_024: (20, 10), 100_000: (3, 2)}
IMPORT_REPS = 7
IDLE_SECONDS = 5.0

# Targets.
SMALL_CYCLE_LIMIT = 0.002  # seconds of CPU for a 1,024-subnet cycle
MIN_SPEEDUP = 10.0
IDLE_LIMIT = 0.001  # share of one core: a tenth of a percent


class FakeUrls(TypedDict):
    """The addresses fakes.py announces: a data service per size, one chat."""

    data: dict[str, str]
    telegram: str


def _worker(args: list[str], env: dict[str, str]) -> dict[str, Any]:
    figures, stderr = measure("worker.py", args, env)
    return figures | {"stderr": stderr}


def _check_alerts(stderr: str, expected_changes: int, cycles: int) -> None:
    line = f"[burn] alert sent ({expected_changes} subnet(s))"
    seen = stderr.count(line)
    if seen != cycles:
        sys.stderr.write(stderr[-2000:])
        raise SystemExit(f"expected {cycles} lines {line!r}, saw {seen}")


def _measure_idle(env: dict[str, str], directory: str) -> dict[str, Any]:
    pause = os.path.join(directory, "pause")
    process = subprocess.Popen(
        [sys.executable, str(HERE / "worker.py"), "idle", pause],
        env=env,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        cwd=str(HERE),
    )
    assert process.stdout is not None  # a pipe, as asked
    try:
        if process.stdout.readline().strip() != "ready":
            raise SystemExit("idle worker did not start")
        time.sleep(IDLE_SECONDS)
        Path(pause).touch()
        out, err = process.communicate(timeout=30)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    if process.returncode != 0 or "[burn] monitoring paused" not in err:
        sys.stderr.write(err)
        raise SystemExit("the poll loop did not stop at the pause file")
    result: dict[str, Any] = json.loads(out.strip().splitlines()[-1])
    return result


def _memory_state_dir() -> str | None:
    """A tmpfs directory for the state file, when the machine has one."""
    try:
        with open("/proc/mounts") as mounts:
            for line in mounts:
                fields = line.split()
                if fields[1:3] == ["/dev/shm", "tmpfs"] and os.access("/dev/shm", os.W_OK):
                    return "/dev/shm"
    except OSError:
        pass
    return None


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--quick", action="store_true", help="fewer repetitions (a smoke run, less steady numbers)"
    )
    parser.add_argument(
        "--state-dir",
        default=tempfile.gettempdir(),
        help="directory on disk for the state file (default: %(default)s)",
    )
    parser.add_argument(
        "--processes", action="store_true", help="whole processes of burn-watch and plain Python"
    )
    parser.add_argument(
        "--burn-watch",
        default=shutil.which("burn-watch") or str(Path(sys.executable).with_name("burn-watch")),
        help="the burn-watch to measure with --processes (default: %(default)s)",
    )
    options = parser.parse_args()
    sizes = (process_mode.SIZE,) if options.processes else SIZES
    state_dirs = {"disk": options.state_dir}
    if memory := _memory_state_dir():
        state_dirs["memory"] = memory

    with tempfile.TemporaryDirectory(prefix="burn-bench-") as directory:
        expected = {}
        data_files = []
        for size in sizes:
            rows, previous, changes = workload.build(size)
            Path(directory, f"rows-{size}.json").write_bytes(workload.data_service_body(rows))
            Path(directory, f"state-{size}.json").write_text(workload.state_file_text(previous))
            expected[size] = changes
            data_files.append(f"{size}={Path(directory, f'rows-{size}.json')}")
            del rows, previous

        env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1", no_proxy="*", NO_PROXY="*")
        # The helpers run from bench/: a relative PYTHONPATH must still find the module.
        if env.get("PYTHONPATH"):
            env["PYTHONPATH"] = os.pathsep.join(
                os.path.abspath(p) for p in env["PYTHONPATH"].split(os.pathsep) if p
            )
        fakes = subprocess.Popen(
            [sys.executable, str(HERE / "fakes.py"), *data_files],
            env=env,
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            text=True,
            cwd=str(HERE),
        )
        assert fakes.stdin is not None and fakes.stdout is not None  # pipes, as asked
        try:
            urls: FakeUrls = json.loads(fakes.stdout.readline())
            env.update(ORBISCA_API_KEY=workload.API_KEY, BURN_TELEGRAM_API_BASE=urls["telegram"])
            if options.processes:
                # The plain program runs on the interpreter burn-watch is installed for.
                burn_watch = os.path.abspath(options.burn_watch)
                python = str(Path(burn_watch).with_name("python"))
                process_results = process_mode.run(
                    options.quick,
                    dict(env, ORBISCA_API_BASE=urls["data"][str(process_mode.SIZE)]),
                    directory,
                    burn_watch,
                    python if os.path.exists(python) else sys.executable,
                )
                process_mode.print_report(process_results)
                return
            results = run_all(options, env, directory, urls, expected, state_dirs)
            https_results = https_mode.run(
                options.quick, env, directory, options.state_dir, urls, expected[https_mode.SIZE]
            )
            metrics_results = metrics_cost.run(
                options.quick,
                dict(env, ORBISCA_API_BASE=urls["data"][str(metrics_cost.SIZE)]),
                str(Path(directory, f"state-{metrics_cost.SIZE}.json")),
                state_dirs["disk"],
            )
        finally:
            fakes.stdin.close()
            fakes.wait(timeout=30)
    print_report(results, expected, state_dirs)
    https_mode.print_report(https_results)
    metrics_cost.print_report(metrics_results)


def _progress(message: str) -> None:
    print(f"  {message}", file=sys.stderr, flush=True)


def run_all(
    options: argparse.Namespace,
    env: dict[str, str],
    directory: str,
    urls: FakeUrls,
    expected: dict[int, int],
    state_dirs: dict[str, str],
) -> dict[str, Any]:
    results: dict[str, Any] = {"import": {}, "cycle": {}, "stages": {}}
    import_reps = 3 if options.quick else IMPORT_REPS
    _progress("measuring import times...")
    for impl in ("lib", "py"):
        runs = [_worker(["import", impl], env) for _ in range(import_reps)]
        results["import"][impl] = {
            key: statistics.median(run[key] for run in runs) for key in ("cpu", "wall")
        }

    for size in SIZES:
        size_env = dict(env, ORBISCA_API_BASE=urls["data"][str(size)])
        seed = str(Path(directory, f"state-{size}.json"))
        for index, impl in enumerate(("lib", "py")):
            reps = CYCLE_REPS[size][index]
            reps = max(2, reps // 4) if options.quick else reps
            for where, state_dir in state_dirs.items():
                _progress(
                    f"{impl:3} watch cycle, {size:,} subnets, {_place(where)} ({reps} cycles)..."
                )
                result = _worker(["cycle", impl, seed, str(reps), state_dir], size_env)
                _check_alerts(result.pop("stderr"), expected[size], reps + 1)
                results["cycle"][(impl, size, where)] = result

            reps = STAGE_REPS[size][index]
            reps = max(1, reps // 4) if options.quick else reps
            _progress(f"{impl:3} operations one by one, {size:,} subnets...")
            result = _worker(["stages", impl, seed, str(reps), state_dirs["disk"]], size_env)
            result.pop("stderr")
            results["stages"][(impl, size)] = result

    _progress(f"a sleeping poll loop ({IDLE_SECONDS:.0f} s)...")
    results["idle"] = _measure_idle(env, directory)
    return results


STAGES = (
    ("fetch", "fetch + parse      fetch_all_subnets_latest"),
    ("map", "burn map           owner_burn_from_row per row"),
    ("load", "load state         load_burn_state"),
    ("diff", "diff               diff_burns"),
    ("save", "save state         save_burn_state"),
    ("alert", "alert text         format_burn_alert"),
    ("chunk", "chunking           _chunk_text"),
    ("send", "send               send_burn_telegram_messages"),
)


def _place(where: str) -> str:
    return "state file on disk" if where == "disk" else "state file in memory"


def print_report(
    results: dict[str, Any], expected: dict[int, int], state_dirs: dict[str, str]
) -> None:
    cycle, stages = results["cycle"], results["stages"]
    small, large = SIZES
    width = 50
    columns = [(impl, n) for n in SIZES for impl in ("lib", "py")]
    rule = "-" * (width + 14 * len(columns))

    def row(label: str, values: Iterable[object]) -> None:
        print(f"{label:{width}}" + "".join(f"{v:>14}" for v in values))

    def ms(seconds: float) -> str:
        return f"{seconds * 1e3:.3f}"

    print()
    print("Watch cycle benchmark: the library (lib) and the same pipeline in plain Python (python)")
    for size in SIZES:
        print(
            f"  {size:,} subnets: 16 members a row, {expected[size]:,} reported changes, "
            f"alert sent in {stages[('lib', size)]['chunks']} chunk(s)"
        )
    print("  CPU = user + system time of the measuring process; the loopback fakes run in")
    print(
        "  a process of their own. Medians. State file on disk: "
        f"{state_dirs['disk']}"
        + (f"; in memory: {state_dirs['memory']} (tmpfs)" if "memory" in state_dirs else "")
    )
    print(rule)
    row("", [f"{'lib' if i == 'lib' else 'python'} {n:,}" for i, n in columns])
    print(rule)
    for where in state_dirs:
        label = _place(where)
        row(
            f"full watch cycle, {label}: CPU ms",
            [ms(cycle[(i, n, where)]["cpu"]) for i, n in columns],
        )
        row("  fastest cycle, CPU ms", [ms(cycle[(i, n, where)]["cpu_min"]) for i, n in columns])
        row(
            "  in user space (user CPU), mean ms",
            [ms(cycle[(i, n, where)]["user_mean"]) for i, n in columns],
        )
        row(
            "  in the kernel (system CPU), mean ms",
            [ms(cycle[(i, n, where)]["kernel_mean"]) for i, n in columns],
        )
        row(
            "  wall ms (waits for the fakes and the disk too)",
            [ms(cycle[(i, n, where)]["wall"]) for i, n in columns],
        )
    print("each operation called on its own from Python, CPU ms")
    print("(includes turning arguments and results into and out of Python objects,")
    print("which the full cycle never does):")
    for key, label in STAGES:
        row("  " + label, [ms(stages[(i, n)][key]) for i, n in columns])
    row(
        "  sum of the operations",
        [ms(sum(stages[(i, n)][key] for key, _ in STAGES)) for i, n in columns],
    )
    row(
        "  for scale: one GET, tiny answer  http_get_json",
        [ms(stages[(i, n)]["request"]) for i, n in columns],
    )
    row(
        "peak resident memory, MiB (cycle on disk)",
        [f"{cycle[(i, n, 'disk')]['peak_rss_kib'] / 1024:.1f}" for i, n in columns],
    )
    row(
        "  of which before the first cycle, MiB",
        [f"{cycle[(i, n, 'disk')]['baseline_rss_kib'] / 1024:.1f}" for i, n in columns],
    )
    print(rule)

    imp = results["import"]
    print(
        f"import time: corvane_burn_watch.burn_watch {imp['lib']['wall'] * 1e3:.2f} ms wall, "
        f"{imp['lib']['cpu'] * 1e3:.2f} ms CPU; the plain-Python pipeline (json, urllib) "
        f"{imp['py']['wall'] * 1e3:.2f} ms wall, {imp['py']['cpu'] * 1e3:.2f} ms CPU"
    )
    ratios, user_ratios = {}, {}
    for where in state_dirs:
        for n in SIZES:
            ratios[(n, where)] = cycle[("py", n, where)]["cpu"] / cycle[("lib", n, where)]["cpu"]
            user_ratios[(n, where)] = (
                cycle[("py", n, where)]["user_mean"] / cycle[("lib", n, where)]["user_mean"]
            )
        print(
            f"plain Python / library, full cycle CPU, {_place(where)}: "
            + ", ".join(f"{n:,} subnets {ratios[(n, where)]:.1f}x" for n in SIZES)
            + "; user CPU alone: "
            + ", ".join(f"{n:,} subnets {user_ratios[(n, where)]:.1f}x" for n in SIZES)
        )
        # The kernel's work (three fresh connections, the answer's bytes, the
        # synced state file) is the same whoever asks for it: even a library
        # whose own code took no time could not beat this ratio.
        kernel = cycle[("lib", small, where)]["kernel_mean"]
        print(
            f"  at most {cycle[('py', small, where)]['cpu'] / kernel:.1f}x at {small:,} subnets "
            f"were the library's own work free: its kernel time alone is {kernel * 1e3:.3f} ms"
        )
    nlogn = (large * math.log2(large)) / (small * math.log2(small))
    growth = {}
    for where in state_dirs:
        growth[where] = cycle[("lib", large, where)]["cpu"] / cycle[("lib", small, where)]["cpu"]
        py_growth = cycle[("py", large, where)]["cpu"] / cycle[("py", small, where)]["cpu"]
        print(
            f"growth {small:,} -> {large:,} subnets, {_place(where)}: library "
            f"{growth[where]:.1f}x, plain Python {py_growth:.1f}x "
            f"(linear {large / small:.1f}x, n log n {nlogn:.1f}x)"
        )
    idle = results["idle"]
    print(
        f"sleeping poll loop: {idle['cpu'] * 1e3:.2f} ms CPU in {idle['wall']:.2f} s of real "
        f"sleep ({idle['cpu'] / idle['wall'] * 100:.3f} % of one core, "
        f"{idle['wakeups']} wake-ups); for scale, {idle['wakeups']} bare time.sleep() wake-ups "
        f"cost {idle['bare_cpu'] * 1e3:.2f} ms here"
    )
    print(rule)

    def both(values: dict[str, str]) -> str:
        return ", ".join(f"{v} ({_place(where)})" for where, v in values.items())

    small_cpu = {w: cycle[("lib", small, w)]["cpu"] for w in state_dirs}
    checks = [
        (
            f"1,024-subnet cycle under {SMALL_CYCLE_LIMIT * 1e3:.0f} ms CPU",
            {w: c < SMALL_CYCLE_LIMIT for w, c in small_cpu.items()},
            both({w: f"{c * 1e3:.3f} ms" for w, c in small_cpu.items()}),
        ),
        (
            f"1,024-subnet cycle at least {MIN_SPEEDUP:.0f}x less user CPU than plain Python",
            {w: user_ratios[(small, w)] >= MIN_SPEEDUP for w in state_dirs},
            both({w: f"{user_ratios[(small, w)]:.1f}x" for w in state_dirs}),
        ),
        (
            "growth to 100,000 subnets no worse than n log n",
            {w: growth[w] <= nlogn for w in state_dirs},
            both({w: f"{growth[w]:.1f}x <= {nlogn:.1f}x" for w in state_dirs}),
        ),
        (
            "sleeping poll loop uses no measurable CPU",
            {"all": idle["cpu"] / idle["wall"] < IDLE_LIMIT},
            f"{idle['cpu'] * 1e3:.2f} ms in {idle['wall']:.1f} s",
        ),
    ]
    for label, verdicts, value in checks:
        verdict = (
            "met " if all(verdicts.values()) else "MISS" if not any(verdicts.values()) else "part"
        )
        print(f"[{verdict}] {label}: {value}")


if __name__ == "__main__":
    main()

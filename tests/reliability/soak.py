"""Soak: many watch cycles in one process against the loopback fakes.

Runs CYCLES watch cycles (default 10,000) with 1,024 subnets. The fakes run in
a child process, so that their own memory does not count; they move burns
often (most cycles alert, some with many chunks) and mix in faults: HTML and
rate-limit answers, connections reset mid-body, Telegram refusals. Pauses are
skipped through the library's sleep seam. Prints resident memory and open file
descriptors after the first cycle, cycle 1,000 and the last, and fails (exit
status 1) when memory grew by 1 MiB or more from cycle 1,000 to the last, when
descriptors leaked, or when the bot token showed up on standard error.

    python tests/reliability/soak.py [--cycles N] [--subnets N]
"""

from __future__ import annotations

import argparse
import collections
import gc
import json
import os
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path
from typing import Self

TOKEN = "9911:AAE-soak_SECRET.token"
API_KEY = "soak-key"
MIB = 1 << 20


# ---- the fakes, in their own process ------------------------------------------------


def serve(subnets: int) -> None:
    """Serves the data service and the Telegram sink until stdin closes."""
    from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
    from corvane_burn_watch.simulator.http_fake import RecordedRequest, Reply
    from corvane_burn_watch.simulator.telegram_sink import TelegramSink

    lock = threading.Lock()
    counts: collections.Counter[str] = collections.Counter()

    with (
        FakeDataService(make_rows(subnets, 0.1), api_key=API_KEY) as service,
        TelegramSink(token=TOKEN) as sink,
    ):
        normal_rows = service._answer
        normal_message = sink._answer

        def rows(request: RecordedRequest) -> Reply:
            with lock:
                counts["rows"] += 1
                n = counts["rows"]
            service.http.clear()  # the soak checks the library, not the fake's records
            if n % 50 == 7:
                return Reply(502, b"<html><body>502 Bad Gateway</body></html>")
            if n % 50 == 23:
                return Reply(429, b"Rate Limited", reason="Too Many Requests")
            if n % 50 == 41:
                return Reply(200, b'{"data": [' + b"{}, " * 200, cut_after=300, reset=True)
            if n % 100 == 0:  # every subnet moves: an alert of several chunks
                service.rows = make_rows(subnets, round(0.1 + (n // 100 % 7) * 0.05, 4))
            elif n % 2 == 0:  # a few subnets move: a one-message alert
                for netuid in range(n % 10, subnets, 97):
                    service.set_burn(netuid, round(n * 1e-4, 6))
            return normal_rows(request)

        def message(request: RecordedRequest) -> Reply:
            with lock:
                counts["messages"] += 1
                n = counts["messages"]
            sink.http.clear()
            if n % 40 == 0:
                return Reply(500, b"")
            return normal_message(request)

        service.http.default = rows
        sink.http.default = message
        print(json.dumps({"service": service.url, "sink": sink.url}), flush=True)
        sys.stdin.read()  # until the soak closes the pipe


# ---- measuring --------------------------------------------------------------------


def resident_bytes() -> int:
    gc.collect()
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def open_fds() -> int:
    return len(os.listdir("/proc/self/fd"))


class StderrFile:
    """Standard error redirected to a file for the soak, so that every log
    line can be counted and searched for the token afterwards."""

    def __init__(self) -> None:
        self.file = tempfile.TemporaryFile(mode="w+b")  # noqa: SIM115 - closed in __exit__
        self.saved: int | None = None

    def __enter__(self) -> Self:
        sys.stderr.flush()
        self.saved = os.dup(2)
        os.dup2(self.file.fileno(), 2)
        return self

    def __exit__(self, *exc_info: object) -> None:
        assert self.saved is not None  # set by __enter__
        sys.stderr.flush()
        os.dup2(self.saved, 2)
        os.close(self.saved)

    def text(self) -> str:
        self.file.seek(0)
        return self.file.read().decode("utf-8", "replace")


# ---- the soak ---------------------------------------------------------------------


def soak(cycles: int, subnets: int) -> int:
    from corvane_burn_watch import burn_watch as bw

    fakes = subprocess.Popen(
        [sys.executable, __file__, "--serve", "--subnets", str(subnets)],
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        text=True,
    )
    assert fakes.stdin is not None and fakes.stdout is not None  # pipes, as asked
    urls: dict[str, str] = json.loads(fakes.stdout.readline())
    os.environ.update(
        ORBISCA_API_BASE=urls["service"],
        ORBISCA_API_KEY=API_KEY,
        BURN_TELEGRAM_API_BASE=urls["sink"],
    )
    directory = Path(tempfile.mkdtemp(dir="/dev/shm" if os.access("/dev/shm", os.W_OK) else None))
    state = directory / "burn_state.json"
    outcomes: collections.Counter[str] = collections.Counter()
    samples: dict[int, tuple[int, int]] = {}
    bw._set_sleep(lambda seconds: None)
    started = time.monotonic()
    cpu_started = time.process_time()
    try:
        with StderrFile() as stderr:
            for cycle in range(1, cycles + 1):
                try:
                    result = bw.run_burn_watch_once(
                        state_path=str(state), threshold=0.0, burn_token=TOKEN, burn_chat_id="-1"
                    )
                    outcomes[f"returned {result}"] += 1
                except Exception as error:
                    outcomes[type(error).__name__] += 1
                    if TOKEN in str(error) or TOKEN in repr(error):
                        outcomes["token in an error"] += 1
                if cycle in (1, 1000, cycles):
                    samples[cycle] = (resident_bytes(), open_fds())
        log = stderr.text()
    finally:
        bw._set_sleep(None)
        fakes.stdin.close()
        fakes.wait(timeout=30)
        for leftover in directory.iterdir():
            leftover.unlink()
        directory.rmdir()
    elapsed = time.monotonic() - started
    cpu = time.process_time() - cpu_started
    print(
        f"soak: {cycles} watch cycles, {subnets} subnets, {elapsed:.1f} s "
        f"({elapsed / cycles * 1000:.2f} ms a cycle, "
        f"{cpu / cycles * 1000:.2f} ms CPU a cycle in this process)"
    )
    return report(cycles, samples, outcomes, log)


def report(
    cycles: int,
    samples: dict[int, tuple[int, int]],
    outcomes: collections.Counter[str],
    log: str,
) -> int:
    """Prints the measurements and returns the exit status."""
    for cycle, (rss, fds) in sorted(samples.items()):
        print(f"  after cycle {cycle:>6}: resident {rss / MIB:8.2f} MiB, open fds {fds}")
    print("  outcomes: " + ", ".join(f"{k} {v}" for k, v in sorted(outcomes.items())))
    lines = collections.Counter(line.split(":")[0].split(" (")[0] for line in log.splitlines())
    print("  log lines: " + ", ".join(f"{k!r} {v}" for k, v in sorted(lines.items())))

    failures = []
    settled = min(1000, cycles)
    growth = samples[cycles][0] - samples[settled][0]
    print(
        f"  resident growth from cycle {settled} to {cycles}: "
        f"{growth / 1024:+.0f} KiB (limit < 1024 KiB)"
    )
    if growth >= MIB:
        failures.append("resident memory grew by 1 MiB or more")
    if len({fds for _, fds in samples.values()}) != 1:
        failures.append("open file descriptors changed")
    if TOKEN in log or TOKEN.split(":")[1] in log or outcomes["token in an error"]:
        failures.append("the bot token appeared on standard error or in an error")
    if outcomes["returned 0"] < cycles // 2:
        failures.append("fewer than half of the cycles succeeded")
    print("soak: " + ("FAILED: " + "; ".join(failures) if failures else "ok"))
    return 1 if failures else 0


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cycles", type=int, default=10_000)
    parser.add_argument("--subnets", type=int, default=1024)
    parser.add_argument("--serve", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.serve:
        serve(args.subnets)
    else:
        sys.exit(soak(args.cycles, args.subnets))


if __name__ == "__main__":
    main()

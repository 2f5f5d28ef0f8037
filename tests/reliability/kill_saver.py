"""Kills a process in the middle of save_burn_state, again and again.

Run as a program: it loads the library once, then for each round forks a child
that saves numbered versions of a burn map in a loop, reporting each finished
save through a pipe, and kills it with SIGKILL after a random delay. After
every kill the state file must hold exactly the last version reported or the
one being saved when the kill came (its rename may have happened just before
the report), byte for byte: never a torn or mixed document. Prints a JSON
summary on standard output.

    python kill_saver.py STATE_PATH ROUNDS [SEED]

Forking from this single-threaded process costs a millisecond, so thousands
of rounds take seconds rather than thousands of interpreter starts.
"""

from __future__ import annotations

import json
import os
import random
import signal
import struct
import sys
import time
from pathlib import Path
from typing import TypedDict

from corvane_burn_watch import burn_watch as bw

SUBNETS = 256


def version(n: int) -> tuple[dict[str, str], str]:
    burns = {str(k): f"{n}.{k:04d}" for k in range(SUBNETS)}
    return burns, f"version {n}"


def expected_bytes(n: int) -> bytes:
    """The document save_burn_state writes for version n, built independently."""
    burns, updated_at = version(n)
    document = {"owner_burn_rate": burns, "updated_at_utc": updated_at}
    return (json.dumps(document, indent=2, sort_keys=True, ensure_ascii=True) + "\n").encode()


def saver(state: str, first: int, report: int) -> None:
    """The child: saves versions first, first + 1, ... until it is killed."""
    n = first
    while True:
        bw.save_burn_state(state, *version(n))
        os.write(report, struct.pack("<q", n))
        n += 1


def last_reported(read_end: int, default: int) -> int:
    data = b""
    while chunk := os.read(read_end, 1 << 16):
        data += chunk
    whole = len(data) // 8 * 8
    return struct.unpack_from("<q", data, whole - 8)[0] if whole else default


def time_one_save(state: str) -> float:
    started = time.perf_counter()
    for n in range(20):
        bw.save_burn_state(state, *version(n))
    return (time.perf_counter() - started) / 20


class Summary(TypedDict):
    """What one run prints, as a JSON line."""

    rounds: int
    save_ms: float
    versions_saved: int
    outcomes: dict[str, int]
    loads_ok: bool
    most_leftovers_seen: int
    leftovers: list[str]


def main(state: str, rounds: int, seed: int) -> Summary:
    rng = random.Random(seed)
    directory = Path(state).parent
    save_seconds = time_one_save(state)
    bw.save_burn_state(state, *version(0))
    current = 0
    outcomes = {"old": 0, "new": 0, "torn": 0}
    leftovers_seen = 0
    for _ in range(rounds):
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:  # the child never returns
            os.close(read_end)
            try:
                saver(state, current + 1, write_end)
            finally:
                os._exit(1)
        os.close(write_end)
        # Anywhere from before the first save to a few saves in.
        time.sleep(rng.uniform(0, 4 * save_seconds))
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        done = last_reported(read_end, current)
        os.close(read_end)

        content = Path(state).read_bytes()
        if content == expected_bytes(done):
            outcomes["old"] += 1
            current = done
        elif content == expected_bytes(done + 1):
            outcomes["new"] += 1
            current = done + 1
        else:
            outcomes["torn"] += 1
            break
        leftovers_seen = max(
            leftovers_seen, sum(1 for p in directory.iterdir() if p.name != Path(state).name)
        )
    # A save after the last kill clears what a killed save may have left.
    bw.save_burn_state(state, *version(current + 1))
    leftovers = sorted(p.name for p in directory.iterdir() if p.name != Path(state).name)
    return {
        "rounds": sum(outcomes.values()),
        "save_ms": round(save_seconds * 1000, 3),
        "versions_saved": current,
        "outcomes": outcomes,
        "loads_ok": bw.load_burn_state(state) == version(current + 1)[0],
        "most_leftovers_seen": leftovers_seen,
        "leftovers": leftovers,
    }


if __name__ == "__main__":
    path, count = sys.argv[1], int(sys.argv[2])
    print(json.dumps(main(path, count, int(sys.argv[3]) if len(sys.argv) > 3 else 1)))

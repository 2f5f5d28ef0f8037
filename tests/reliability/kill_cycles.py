"""Kills watch cycles with SIGKILL at random instants, again and again.

Run as a program, with the environment pointing the library at the loopback
fakes (ORBISCA_API_BASE, ORBISCA_API_KEY, BURN_TELEGRAM_API_BASE) and naming
the bot (BURN_TELEGRAM_TOKEN, BURN_TELEGRAM_CHAT_ID), and a state file that
already holds a baseline. It loads the library once, times a few
whole cycles, then for each round forks a child that takes the state lock and
runs one cycle with pending alerts on (as ``burn-watch once`` does), and kills
it with SIGKILL after a random delay: while it fetches, saves the state,
writes the pending file, sends, or between the messages of a long alert. A
child that finishes first is not counted; rounds go on until KILLS children
were killed in the middle of their cycle.
Prints a JSON summary on standard output.

    python kill_cycles.py STATE_PATH KILLS [SEED]

Forking from this single-threaded process costs a millisecond, so a thousand
rounds take a minute rather than a thousand interpreter starts.
"""

from __future__ import annotations

import json
import os
import random
import signal
import sys
import time

from corvane_burn_watch import burn_watch as bw


def cycle(state: str, token: str, chat: str) -> int:
    """One cycle as ``burn-watch once`` runs it: under the state lock."""
    with bw.StateLock(state):
        return bw.run_burn_watch_once(
            state_path=state,
            threshold=0.0,
            burn_token=token,
            burn_chat_id=chat,
            options=bw.WatchOptions(redeliver=True, skip_bad_rows=True, keep_corrupt_state=True),
        )


# A child's exit status when its cycle raised instead of returning.
RAISED = 99


def child(state: str) -> None:
    # The pauses between the messages of a long alert are skipped: the kill
    # can land between two messages just the same, without the wait.
    bw._set_sleep(lambda seconds: None)
    code = RAISED
    try:
        code = cycle(state, os.environ["BURN_TELEGRAM_TOKEN"], os.environ["BURN_TELEGRAM_CHAT_ID"])
    finally:
        os._exit(code)


def timed_cycles(state: str, count: int) -> float:
    """The median time of `count` whole cycles, each in a child as below."""
    timings = []
    for _ in range(count):
        began = time.perf_counter()
        pid = os.fork()
        if pid == 0:
            child(state)
        os.waitpid(pid, 0)
        timings.append(time.perf_counter() - began)
    return sorted(timings)[len(timings) // 2]


def file_version(path: str) -> tuple[int, int] | None:
    try:
        info = os.stat(path)
    except FileNotFoundError:
        return None
    return info.st_ino, info.st_mtime_ns


def main(state: str, kills: int, seed: int) -> dict[str, float]:
    rng = random.Random(seed)
    pending = state + ".pending.json"
    started = time.perf_counter()
    outcomes = dict.fromkeys(
        ["killed_mid_cycle", "killed_after_state_saved", "killed_after_pending_written"], 0
    )
    outcomes.update(finished_before_kill=0, raised=0)
    rounds = 0
    while outcomes["killed_mid_cycle"] < kills:
        # The machine's load changes: the time a cycle takes is measured
        # afresh now and then, so that kills keep landing in every phase.
        if rounds % 100 == 0:
            cycle_seconds = timed_cycles(state, 3)
        rounds += 1
        before = file_version(state), file_version(pending)
        pid = os.fork()
        if pid == 0:
            child(state)
        time.sleep(rng.uniform(0, 1.5 * cycle_seconds))
        done, status = os.waitpid(pid, os.WNOHANG)
        if done == 0:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            outcomes["killed_mid_cycle"] += 1
            outcomes["killed_after_state_saved"] += file_version(state) != before[0]
            outcomes["killed_after_pending_written"] += file_version(pending) != before[1]
        else:
            outcomes["finished_before_kill"] += 1
            outcomes["raised"] += os.waitstatus_to_exitcode(status) == RAISED
    return {
        "rounds": rounds,
        "cycle_ms": round(cycle_seconds * 1000, 1),
        "seconds": round(time.perf_counter() - started, 1),
        **outcomes,
    }


if __name__ == "__main__":
    path, count = sys.argv[1], int(sys.argv[2])  # kills
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    print(json.dumps(main(path, count, seed)))

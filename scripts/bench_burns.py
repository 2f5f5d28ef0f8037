#!/usr/bin/env python3
"""Times the burn map operations at 100,000 subnets and prints the numbers.

    PYTHONPATH=build/dev/python python3 scripts/bench_burns.py [SUBNETS]
"""

import os
import random
import sys
import tempfile
import time

from corvane_burn_watch import burn_watch as bw


def timed(label, fn, *args):
    start = time.perf_counter()
    result = fn(*args)
    print(f"{label:<28} {1000 * (time.perf_counter() - start):9.1f} ms")
    return result


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    rng = random.Random(7)
    ids = [str(i) for i in range(count)]
    rng.shuffle(ids)
    prev = {i: repr(rng.random()) for i in ids}
    current = {i: repr(rng.random()) if rng.random() < 0.5 else prev[i] for i in ids}
    rows = [{"netuid": int(i), "incentive_burn": rng.random()} for i in ids]

    print(f"{count} subnets")
    timed("owner_burn_from_row x N", lambda: [bw.owner_burn_from_row(r) for r in rows])
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "state.json")
        timed("save_burn_state", bw.save_burn_state, path, prev, "2026-12-06T23:20:46Z")
        loaded = timed("load_burn_state", bw.load_burn_state, path)
        assert loaded == prev
    changes = timed("diff_burns", bw.diff_burns, prev, current, 0.0)
    print(f"{len(changes)} changes")


if __name__ == "__main__":
    main()

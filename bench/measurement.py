"""Running one measurement in a fresh process of its own.

Each measurement program (worker.py, https_mode.py, metrics_cost.py) prints
its figures as one JSON line last; a failing one ends the benchmark with its
standard error shown.
"""

from __future__ import annotations

import json
import subprocess
import sys
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent


def measure(program: str, args: list[str], env: dict[str, str]) -> tuple[dict[str, Any], str]:
    """(the figures `program` printed, its standard error)."""
    done = subprocess.run(
        [sys.executable, str(HERE / program), *args],
        env=env,
        capture_output=True,
        text=True,
        cwd=str(HERE),
    )
    if done.returncode != 0:
        sys.stderr.write(done.stderr)
        raise SystemExit(f"{program} {' '.join(args)} failed with {done.returncode}")
    figures: dict[str, Any] = json.loads(done.stdout.strip().splitlines()[-1])
    return figures, done.stderr

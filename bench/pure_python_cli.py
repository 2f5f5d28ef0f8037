"""The plain-Python program the whole-process benchmark compares against:
pure_python.py's cycle behind a command line, started as its own process.

    python pure_python_cli.py once --state-file PATH
    python pure_python_cli.py run --state-file PATH [--interval-seconds N]

It reads the settings burn-watch reads (ORBISCA_API_BASE, ORBISCA_API_KEY,
BURN_TELEGRAM_API_BASE, BURN_TELEGRAM_TOKEN, BURN_TELEGRAM_CHAT_ID). `once`
runs one cycle. `run` fetches every rate, saves them and posts them as one
table (what burn-watch run does at start), writes "[burn] started" to
standard error, then runs a cycle every interval until it is stopped.
"""

from __future__ import annotations

import os
import sys
import time
from datetime import UTC, datetime

import pure_python

THRESHOLD = 0.01


def _startup_table(state_path: str, token: str, chat_id: str) -> int:
    auth = pure_python.orbisca_auth() or ""
    rows = pure_python.fetch_all_subnets_latest(auth)
    if not isinstance(rows, list):
        sys.stderr.write("[burn] startup fetch failed\n")
        return 1
    current = pure_python.burn_map(rows)
    updated_at = datetime.now(UTC).strftime("%Y-%m-%dT%H:%M:%SZ")
    pure_python.save_burn_state(state_path, current, updated_at)
    lines = [
        f"SN{netuid}: {pure_python.format_owner_burn(burn)}" for netuid, burn in current.items()
    ]
    text = "Owner burn rates\n" + updated_at + "\n\n" + "\n".join(lines)
    ok, _ = pure_python.send_burn_telegram_messages(text, token, chat_id)
    return 0 if ok else 1


def main(argv: list[str]) -> int:
    command, state_path = argv[0], argv[argv.index("--state-file") + 1]
    interval = 60.0
    if "--interval-seconds" in argv:
        interval = float(argv[argv.index("--interval-seconds") + 1])
    token = os.environ.get("BURN_TELEGRAM_TOKEN", "")
    chat_id = os.environ.get("BURN_TELEGRAM_CHAT_ID", "")

    def cycle() -> int:
        return pure_python.run_burn_watch_once(
            state_path=state_path, threshold=THRESHOLD, burn_token=token, burn_chat_id=chat_id
        )

    if command == "once":
        return cycle()
    if _startup_table(state_path, token, chat_id) != 0:
        return 1
    sys.stderr.write("[burn] started\n")
    sys.stderr.flush()
    while True:
        time.sleep(interval)
        cycle()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

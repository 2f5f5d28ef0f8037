"""The benchmark's data: realistic subnet rows and the state of the cycle before.

Everything is derived from a fixed seed, so every run (and every process of a
run) works on the same bytes. A row carries the members a real subnet row of
the data service carries, 16 of them, not only the two the watch reads.

Of the subnets present in both the previous state and the current rows:
- every fifth one moved by 0.02 to 0.3, more than the threshold: an alert line;
- one in fifty moved by 0.001, less than the threshold: compared, not reported.
With 1,024 subnets the alert is long enough to go out in two chunks; with
100,000 it takes about 130.
"""

from __future__ import annotations

import json
import random
from typing import Any

THRESHOLD = 0.01
UPDATED_AT = "2026-03-01T12:00:00Z"
BOT_TOKEN = "424242:bench-token"
CHAT_ID = "-1001234567890"
API_KEY = "bench-api-key"

_GREEK = "αβγδεζηθικλμνξοπρστυφχψω"
_ALPHABET = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"


def _address(rng: random.Random) -> str:
    return "5" + "".join(rng.choice(_ALPHABET) for _ in range(47))


def _previous_burn(rng: random.Random) -> Any:
    roll = rng.random()
    if roll < 0.08:
        return 0
    if roll < 0.12:
        return 1.0
    return round(rng.uniform(0.0, 0.95), rng.choice((2, 3, 4, 6)))


def _moved(burn: Any, delta: float) -> float:
    value = float(burn) + delta
    return round(value if value <= 1.0 else float(burn) - delta, 6)


def build(count: int, seed: int = 20260301) -> tuple[list[dict[str, Any]], dict[str, str], int]:
    """(current rows, previous burn map, number of reportable changes)."""
    rng = random.Random(seed + count)
    rows: list[dict[str, Any]] = []
    previous: dict[str, str] = {}
    changes = 0
    for netuid in range(count):
        before = _previous_burn(rng)
        now = before
        if netuid % 5 == 2:
            now = _moved(before, rng.uniform(0.02, 0.3))
            changes += 1
        elif netuid % 50 == 7:
            now = _moved(before, 0.001)
        previous[str(netuid)] = repr(before) if before else "0"
        price = rng.uniform(0.001, 2.5)
        rows.append(
            {
                "netuid": netuid,
                "name": f"subnet-{netuid}",
                "symbol": _GREEK[netuid % len(_GREEK)],
                "owner_coldkey": _address(rng),
                "owner_hotkey": _address(rng),
                "registered_at": f"2024-{1 + netuid % 12:02d}-{1 + netuid % 28:02d}T08:15:00Z",
                "block_number": 5_100_000 + 7 * netuid,
                "timestamp": "2026-03-01T11:59:48Z",
                "price": price,
                "market_cap": round(price * rng.uniform(1e6, 5e7), 2),
                "emission": rng.uniform(0.0, 0.02),
                "incentive_burn": now,
                "tempo": 360,
                "active_validators": rng.randint(1, 64),
                "active_miners": rng.randint(1, 192),
                "github_repo": f"https://github.com/corvane-subnets/subnet-{netuid}",
            }
        )
    return rows, previous, changes


def data_service_body(rows: list[dict[str, Any]]) -> bytes:
    """The answer of the subnet list endpoint, as the service sends it."""
    return json.dumps({"data": rows}, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def state_file_text(previous: dict[str, str]) -> str:
    """The state file a previous cycle would have left behind."""
    document = {"owner_burn_rate": previous, "updated_at_utc": "2026-03-01T11:55:00Z"}
    return json.dumps(document, indent=2, sort_keys=True) + "\n"

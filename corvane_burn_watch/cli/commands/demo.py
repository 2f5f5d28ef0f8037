"""``burn-watch demo``: the watch against a simulated network and chat.

Both outside services are simulated inside this process on loopback, so the
demo needs no account, token or network. The library is pointed at them
through its usual environment variables, and every message the simulated
chat receives is printed as the chat would show it.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import random
import sys
import tempfile
import threading
import time
from collections.abc import Callable
from dataclasses import dataclass
from typing import TYPE_CHECKING

from ..options import service_options

if TYPE_CHECKING:
    from ...simulator.json_document import JsonValue
    from ...simulator.telegram_sink import SentMessage

__all__ = ["run_demo"]

API_KEY = "demo-key"
BOT_TOKEN = "123456:demo-token"
CHAT_ID = "-100200300"
THRESHOLD = 0.01
SEED = 2026  # the same drift on every run, so the demo reads the same


# ---- the simulated network --------------------------------------------------


@dataclass(frozen=True)
class Step:
    """One change of the simulated rates before a watch cycle."""

    story: str
    change: Callable[[dict[int, float], random.Random], None]


def _drift_a_few(rates: dict[int, float], rng: random.Random) -> None:
    moved = rng.sample(sorted(rates), min(5, len(rates)))
    for netuid in moved[:3]:  # past the threshold, staying positive
        step = rng.uniform(0.02, 0.2)
        rates[netuid] = round(rates[netuid] + (step if rates[netuid] < 0.25 else -step), 4)
    for netuid in moved[3:]:  # within it: saved but not reported
        rates[netuid] = round(rates[netuid] + THRESHOLD / 2, 4)


def _stay_put(rates: dict[int, float], rng: random.Random) -> None:
    pass


def _shift_all(rates: dict[int, float], rng: random.Random) -> None:
    for netuid, rate in rates.items():
        rates[netuid] = round(rate + rng.uniform(0.02, 0.1), 4)


STEPS = (
    Step(
        "a few subnets drift: 3 past the threshold, 2 by less than it (not reported)",
        _drift_a_few,
    ),
    Step("nothing moves: no message", _stay_put),
    Step("every subnet moves: one long alert, sent in numbered parts", _shift_all),
)


def _initial_rates(count: int, rng: random.Random) -> dict[int, float]:
    return {
        netuid: 0.0 if rng.random() < 0.3 else round(rng.uniform(0.01, 0.9), 4)
        for netuid in range(count)
    }


def _rows(rates: dict[int, float]) -> list[dict[str, JsonValue]]:
    return [
        {"netuid": netuid, "name": f"subnet-{netuid}", "incentive_burn": rate}
        for netuid, rate in rates.items()
    ]


# ---- output -----------------------------------------------------------------


class _Chat:
    """Prints each message the simulated chat receives, numbered."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self.received = 0

    def show(self, message: SentMessage) -> None:
        with self._lock:
            self.received += 1
            _print(f"\n=== chat {message.chat_id}, message {self.received} ===\n{message.text}\n")


def _print(text: str) -> None:
    print(text, flush=True)


def _narrate(text: str) -> None:
    _print(f"\n>>> {text}")


# ---- the demo ----------------------------------------------------------------


def run_demo(args: argparse.Namespace) -> int:
    from ... import burn_watch
    from ...simulator.data_service import FakeDataService
    from ...simulator.telegram_sink import TelegramSink

    if hasattr(sys.stdout, "reconfigure"):
        sys.stdout.reconfigure(errors="backslashreplace")  # the arrow on a non-UTF-8 terminal
    rng = random.Random(SEED)
    rates = _initial_rates(args.subnets, rng)
    chat = _Chat()
    failures = 0
    with contextlib.ExitStack() as stack:
        service = stack.enter_context(FakeDataService(_rows(rates), api_key=API_KEY))
        sink = stack.enter_context(TelegramSink(BOT_TOKEN, on_message=chat.show))
        state_dir = stack.enter_context(tempfile.TemporaryDirectory(prefix="burn-watch-demo-"))
        state_file = os.path.join(state_dir, "burn_state.json")
        # The simulated services, whatever the environment names.
        settings = burn_watch.Settings(
            api_base=service.url, api_key=API_KEY, telegram_api_base=sink.url
        )
        # What `burn-watch run` runs with, so the demo shows the product.
        options = service_options(THRESHOLD)
        _print(
            f"burn-watch demo: {args.subnets} simulated subnets at {service.url}, "
            f"a simulated Telegram chat at {sink.url}, state in {state_file}.\n"
            f"Messages the chat receives are printed below; the library's own log lines "
            f'("[burn] ...") go to standard error.'
        )

        _narrate("startup snapshot: every subnet's rate becomes the baseline and is posted")
        failures += burn_watch.run_burn_startup_snapshot(
            state_path=state_file,
            burn_token=BOT_TOKEN,
            burn_chat_id=CHAT_ID,
            settings=settings,
            options=options,
        )
        for cycle in range(1, args.cycles + 1):
            step = STEPS[(cycle - 1) % len(STEPS)]
            time.sleep(args.seconds_between)
            step.change(rates, rng)
            service.rows = _rows(rates)
            _narrate(f"watch cycle {cycle} of {args.cycles}: {step.story}")
            sent_before = chat.received
            failures += burn_watch.run_burn_watch_once(
                state_path=state_file,
                threshold=THRESHOLD,
                burn_token=BOT_TOKEN,
                burn_chat_id=CHAT_ID,
                settings=settings,
                options=options,
            )
            if chat.received == sent_before:
                _print("(no message)")
    _narrate(f"demo finished: the chat received {chat.received} message(s)")
    return 0 if failures == 0 else 1

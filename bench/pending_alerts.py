"""Benchmark of a watch pass with many pending alerts: how long until the first
alert message leaves, and the time between messages, for 25,000, 50,000 and
100,000 changed subnets.

    python bench/pending_alerts.py [--messages N]

Each size runs one run_burn_watch_once with redelivery against the loopback
fakes: the state file holds every subnet at 0.1, the data service answers
with every subnet at 0.25 (one page holding them all), and the Telegram fake
takes N messages and then refuses the next, which ends the pass with the
rest pending. The 0.4 s pauses between messages are skipped. Wall-clock
seconds are printed: the pending alerts must cost n log n, not n squared.

Needs corvane_burn_watch importable: installed (scripts/setup) or a developer
build on PYTHONPATH (PYTHONPATH=build/dev/python).
"""

from __future__ import annotations

import argparse
import itertools
import json
import statistics
import tempfile
import time
from pathlib import Path

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.http_fake import Reply
from corvane_burn_watch.simulator.telegram_sink import SentMessage, TelegramSink

SIZES = (25_000, 50_000, 100_000)
API_KEY = "bench-key"
TOKEN = "4242:bench-token"
CHAT = "-100424242"


def measure(size: int, messages: int, directory: Path) -> dict[str, float]:
    state = directory / f"state-{size}.json"
    bw.save_burn_state(str(state), {str(i): "0.1" for i in range(size)}, "2026-03-01T00:00:00Z")
    arrivals: list[float] = []
    with FakeDataService(api_key=API_KEY) as service, TelegramSink(token=TOKEN) as sink:
        service.fail(Reply.json(json.dumps({"data": make_rows(size, burn=0.25)})))

        def arrived(_: SentMessage) -> None:
            arrivals.append(time.monotonic())
            if len(arrivals) == messages:
                sink.http.script(TelegramSink.refusal("Bad Request: enough for the benchmark"))

        sink.on_message = arrived
        settings = bw.Settings(api_base=service.url, api_key=API_KEY, telegram_api_base=sink.url)
        bw._set_sleep(lambda _: None)
        started = time.monotonic()
        try:
            bw.run_burn_watch_once(
                state_path=str(state),
                threshold=0.01,
                burn_token=TOKEN,
                burn_chat_id=CHAT,
                settings=settings,
                options=bw.WatchOptions(redeliver=True),
            )
        finally:
            bw._set_sleep(None)
        ended = time.monotonic()
    gaps = [b - a for a, b in itertools.pairwise(arrivals)]
    return {
        "first": arrivals[0] - started if arrivals else float("nan"),
        "gap": statistics.median(gaps) if gaps else float("nan"),
        "pass": ended - started,
    }


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--messages", type=int, default=6, help="messages taken before refusing")
    options = parser.parse_args()
    print(f"{'changed subnets':>16} {'first message':>14} {'median gap':>11} {'whole pass':>11}")
    with tempfile.TemporaryDirectory(prefix="burn-pending-") as directory:
        for size in SIZES:
            result = measure(size, options.messages, Path(directory))
            print(
                f"{size:>16,} {result['first']:>13.3f}s {result['gap']:>10.3f}s "
                f"{result['pass']:>10.3f}s",
                flush=True,
            )


if __name__ == "__main__":
    main()

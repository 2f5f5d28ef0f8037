"""What the library tells the program after each pass: its CycleReport.

The library calls one observer (``burn_watch._set_cycle_observer``) after
the startup snapshot and after every watch cycle with a report of how it went.
The program hands each report to the parts that want it: the metrics, the
metrics file and systemd's status and watchdog.
"""

from __future__ import annotations

import contextlib
from collections.abc import Callable, Iterator, Sequence

from . import logs

# typing's costs an import at start; type checkers take this one as theirs.
TYPE_CHECKING = False
if TYPE_CHECKING:
    # The report is the library's own class; the program adds no type of its own.
    from ..burn_watch import CycleReport

__all__ = [
    "SUPPRESSION_REASONS",
    "TELEGRAM_FAILURE_REASONS",
    "Consumer",
    "fan_out",
    "observing_cycles",
]

# Why a message did not reach the chat, as a report names it.
TELEGRAM_FAILURE_REASONS = ("rate_limited", "server_error", "network", "refused", "not_configured")
# Why the watch rules kept a change from the chat (CycleReport.changes_suppressed).
SUPPRESSION_REASONS = ("muted", "ignored", "unwatched")


Consumer = Callable[["CycleReport"], None]


def fan_out(consumers: Sequence[Consumer]) -> Consumer:
    def observe(report: CycleReport) -> None:
        # A consumer that fails (a full disk under the metrics file) must
        # neither stop the others nor reach the watch cycle.
        for consume in consumers:
            try:
                consume(report)
            except Exception as error:
                logs.say(f"cannot record the cycle: {error}", "warning")

    return observe


@contextlib.contextmanager
def observing_cycles(consumers: Sequence[Consumer]) -> Iterator[None]:
    """Hands every report to each consumer, in order, while the block runs."""
    if not consumers:
        yield
        return
    from .. import burn_watch

    burn_watch._set_cycle_observer(fan_out(consumers))
    try:
        yield
    finally:
        burn_watch._set_cycle_observer(None)

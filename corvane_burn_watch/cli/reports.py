"""What the library tells the program after each pass: the cycle report.

The library calls one observer (``burn_watch._set_cycle_observer``) after
the startup table and after every watch cycle with a report of how it went.
The program hands each report to the parts that want it: the metrics, the
metrics file and systemd's status and watchdog.
"""

from __future__ import annotations

import contextlib

from . import logs

# typing's costs an import at start; type checkers take this one as theirs.
# The report and its consumers are types only: the library's report object
# is what arrives.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable, Iterator, Mapping, Sequence
    from typing import Protocol

    class CycleReport(Protocol):
        """One pass of the library: the startup table or a watch cycle."""

        @property
        def kind(self) -> str: ...  # "startup" or "cycle"
        @property
        def result(self) -> int | None: ...  # 0, 1 or 2; None when the pass raised
        @property
        def error(self) -> str: ...  # "" when none
        @property
        def started(self) -> float: ...  # POSIX seconds, host clock
        @property
        def finished(self) -> float: ...
        @property
        def burns(
            self,
        ) -> Mapping[str, str] | None: ...  # the pass's burn map, None when not fetched
        @property
        def alerts_sent(self) -> int: ...  # messages delivered
        @property
        def telegram_failures(self) -> Sequence[str]: ...  # TELEGRAM_FAILURE_REASONS
        @property
        def pending_subnets(self) -> int: ...
        @property
        def muted_subnets(self) -> int: ...
        @property
        def changes_suppressed(self) -> Mapping[str, int]: ...  # SUPPRESSION_REASONS -> count
        @property
        def summary(self) -> str: ...  # one line

    Consumer = Callable[[CycleReport], None]

__all__ = [
    "SUPPRESSION_REASONS",
    "TELEGRAM_FAILURE_REASONS",
    "CycleReport",
    "fan_out",
    "observing_cycles",
]

# Why a message did not reach the chat, as a report names it.
TELEGRAM_FAILURE_REASONS = ("rate_limited", "server_error", "network", "refused", "not_configured")
# Why the watch rules kept a change from the chat (CycleReport.changes_suppressed).
SUPPRESSION_REASONS = ("muted", "ignored", "unwatched")


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

"""Prometheus metrics of the watch, fed from the library's cycle reports.

The names are fixed: dashboards and alert rules rely on them.

    burn_watch_cycles_total{result="ok"|"failed"}   counter, every pass
    burn_watch_last_success_timestamp_seconds        end of the last pass that returned 0
    burn_watch_cycle_duration_seconds                histogram
    burn_watch_subnets                               subnets in the last burn map
    burn_watch_subnet_owner_burn{netuid="7"}         each subnet's rate
    burn_watch_alerts_sent_total                     alert messages delivered
    burn_watch_telegram_failures_total{reason}       messages that did not arrive
    burn_watch_pending_alert_subnets                 subnets waiting in the pending file
    burn_watch_muted_subnets                         mutes in force in the last pass
    burn_watch_changes_suppressed_total{reason="muted"|"ignored"|"unwatched"}
                                                     changes the rules kept from the chat

The startup snapshot counts as a pass: right after it, the subnet gauges hold
its rates. The metrics live in a registry of their own, served over HTTP
(``--metrics-port``) and/or written to a file after every pass
(``--metrics-file``, for node_exporter's textfile collector).
"""

from __future__ import annotations

import contextlib
import os
import tempfile
import threading
from collections.abc import Iterable, Mapping
from pathlib import Path
from typing import TYPE_CHECKING

from prometheus_client import CollectorRegistry, Counter, Gauge, Histogram, generate_latest
from prometheus_client.core import GaugeMetricFamily, Metric
from prometheus_client.exposition import start_http_server
from prometheus_client.registry import Collector

from . import logs
from .reports import SUPPRESSION_REASONS, TELEGRAM_FAILURE_REASONS, Consumer
from .settings import SettingsError

if TYPE_CHECKING:
    from ..burn_watch import CycleReport

__all__ = ["MetricsFile", "MetricsServer", "WatchMetrics", "open_metrics", "write_atomically"]

# From a quick cycle against a nearby service to one that waited out rate
# limits and time-outs.
DURATION_BUCKETS = (0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120, 300)

_SUBNETS = ("burn_watch_subnets", "Subnets in the last burn map")
_SUBNET_BURN = (
    "burn_watch_subnet_owner_burn",
    "Owner burn rate of each subnet in the last burn map",
)
# Reports kept for the next scrape; one that fetched nothing has no map, and
# the map of an older one stands in.
_REPORTS_KEPT = 16


class _LastBurnMap(Collector):
    """burn_watch_subnets and one gauge per subnet, from the last burn map,
    made when scraped (or written to the file).

    A pass only hands its report over: reading the report's map builds a dict
    of every subnet, and turning that into gauge children would cost a
    1,024-subnet pass more than the pass itself. A subnet gone from the map is
    gone from the next scrape; a rate that does not read as a number is left
    out.
    """

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._reports: list[CycleReport] = []  # since the last scrape, oldest first
        self._burns: Mapping[str, str] = {}

    def add(self, report: CycleReport) -> None:
        with self._lock:
            self._reports.append(report)
            del self._reports[:-_REPORTS_KEPT]

    def _last_map(self) -> Mapping[str, str]:
        with self._lock:
            for report in reversed(self._reports):
                burns = report.burns
                if burns is not None:
                    self._burns = burns
                    break
            self._reports.clear()
            return self._burns

    def describe(self) -> Iterable[Metric]:
        return [
            GaugeMetricFamily(*_SUBNETS),
            GaugeMetricFamily(*_SUBNET_BURN, labels=["netuid"]),
        ]

    def collect(self) -> Iterable[Metric]:
        burns = self._last_map()
        yield GaugeMetricFamily(*_SUBNETS, value=len(burns))
        family = GaugeMetricFamily(*_SUBNET_BURN, labels=["netuid"])
        for netuid, rate in burns.items():
            try:
                value = float(rate)
            except (TypeError, ValueError):
                continue
            family.add_metric([netuid], value)
        yield family


class WatchMetrics:
    """The watch's metrics in a registry of their own."""

    def __init__(self) -> None:
        self.registry = CollectorRegistry()
        registry = self.registry
        self._cycles = Counter(
            "burn_watch_cycles",
            "Passes of the watch (the startup snapshot and each cycle) by result",
            ["result"],
            registry=registry,
        )
        self._last_success = Gauge(
            "burn_watch_last_success_timestamp_seconds",
            "End of the last pass that returned 0, in POSIX seconds",
            registry=registry,
        )
        self._duration = Histogram(
            "burn_watch_cycle_duration_seconds",
            "Time one pass took",
            buckets=DURATION_BUCKETS,
            registry=registry,
        )
        self._alerts = Counter(
            "burn_watch_alerts_sent", "Alert messages delivered to the chat", registry=registry
        )
        self._telegram_failures = Counter(
            "burn_watch_telegram_failures",
            "Messages that did not reach the chat, by reason",
            ["reason"],
            registry=registry,
        )
        self._pending = Gauge(
            "burn_watch_pending_alert_subnets",
            "Subnets whose change waits in the pending-alert file",
            registry=registry,
        )
        self._muted = Gauge(
            "burn_watch_muted_subnets", "Mutes in force in the last pass", registry=registry
        )
        self._suppressed = Counter(
            "burn_watch_changes_suppressed",
            "Changes the watch rules kept from the chat, by reason",
            ["reason"],
            registry=registry,
        )
        self._burn_map = _LastBurnMap()
        registry.register(self._burn_map)
        # Every label value from the start, so a rate() over them never misses its first step.
        for result in ("ok", "failed"):
            self._cycles.labels(result)
        for reason in TELEGRAM_FAILURE_REASONS:
            self._telegram_failures.labels(reason)
        for reason in SUPPRESSION_REASONS:
            self._suppressed.labels(reason)

    def observe(self, report: CycleReport) -> None:
        succeeded = report.result == 0
        self._cycles.labels("ok" if succeeded else "failed").inc()
        self._duration.observe(max(0.0, report.finished - report.started))
        if succeeded:
            self._last_success.set(report.finished)
        self._burn_map.add(report)
        if report.kind == "cycle":  # the snapshot table is no alert
            self._alerts.inc(report.alerts_sent)
        for reason in report.telegram_failures:
            self._telegram_failures.labels(reason).inc()
        self._pending.set(report.pending_subnets)
        self._muted.set(report.muted_subnets)
        for reason, count in report.changes_suppressed.items():
            self._suppressed.labels(reason).inc(count)

    def text(self) -> bytes:
        """The metrics in Prometheus' text format."""
        return generate_latest(self.registry)


class MetricsFile:
    """Writes the metrics to a file after every pass, for node_exporter."""

    def __init__(self, metrics: WatchMetrics, path: Path) -> None:
        self.metrics = metrics
        self.path = path

    def observe(self, report: CycleReport) -> None:
        write_atomically(self.path, self.metrics.text())


def write_atomically(path: Path, data: bytes) -> None:
    """Replaces ``path`` with ``data`` so that a reader sees the old or the new
    text, never a part of it. Readable by all (node_exporter runs as a user of
    its own); not synced, as a lost file is written again after the next pass.

    Never written through a symbolic link: mkstemp creates the new file with
    O_EXCL and O_NOFOLLOW, and rename(2) replaces a link found at ``path``
    itself, leaving its target alone."""
    descriptor, temporary = tempfile.mkstemp(dir=path.parent, prefix=f".{path.name}.")
    try:
        with os.fdopen(descriptor, "wb") as handle:
            handle.write(data)
            os.fchmod(handle.fileno(), 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


class MetricsServer:
    """Serves /metrics on a thread of its own until closed."""

    def __init__(self, metrics: WatchMetrics, address: str, port: int) -> None:
        self._server, self._thread = start_http_server(port, address, registry=metrics.registry)
        host, self.port = self._server.server_address[:2]
        self.address = host.decode() if isinstance(host, bytes) else host

    @property
    def url(self) -> str:
        host = f"[{self.address}]" if ":" in self.address else self.address
        return f"http://{host}:{self.port}/metrics"

    def close(self) -> None:
        self._server.shutdown()
        self._server.server_close()
        if self._thread is not threading.current_thread():
            self._thread.join()


def open_metrics(
    stack: contextlib.ExitStack, *, port: int | None, address: str, path: Path | None
) -> list[Consumer]:
    """The consumers of cycle reports that ``--metrics-port`` and
    ``--metrics-file`` ask for; the server stops when ``stack`` closes.
    Raises SettingsError, before any pass, when either cannot work."""
    if port is None and path is None:
        return []
    metrics = WatchMetrics()
    consumers: list[Consumer] = [metrics.observe]
    if path is not None:
        folder = path.parent
        if not folder.is_dir() or not os.access(folder, os.W_OK | os.X_OK):
            raise SettingsError(f"metrics file folder {folder} is not a writable folder")
        consumers.append(MetricsFile(metrics, path).observe)
    if port is not None:
        try:
            server = MetricsServer(metrics, address, port)
        except OSError as error:
            reason = error.strerror or str(error)
            raise SettingsError(
                f"cannot serve metrics on {address} port {port}: {reason}"
            ) from None
        stack.callback(server.close)
        logs.say(f"serving metrics at {server.url}")
    return consumers

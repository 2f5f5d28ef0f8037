"""The watch's Prometheus metrics, fed scripted cycle reports, as a scrape of
the port and the metrics file show them."""

from __future__ import annotations

import stat
import urllib.request
from collections.abc import Mapping, Sequence
from dataclasses import dataclass

from prometheus_client.parser import text_string_to_metric_families

from corvane_burn_watch._metrics import MetricsFile, MetricsServer, WatchMetrics
from corvane_burn_watch._reports import TELEGRAM_FAILURE_REASONS


@dataclass(frozen=True)
class Report:
    """A cycle report as the library hands it over."""

    kind: str = "cycle"
    result: int | None = 0
    error: str = ""
    started: float = 0.0
    finished: float = 0.0
    burns: Mapping[str, str] | None = None
    alerts_sent: int = 0
    telegram_failures: Sequence[str] = ()
    pending_subnets: int = 0
    summary: str = ""


Samples = dict[tuple[str, tuple[tuple[str, str], ...]], float]


def samples(text: str) -> Samples:
    return {
        (sample.name, tuple(sorted(sample.labels.items()))): sample.value
        for family in text_string_to_metric_families(text)
        for sample in family.samples
        if not sample.name.endswith("_created")
    }


def test_metrics_follow_the_passes(tmp_path):
    metrics = WatchMetrics()
    path = tmp_path / "burn_watch.prom"
    server = MetricsServer(metrics, "127.0.0.1", 0)
    metrics_file = MetricsFile(metrics, path)

    def after(report: Report) -> Samples:
        metrics.observe(report)
        metrics_file.observe(report)
        with urllib.request.urlopen(server.url, timeout=10) as answer:
            scraped = samples(answer.read().decode())
        assert samples(path.read_text()) == scraped
        return scraped

    def burns(scraped: Samples) -> dict[str, float]:
        return {
            dict(labels)["netuid"]: value
            for (name, labels), value in scraped.items()
            if name == "burn_watch_subnet_owner_burn"
        }

    try:
        with urllib.request.urlopen(server.url, timeout=10) as answer:
            first = samples(answer.read().decode())
        # Every label value is there before anything happened.
        assert {dict(labels)["reason"] for (name, labels) in first if "failures" in name} == set(
            TELEGRAM_FAILURE_REASONS
        )
        assert first[("burn_watch_cycles_total", (("result", "failed"),))] == 0

        startup = Report(
            kind="startup",
            started=1000.0,
            finished=1000.5,
            burns={"0": "0.1", "1": "0.25", "2": "n/a", "3": "1e-3"},
            alerts_sent=1,  # the table: no alert
        )
        scraped = after(startup)
        assert burns(scraped) == {"0": 0.1, "1": 0.25, "3": 0.001}
        assert scraped[("burn_watch_subnets", ())] == 4
        assert scraped[("burn_watch_cycles_total", (("result", "ok"),))] == 1
        assert scraped[("burn_watch_last_success_timestamp_seconds", ())] == 1000.5
        assert scraped[("burn_watch_alerts_sent_total", ())] == 0

        failed = Report(
            result=1,
            started=2000.0,
            finished=2003.0,
            burns={"0": "0.2", "3": "1e-3"},
            alerts_sent=2,
            telegram_failures=("rate_limited", "network", "network"),
            pending_subnets=1,
        )
        scraped = after(failed)
        assert burns(scraped) == {"0": 0.2, "3": 0.001}  # subnet 1 is gone
        assert scraped[("burn_watch_subnets", ())] == 2
        assert scraped[("burn_watch_cycles_total", (("result", "failed"),))] == 1
        assert scraped[("burn_watch_last_success_timestamp_seconds", ())] == 1000.5
        assert scraped[("burn_watch_alerts_sent_total", ())] == 2
        failures = {
            dict(labels)["reason"]: value
            for (name, labels), value in scraped.items()
            if name == "burn_watch_telegram_failures_total"
        }
        assert failures == dict.fromkeys(TELEGRAM_FAILURE_REASONS, 0) | {
            "rate_limited": 1,
            "network": 2,
        }
        assert scraped[("burn_watch_pending_alert_subnets", ())] == 1
        assert scraped[("burn_watch_cycle_duration_seconds_count", ())] == 2
        assert scraped[("burn_watch_cycle_duration_seconds_sum", ())] == 3.5
        assert scraped[("burn_watch_cycle_duration_seconds_bucket", (("le", "0.5"),))] == 1

        # A pass that raised before it fetched keeps the last map.
        raised = after(Report(result=None, error="boom", started=3000.0, finished=3000.1))
        assert burns(raised) == burns(scraped)
        assert raised[("burn_watch_cycles_total", (("result", "failed"),))] == 2
    finally:
        server.close()
    assert list(tmp_path.iterdir()) == [path]  # no temporary file left behind
    assert stat.S_IMODE(path.stat().st_mode) == 0o644

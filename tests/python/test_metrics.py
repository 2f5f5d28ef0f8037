"""Prometheus metrics of a scripted watch: the port scraped and the metrics
file read between its cycles."""

from __future__ import annotations

import re
import stat
import urllib.request

import pytest
from prometheus_client.parser import text_string_to_metric_families

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.cli import main
from corvane_burn_watch.cli.reports import TELEGRAM_FAILURE_REASONS
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.http_fake import Reply
from corvane_burn_watch.simulator.json_document import JsonValue
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

TOKEN = "9464:metrics-token"
Samples = dict[tuple[str, tuple[tuple[str, str], ...]], float]


def samples(text: str) -> Samples:
    return {
        (sample.name, tuple(sorted(sample.labels.items()))): sample.value
        for family in text_string_to_metric_families(text)
        for sample in family.samples
        if not sample.name.endswith("_created")
    }


def labelled(scraped: Samples, name: str, label: str) -> dict[str, float]:
    return {dict(labels)[label]: value for (n, labels), value in scraped.items() if n == name}


@pytest.fixture
def fakes(cli_environment):
    rows: list[dict[str, JsonValue]] = [*make_rows(3, burn=0.1)]
    rows.append({"netuid": 3, "incentive_burn": "n/a"})
    with FakeDataService(rows) as service, TelegramSink(TOKEN) as sink:
        cli_environment(service, sink, key="k", token=TOKEN, chat="-100")
        yield service, sink


def test_metrics_follow_a_scripted_run(tmp_path, capfd, fakes):
    service, sink = fakes
    prom, pause, state = tmp_path / "burn_watch.prom", tmp_path / "pause", tmp_path / "s.json"
    seen: list[Samples] = []
    urls: list[str] = []
    elapsed = 0.0

    def between_cycles(step: int) -> None:
        if not urls:  # port 0: the log line names the port taken
            urls.append(re.findall(r"serving metrics at (\S+)", capfd.readouterr().err)[0])
        with urllib.request.urlopen(urls[0], timeout=10) as answer:
            scraped = samples(answer.read().decode())
        assert samples(prom.read_text()) == scraped  # the file says the same
        seen.append(scraped)
        if step == 0:  # cycle 1: subnet 1 moves, and Telegram is down
            service.set_burn(1, 0.5)
            sink.fail(Reply(502, body=b"bad gateway"))
        elif step == 1:  # cycle 2: subnet 2 is gone; the pending alert goes out
            service.rows = [row for row in service.rows if row["netuid"] != 2]
        elif step == 2:  # cycle 3: the data service is down
            service.fail(Reply(503, body=b"maintenance"))
        else:
            pause.touch()

    def sleep(seconds: float) -> None:
        # The loop sleeps an interval in 1-second steps: the first step of
        # each is right after a pass.
        nonlocal elapsed
        elapsed += seconds
        if elapsed % 60 == 1:
            between_cycles(int(elapsed // 60))

    bw._set_sleep(sleep)
    try:
        argv = ["run", "--interval-minutes", "1", "--state-file", str(state)]
        argv += ["--pause-file", str(pause), "--metrics-port", "0", "--metrics-file", str(prom)]
        assert main(argv) == 0
    finally:
        bw._set_sleep(None)

    startup, failed, recovered, blind = seen
    burn = "burn_watch_subnet_owner_burn"
    assert labelled(startup, burn, "netuid") == {"0": 0.1, "1": 0.1, "2": 0.1}  # "n/a" left out
    assert labelled(failed, burn, "netuid") == {"0": 0.1, "1": 0.5, "2": 0.1}
    assert labelled(recovered, burn, "netuid") == {"0": 0.1, "1": 0.5}  # subnet 2 removed
    assert labelled(blind, burn, "netuid") == {"0": 0.1, "1": 0.5}  # nothing fetched: kept
    expected = {
        "burn_watch_subnets": (4, 4, 3, 3),
        "burn_watch_pending_alert_subnets": (0, 1, 0, 0),
        "burn_watch_alerts_sent_total": (0, 0, 1, 1),
        "burn_watch_cycle_duration_seconds_count": (1, 2, 3, 4),
    }
    for name, values in expected.items():
        assert tuple(s[(name, ())] for s in seen) == values, name
    cycles = [labelled(s, "burn_watch_cycles_total", "result") for s in seen]
    assert [(c["ok"], c["failed"]) for c in cycles] == [(1, 0), (1, 1), (2, 1), (2, 2)]
    failures = labelled(recovered, "burn_watch_telegram_failures_total", "reason")
    assert failures == dict.fromkeys(TELEGRAM_FAILURE_REASONS, 0) | {"server_error": 1}
    success = [s[("burn_watch_last_success_timestamp_seconds", ())] for s in seen]
    assert 0 < success[0] == success[1] < success[2] == success[3]
    assert stat.S_IMODE(prom.stat().st_mode) == 0o644
    files = sorted(p.name for p in tmp_path.iterdir())
    assert files == ["burn_watch.prom", "pause", "s.json", "s.json.lock"]  # no temporary left

    # once writes the file too, from a fresh start.
    assert main(["once", "--state-file", str(state), "--metrics-file", str(prom)]) == 0
    after_once = samples(prom.read_text())
    assert labelled(after_once, "burn_watch_cycles_total", "result") == {"ok": 1, "failed": 0}
    assert after_once[("burn_watch_subnets", ())] == 3

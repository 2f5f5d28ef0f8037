"""--log-format json: every log line, the library's and the program's, one JSON object."""

from __future__ import annotations

import json
import re

import pytest

from corvane_burn_watch.cli import main
from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.http_fake import Reply
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

TOKEN = "2323:log-token"
RFC3339_UTC = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z"


@pytest.fixture
def fakes(tmp_path, cli_environment):
    with FakeDataService(make_rows(2, burn=0.1)) as service, TelegramSink(TOKEN) as sink:
        cli_environment(service, sink, key="k", token=TOKEN, chat="-100")
        yield service, sink


def test_json_lines_carry_time_level_and_the_plain_text(tmp_path, capfd, fakes):
    service, _ = fakes
    state = str(tmp_path / "state.json")
    once = ["once", "--state-file", state, "--log-format", "json"]
    assert main(once) == 0  # the baseline: no line
    service.set_burn(1, 0.4)
    assert main(once) == 0
    service.fail(Reply(500, body=b"down"))
    assert main(once) == 1
    (tmp_path / "pause").touch()
    run = ["run", "--pause-file", str(tmp_path / "pause"), "--log-format", "json"]
    assert main(run) == 0
    out, err = capfd.readouterr()
    lines = [json.loads(line) for line in err.splitlines()]
    assert all(list(line) == ["time", "level", "message"] for line in lines)
    assert all(re.fullmatch(RFC3339_UTC, line["time"]) for line in lines)
    fetch_failed = json.dumps(
        {
            "error": "no_subnet_rows",
            "response": {"status_code": 500, "message": "down", "http_status": 500},
        }
    )
    assert [(line["level"], line["message"]) for line in lines] == [
        ("info", "alert sent (1 subnet(s))"),
        ("error", f"fetch failed: {fetch_failed}"),
        ("info", f"pause file {tmp_path / 'pause'} exists: not starting (remove it to resume)"),
    ]
    assert out == ""

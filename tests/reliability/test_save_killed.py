"""SIGKILL in the middle of save_burn_state, thousands of times: the state file
always holds the old or the new document, never a torn one, and temporary files
of killed saves do not pile up."""

from __future__ import annotations

import json
import subprocess
import sys
from pathlib import Path
from typing import TYPE_CHECKING

import pytest

if TYPE_CHECKING:
    from kill_saver import Summary

HELPER = Path(__file__).with_name("kill_saver.py")


def kill_saves(state: Path, rounds: int, seed: int) -> Summary:
    finished = subprocess.run(
        [sys.executable, str(HELPER), str(state), str(rounds), str(seed)],
        capture_output=True,
        text=True,
        timeout=600,
        check=True,
    )
    assert finished.stderr == ""
    summary: Summary = json.loads(finished.stdout)
    return summary


@pytest.mark.parametrize(
    "rounds",
    [pytest.param(300, id="300"), pytest.param(5000, id="5000", marks=pytest.mark.slow)],
)
def test_killed_saves_leave_old_or_new_document(tmp_path, rounds):
    summary = kill_saves(tmp_path / "state" / "burn_state.json", rounds, seed=rounds)
    print(json.dumps(summary))
    assert summary["outcomes"]["torn"] == 0
    assert summary["rounds"] == rounds
    # Kills came both before and after a save's rename.
    assert summary["outcomes"]["old"] > 0 and summary["outcomes"]["new"] > 0
    assert summary["loads_ok"]
    assert summary["most_leftovers_seen"] <= 1
    assert summary["leftovers"] == []

"""The state directory turning read-only or full: the cycle raises an OSError
naming the state file (the poll loop logs it), the stored baseline stays as it
was, no temporary file is left, and the next cycle works once the directory is
writable again.

As root the directory is a small tmpfs mounted for the test (read-only by
remounting, full by filling it); without root, a directory without write
permission stands in for the read-only case and the full case is skipped.
"""

from __future__ import annotations

import errno
import os

from harness import make_watch, raised
from mounts import fill_up, read_only_capable, set_read_only, small_tmpfs


def test_read_only_state_directory(tmp_path, fakes, pauses, stderr):
    directory = tmp_path / "state"
    with read_only_capable(directory) as expected_errno:
        watch = make_watch(directory / "burn_state.json", fakes, stderr)
        before = watch.state.read_bytes()
        watch.change_burn()
        set_read_only(directory, True)
        with raised(OSError) as info:
            watch.once()
        assert info.value.errno == expected_errno
        assert info.value.filename == str(watch.state)
        assert watch.state.read_bytes() == before
        assert watch.sink.messages == []  # nothing is sent for a change not saved
        set_read_only(directory, False)
        assert watch.temp_files() == []
        watch.assert_recovers(stderr)


def test_read_only_state_directory_through_the_poll_loop(tmp_path, fakes, stderr):
    directory = tmp_path / "state"
    with read_only_capable(directory) as expected_errno:
        watch = make_watch(directory / "burn_state.json", fakes, stderr)
        expected = watch.change_burn()
        set_read_only(directory, True)
        pause = tmp_path / "pause"

        def sleep(seconds: float) -> None:
            # After the first cycle (refused), make the directory writable;
            # after the second, pause.
            requests = len(watch.service.requests)
            if requests == 1:
                set_read_only(directory, False)
            elif requests == 2:
                pause.touch()

        watch.poll_until_paused(pause, sleep)
        lines = stderr.lines()
        assert lines[0].startswith("[burn] error: ")
        assert os.strerror(expected_errno) in lines[0]
        assert lines[1:] == ["[burn] alert sent (1 subnet(s))", "[burn] monitoring paused"]
        last = watch.sink.texts()[-1]
        assert last is not None and last.endswith(expected)
        assert watch.saved()["3"] == repr(watch.burn)


def test_full_disk(tmp_path, fakes, pauses, stderr):
    directory = tmp_path / "state"
    with small_tmpfs(directory, "64k"):
        watch = make_watch(directory / "burn_state.json", fakes, stderr)
        before = watch.state.read_bytes()
        watch.change_burn()
        filler = fill_up(directory)
        for _ in range(3):  # every cycle while the disk is full fails alike
            with raised(OSError) as info:
                watch.once()
            assert info.value.errno == errno.ENOSPC
            assert info.value.filename == str(watch.state)
            assert watch.state.read_bytes() == before
            assert [name for name in watch.temp_files() if name != "filler"] == []
        assert watch.sink.messages == []
        filler.unlink()
        watch.assert_recovers(stderr)

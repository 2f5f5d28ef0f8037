"""The burn state file: exact layout, lenient loading, atomic replacement."""

import errno
import json
import os
import socket
import stat
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from corvane_burn_watch import burn_watch as bw

STAMP = "2026-12-06T23:20:46Z"
IS_ROOT = os.geteuid() == 0


def mode(path):
    return stat.S_IMODE(os.stat(path).st_mode)


@pytest.mark.parametrize(
    ("burns", "expected"),
    [
        pytest.param(
            {"1": "0.18", "2": "1e-05", "10": "0"},
            b'{\n  "owner_burn_rate": {\n    "1": "0.18",\n    "10": "0",\n    "2": "1e-05"\n'
            b'  },\n  "updated_at_utc": "2026-12-06T23:20:46Z"\n}\n',
            id="sorted-by-text",
        ),
        pytest.param(
            {},
            b'{\n  "owner_burn_rate": {},\n  "updated_at_utc": "2026-12-06T23:20:46Z"\n}\n',
            id="empty-map",
        ),
        pytest.param(
            {"1": "\u00e9"},
            b'{\n  "owner_burn_rate": {\n    "1": "\\u00e9"\n  },\n'
            b'  "updated_at_utc": "2026-12-06T23:20:46Z"\n}\n',
            id="non-ascii",
        ),
    ],
)
def test_exact_bytes(tmp_path, burns, expected):
    path = tmp_path / "state.json"
    bw.save_burn_state(str(path), burns, STAMP)
    assert path.read_bytes() == expected
    assert bw.load_burn_state(str(path)) == burns


keys_and_texts = st.text(st.characters(exclude_categories=["Cs"]), max_size=8)


@settings(suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(burns=st.dictionaries(keys_and_texts, keys_and_texts, max_size=8), updated=keys_and_texts)
def test_layout_matches_python_json_and_round_trips(tmp_path, burns, updated):
    path = tmp_path / "state.json"
    bw.save_burn_state(path=str(path), burns=burns, updated_at=updated)
    document = {"owner_burn_rate": burns, "updated_at_utc": updated}
    expected = json.dumps(document, indent=2, sort_keys=True, ensure_ascii=True) + "\n"
    assert path.read_bytes() == expected.encode("ascii")
    assert bw.load_burn_state(path=str(path)) == burns


@pytest.mark.parametrize(
    ("content", "expected"),
    [
        pytest.param(b"", {}, id="empty-file"),
        pytest.param(b"{}", {}, id="no-burns-member"),
        pytest.param(b'{"owner_burn_rate": "x"}', {}, id="burns-not-object"),
        pytest.param(b'{"owner_burn_rate": {"1": "0"', {}, id="truncated"),
        pytest.param(b'{"owner_burn_rate": {"1": "0"}} {}', {}, id="trailing-document"),
        pytest.param(b'\xef\xbb\xbf{"owner_burn_rate": {"1": "0"}}', {}, id="byte-order-mark"),
        pytest.param(
            b'{"owner_burn_rate": {"5": 0.25, "6": null}}', {"5": "0.25", "6": "None"}, id="example"
        ),
        pytest.param(
            b' {"owner_burn_rate": {"a": 7, "b": 1E2, "c": true, "d": false, "e": [1, "x"],'
            b' "f": 123456789012345678901234567890, "g": -0}}\n',
            {
                "a": "7",
                "b": "100.0",
                "c": "True",
                "d": "False",
                "e": "[1, 'x']",
                "f": "123456789012345678901234567890",
                "g": "0",
            },
            id="values-as-text",
        ),
        pytest.param(
            b'{"owner_burn_rate": {"1": "a", "2": "b", "1": "c"}}', {"1": "c", "2": "b"}, id="dup"
        ),
        pytest.param(
            b'{"owner_burn_rate": {"1": 1e400, "2": -1e400, "3": 1' + b"0" * 400 + b"},"
            b' "note": 1e999}',
            {"1": "inf", "2": "-inf", "3": "1" + "0" * 400},
            id="beyond-double-range",
        ),
    ],
)
def test_load_leniency(tmp_path, content, expected):
    path = tmp_path / "state.json"
    path.write_bytes(content)
    assert bw.load_burn_state(str(path)) == expected


@pytest.mark.parametrize(
    ("content", "error"),
    [
        pytest.param(b"[]", ValueError, id="top-level-list"),
        pytest.param(b'"text"', ValueError, id="top-level-text"),
        pytest.param(b"null", ValueError, id="top-level-null"),
        pytest.param(b'{"owner_burn_rate": {"1": "\xff"}}', UnicodeDecodeError, id="not-utf8"),
        pytest.param(b"\xed\xa0\x80", UnicodeDecodeError, id="encoded-surrogate"),
    ],
)
def test_load_errors(tmp_path, content, error):
    path = tmp_path / "state.json"
    path.write_bytes(content)
    with pytest.raises(error) as caught:
        bw.load_burn_state(str(path))
    if error is ValueError:
        assert str(path) in str(caught.value)


def test_paths_that_are_not_regular_files_give_empty_map(tmp_path):
    (tmp_path / "dangling").symlink_to(tmp_path / "nowhere")
    for path in [
        "",
        str(tmp_path),
        str(tmp_path / "missing"),
        str(tmp_path / "dangling"),
        str(tmp_path / "a\0b"),
    ]:
        assert bw.load_burn_state(path) == {}


@pytest.mark.skipif(IS_ROOT, reason="root reads any file")
def test_unreadable_file_gives_empty_map(tmp_path):
    path = tmp_path / "state.json"
    path.write_text('{"owner_burn_rate": {"1": "0"}}')
    path.chmod(0)
    assert bw.load_burn_state(str(path)) == {}


SAVE_UNDER_FILE_SIZE_LIMIT = """
import resource, signal, sys
from corvane_burn_watch import burn_watch as bw
# Writes beyond 64 bytes fail with EFBIG instead of killing the process.
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (64, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
try:
    bw.save_burn_state(sys.argv[1], {str(i): "0.5" for i in range(100)}, "t")
except OSError as error:
    sys.exit(error.errno)
"""


def test_write_failing_midway_keeps_old_file(tmp_path):
    # In a child process: the limit would also stop this process's own output.
    path = tmp_path / "state.json"
    path.write_bytes(b"old baseline")
    package_parent = os.path.dirname(os.path.dirname(bw.__file__))
    child = subprocess.run(
        [sys.executable, "-c", SAVE_UNDER_FILE_SIZE_LIMIT, str(path)],
        cwd=tmp_path,
        env={**os.environ, "PYTHONPATH": package_parent},
    )
    assert child.returncode == errno.EFBIG
    assert path.read_bytes() == b"old baseline"
    assert os.listdir(tmp_path) == ["state.json"]


@pytest.mark.parametrize(
    ("target", "error"),
    [
        pytest.param("dir.json", IsADirectoryError, id="directory-in-place"),
        pytest.param("missing/state.json", FileNotFoundError, id="missing-directory"),
        pytest.param(
            "locked/state.json",
            PermissionError,
            id="read-only-directory",
            marks=pytest.mark.skipif(IS_ROOT, reason="root writes anywhere"),
        ),
        pytest.param(
            "locked.json",
            PermissionError,
            id="read-only-file",
            marks=pytest.mark.skipif(IS_ROOT, reason="root writes anywhere"),
        ),
    ],
)
def test_failed_save_leaves_no_temporary_file(tmp_path, target, error):
    (tmp_path / "dir.json").mkdir()
    (tmp_path / "locked").mkdir()
    (tmp_path / "locked" / "state.json").write_text("old")
    (tmp_path / "locked").chmod(0o555)
    (tmp_path / "locked.json").write_text("old")
    (tmp_path / "locked.json").chmod(0o444)
    before = sorted(p.name for p in tmp_path.rglob("*"))
    try:
        with pytest.raises(error) as caught:
            bw.save_burn_state(str(tmp_path / target), {"1": "2"}, STAMP)
        assert caught.value.filename == str(tmp_path / target)
        assert sorted(p.name for p in tmp_path.rglob("*")) == before
        assert (tmp_path / "locked" / "state.json").read_text() == "old"
        assert (tmp_path / "locked.json").read_text() == "old"
    finally:
        (tmp_path / "locked").chmod(0o755)


@pytest.mark.parametrize("old_mode", [0o600, 0o640, 0o604, 0o666])
def test_replaced_file_keeps_permission_bits(tmp_path, old_mode):
    path = tmp_path / "state.json"
    path.write_text("old")
    path.chmod(old_mode)
    bw.save_burn_state(str(path), {"1": "2"}, STAMP)
    assert mode(path) == old_mode


@pytest.mark.parametrize("umask", [0o022, 0o077, 0o002])
def test_new_file_gets_default_mode_less_umask(tmp_path, umask):
    old = os.umask(umask)
    try:
        bw.save_burn_state(str(tmp_path / "state.json"), {}, STAMP)
    finally:
        os.umask(old)
    assert mode(tmp_path / "state.json") == 0o666 & ~umask


@pytest.mark.parametrize("relative", [True, False], ids=["relative-link", "absolute-link"])
def test_symbolic_link_is_kept(tmp_path, relative):
    (tmp_path / "real").mkdir()
    real = tmp_path / "real" / "state.json"
    real.write_text("old")
    link = tmp_path / "link.json"
    link.symlink_to("real/state.json" if relative else real)
    bw.save_burn_state(str(link), {"1": "2"}, STAMP)
    assert link.is_symlink()
    assert bw.load_burn_state(str(real)) == {"1": "2"}
    assert sorted(p.name for p in (tmp_path / "real").iterdir()) == ["state.json"]


def test_dangling_link_writes_its_target(tmp_path):
    link = tmp_path / "link.json"
    link.symlink_to("target.json")
    bw.save_burn_state(str(link), {"1": "2"}, STAMP)
    assert link.is_symlink()
    assert bw.load_burn_state(str(tmp_path / "target.json")) == {"1": "2"}


def _fifo(path):
    os.mkfifo(path)


def _socket(path):
    # A relative name: the absolute one may be longer than a socket address takes.
    with socket.socket(socket.AF_UNIX) as listener:
        listener.bind(os.path.relpath(path))


def _character_device(path):
    # The null device's numbers, on a node of this test's own.
    os.mknod(path, stat.S_IFCHR | 0o600, os.makedev(1, 3))


def _link_to_fifo(path):
    os.mkfifo(path.with_name("fifo"))
    path.symlink_to("fifo")


@pytest.mark.parametrize(
    ("make", "is_kind"),
    [
        pytest.param(_fifo, stat.S_ISFIFO, id="fifo"),
        pytest.param(_socket, stat.S_ISSOCK, id="socket"),
        pytest.param(
            _character_device,
            stat.S_ISCHR,
            id="character-device",
            marks=pytest.mark.skipif(not IS_ROOT, reason="only root makes device nodes"),
        ),
        pytest.param(_link_to_fifo, stat.S_ISFIFO, id="link-to-fifo"),
    ],
)
def test_save_never_replaces_what_is_not_a_regular_file(tmp_path, monkeypatch, make, is_kind):
    monkeypatch.chdir(tmp_path)
    path = tmp_path / "state.json"
    make(path)
    before = sorted(os.listdir(tmp_path))
    with pytest.raises(OSError, match="not a regular file") as caught:
        bw.save_burn_state(str(path), {"1": "2"}, STAMP)
    assert caught.value.filename == str(path)
    assert is_kind(os.stat(path).st_mode)
    assert sorted(os.listdir(tmp_path)) == before


@pytest.mark.parametrize(
    "args",
    [
        pytest.param((None, {}, STAMP), id="path-none"),
        pytest.param(("PATH", [("1", "2")], STAMP), id="burns-list"),
        pytest.param(("PATH", None, STAMP), id="burns-none"),
        pytest.param(("PATH", {"1": {2}}, STAMP), id="burns-set-value"),
        pytest.param(("PATH", {1: "2"}, STAMP), id="burns-int-key"),
        pytest.param(("PATH", {}, None), id="updated-none"),
        pytest.param(("PATH", {}, 1), id="updated-int"),
    ],
)
def test_save_rejects_wrong_kinds_before_touching_file(tmp_path, args):
    path = tmp_path / "state.json"
    path.write_text("old")
    args = tuple(str(path) if a == "PATH" else a for a in args)
    with pytest.raises(TypeError):
        bw.save_burn_state(*args)
    assert path.read_text() == "old"


@pytest.mark.parametrize("path", [None, 1, b"state.json"])
def test_load_rejects_path_that_is_not_text(path):
    with pytest.raises(TypeError):
        bw.load_burn_state(path)

"""Small file systems for the state directory: a tmpfs of a few pages that can
be filled up or switched to read-only.

Mounting needs root (CAP_SYS_ADMIN); where it is refused, the tests that need
it are skipped. Without root, a directory without write permission stands in
for a read-only one (root ignores permission bits, so it cannot use that).
"""

from __future__ import annotations

import contextlib
import errno
import os
import subprocess
from collections.abc import Iterator
from pathlib import Path

import pytest


def _run(*command: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run(command, capture_output=True, text=True)


@contextlib.contextmanager
def small_tmpfs(directory: Path, size: str = "64k") -> Iterator[Path]:
    """A tmpfs of `size` mounted on `directory` for the duration, or a skip."""
    if os.geteuid() != 0:
        pytest.skip("mounting a tmpfs needs root")
    mounted = _run("mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "tmpfs", str(directory))
    if mounted.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {mounted.stderr.strip()}")
    try:
        yield directory
    finally:
        if _run("umount", str(directory)).returncode != 0:
            _run("umount", "-l", str(directory))


def set_read_only(directory: Path, read_only: bool) -> None:
    """Makes a mounted tmpfs (as root) or a plain directory read-only or not."""
    if os.geteuid() == 0:
        option = "remount,ro" if read_only else "remount,rw"
        done = _run("mount", "-o", option, str(directory))
        assert done.returncode == 0, done.stderr
    else:
        directory.chmod(0o555 if read_only else 0o755)


@contextlib.contextmanager
def read_only_capable(directory: Path) -> Iterator[int]:
    """A state directory that set_read_only can switch; yields the errno a
    write then fails with (EROFS for a read-only mount, EACCES for chmod)."""
    if os.geteuid() != 0:
        try:
            yield errno.EACCES
        finally:
            directory.chmod(0o755)
        return
    with small_tmpfs(directory, "1m"):
        try:
            yield errno.EROFS
        finally:
            set_read_only(directory, False)


def fill_up(directory: Path) -> Path:
    """Fills the file system of `directory` to the last byte with one file."""
    filler = directory / "filler"
    chunk = b"\0" * 4096
    with open(filler, "wb", buffering=0) as out:
        while True:
            try:
                out.write(chunk)
            except OSError as error:
                if error.errno != errno.ENOSPC:
                    raise
                break
        # Byte by byte into the last partial page.
        while True:
            try:
                out.write(b"\0")
            except OSError:
                break
    return filler

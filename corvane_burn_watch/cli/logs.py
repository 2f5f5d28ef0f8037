"""The log lines of the program and of the library, plain or as JSON.

Plain, the default: the library writes ``[burn] <message>`` and the program
``burn-watch: <message>``, each a line on standard error, exactly as always.
With ``--log-format json`` both become one JSON object a line,
``{"time": ..., "level": ..., "message": ...}``: the time in RFC 3339 UTC, the
level ``info``, ``warning`` or ``error``, and the message without its prefix
and line feed. The library's lines reach the program through its log seam
(``burn_watch._set_log``), the same one a Python host uses to route them into
:mod:`logging`.
"""

from __future__ import annotations

import contextlib
import sys

# typing's costs an import at start; type checkers take this one as theirs.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import datetime as dt
    from collections.abc import Iterator
    from typing import Literal

    Level = Literal["info", "warning", "error"]

__all__ = ["FORMATS", "describe", "json_line", "log_format", "say"]

FORMATS = ("plain", "json")
PROGRAM_PREFIX = "burn-watch: "


class _Output:
    json = False  # while a block of log_format("json") runs


def json_line(level: str, message: str, now: dt.datetime | None = None) -> str:
    """One log line as a JSON object and a line feed."""
    # Only JSON logs need these.
    import datetime as dt
    import json

    moment = now or dt.datetime.now(dt.UTC)
    stamp = moment.astimezone(dt.UTC).isoformat(timespec="milliseconds").replace("+00:00", "Z")
    return json.dumps({"time": stamp, "level": level, "message": message}) + "\n"


def _write(line: str) -> None:
    sys.stderr.write(line)
    sys.stderr.flush()


def say(text: str, level: Level = "info") -> None:
    """Writes one of the program's own log lines."""
    _write(json_line(level, text) if _Output.json else PROGRAM_PREFIX + text + "\n")


def describe(error: BaseException) -> str:
    """An exception as one line: its type and, when it has one, its message."""
    text = str(error).replace("\n", " ")
    return f"{type(error).__name__}: {text}" if text else type(error).__name__


def _library_line(level: str, message: str) -> None:
    _write(json_line(level, message))


@contextlib.contextmanager
def log_format(name: str) -> Iterator[None]:
    """Writes every log line in format ``name`` while the block runs."""
    if name == "plain":
        yield
        return
    from .. import burn_watch

    burn_watch._set_log(_library_line)
    _Output.json = True
    try:
        yield
    finally:
        _Output.json = False
        burn_watch._set_log(None)

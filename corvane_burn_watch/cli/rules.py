"""The watch rules from the command line and a rules file (TOML).

The program only reads: the flags and the file become a ``WatchRules`` of the
library, which applies them. A rules file is read again at every cycle; what
the command line says wins over it. A file that cannot be used at start is a
setting error; a bad edit while the watch runs keeps the last good rules, with
a warning line every cycle until it is mended.
"""

from __future__ import annotations

import argparse
import math
import re
import time
from pathlib import Path

from .settings import SettingsError

# typing's costs an import at start; type checkers take this one as theirs.
# tomllib, zoneinfo and datetime are imported where a rules file or a time
# zone asks for them.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any

    from ..burn_watch import WatchRules

__all__ = [
    "DEFAULT_THRESHOLD",
    "FileRules",
    "RulesError",
    "RulesSource",
    "add_rules_options",
    "read_rules_file",
    "resolve",
]

DEFAULT_THRESHOLD = 0.01
_KEYS = ("threshold", "subnets", "ignore_subnets", "compare_to", "quiet_hours", "timezone")
_SUBNET_KEYS = ("threshold",)
_TOML_POSITION = re.compile(r"\s*\(at line (\d+), column \d+\)$")
_AT_END = " (at end of document)"


class _Invalid(ValueError):
    """A value of a rule that cannot be used."""


class RulesError(Exception):
    """A rules file that cannot be used: the message names the file, the line
    (when one can be told) and what is wrong."""


class FileRules:
    """What a rules file (or the command line) says; None: nothing said. (A
    plain class: dataclasses would cost every start its imports.)"""

    def __init__(
        self,
        *,
        threshold: float | None = None,
        subnets: str | None = None,  # "1,7,64-70"
        ignore_subnets: str | None = None,
        compare_to: str | None = None,
        quiet_hours: str | None = None,
        timezone: str | None = None,
        subnet_thresholds: dict[int, float] | None = None,
    ) -> None:
        self.threshold = threshold
        self.subnets = subnets
        self.ignore_subnets = ignore_subnets
        self.compare_to = compare_to
        self.quiet_hours = quiet_hours
        self.timezone = timezone
        self.subnet_thresholds: dict[int, float] = (
            {} if subnet_thresholds is None else subnet_thresholds
        )


# ---- Reading values ------------------------------------------------------------


def _threshold(value: object) -> float:
    if isinstance(value, bool) or not isinstance(value, int | float):
        raise _Invalid(f"must be a number, not {value!r}")
    if not math.isfinite(value) or value < 0:
        raise _Invalid(f"must be a number >= 0, not {value!r}")
    return float(value)


def _subnet_list(value: object) -> str:
    """A list of ids and range texts ([1, 7, "64-70"]) or one text, checked
    by the library's reader."""
    from .. import burn_watch

    if isinstance(value, str):
        text = value
    elif isinstance(value, list) and all(
        isinstance(item, str) or (isinstance(item, int) and not isinstance(item, bool))
        for item in value
    ):
        text = ",".join(str(item) for item in value)
    else:
        raise _Invalid(f'must be a list of ids and ranges such as [1, 7, "64-70"], not {value!r}')
    watched = burn_watch.WatchRules(watched=text).watched
    assert watched is not None
    return watched


def _compare_to(value: object) -> str:
    if value not in ("last", "alerted"):
        raise _Invalid(f'must be "last" or "alerted", not {value!r}')
    return str(value)


def _quiet_hours(value: object) -> str:
    from .. import burn_watch

    if not isinstance(value, str):
        raise _Invalid(f'must be a text such as "22:00-07:00", not {value!r}')
    quiet = burn_watch.WatchRules(quiet_hours=value).quiet_hours
    assert quiet is not None
    return quiet


def _zone(value: object) -> str:
    if not isinstance(value, str) or not value:
        raise _Invalid(f"must be the name of a time zone such as Europe/Berlin, not {value!r}")
    import zoneinfo

    try:
        zoneinfo.ZoneInfo(value)
    except (zoneinfo.ZoneInfoNotFoundError, ValueError):
        raise _Invalid(f"{value!r} is not a known time zone (such as Europe/Berlin)") from None
    return value


def _subnet_id(value: str) -> int:
    if not value.isdecimal():
        raise _Invalid(f"{value!r} is not a subnet id")
    return int(value)


# ---- The rules file --------------------------------------------------------------


def _line_of(text: str, key: str, table: str | None = None) -> int | None:
    """The line where `key` (in `[table]`, when given) is set, if it can be told."""
    lines = text.splitlines()
    pattern = re.compile(rf"^\s*{re.escape(key)}\s*=")
    if table is not None:
        header = re.compile(rf"^\s*\[\s*{re.escape(table)}\s*\]")
        start = next((i for i, line in enumerate(lines) if header.match(line)), None)
        if start is None:
            dotted = re.compile(rf"^\s*{re.escape(table)}\.{re.escape(key)}\s*=")
            return next((i + 1 for i, line in enumerate(lines) if dotted.match(line)), None)
        for i in range(start + 1, len(lines)):
            if lines[i].lstrip().startswith("["):
                break
            if pattern.match(lines[i]):
                return i + 1
        return start + 1
    return next((i + 1 for i, line in enumerate(lines) if pattern.match(line)), None)


def _fail(path: Path, line: int | None, what: str) -> RulesError:
    return RulesError(f"{path}: line {line}: {what}" if line else f"{path}: {what}")


def read_rules_file(path: Path) -> FileRules:
    """Reads and checks a rules file; RulesError says what is wrong where."""
    try:
        text = path.read_bytes().decode("utf-8")
    except OSError as error:
        raise RulesError(f"{path}: cannot be read ({error.strerror or error})") from None
    except UnicodeDecodeError:
        raise RulesError(f"{path}: is not UTF-8 text") from None
    import tomllib

    try:
        document = tomllib.loads(text)
    except tomllib.TOMLDecodeError as error:
        message = str(error)
        found = _TOML_POSITION.search(message)
        line = int(found.group(1)) if found else None
        if message.endswith(_AT_END):  # an unclosed list or string: the last line
            message, line = message[: -len(_AT_END)], max(1, len(text.splitlines()))
        raise _fail(path, line, _TOML_POSITION.sub("", message)) from None

    rules = FileRules()
    readers: dict[str, Any] = {
        "threshold": _threshold,
        "subnets": _subnet_list,
        "ignore_subnets": _subnet_list,
        "compare_to": _compare_to,
        "quiet_hours": _quiet_hours,
        "timezone": _zone,
    }
    for key, value in document.items():
        if key == "subnet":
            rules.subnet_thresholds = _subnet_tables(path, text, value)
            continue
        if key not in readers:
            known = ", ".join((*_KEYS, "[subnet.ID]"))
            raise _fail(path, _line_of(text, key), f"unknown key {key!r} (known: {known})")
        try:
            setattr(rules, key, readers[key](value))
        except ValueError as error:
            raise _fail(path, _line_of(text, key), f"{key} {error}") from None
    return rules


def _subnet_tables(path: Path, text: str, tables: object) -> dict[int, float]:
    if not isinstance(tables, dict):
        raise _fail(path, _line_of(text, "subnet"), "subnet must be tables such as [subnet.7]")
    thresholds: dict[int, float] = {}
    for name, table in tables.items():
        where = f"subnet.{name}"
        try:
            subnet = _subnet_id(name)
        except ValueError as error:
            raise _fail(path, _line_of(text, "threshold", where), f"[{where}]: {error}") from None
        if not isinstance(table, dict):
            raise _fail(path, None, f"{where} must be a table with a threshold")
        for key, value in table.items():
            if key not in _SUBNET_KEYS:
                raise _fail(path, _line_of(text, key, where), f"unknown key {key!r} in [{where}]")
            try:
                thresholds[subnet] = _threshold(value)
            except ValueError as error:
                raise _fail(
                    path, _line_of(text, key, where), f"[{where}] threshold {error}"
                ) from None
    return thresholds


# ---- The command line ------------------------------------------------------------


def _option_reader(read: Any) -> Any:
    def parse(text: str) -> Any:
        try:
            return read(text)
        except ValueError as error:
            raise argparse.ArgumentTypeError(str(error)) from None

    return parse


def _subnet_threshold(text: str) -> tuple[int, float]:
    subnet, equals, value = text.partition("=")
    if not equals:
        raise _Invalid(f"must be ID=RATE, such as 7=0.05, not {text!r}")
    try:
        number = float(value)
    except ValueError:
        raise _Invalid(f"not a number: {value!r}") from None
    return _subnet_id(subnet.strip()), _threshold(number)


def add_rules_options(parser: argparse.ArgumentParser) -> None:
    """The rules options, for run, once, snapshot and check."""
    group = parser.add_argument_group(
        "rules", "which subnets the chat hears of, and how (see docs/rules.md)"
    )
    group.add_argument(
        "--rules",
        type=Path,
        metavar="FILE",
        help="a TOML file with the settings below, read again at every cycle; the command "
        "line wins over it",
    )
    group.add_argument(
        "--subnets",
        type=_option_reader(_subnet_list),
        metavar="LIST",
        help="alert and show in the table only these subnets: ids and ranges, e.g. 1,7,64-70",
    )
    group.add_argument(
        "--ignore-subnets",
        type=_option_reader(_subnet_list),
        metavar="LIST",
        help="never alert or show these subnets (ids and ranges)",
    )
    group.add_argument(
        "--subnet-threshold",
        type=_option_reader(_subnet_threshold),
        action="append",
        default=[],
        metavar="ID=RATE",
        help="a subnet's own threshold in place of --threshold (repeatable)",
    )
    group.add_argument(
        "--compare-to",
        type=_option_reader(_compare_to),
        metavar="{last,alerted}",
        help="measure a change from the previous cycle (last, the default) or from the value "
        "the chat was last told (alerted: a slow drift is alerted too)",
    )
    group.add_argument(
        "--told-file",
        type=Path,
        metavar="PATH",
        help="where --compare-to alerted keeps the values last told (default: the state "
        "file's path followed by .told.json)",
    )
    group.add_argument(
        "--mutes-file",
        type=Path,
        metavar="PATH",
        help="the mutes (see 'burn-watch mute'), read at every cycle (default: the state "
        "file's path followed by .mutes.json)",
    )
    group.add_argument(
        "--quiet-hours",
        type=_option_reader(_quiet_hours),
        metavar="HH:MM-HH:MM",
        help="messages sent in this window of local time make no sound (may wrap midnight, "
        "e.g. 22:00-07:00); nothing is held back",
    )
    group.add_argument(
        "--timezone",
        type=_option_reader(_zone),
        metavar="ZONE",
        help="the zone of --quiet-hours, an IANA name such as Europe/Berlin (default: this "
        "machine's)",
    )


def _from_flags(args: argparse.Namespace) -> FileRules:
    return FileRules(
        threshold=getattr(args, "threshold", None),
        subnets=args.subnets,
        ignore_subnets=args.ignore_subnets,
        compare_to=args.compare_to,
        quiet_hours=args.quiet_hours,
        timezone=args.timezone,
        subnet_thresholds=dict(args.subnet_threshold),
    )


def _utc_offset_seconds(zone: str | None) -> int:
    if not zone:
        # What datetime's astimezone() would say of the local zone, without
        # importing datetime on every start.
        return time.localtime().tm_gmtoff
    import datetime as dt
    import zoneinfo

    local = dt.datetime.now(dt.UTC).astimezone(zoneinfo.ZoneInfo(zone))
    offset = local.utcoffset()
    return int(offset.total_seconds()) if offset is not None else 0


class RulesSource:
    """The rules in effect, built afresh at every cycle: the command line over
    the rules file (read again each time), with the zone's offset of now. The
    library calls it at the start of every pass."""

    def __init__(self, args: argparse.Namespace) -> None:
        self.flags = _from_flags(args)
        self.path: Path | None = args.rules
        self.told_path = "" if args.told_file is None else str(args.told_file)
        self.mutes_path = "" if args.mutes_file is None else str(args.mutes_file)
        self.file = FileRules()
        if self.path is not None:
            self.file = read_rules_file(self.path)  # RulesError: not starting

    def merged(self) -> FileRules:
        flags, file = self.flags, self.file

        def pick(name: str) -> Any:
            given = getattr(flags, name)
            return given if given is not None else getattr(file, name)

        return FileRules(
            threshold=pick("threshold"),
            subnets=pick("subnets"),
            ignore_subnets=pick("ignore_subnets"),
            compare_to=pick("compare_to"),
            quiet_hours=pick("quiet_hours"),
            timezone=pick("timezone"),
            subnet_thresholds={**file.subnet_thresholds, **flags.subnet_thresholds},
        )

    def rules(self) -> WatchRules:
        from .. import burn_watch

        merged = self.merged()
        return burn_watch.WatchRules(
            threshold=merged.threshold,
            watched=merged.subnets,
            ignored=merged.ignore_subnets,
            subnet_thresholds=merged.subnet_thresholds,
            compare_to=merged.compare_to or "last",
            told_path=self.told_path,
            honour_mutes=True,
            mutes_path=self.mutes_path,
            quiet_hours=merged.quiet_hours,
            utc_offset_seconds=_utc_offset_seconds(merged.timezone),
        )

    def __call__(self) -> tuple[WatchRules, str]:
        warning = ""
        if self.path is not None:
            try:
                self.file = read_rules_file(self.path)
            except RulesError as error:
                warning = f"rules file {error}: keeping the last good rules"
        return self.rules(), warning


def resolve(args: argparse.Namespace) -> RulesSource:
    """Reads the rules at start; SettingsError for a file that cannot be used.
    A --threshold not given leaves the threshold to the rules file (or 0.01)."""
    try:
        source = RulesSource(args)
    except RulesError as error:
        raise SettingsError(f"rules file {error}") from None
    if getattr(args, "threshold", 0.0) is None:
        args.threshold = DEFAULT_THRESHOLD
    return source

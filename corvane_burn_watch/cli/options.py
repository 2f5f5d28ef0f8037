"""The watch options the program runs with, from the command line and the
environment."""

from __future__ import annotations

import argparse
import os
from pathlib import Path

from . import settings

# typing's costs an import at start; type checkers take this one as theirs.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Mapping

    from ..burn_watch import WatchOptions
    from .rules import RulesSource

__all__ = ["check_own_files", "check_watch_settings", "thread_id", "watch_options"]

THREAD_ID_VARIABLE = "BURN_TELEGRAM_THREAD_ID"
# How long a subnet the data service leaves out keeps its last rate in the state
# file: a week outlasts any outage of the service, and a subnet gone for longer
# is taken to be gone for good.
KEEP_ABSENT_DAYS = 7.0


def thread_id(environ: Mapping[str, str]) -> str:
    value = environ.get(THREAD_ID_VARIABLE, "").strip()
    # ASCII digits only: isdecimal() would let other scripts' digits through
    # to Telegram, which reads none of them.
    if value and not (value.isascii() and value.isdecimal()):
        raise settings.SettingsError(
            f"{THREAD_ID_VARIABLE} must be the number of a forum topic, not {value!r}"
        )
    return value


def check_watch_settings(args: argparse.Namespace, environ: Mapping[str, str]) -> None:
    thread_id(environ)
    if args.pending_file is not None and not args.pending_file.parent.is_dir():
        raise settings.SettingsError(
            f"pending file directory {args.pending_file.parent} does not exist"
        )


def check_own_files(args: argparse.Namespace, state_file: str) -> None:
    """Refuses, with SettingsError, files of a watch command that are links
    where none may be, are no regular files, or are one file twice."""
    files = [
        # The state file may be a link: it is replaced in its target's folder.
        settings.OwnFile("state file", Path(state_file), link_allowed=True),
        settings.OwnFile("state lock file", Path(state_file + ".lock")),
        settings.OwnFile(
            "pending alerts file", args.pending_file or Path(state_file + ".pending.json")
        ),
    ]
    if getattr(args, "pause_file", None) is not None:
        # Only looked at, links followed, as the library does.
        files.append(
            settings.OwnFile("pause file", args.pause_file, link_allowed=True, written=False)
        )
    if args.metrics_file is not None:
        files.append(settings.OwnFile("metrics file", args.metrics_file))
    if hasattr(args, "told_file"):
        # Replaced atomically as the state file is; the watch only reads the mutes.
        told = args.told_file or Path(state_file + ".told.json")
        mutes = args.mutes_file or Path(state_file + ".mutes.json")
        files.append(settings.OwnFile("told values file", told, link_allowed=True))
        files.append(settings.OwnFile("mutes file", mutes, link_allowed=True, written=False))
    settings.check_own_files(files)


def watch_options(args: argparse.Namespace) -> WatchOptions:
    """The watch options the program runs with: every service feature on, and
    the rules of the command line and the rules file (asked for at every pass)."""
    from .. import burn_watch

    source: RulesSource | None = getattr(args, "rules_source", None)
    return burn_watch.WatchOptions(
        skip_bad_rows=True,
        keep_corrupt_state=True,
        warn_full_page=True,
        request_deadline_seconds=args.request_deadline,
        redeliver=not args.no_redeliver,
        pending_path="" if args.pending_file is None else str(args.pending_file),
        max_retry_after_seconds=args.max_retry_after,
        startup_threshold=getattr(args, "threshold", 0.0),
        startup_table=not getattr(args, "no_startup_table", False),
        quiet_startup_table=getattr(args, "quiet_startup_table", False),
        message_thread_id=thread_id(os.environ),
        dry_run=args.dry_run,
        strict_telegram_ok=True,
        non_finite_changes=True,
        keep_absent_days=KEEP_ABSENT_DAYS,
        check_duplicate_rows=True,
        one_line_logs=True,
        rules=source.rules() if source else burn_watch.WatchRules(),
        rules_source=source,
    )

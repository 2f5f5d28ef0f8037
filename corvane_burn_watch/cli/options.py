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

__all__ = [
    "check_own_files",
    "check_watch_settings",
    "service_options",
    "thread_id",
    "watch_options",
]

THREAD_ID_VARIABLE = "BURN_TELEGRAM_THREAD_ID"


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


def service_options(threshold: float, rules_source: RulesSource | None = None) -> WatchOptions:
    """The service preset as every command and the demo run it: what changed
    while the watch was stopped is judged by the watch's own threshold, and
    the rules are those of the command line and the rules file (asked for at
    every pass), when there are any."""
    from .. import burn_watch

    options = burn_watch.WatchOptions.service(rules_source=rules_source)
    options.startup_threshold = threshold
    if rules_source is not None:
        options.rules = rules_source.rules()
    return options


def watch_options(args: argparse.Namespace) -> WatchOptions:
    """The service preset, with what the command line and the environment set."""
    source: RulesSource | None = getattr(args, "rules_source", None)
    options = service_options(getattr(args, "threshold", 0.0), source)
    # The flags' defaults are the preset's (the demo, which has no flags, runs
    # the preset as it is).
    options.request_deadline_seconds = args.request_deadline
    options.max_retry_after_seconds = args.max_retry_after
    if args.no_redeliver:
        options.redeliver = False
    if args.pending_file is not None:
        options.pending_path = str(args.pending_file)
    options.startup_table = not getattr(args, "no_startup_table", False)
    options.quiet_startup_table = getattr(args, "quiet_startup_table", False)
    options.message_thread_id = thread_id(os.environ)
    options.dry_run = args.dry_run
    return options

"""The watch options the program runs with, from the command line and the
environment."""

from __future__ import annotations

import argparse
import os

from . import settings

# typing's costs an import at start; type checkers take this one as theirs.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Mapping

    from ..burn_watch import WatchOptions

__all__ = ["check_watch_settings", "thread_id", "watch_options"]

THREAD_ID_VARIABLE = "BURN_TELEGRAM_THREAD_ID"


def thread_id(environ: Mapping[str, str]) -> str:
    value = environ.get(THREAD_ID_VARIABLE, "").strip()
    if value and not value.isdecimal():
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


def watch_options(args: argparse.Namespace) -> WatchOptions:
    """The watch options the program runs with: every service feature on."""
    from .. import burn_watch

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
    )

"""The watch options the program runs with, from the command line and the
environment."""

from __future__ import annotations

import argparse
import os
from collections.abc import Mapping
from typing import TYPE_CHECKING

from . import settings

if TYPE_CHECKING:
    from ..burn_watch import WatchOptions

__all__ = ["check_watch_settings", "service_options", "thread_id", "watch_options"]

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


def service_options(threshold: float) -> WatchOptions:
    """The service preset as every command and the demo run it: what changed
    while the watch was stopped is judged by the watch's own threshold."""
    from .. import burn_watch

    options = burn_watch.WatchOptions.service()
    options.startup_threshold = threshold
    return options


def watch_options(args: argparse.Namespace) -> WatchOptions:
    """The service preset, with what the command line and the environment set."""
    options = service_options(getattr(args, "threshold", 0.0))
    if args.request_deadline is not None:
        options.request_deadline_seconds = args.request_deadline
    if args.max_retry_after is not None:
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

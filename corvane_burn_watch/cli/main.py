"""The ``burn-watch`` program: reads the command line and runs a command."""

from __future__ import annotations

import argparse
import contextlib
import os
import sys

from . import logs, settings
from .exit_codes import EXIT_ERROR, EXIT_SIGINT, EXIT_SIGTERM, EXIT_USAGE
from .parser import COMMANDS, UsageError, build_parser, with_default_command
from .signals import TerminationRequested, sigterm_as_interrupt

# typing's costs an import at start; type checkers take this one as theirs.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable, Sequence

    from .reports import Consumer

    Command = Callable[[argparse.Namespace, settings.Credentials], int]
    WatchCommand = Callable[[argparse.Namespace, str, settings.Credentials], int]

__all__ = ["main"]


def _setup_command(name: str) -> Command:
    if name == "check":
        from .commands import check

        return check.command
    from .commands import test_message

    return test_message.command


def _watch_command(name: str) -> WatchCommand:
    if name == "run":
        from .commands import run

        return run.command
    if name == "once":
        from .commands import once

        return once.command
    from .commands import snapshot

    return snapshot.command


def _state_file(args: argparse.Namespace) -> str:
    if args.state_file is None:
        path = settings.default_state_file(os.environ)
        return str(settings.prepare_state_file(path, create_directory=True))
    return str(settings.prepare_state_file(args.state_file, create_directory=False))


def _state_lock(
    args: argparse.Namespace, state_file: str
) -> contextlib.AbstractContextManager[object]:
    """Held while the command works on the state (for run: the whole run); a
    dry run writes nothing and takes no lock. Raises BlockingIOError naming the
    holder when another watch uses the state file."""
    if args.dry_run:
        return contextlib.nullcontext()
    from .. import burn_watch

    return burn_watch.StateLock(state_file)


def _reporting(args: argparse.Namespace, stack: contextlib.ExitStack) -> list[Consumer]:
    """Who gets the library's cycle reports: metrics, when asked for, and
    systemd, when the watch runs under it."""
    consumers: list[Consumer] = []
    port = getattr(args, "metrics_port", None)
    if port is not None or args.metrics_file is not None:
        from .metrics import open_metrics

        address = getattr(args, "metrics_address", "127.0.0.1")
        consumers += open_metrics(stack, port=port, address=address, path=args.metrics_file)
    if args.command == "run":
        from .systemd import Notifier

        args.notifier = stack.enter_context(
            contextlib.closing(Notifier.from_environment(os.environ))
        )
        if args.notifier.active:
            consumers.append(args.notifier.observe)
    return consumers


def _dispatch(args: argparse.Namespace) -> int:
    if args.command == "demo":
        from .commands.demo import run_demo

        return run_demo(args)
    from .options import check_own_files, check_watch_settings

    if args.command in ("mute", "unmute", "mutes"):
        from .commands.mute import command as mute_command

        return mute_command(args)
    with logs.log_format(args.log_format), contextlib.ExitStack() as stack:
        try:
            if args.command in ("run", "once", "snapshot"):
                from .rules import resolve

                args.rules_source = resolve(args)
            settings.check_service_urls(os.environ)
            settings.check_user_agent(os.environ)
            creds = settings.load_credentials(os.environ)
            if args.command in ("check", "test-message"):
                return _setup_command(args.command)(args, creds)
            state_file = _state_file(args)
            check_watch_settings(args, os.environ)
            check_own_files(args, state_file)
        except settings.SettingsError as error:
            logs.say(f"error: {error}", "error")
            return EXIT_USAGE
        try:
            stack.enter_context(_state_lock(args, state_file))
        except OSError as error:
            logs.say(f"error: {error.strerror or error}", "error")
            return EXIT_USAGE
        try:
            consumers = _reporting(args, stack)
        except settings.SettingsError as error:
            logs.say(f"error: {error}", "error")
            return EXIT_USAGE
        from .reports import observing_cycles

        stack.enter_context(observing_cycles(consumers))
        return _watch_command(args.command)(args, state_file, creds)


def main(argv: Sequence[str] | None = None) -> int:
    try:
        words = with_default_command(sys.argv[1:] if argv is None else argv)
        # A command needs only its own part of the command line built.
        args = build_parser(words[0] if words[0] in COMMANDS else None).parse_args(words)
    except UsageError as error:
        logs.say(f"error: {error}", "error")
        return EXIT_USAGE
    try:
        with sigterm_as_interrupt():
            return _dispatch(args)
    except TerminationRequested:
        logs.say("stopped by SIGTERM")
        return EXIT_SIGTERM
    except KeyboardInterrupt:
        logs.say("interrupted")
        return EXIT_SIGINT
    except Exception as error:
        logs.say(f"error: {logs.describe(error)}", "error")
        return EXIT_ERROR

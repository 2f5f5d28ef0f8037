"""The ``burn-watch`` command: parses options and calls the library.

Exit codes: the result code of ``once`` and ``snapshot`` (0 or 1); 0 when
``run`` stops at the pause file; 1 for an error the library raised; 2 for a
bad option or setting (reported before any network traffic); 130 after
Ctrl-C and 143 after SIGTERM.
"""

from __future__ import annotations

import argparse
import math
import os
import sys
import textwrap
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import NoReturn

from . import _settings
from ._signals import TerminationRequested, sigterm_as_interrupt

__all__ = ["main"]

PROG = "burn-watch"
COMMANDS = ("run", "once", "snapshot", "demo")

EXIT_ERROR = 1
EXIT_USAGE = 2
EXIT_SIGINT = 130
EXIT_SIGTERM = 143

DESCRIPTION = """\
Watches the owner burn rate of every Corvane subnet. The rates come from the
Orbisca subnet data service; the last values seen are kept in a state file,
and a Telegram chat gets an alert whenever a subnet's rate moves by more than
the threshold, plus a table of all rates when the watch starts.

Try it without any account or network:  burn-watch demo
"""

ENVIRONMENT = """\
environment (secrets are never taken from the command line):
  ORBISCA_API_KEY          key of the Orbisca data service (required)
  BURN_TELEGRAM_TOKEN      Telegram bot token (required)
  BURN_TELEGRAM_CHAT_ID    Telegram chat to report to (required)
  NAME_FILE                for each of the three: a file holding the value
                           instead, e.g. BURN_TELEGRAM_TOKEN_FILE (white space
                           around it is ignored; for systemd credentials)
  ORBISCA_API_BASE         other data service address (optional)
  ORBISCA_USER_AGENT       User-Agent sent to the data service (optional)
  BURN_TELEGRAM_API_BASE   other Telegram Bot API address (optional)

stopping: create the pause file (see --pause-file) and the watch stops within
about a second (a cycle under way finishes first); Ctrl-C or SIGTERM stop it
at once, without a traceback and without a half-written state file.
"""


class _UsageError(Exception):
    pass


class _Parser(argparse.ArgumentParser):
    """Hands a usage mistake to main(), which reports it as one line."""

    def error(self, message: str) -> NoReturn:
        raise _UsageError(f"{message} (see '{self.prog} --help')")


def _say(text: str) -> None:
    sys.stderr.write(f"{PROG}: {text}\n")
    sys.stderr.flush()


def _number(minimum: float, inclusive: bool) -> Callable[[str], float]:
    bound = f">= {minimum:g}" if inclusive else f"> {minimum:g}"

    def parse(text: str) -> float:
        try:
            value = float(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
        if not math.isfinite(value) or value < minimum or (not inclusive and value == minimum):
            raise argparse.ArgumentTypeError(f"must be a number {bound}, not {text!r}")
        return value

    return parse


def _path(text: str) -> Path:
    if not text:
        raise argparse.ArgumentTypeError("must not be empty")
    return Path(text)


def _paragraph(text: str) -> str:
    return textwrap.fill(text, width=78)


def _add_state_file(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--state-file",
        type=_path,
        metavar="PATH",
        help="JSON file holding the last rates seen (default: "
        "$XDG_STATE_HOME/corvane-burn-watch/burn_state.json, or under ~/.local/state; "
        "its directory is created on first use)",
    )


def _add_threshold(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--threshold",
        type=_number(0.0, inclusive=True),
        default=0.01,
        metavar="RATE",
        help="alert when a subnet's burn rate moves by more than this (default: 0.01)",
    )


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog=PROG,
        description=DESCRIPTION,
        epilog=ENVIRONMENT,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    from . import __version__

    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", title="commands")

    run = commands.add_parser(
        "run",
        help="post the table of all rates, then check every interval (the default)",
        description=_paragraph(
            "Posts the table of all current rates (the startup snapshot), then runs a watch "
            "cycle every interval until the pause file appears. A failed snapshot is reported "
            "and the watch goes on."
        ),
        epilog=ENVIRONMENT,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    _add_state_file(run)
    _add_threshold(run)
    run.add_argument(
        "--interval-minutes",
        type=_number(0.0, inclusive=False),
        default=5.0,
        metavar="MINUTES",
        help="time between watch cycles; the first comes one interval after the snapshot, "
        "and anything up to 1 means one minute (default: 5)",
    )
    run.add_argument(
        "--pause-file",
        type=_path,
        metavar="PATH",
        help="when a regular file exists at PATH the watch stops (checked every second); "
        "without this option it runs until stopped",
    )

    once = commands.add_parser(
        "once",
        help="run one watch cycle: compare with the state file, alert on changes",
        description=_paragraph(
            "Runs one watch cycle: fetches every subnet, compares with the state file, saves "
            "the new rates and sends one alert when any changed. Exit code 0 when it completed "
            "and any alert was delivered, else 1. The first run only saves."
        ),
        epilog=ENVIRONMENT,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    _add_state_file(once)
    _add_threshold(once)

    snapshot = commands.add_parser(
        "snapshot",
        help="save all current rates as the baseline and post them as a table",
        description=_paragraph(
            "Fetches every subnet, saves all rates as the new baseline and posts the full "
            "table. Exit code 0 when the table was delivered, else 1."
        ),
        epilog=ENVIRONMENT,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    _add_state_file(snapshot)

    from ._demo import add_demo_options

    demo = commands.add_parser(
        "demo",
        help="watch a simulated network and chat on this machine (no account or network needed)",
        description="Starts a simulated data service and Telegram chat inside this process, "
        "then runs the startup snapshot and a few watch cycles while the simulated burn rates "
        "drift, printing every message as the chat would show it. Uses a temporary state "
        "file and ignores the environment variables above.",
    )
    add_demo_options(demo)
    return parser


def _with_default_command(argv: Sequence[str]) -> list[str]:
    """``burn-watch [options]`` means ``burn-watch run [options]``."""
    args = list(argv)
    if not args or (args[0] not in COMMANDS and args[0] not in ("-h", "--help", "--version")):
        args.insert(0, "run")
    return args


def _state_file(args: argparse.Namespace) -> str:
    if args.state_file is None:
        path = _settings.default_state_file(os.environ)
        return str(_settings.prepare_state_file(path, create_directory=True))
    return str(_settings.prepare_state_file(args.state_file, create_directory=False))


def _run(args: argparse.Namespace, state_file: str, creds: _settings.Credentials) -> int:
    from . import burn_watch

    pause = str(args.pause_file) if args.pause_file is not None else ""
    if burn_watch._burn_is_paused(pause):
        # A paused watch posts nothing, not even the startup table.
        _say(f"pause file {pause} exists: not starting (remove it to resume)")
        return 0
    # The library's floor: anything up to one minute polls once a minute.
    minutes = max(1, args.interval_minutes)
    _say(
        f"watching every {minutes:g} min, state file {state_file}, "
        + (f"pause file {pause}" if pause else "no pause file")
    )
    try:
        code = burn_watch.run_burn_startup_snapshot(
            state_path=state_file,
            burn_token=creds.telegram_token,
            burn_chat_id=creds.telegram_chat_id,
        )
    except Exception as error:  # the watch itself may still work: go on
        _say(f"startup snapshot failed: {_describe(error)}; starting the watch anyway")
    else:
        if code != 0:
            _say("startup snapshot did not complete (see above); starting the watch anyway")
    burn_watch.run_burn_poll_loop(
        state_path=state_file,
        threshold=args.threshold,
        interval_minutes=args.interval_minutes,
        pause_path=pause,
        burn_token=creds.telegram_token,
        burn_chat_id=creds.telegram_chat_id,
    )
    return 0


def _once(args: argparse.Namespace, state_file: str, creds: _settings.Credentials) -> int:
    from . import burn_watch

    return burn_watch.run_burn_watch_once(
        state_path=state_file,
        threshold=args.threshold,
        burn_token=creds.telegram_token,
        burn_chat_id=creds.telegram_chat_id,
    )


def _snapshot(args: argparse.Namespace, state_file: str, creds: _settings.Credentials) -> int:
    from . import burn_watch

    return burn_watch.run_burn_startup_snapshot(
        state_path=state_file,
        burn_token=creds.telegram_token,
        burn_chat_id=creds.telegram_chat_id,
    )


WATCH_COMMANDS = {"run": _run, "once": _once, "snapshot": _snapshot}


def _describe(error: BaseException) -> str:
    text = str(error).replace("\n", " ")
    return f"{type(error).__name__}: {text}" if text else type(error).__name__


def _dispatch(args: argparse.Namespace) -> int:
    if args.command == "demo":
        from ._demo import run_demo

        return run_demo(args)
    try:
        _settings.check_service_urls(os.environ)
        creds = _settings.load_credentials(os.environ)
        state_file = _state_file(args)
    except _settings.SettingsError as error:
        _say(f"error: {error}")
        return EXIT_USAGE
    return WATCH_COMMANDS[args.command](args, state_file, creds)


def main(argv: Sequence[str] | None = None) -> int:
    try:
        args = build_parser().parse_args(
            _with_default_command(sys.argv[1:] if argv is None else argv)
        )
    except _UsageError as error:
        _say(f"error: {error}")
        return EXIT_USAGE
    try:
        with sigterm_as_interrupt():
            return _dispatch(args)
    except TerminationRequested:
        _say("stopped by SIGTERM")
        return EXIT_SIGTERM
    except KeyboardInterrupt:
        _say("interrupted")
        return EXIT_SIGINT
    except Exception as error:
        _say(f"error: {_describe(error)}")
        return EXIT_ERROR

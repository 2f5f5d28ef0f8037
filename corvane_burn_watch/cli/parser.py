"""The command line: every command, its options and their help."""

from __future__ import annotations

import argparse
import os
import sys
import textwrap

from . import logs
from .numbers import number, whole_number
from .rules import add_rules_options

# typing's costs an import at start; type checkers take this one as theirs.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable, Sequence
    from pathlib import Path
    from typing import NoReturn

__all__ = ["COMMANDS", "PROG", "UsageError", "build_parser", "with_default_command"]

PROG = "burn-watch"
COMMANDS = ("run", "once", "snapshot", "check", "test-message", "mute", "unmute", "mutes", "demo")

# The longest interval between cycles: a week (in minutes). More is a typo,
# and a watch that waits longer is no watch.
LONGEST_INTERVAL_MINUTES = 7 * 24 * 60

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
  BURN_TELEGRAM_THREAD_ID  forum topic (message_thread_id) every message goes
                           to (optional)
  https_proxy, HTTPS_PROXY proxy for https:// addresses (both services)
  http_proxy               proxy for http:// addresses; the upper-case
                           HTTP_PROXY is ignored on purpose (a web server's
                           CGI puts a request's "Proxy:" header there)
  no_proxy, NO_PROXY       addresses reached without a proxy: host names,
                           domains, addresses or "*", separated by commas
  NOTIFY_SOCKET            set by systemd for Type=notify: readiness, status
                           and watchdog pings (WATCHDOG_USEC) go there

stopping: create the pause file (see --pause-file) and the watch stops within
about a second (a cycle under way finishes first); Ctrl-C or SIGTERM stop it
at once, without a traceback and without a half-written state file.
"""


class UsageError(Exception):
    """A mistake on the command line, reported as one line."""


def _terminal_width() -> int:
    """What shutil.get_terminal_size() says of the columns, without importing
    shutil, which brings the compression modules with it."""
    try:
        columns = int(os.environ.get("COLUMNS", ""))
    except ValueError:
        columns = 0
    if columns <= 0:
        try:
            columns = os.get_terminal_size(sys.__stdout__.fileno()).columns  # type: ignore[union-attr]
        except (AttributeError, ValueError, OSError):
            columns = 0
    return columns if columns > 0 else 80


class _Parser(argparse.ArgumentParser):
    """Hands a usage mistake to main(), which reports it as one line."""

    def error(self, message: str) -> NoReturn:
        raise UsageError(f"{message} (see '{self.prog} --help')")

    def _get_formatter(self) -> argparse.HelpFormatter:
        # argparse's own asks shutil for the width, on every add_argument.
        # (Every argparse formatter takes a width; typeshed names only prog.)
        return self.formatter_class(prog=self.prog, width=_terminal_width() - 2)  # type: ignore[call-arg]


def _path(text: str) -> Path:
    if not text:
        raise argparse.ArgumentTypeError("must not be empty")
    from pathlib import Path  # only when a path is given

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
        type=number(0.0, inclusive=True),
        metavar="RATE",
        help="alert when a subnet's burn rate moves by more than this (default: the rules "
        "file's threshold, else 0.01)",
    )


def _add_log_format(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--log-format",
        choices=logs.FORMATS,
        default="plain",
        help="plain: the lines '[burn] ...' and 'burn-watch: ...' (the default); json: each "
        'line one JSON object {"time", "level", "message"}',
    )


def _add_metrics_file(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--metrics-file",
        type=_path,
        metavar="PATH",
        help="after every pass, replace PATH with the Prometheus metrics in text form "
        "(for node_exporter's textfile collector: name it *.prom in its folder)",
    )


def _add_run_command(commands: argparse._SubParsersAction[_Parser]) -> None:
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
    _add_watch_options(run, "run")
    add_rules_options(run)
    run.add_argument(
        "--interval-minutes",
        type=number(0.0, inclusive=False, maximum=LONGEST_INTERVAL_MINUTES),
        default=5.0,
        metavar="MINUTES",
        help="time between watch cycles, at most a week (10080); the first comes one interval "
        "after the snapshot, and anything up to 1 means one minute (default: 5)",
    )
    run.add_argument(
        "--pause-file",
        type=_path,
        metavar="PATH",
        help="when a regular file exists at PATH the watch stops (checked every second); "
        "without this option it runs until stopped",
    )
    run.add_argument(
        "--metrics-port",
        type=whole_number(0, 65535, what="port number"),
        metavar="PORT",
        help="serve Prometheus metrics at http://ADDRESS:PORT/metrics while the watch runs "
        "(0: any free port, named in a log line)",
    )
    run.add_argument(
        "--metrics-address",
        default="127.0.0.1",
        metavar="ADDRESS",
        help="address the metrics are served on (default: 127.0.0.1; 0.0.0.0 or :: for all)",
    )
    _add_metrics_file(run)
    _add_log_format(run)


def _add_once_command(commands: argparse._SubParsersAction[_Parser]) -> None:
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
    _add_watch_options(once, "once")
    add_rules_options(once)
    _add_metrics_file(once)
    _add_log_format(once)


def _add_snapshot_command(commands: argparse._SubParsersAction[_Parser]) -> None:
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
    _add_watch_options(snapshot, "snapshot")
    add_rules_options(snapshot)
    _add_metrics_file(snapshot)
    _add_log_format(snapshot)


def _add_check_command(commands: argparse._SubParsersAction[_Parser]) -> None:
    check = commands.add_parser(
        "check",
        help="check the data service, the bot, the chat and the state file; send nothing",
        description=_paragraph(
            "With the settings 'run' would use, fetches the subnet list once, asks Telegram "
            "for the bot (getMe) and the chat (getChat), and reads the state file. Sends no "
            "message and writes no file. One line per check, ending in 'ok' or 'FAILED: "
            "<reason>', then the rules in effect (a rules file given with --rules is checked "
            "too). Exit code 0 when every check passes, 1 when any fails, 2 for a bad "
            "setting."
        ),
        epilog=ENVIRONMENT,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    _add_state_file(check)
    _add_request_deadline(check)
    add_rules_options(check)
    _add_log_format(check)


def _add_test_message_command(commands: argparse._SubParsersAction[_Parser]) -> None:
    test_message = commands.add_parser(
        "test-message",
        help="send one message to the chat the way alerts go",
        description=_paragraph(
            "Sends TEXT (by default a line naming this host and the time) to the chat through "
            "the same delivery as the alerts. Exit code 0 when it was delivered, else 1 with "
            "the reason."
        ),
        epilog=ENVIRONMENT,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    test_message.add_argument("text", nargs="?", metavar="TEXT", help="the message")
    _add_state_file(test_message)
    _add_watch_options(test_message, "test-message")
    _add_log_format(test_message)


def _add_mute_commands(commands: argparse._SubParsersAction[_Parser]) -> None:
    from .commands.mute import add_mute_commands

    add_mute_commands(commands, _add_state_file)


def _add_demo_command(commands: argparse._SubParsersAction[_Parser]) -> None:
    demo = commands.add_parser(
        "demo",
        help="watch a simulated network and chat on this machine (no account or network needed)",
        description="Starts a simulated data service and Telegram chat inside this process, "
        "then runs the startup snapshot and a few watch cycles while the simulated burn rates "
        "drift, printing every message as the chat would show it. Uses a temporary state "
        "file and ignores the environment variables above.",
    )
    _add_demo_options(demo)


_COMMAND_PARSERS = {
    "run": _add_run_command,
    "once": _add_once_command,
    "snapshot": _add_snapshot_command,
    "check": _add_check_command,
    "test-message": _add_test_message_command,
    # One part for the three: they share it.
    "mute": _add_mute_commands,
    "unmute": _add_mute_commands,
    "mutes": _add_mute_commands,
    "demo": _add_demo_command,
}


def build_parser(only: str | None = None) -> argparse.ArgumentParser:
    """The whole command line, or with `only` the one command it names (all a
    run of that command needs: the others' options cost every start)."""
    parser = _Parser(
        prog=PROG,
        description=DESCRIPTION,
        epilog=ENVIRONMENT,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    from .. import __version__

    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", title="commands")

    chosen: list[Callable[[argparse._SubParsersAction[_Parser]], None]] = []
    for name, add in _COMMAND_PARSERS.items():
        if (only is None or name == only) and add not in chosen:
            chosen.append(add)
    for add_command in chosen:
        add_command(commands)
    return parser


# Here rather than beside the demo, whose simulator every start would import.
def _add_demo_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--cycles",
        type=whole_number(1),
        default=3,
        help="watch cycles after the snapshot (default: 3)",
    )
    parser.add_argument(
        "--seconds-between",
        type=number(0.0, inclusive=True, maximum=3600.0),
        default=3.0,
        metavar="SECONDS",
        help="wait between two steps (default: 3)",
    )
    parser.add_argument(
        "--subnets",
        type=whole_number(1),
        default=300,
        help="simulated subnets; with the default 300 the long messages arrive in "
        "numbered parts (default: 300)",
    )


# The shortest deadline a request may have: the HTTP client counts in whole
# milliseconds, and reads 0 ms as no deadline at all.
SHORTEST_REQUEST_DEADLINE = 0.001


def _add_request_deadline(group: argparse._ActionsContainer) -> None:
    group.add_argument(
        "--request-deadline",
        type=number(SHORTEST_REQUEST_DEADLINE, inclusive=True),
        default=300.0,
        metavar="SECONDS",
        help="longest time any one request to the data service or Telegram may take, "
        "connecting included, at least 0.001; a slower one fails as a network failure does "
        "(default: 300)",
    )


def _add_watch_options(parser: argparse.ArgumentParser, command: str) -> None:
    """The options of a long-running watch, for run, once, snapshot and test-message."""
    group = parser.add_argument_group("delivery")
    if command == "snapshot":
        _add_threshold(parser)  # what changed since the state was saved is alerted first
    group.add_argument(
        "--dry-run",
        action="store_true",
        help="do everything but send: each message the chat would get is printed on standard "
        'output, followed by a line "----" ("---- (silent)" in quiet hours); the state, pending, '
        "told values and lock files are not touched",
    )
    group.add_argument(
        "--no-redeliver",
        action="store_true",
        help="send each alert once, as the library does without watch options: a failed "
        "alert is lost, a refusal is no reason to stop, and a restart alerts nothing",
    )
    group.add_argument(
        "--pending-file",
        type=_path,
        metavar="PATH",
        help="where alerts wait until Telegram has them (default: the state file's path "
        "followed by .pending.json); removed when nothing is pending",
    )
    group.add_argument(
        "--max-retry-after",
        type=number(0.0, inclusive=True),
        default=60.0,
        metavar="SECONDS",
        help="when Telegram asks to wait (429), wait and send again as long as a cycle waits "
        "no more than this in all; else the alert waits for the next cycle (default: 60)",
    )
    _add_request_deadline(group)
    if command in ("run", "snapshot"):
        group.add_argument(
            "--quiet-startup-table",
            action="store_true",
            help="post the snapshot table without a notification sound (alerts still ring)",
        )
    if command == "run":
        group.add_argument(
            "--no-startup-table",
            action="store_true",
            help="do not post the table of all rates at start (what changed while the watch "
            "was stopped is still alerted), so that a restart loop stays quiet",
        )


def with_default_command(argv: Sequence[str]) -> list[str]:
    """``burn-watch [options]`` means ``burn-watch run [options]``."""
    args = list(argv)
    if not args or (args[0] not in COMMANDS and args[0] not in ("-h", "--help", "--version")):
        args.insert(0, "run")
    return args

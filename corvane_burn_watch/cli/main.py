"""The ``burn-watch`` command: parses options and calls the library.

Exit codes: the result code of ``once`` and ``snapshot`` (0 or 1, or 2 when
Telegram refuses the bot or the chat); 0 when ``run`` stops at the pause
file; 0 when every ``check`` passes or the test message arrived, else 1; 1
for an error the library raised; 2 for a bad option or setting (reported
before any network traffic), for a state file another watch is using, and
when Telegram refuses the bot or the chat at start-up (restarting cannot
help); 130 after Ctrl-C and 143 after SIGTERM.
"""

from __future__ import annotations

import argparse
import contextlib
import math
import os
import sys
import textwrap
from collections.abc import Callable, Mapping, Sequence
from pathlib import Path
from typing import TYPE_CHECKING, NoReturn, TypedDict

from . import _logging, _settings
from ._signals import TerminationRequested, sigterm_as_interrupt

if TYPE_CHECKING:
    from ._reports import Consumer
    from .burn_watch import WatchOptions

__all__ = ["main"]

PROG = "burn-watch"
COMMANDS = ("run", "once", "snapshot", "check", "test-message", "demo")

EXIT_ERROR = 1
EXIT_USAGE = 2
EXIT_SIGINT = 130
EXIT_SIGTERM = 143

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


class _UsageError(Exception):
    pass


class ChatArguments(TypedDict):
    """The keyword arguments of a driver operation that name the bot and chat."""

    burn_token: str
    burn_chat_id: str


class _Parser(argparse.ArgumentParser):
    """Hands a usage mistake to main(), which reports it as one line."""

    def error(self, message: str) -> NoReturn:
        raise _UsageError(f"{message} (see '{self.prog} --help')")


def _say(text: str, level: _logging.Level = "info") -> None:
    _logging.say(text, level)


def _number(minimum: float, inclusive: bool, maximum: float = math.inf) -> Callable[[str], float]:
    bound = f">= {minimum:g}" if inclusive else f"> {minimum:g}"
    if maximum < math.inf:
        bound += f" and at most {maximum:g}"

    def parse(text: str) -> float:
        try:
            value = float(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
        if (
            not math.isfinite(value)
            or value < minimum
            or (not inclusive and value == minimum)
            or value > maximum
        ):
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


def _port(text: str) -> int:
    try:
        port = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a port number: {text!r}") from None
    if not 0 <= port <= 65535:
        raise argparse.ArgumentTypeError(f"must be a port from 0 to 65535, not {text!r}")
    return port


def _add_log_format(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--log-format",
        choices=_logging.FORMATS,
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
    _add_watch_options(run, "run")
    run.add_argument(
        "--interval-minutes",
        type=_number(0.0, inclusive=False, maximum=LONGEST_INTERVAL_MINUTES),
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
        type=_port,
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
    _add_metrics_file(once)
    _add_log_format(once)

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
    _add_metrics_file(snapshot)
    _add_log_format(snapshot)

    check = commands.add_parser(
        "check",
        help="check the data service, the bot, the chat and the state file; send nothing",
        description=_paragraph(
            "With the settings 'run' would use, fetches the subnet list once, asks Telegram "
            "for the bot (getMe) and the chat (getChat), and reads the state file. Sends no "
            "message and writes no file. One line per check, ending in 'ok' or 'FAILED: "
            "<reason>'. Exit code 0 when every check passes, 1 when any fails, 2 for a bad "
            "setting."
        ),
        epilog=ENVIRONMENT,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    _add_state_file(check)
    _add_log_format(check)

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
    with args.notifier.watching():
        return _watch(args, state_file, creds, pause)


def _watch(
    args: argparse.Namespace, state_file: str, creds: _settings.Credentials, pause: str
) -> int:
    from . import burn_watch

    # The library's floor: anything up to one minute polls once a minute.
    minutes = max(1, args.interval_minutes)
    _say(
        f"watching every {minutes:g} min, state file {state_file}, "
        + (f"pause file {pause}" if pause else "no pause file")
    )
    telegram: ChatArguments = {
        "burn_token": creds.telegram_token,
        "burn_chat_id": creds.telegram_chat_id,
    }
    options = _watch_options(args)
    try:
        code = burn_watch.run_burn_startup_snapshot(
            state_path=state_file, settings=creds.service, options=options, **telegram
        )
    except Exception as error:  # the watch itself may still work: go on
        _say(f"startup snapshot failed: {_describe(error)}; starting the watch anyway", "error")
    else:
        if code == EXIT_REFUSED:
            _say(REFUSED_AT_START, "error")
            return EXIT_REFUSED
        if code != 0:
            _say(
                "startup snapshot did not complete (see above); starting the watch anyway",
                "warning",
            )
    args.notifier.ready()
    burn_watch.run_burn_poll_loop(
        state_path=state_file,
        threshold=args.threshold,
        interval_minutes=args.interval_minutes,
        pause_path=pause,
        settings=creds.service,
        options=options,
        **telegram,
    )
    return 0


def _once(args: argparse.Namespace, state_file: str, creds: _settings.Credentials) -> int:
    from . import burn_watch

    return burn_watch.run_burn_watch_once(
        state_path=state_file,
        threshold=args.threshold,
        burn_token=creds.telegram_token,
        burn_chat_id=creds.telegram_chat_id,
        settings=creds.service,
        options=_watch_options(args),
    )


def _snapshot(args: argparse.Namespace, state_file: str, creds: _settings.Credentials) -> int:
    from . import burn_watch

    return burn_watch.run_burn_startup_snapshot(
        state_path=state_file,
        burn_token=creds.telegram_token,
        burn_chat_id=creds.telegram_chat_id,
        settings=creds.service,
        options=_watch_options(args),
    )


def _check(args: argparse.Namespace, creds: _settings.Credentials) -> int:
    from ._check import run_checks

    if args.state_file is None:
        path, may_create = _settings.default_state_file(os.environ), True
    else:
        path, may_create = args.state_file, False
    secrets = (creds.service.api_key or "", creds.telegram_token)

    def write(line: str) -> None:
        print(line, flush=True)

    return run_checks(creds, path, may_create_folder=may_create, secrets=secrets, write=write)


def _test_message(args: argparse.Namespace, creds: _settings.Credentials) -> int:
    from ._test_message import default_text, send_test_message

    _check_watch_settings(args, os.environ)
    state = args.state_file or _settings.default_state_file(os.environ)
    options = _watch_options(args)
    ok, detail = send_test_message(creds, str(state), args.text or default_text(), options)
    if ok:
        _say("test message delivered")
        return 0
    _say(f"test message not delivered: {detail}", "error")
    return EXIT_ERROR


WATCH_COMMANDS = {"run": _run, "once": _once, "snapshot": _snapshot}
SETUP_COMMANDS = {"check": _check, "test-message": _test_message}


def _describe(error: BaseException) -> str:
    text = str(error).replace("\n", " ")
    return f"{type(error).__name__}: {text}" if text else type(error).__name__


# ---- Delivery, dry runs and one watch per state file ---------------------------

# A result of the library, and this program's exit code, when Telegram refuses
# the bot or the chat: restarting cannot help, so a service manager should not.
EXIT_REFUSED = 2
REFUSED_AT_START = (
    "Telegram refused the bot or the chat at start-up (see above): restarting cannot help; "
    "fix the setting and start again"
)
THREAD_ID_VARIABLE = "BURN_TELEGRAM_THREAD_ID"


def _add_watch_options(parser: argparse.ArgumentParser, command: str) -> None:
    """The options of a long-running watch, for run, once, snapshot and test-message."""
    group = parser.add_argument_group("delivery")
    if command == "snapshot":
        _add_threshold(parser)  # what changed since the state was saved is alerted first
    group.add_argument(
        "--dry-run",
        action="store_true",
        help="do everything but send: each message the chat would get is printed on standard "
        'output, followed by a line "----"; the state, pending and lock files are not touched',
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
        type=_number(0.0, inclusive=True),
        default=60.0,
        metavar="SECONDS",
        help="when Telegram asks to wait (429), wait and send again as long as a cycle waits "
        "no more than this in all; else the alert waits for the next cycle (default: 60)",
    )
    group.add_argument(
        "--request-deadline",
        type=_number(0.0, inclusive=False),
        default=300.0,
        metavar="SECONDS",
        help="longest time any one request to the data service or Telegram may take, "
        "connecting included; a slower one fails as a network failure does (default: 300)",
    )
    if command in ("run", "snapshot"):
        group.add_argument(
            "--quiet-startup-table",
            action="store_true",
            help="post the startup table without a notification sound (alerts still ring)",
        )
    if command == "run":
        group.add_argument(
            "--no-startup-table",
            action="store_true",
            help="do not post the table of all rates at start (what changed while the watch "
            "was stopped is still alerted), so that a restart loop stays quiet",
        )


def _thread_id(environ: Mapping[str, str]) -> str:
    value = environ.get(THREAD_ID_VARIABLE, "").strip()
    if value and not value.isdecimal():
        raise _settings.SettingsError(
            f"{THREAD_ID_VARIABLE} must be the number of a forum topic, not {value!r}"
        )
    return value


def _check_watch_settings(args: argparse.Namespace, environ: Mapping[str, str]) -> None:
    _thread_id(environ)
    if args.pending_file is not None and not args.pending_file.parent.is_dir():
        raise _settings.SettingsError(
            f"pending file directory {args.pending_file.parent} does not exist"
        )


def _watch_options(args: argparse.Namespace) -> WatchOptions:
    """The watch options the program runs with: every service feature on."""
    from . import burn_watch

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
        message_thread_id=_thread_id(os.environ),
        dry_run=args.dry_run,
    )


def _state_lock(
    args: argparse.Namespace, state_file: str
) -> contextlib.AbstractContextManager[object]:
    """Held while the command works on the state (for run: the whole run); a
    dry run writes nothing and takes no lock. Raises BlockingIOError naming the
    holder when another watch uses the state file."""
    if args.dry_run:
        return contextlib.nullcontext()
    from . import burn_watch

    return burn_watch.StateLock(state_file)


def _dispatch(args: argparse.Namespace) -> int:
    if args.command == "demo":
        from ._demo import run_demo

        return run_demo(args)
    with _logging.log_format(args.log_format), contextlib.ExitStack() as stack:
        try:
            _settings.check_service_urls(os.environ)
            _settings.check_user_agent(os.environ)
            creds = _settings.load_credentials(os.environ)
            if args.command in SETUP_COMMANDS:
                return SETUP_COMMANDS[args.command](args, creds)
            state_file = _state_file(args)
            _check_watch_settings(args, os.environ)
        except _settings.SettingsError as error:
            _say(f"error: {error}", "error")
            return EXIT_USAGE
        try:
            stack.enter_context(_state_lock(args, state_file))
        except OSError as error:
            _say(f"error: {error.strerror or error}", "error")
            return EXIT_USAGE
        try:
            consumers = _reporting(args, stack)
        except _settings.SettingsError as error:
            _say(f"error: {error}", "error")
            return EXIT_USAGE
        from ._reports import observing_cycles

        stack.enter_context(observing_cycles(consumers))
        return WATCH_COMMANDS[args.command](args, state_file, creds)


def _reporting(args: argparse.Namespace, stack: contextlib.ExitStack) -> list[Consumer]:
    """Who gets the library's cycle reports: metrics, when asked for, and
    systemd, when the watch runs under it."""
    from ._systemd import Notifier

    consumers: list[Consumer] = []
    port = getattr(args, "metrics_port", None)
    if port is not None or args.metrics_file is not None:
        from ._metrics import open_metrics

        address = getattr(args, "metrics_address", "127.0.0.1")
        consumers += open_metrics(stack, port=port, address=address, path=args.metrics_file)
    if args.command == "run":
        args.notifier = stack.enter_context(
            contextlib.closing(Notifier.from_environment(os.environ))
        )
        if args.notifier.active:
            consumers.append(args.notifier.observe)
    return consumers


def main(argv: Sequence[str] | None = None) -> int:
    try:
        args = build_parser().parse_args(
            _with_default_command(sys.argv[1:] if argv is None else argv)
        )
    except _UsageError as error:
        _say(f"error: {error}", "error")
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
        _say(f"error: {_describe(error)}", "error")
        return EXIT_ERROR

"""``burn-watch mute``, ``unmute`` and ``mutes``: the mutes file.

A muted subnet's changes are not alerted and its pending lines are dropped;
when the mute ends, alerting resumes from the rate of then. The file is
replaced atomically, so these commands work while ``run`` holds the state
lock: the watch reads the file at every cycle.
"""

from __future__ import annotations

import argparse
import datetime as dt
import os
from collections.abc import Callable, Mapping
from pathlib import Path
from typing import Any

from .. import logs
from ..exit_codes import EXIT_ERROR, EXIT_USAGE
from ..settings import default_state_file

__all__ = ["add_mute_commands", "command", "describe_mutes"]


def _subnet_id(text: str) -> int:
    if not text.isdecimal():
        raise argparse.ArgumentTypeError(f"not a subnet id: {text!r}")
    return int(text)


def _duration(text: str) -> float:
    from ... import burn_watch

    try:
        return burn_watch.parse_duration_seconds(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def _add_mutes_file(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--mutes-file",
        type=Path,
        metavar="PATH",
        help="the mutes file (default: the state file's path followed by .mutes.json)",
    )


def add_mute_commands(
    commands: Any, add_state_file: Callable[[argparse.ArgumentParser], None]
) -> None:
    mute = commands.add_parser(
        "mute",
        help="stop alerting subnets, for a while or until unmuted",
        description="Mutes the subnets: their changes are not alerted and their pending lines "
        "are dropped. When the mute ends, alerting resumes from the rate of then. Works while "
        "'run' runs: the watch reads the mutes at every cycle.",
    )
    mute.add_argument("ids", nargs="+", type=_subnet_id, metavar="ID", help="subnet ids")
    mute.add_argument(
        "--for",
        dest="duration",
        type=_duration,
        metavar="DURATION",
        help="how long: 90s, 30m, 6h or 2d (default: until unmuted)",
    )
    unmute = commands.add_parser("unmute", help="alert muted subnets again")
    unmute.add_argument("ids", nargs="*", type=_subnet_id, metavar="ID", help="subnet ids")
    unmute.add_argument("--all", action="store_true", help="end every mute")
    mutes = commands.add_parser("mutes", help="list the mutes in force, with their ends in UTC")
    for parser in (mute, unmute, mutes):
        add_state_file(parser)
        _add_mutes_file(parser)


def _until(end: float | None) -> str:
    if end is None:
        return "until unmuted"
    moment = dt.datetime.fromtimestamp(end, dt.UTC)
    return "until " + moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def describe_mutes(mutes: Mapping[int, float | None]) -> list[str]:
    """One line per mute: "SN7 until 2026-12-08T20:00:00Z"."""
    return [f"SN{subnet} {_until(end)}" for subnet, end in sorted(mutes.items())]


def mutes_path(args: argparse.Namespace, environ: Mapping[str, str]) -> Path:
    if args.mutes_file is not None:
        return Path(args.mutes_file)
    state = args.state_file or default_state_file(environ)
    return Path(f"{state}.mutes.json")


def command(args: argparse.Namespace) -> int:
    from ... import burn_watch

    path = mutes_path(args, os.environ)
    if args.command == "unmute" and not args.ids and not args.all:
        logs.say("error: name the subnets to unmute, or --all", "error")
        return EXIT_USAGE
    if args.command != "mutes" and not path.parent.is_dir():
        logs.say(f"error: mutes file directory {path.parent} does not exist", "error")
        return EXIT_USAGE
    try:
        if args.command == "mute":
            mutes = burn_watch.mute_subnets(str(path), args.ids, args.duration)
            until = _until(mutes[args.ids[0]])
            print(f"muted {', '.join(f'SN{i}' for i in args.ids)} {until}")
        elif args.command == "unmute":
            mutes = burn_watch.unmute_subnets(str(path), [] if args.all else args.ids)
            print(
                "unmuted " + ("every subnet" if args.all else ", ".join(f"SN{i}" for i in args.ids))
            )
        else:
            now = dt.datetime.now(dt.UTC).timestamp()
            mutes = {
                subnet: end
                for subnet, end in burn_watch.load_mutes(str(path)).items()
                if end is None or end > now
            }
            if not mutes:
                print("no subnet is muted")
        for line in describe_mutes(mutes) if args.command == "mutes" else []:
            print(line)
    except (ValueError, OSError) as error:
        logs.say(f"error: {logs.describe(error)}", "error")
        return EXIT_ERROR
    return 0

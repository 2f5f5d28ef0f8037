"""``burn-watch run``: the startup snapshot, then a watch cycle every interval."""

from __future__ import annotations

import argparse

from .. import logs
from ..exit_codes import EXIT_REFUSED
from ..logs import describe
from ..options import watch_options
from ..settings import Credentials
from ..systemd import PassProgress

# typing's costs an import at start; type checkers take this one as theirs.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import TypedDict

    class ChatArguments(TypedDict):
        """The keyword arguments of a driver operation that name the bot and chat."""

        burn_token: str
        burn_chat_id: str


__all__ = ["command"]

REFUSED_AT_START = (
    "Telegram refused the bot or the chat at start-up (see above): restarting cannot help; "
    "fix the setting and start again"
)


def command(args: argparse.Namespace, state_file: str, creds: Credentials) -> int:
    from ... import burn_watch

    pause = str(args.pause_file) if args.pause_file is not None else ""
    if burn_watch._burn_is_paused(pause):
        # A paused watch posts nothing, not even the snapshot table.
        logs.say(f"pause file {pause} exists: not starting (remove it to resume)")
        return 0
    # The library's floor: anything up to one minute polls once a minute.
    interval = max(1, args.interval_minutes) * 60
    with args.notifier.watching(PassProgress(interval, args.max_retry_after)):
        return _watch(args, state_file, creds, pause)


def _watch(args: argparse.Namespace, state_file: str, creds: Credentials, pause: str) -> int:
    from ... import burn_watch

    # The library's floor: anything up to one minute polls once a minute.
    minutes = max(1, args.interval_minutes)
    logs.say(
        f"watching every {minutes:g} min, state file {state_file}, "
        + (f"pause file {pause}" if pause else "no pause file")
    )
    telegram: ChatArguments = {
        "burn_token": creds.burn_token,
        "burn_chat_id": creds.burn_chat_id,
    }
    options = watch_options(args)
    try:
        code = burn_watch.run_burn_startup_snapshot(
            state_path=state_file, settings=creds.service, options=options, **telegram
        )
    except Exception as error:  # the watch itself may still work: go on
        logs.say(f"startup snapshot failed: {describe(error)}; starting the watch anyway", "error")
    else:
        if code == EXIT_REFUSED:
            logs.say(REFUSED_AT_START, "error")
            return EXIT_REFUSED
        if code != 0:
            logs.say(
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

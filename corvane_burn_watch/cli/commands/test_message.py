"""``burn-watch test-message``: one message to the chat, the way alerts go."""

from __future__ import annotations

import argparse
import datetime as dt
import os
import socket
from typing import TYPE_CHECKING

from .. import logs
from ..exit_codes import EXIT_ERROR
from ..options import check_watch_settings, watch_options
from ..settings import Credentials, default_state_file

if TYPE_CHECKING:
    from ...burn_watch import WatchOptions

__all__ = ["command", "default_text", "send_test_message"]


def default_text(now: dt.datetime | None = None) -> str:
    moment = (now or dt.datetime.now(dt.UTC)).astimezone(dt.UTC)
    return f"burn-watch test message from {socket.gethostname()} at {moment:%Y-%m-%d %H:%M:%S} UTC"


def send_test_message(
    creds: Credentials, state_file: str, text: str, options: WatchOptions
) -> tuple[bool, str]:
    """Delivers ``text`` as alerts are delivered, topic and a moved chat
    included (one the pending alerts file beside ``state_file`` remembers
    too): (True, "") or (False, why)."""
    from ... import burn_watch

    return burn_watch.send_burn_test_message(
        state_path=state_file,
        burn_token=creds.burn_token,
        burn_chat_id=creds.burn_chat_id,
        text=text,
        settings=creds.service,
        options=options,
    )


def command(args: argparse.Namespace, creds: Credentials) -> int:
    check_watch_settings(args, os.environ)
    state = args.state_file or default_state_file(os.environ)
    ok, detail = send_test_message(
        creds, str(state), args.text or default_text(), watch_options(args)
    )
    if ok:
        # A dry run printed the message on standard output and sent nothing.
        logs.say(
            "test message printed, not sent (dry run)" if args.dry_run else "test message delivered"
        )
        return 0
    logs.say(f"test message not delivered: {detail}", "error")
    return EXIT_ERROR

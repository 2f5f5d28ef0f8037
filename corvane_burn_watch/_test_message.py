"""``burn-watch test-message``: one message to the chat, the way alerts go."""

from __future__ import annotations

import datetime as dt
import socket

from ._settings import Credentials

__all__ = ["default_text", "send_test_message"]


def default_text(now: dt.datetime | None = None) -> str:
    moment = (now or dt.datetime.now(dt.UTC)).astimezone(dt.UTC)
    return f"burn-watch test message from {socket.gethostname()} at {moment:%Y-%m-%d %H:%M:%S} UTC"


def send_test_message(creds: Credentials, text: str) -> tuple[bool, str]:
    """Delivers ``text`` through the alerts' delivery path: (True, "") or (False, why)."""
    from . import burn_watch

    return burn_watch.send_burn_telegram_messages(
        text, creds.telegram_token, creds.telegram_chat_id
    )

"""``burn-watch snapshot``: save every rate as the baseline and post the table."""

from __future__ import annotations

import argparse

from ..options import watch_options
from ..settings import Credentials

__all__ = ["command"]


def command(args: argparse.Namespace, state_file: str, creds: Credentials) -> int:
    from ... import burn_watch

    return burn_watch.run_burn_startup_snapshot(
        state_path=state_file,
        burn_token=creds.burn_token,
        burn_chat_id=creds.burn_chat_id,
        settings=creds.service,
        options=watch_options(args),
    )

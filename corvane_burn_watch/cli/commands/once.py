"""``burn-watch once``: one watch cycle."""

from __future__ import annotations

import argparse

from ..options import watch_options
from ..settings import Credentials

__all__ = ["command"]


def command(args: argparse.Namespace, state_file: str, creds: Credentials) -> int:
    from ... import burn_watch

    return burn_watch.run_burn_watch_once(
        state_path=state_file,
        threshold=args.threshold,
        burn_token=creds.burn_token,
        burn_chat_id=creds.burn_chat_id,
        settings=creds.service,
        options=watch_options(args),
    )

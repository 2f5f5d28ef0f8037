"""Where the host program finds its secrets, service addresses and state file.

Secrets never come from the command line, where ``ps`` would show them: each
is an environment variable, or a file named by the same variable with
``_FILE`` appended (what a service manager's credential mechanism provides).
Every problem is reported as a :class:`SettingsError` with a one-line message,
before anything touches the network.
"""

from __future__ import annotations

import os
from collections.abc import Mapping, MutableMapping
from dataclasses import dataclass
from pathlib import Path

__all__ = [
    "Credentials",
    "SettingsError",
    "check_service_urls",
    "default_state_file",
    "load_credentials",
    "prepare_state_file",
    "read_secret",
]

STATE_DIR_NAME = "corvane-burn-watch"
STATE_FILE_NAME = "burn_state.json"

# Base URLs a user may redirect; both must be absolute http(s) URLs.
URL_VARIABLES = ("ORBISCA_API_BASE", "BURN_TELEGRAM_API_BASE")


class SettingsError(Exception):
    """A setting that cannot be used; the message is one line for the user."""


@dataclass(frozen=True)
class Credentials:
    telegram_token: str
    telegram_chat_id: str


def read_secret(name: str, environ: Mapping[str, str]) -> str | None:
    """The value of ``name`` or of the file named by ``name_FILE``, trimmed.

    None when neither is set or the value is blank. Setting both is an error,
    since silently preferring one hides a mistake in the service definition.
    """
    file_variable = name + "_FILE"
    direct = environ.get(name)
    path = environ.get(file_variable)
    if direct is not None and path is not None:
        raise SettingsError(f"set only one of {name} and {file_variable}")
    if path is not None:
        if not path.strip():
            raise SettingsError(f"{file_variable} is empty")
        try:
            with open(path, encoding="utf-8") as handle:
                direct = handle.read()
        except (OSError, UnicodeDecodeError) as error:
            reason = getattr(error, "strerror", None) or str(error)
            raise SettingsError(f"cannot read {file_variable} ({path}): {reason}") from None
    if direct is None:
        return None
    return direct.strip() or None


def load_credentials(environ: MutableMapping[str, str]) -> Credentials:
    """Reads the three secrets the watch needs, or raises SettingsError.

    The data service key is put back into ORBISCA_API_KEY, which is where the
    library reads it on every call.
    """
    api_key = read_secret("ORBISCA_API_KEY", environ)
    if api_key is None:
        raise SettingsError("no data service key: set ORBISCA_API_KEY (or ORBISCA_API_KEY_FILE)")
    token = read_secret("BURN_TELEGRAM_TOKEN", environ)
    if token is None:
        raise SettingsError(
            "no Telegram bot token: set BURN_TELEGRAM_TOKEN (or BURN_TELEGRAM_TOKEN_FILE)"
        )
    chat_id = read_secret("BURN_TELEGRAM_CHAT_ID", environ)
    if chat_id is None:
        raise SettingsError(
            "no Telegram chat id: set BURN_TELEGRAM_CHAT_ID (or BURN_TELEGRAM_CHAT_ID_FILE)"
        )
    environ.pop("ORBISCA_API_KEY_FILE", None)
    environ["ORBISCA_API_KEY"] = api_key
    return Credentials(telegram_token=token, telegram_chat_id=chat_id)


def check_service_urls(environ: Mapping[str, str]) -> None:
    """Refuses a redirected base URL that could never be requested."""
    for name in URL_VARIABLES:
        value = environ.get(name)
        if value is not None and not value.startswith(("http://", "https://")):
            raise SettingsError(f"{name} must start with http:// or https://, not {value!r}")


def default_state_file(environ: Mapping[str, str]) -> Path:
    """The per-user state file: under $XDG_STATE_HOME, else ~/.local/state."""
    base = environ.get("XDG_STATE_HOME", "")
    # The XDG rules say a relative value is invalid and must be ignored.
    root = Path(base) if os.path.isabs(base) else Path.home() / ".local" / "state"
    return root / STATE_DIR_NAME / STATE_FILE_NAME


def prepare_state_file(path: Path, *, create_directory: bool) -> Path:
    """Checks that the state file can be written there, before the first fetch.

    The default location's directory is created on first use; a directory the
    user named must already exist.
    """
    if path.is_dir():
        raise SettingsError(f"state file {path} is a directory")
    directory = path.parent
    if create_directory:
        try:
            directory.mkdir(mode=0o700, parents=True, exist_ok=True)
        except OSError as error:
            raise SettingsError(f"cannot create {directory}: {error.strerror}") from None
    if not directory.is_dir():
        raise SettingsError(f"state file directory {directory} does not exist")
    # The file is replaced through a new file beside it, so the directory
    # must be writable, and the library refuses to replace a read-only file.
    if not os.access(directory, os.W_OK | os.X_OK):
        raise SettingsError(f"state file directory {directory} is not writable")
    if path.exists() and not os.access(path, os.W_OK):
        raise SettingsError(f"state file {path} is not writable")
    return path

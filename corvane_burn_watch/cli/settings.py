"""Where the host program finds its secrets, service addresses and state file.

Secrets never come from the command line, where ``ps`` would show them: each
is an environment variable, or a file named by the same variable with
``_FILE`` appended (what a service manager's credential mechanism provides).
Every problem is reported as a :class:`SettingsError` with a one-line message,
before anything touches the network.
"""

from __future__ import annotations

import errno
import os
import stat

# typing's costs an import at start; type checkers take this one as theirs.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Mapping, Sequence
    from pathlib import Path

    from ..burn_watch import Settings

__all__ = [
    "Credentials",
    "OwnFile",
    "SettingsError",
    "check_own_files",
    "check_service_urls",
    "check_user_agent",
    "default_state_file",
    "load_credentials",
    "prepare_state_file",
    "read_secret",
]

STATE_DIR_NAME = "corvane-burn-watch"
STATE_FILE_NAME = "burn_state.json"

# Base URLs a user may redirect; both must be absolute http(s) URLs.
URL_VARIABLES = ("ORBISCA_API_BASE", "BURN_TELEGRAM_API_BASE")
USER_AGENT_VARIABLE = "ORBISCA_USER_AGENT"


class SettingsError(Exception):
    """A setting that cannot be used; the message is one line for the user."""


def _node_kind(mode: int) -> str:
    """What a file system node that is not a regular file is, in words."""
    for test, kind in (
        (stat.S_ISDIR, "a directory"),
        (stat.S_ISFIFO, "a FIFO"),
        (stat.S_ISCHR, "a character device"),
        (stat.S_ISBLK, "a block device"),
        (stat.S_ISSOCK, "a socket"),
    ):
        if test(mode):
            return kind
    return "not a regular file"


def _refuse_control_characters(name: str, value: str) -> None:
    """A CR or LF would end a request header early, so the library refuses
    such a value only once it is about to send it: refuse it now, by name
    (the value may be a secret)."""
    if any(ord(c) < 0x20 or ord(c) == 0x7F for c in value):
        raise SettingsError(f"{name} holds a control character (such as a line break)")


def _read_regular_file(variable: str, path: str) -> str:
    """The text of the regular file at ``path``. Opened without blocking: a
    FIFO would otherwise hold the start until something writes to it."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    except OSError as error:
        raise SettingsError(f"cannot read {variable} ({path}): {error.strerror}") from None
    # Looked at before open() wraps it: open() refuses a directory with an
    # error of its own, not this one-line message.
    mode = os.fstat(fd).st_mode
    if not stat.S_ISREG(mode):
        os.close(fd)
        raise SettingsError(f"{variable} ({path}) is {_node_kind(mode)}, not a regular file")
    with open(fd, encoding="utf-8") as handle:
        try:
            return handle.read()
        except (OSError, UnicodeDecodeError) as error:
            reason = getattr(error, "strerror", None) or str(error)
            raise SettingsError(f"cannot read {variable} ({path}): {reason}") from None


class Credentials:
    """What the program hands the library: the Telegram bot and chat, and the
    service settings (addresses, the data service key, User-Agent, CA
    bundle), read once from the environment and passed down with every call,
    so that nothing is ever written back into the environment. (A plain
    class: dataclasses would cost every start its imports.)"""

    __slots__ = ("burn_chat_id", "burn_token", "service")

    def __init__(self, burn_token: str, burn_chat_id: str, service: Settings) -> None:
        self.burn_token = burn_token
        self.burn_chat_id = burn_chat_id
        self.service = service


def read_secret(name: str, environ: Mapping[str, str]) -> str | None:
    """The value of ``name`` or of the file named by ``name_FILE``, trimmed.

    None when neither is set or the variable's value is blank. Setting both is
    an error, since silently preferring one hides a mistake in the service
    definition; so are a file that is blank or not a regular file, and a
    value holding a control character.
    """
    file_variable = name + "_FILE"
    direct = environ.get(name)
    path = environ.get(file_variable)
    if direct is not None and path is not None:
        raise SettingsError(f"set only one of {name} and {file_variable}")
    if path is not None:
        if not path.strip():
            raise SettingsError(f"{file_variable} is empty")
        content = _read_regular_file(file_variable, path).strip()
        if not content:
            raise SettingsError(f"the file {path} named by {file_variable} is empty")
        _refuse_control_characters(file_variable, content)
        return content
    if direct is None:
        return None
    value = direct.strip()
    _refuse_control_characters(name, value)
    return value or None


def load_credentials(environ: Mapping[str, str]) -> Credentials:
    """Reads the three secrets the watch needs and the service settings, or
    raises SettingsError."""
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
    from ..burn_watch import Settings

    service = Settings(
        api_base=environ.get("ORBISCA_API_BASE"),
        api_key=api_key,
        user_agent=environ.get(USER_AGENT_VARIABLE),
        telegram_api_base=environ.get("BURN_TELEGRAM_API_BASE"),
        ca_bundle=environ.get("SSL_CERT_FILE") or None,
        ca_fallback=certifi_bundle(),
    )
    return Credentials(burn_token=token, burn_chat_id=chat_id, service=service)


def certifi_bundle() -> str | None:
    """certifi's CA bundle when certifi is installed: trusted when neither the
    environment nor the system names one. Found without importing certifi."""
    from importlib.util import find_spec

    certifi = find_spec("certifi")
    if certifi is None or not certifi.submodule_search_locations:
        return None
    path = os.path.join(next(iter(certifi.submodule_search_locations)), "cacert.pem")
    return path if os.path.isfile(path) else None


def check_service_urls(environ: Mapping[str, str]) -> None:
    """Refuses a redirected base URL that could never be requested."""
    for name in URL_VARIABLES:
        value = environ.get(name)
        if value is None:
            continue
        if not value.startswith(("http://", "https://")):
            raise SettingsError(f"{name} must start with http:// or https://, not {value!r}")
        try:
            import urllib.parse  # only for an address given

            host = urllib.parse.urlsplit(value).hostname
        except ValueError as error:
            raise SettingsError(f"{name} is not a usable URL ({error}): {value!r}") from None
        if not host:
            raise SettingsError(f"{name} names no host: {value!r}")


def check_user_agent(environ: Mapping[str, str]) -> None:
    """Refuses a User-Agent that could not go into a request header."""
    value = environ.get(USER_AGENT_VARIABLE)
    if value is not None:
        _refuse_control_characters(USER_AGENT_VARIABLE, value)


def default_state_file(environ: Mapping[str, str]) -> Path:
    """The per-user state file: under $XDG_STATE_HOME, else ~/.local/state."""
    base = environ.get("XDG_STATE_HOME", "")
    # The XDG rules say a relative value is invalid and must be ignored.
    from pathlib import Path  # imported when a command needs a state file

    root = Path(base) if os.path.isabs(base) else Path.home() / ".local" / "state"
    return root / STATE_DIR_NAME / STATE_FILE_NAME


def _examine(path: Path, what: str) -> os.stat_result | None:
    """What is at ``path``, links followed; None when nothing is there."""
    try:
        return os.stat(path)
    except FileNotFoundError:
        return None
    except OSError as error:
        reason = {
            errno.ELOOP: "is a loop of symbolic links",
            errno.ENAMETOOLONG: "has a name that is too long",
        }.get(error.errno or 0, f"cannot be examined: {error.strerror}")
        raise SettingsError(f"{what} {path} {reason}") from None


def prepare_state_file(path: Path, *, create_directory: bool) -> Path:
    """Checks that the state file can be written there, before the first fetch.

    The default location's directory is created on first use; a directory the
    user named must already exist. Only a regular file is ever replaced.
    """
    found = _examine(path, "state file")
    if found is not None and not stat.S_ISREG(found.st_mode):
        raise SettingsError(f"state file {path} is {_node_kind(found.st_mode)}, not a regular file")
    # A symbolic link stays: the file is replaced in its target's directory.
    from pathlib import Path

    directory = Path(os.path.realpath(path)).parent if path.is_symlink() else path.parent
    if create_directory:
        try:
            directory.mkdir(mode=0o700, parents=True, exist_ok=True)
        except OSError as error:
            raise SettingsError(f"cannot create {directory}: {error.strerror}") from None
    found = _examine(directory, "state file directory")
    if found is None:
        dangling = directory.is_symlink()
        reason = "is a symbolic link to nothing" if dangling else "does not exist"
        raise SettingsError(f"state file directory {directory} {reason}")
    if not stat.S_ISDIR(found.st_mode):
        raise SettingsError(f"state file directory {directory} is not a directory")
    # The file is replaced through a new file beside it, so the directory
    # must be writable, and the library refuses to replace a read-only file.
    if not os.access(directory, os.W_OK | os.X_OK):
        raise SettingsError(f"state file directory {directory} is not writable")
    if os.path.exists(path) and not os.access(path, os.W_OK):
        raise SettingsError(f"state file {path} is not writable")
    return path


class OwnFile:
    """A file the program works on, named as its messages name it. (A plain
    class, as Credentials is.)"""

    __slots__ = ("link_allowed", "path", "what", "written")

    def __init__(
        self, what: str, path: Path, *, link_allowed: bool = False, written: bool = True
    ) -> None:
        self.what = what  # "pending alerts file", ...
        self.path = path
        # Whether a symbolic link may stand there: the state file is replaced
        # in its target's folder, while every other file the program writes is
        # opened without following a link.
        self.link_allowed = link_allowed
        self.written = written  # the pause file is only looked at


def _identity(path: Path) -> tuple[int, int] | None:
    try:
        found = os.stat(path)
    except OSError:
        return None
    return found.st_dev, found.st_ino


def check_own_files(files: Sequence[OwnFile]) -> None:
    """Refuses, before anything is written, a file of the program that is a
    symbolic link where none may be, that is something else than a regular
    file, or that is the same file as another one of them (by path, or by
    device and inode where it exists): a pending alerts file that is the state
    file would delete the state once the alerts are delivered."""
    seen: list[tuple[OwnFile, str, tuple[int, int] | None]] = []
    for file in files:
        if not file.link_allowed and file.path.is_symlink():
            raise SettingsError(f"{file.what} {file.path} is a symbolic link: name the file itself")
        if file.written:
            found = _examine(file.path, file.what)
            if found is not None and not stat.S_ISREG(found.st_mode):
                raise SettingsError(
                    f"{file.what} {file.path} is {_node_kind(found.st_mode)}, not a regular file"
                )
        real, identity = os.path.realpath(file.path), _identity(file.path)
        for other, other_real, other_identity in seen:
            if real == other_real or (identity is not None and identity == other_identity):
                raise SettingsError(
                    f"{file.what} {file.path} is the {other.what} {other.path}: "
                    "each must be a file of its own"
                )
        seen.append((file, real, identity))

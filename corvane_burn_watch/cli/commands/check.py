"""``burn-watch check``: is everything in place to go live?

With the settings ``run`` would use, it names the CA certificates HTTPS
trusts (and where they were found), asks the data service for the subnet
list once, asks Telegram who the bot is (getMe) and what the chat is
(getChat), and looks at the state file. It sends no message and writes no
file. Each check prints one line ending in ``ok`` or ``FAILED: <reason>``.
A service that has not answered in full within ``--request-deadline`` (one
slow to send, or one that keeps the answer coming a byte at a time) fails its
check.
"""

from __future__ import annotations

import argparse
import json
import os
import time
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, Any

from ..rules import DEFAULT_THRESHOLD, RulesError, RulesSource
from ..settings import Credentials, default_state_file
from ..time_limit import TimeLimitPassed, time_limit
from .mute import describe_mutes

if TYPE_CHECKING:
    from ...burn_watch import Settings

__all__ = ["Check", "command", "run_checks"]

# Longest piece of an answer quoted in a line.
_QUOTE = 200
# What Telegram answers for a wrong token (401) and for one of the wrong shape (404).
_TOKEN_REFUSALS = ("Unauthorized", "Not Found")


@dataclass(frozen=True)
class Check:
    what: str  # the thing checked, with what was found when it passed
    ok: bool
    reason: str = ""

    def line(self) -> str:
        return f"{self.what}: ok" if self.ok else f"{self.what}: FAILED: {self.reason}"


def _describe(error: BaseException) -> str:
    text = " ".join(str(error).split())
    return f"{type(error).__name__}: {text}" if text else type(error).__name__


def _cut(text: str) -> str:
    return text if len(text) <= _QUOTE else text[:_QUOTE] + "..."


def _fetch_failure(response: Any) -> str:
    if isinstance(response, dict):
        if "http_status" in response:
            words = [response.get(key) for key in ("message", "detail", "description", "error")]
            said = [word for word in words if isinstance(word, str) and word]
            return f"HTTP {response['http_status']}" + (f": {_cut(said[0])}" if said else "")
        if "parse_error" in response:
            return f"the answer is not JSON ({response['parse_error']})"
    return "no subnet rows in the answer: " + _cut(json.dumps(response))


# Where the CA certificates came from, as the user sets them.
_CA_ORIGINS = {
    "settings": "SSL_CERT_FILE",
    "SSL_CERT_FILE": "SSL_CERT_FILE",
    "SSL_CERT_DIR": "SSL_CERT_DIR",
    "system": "the system's",
    "fallback": "certifi",
    "libcurl": "libcurl's default",
}


def check_ca_certificates(settings: Settings) -> Check:
    from ... import burn_watch

    chosen = burn_watch._ca_certificates(settings)
    if chosen is None:
        return Check(
            "CA certificates",
            False,
            "none found: set SSL_CERT_FILE to a CA bundle (or SSL_CERT_DIR to a folder of "
            "certificates), or install the system's CA certificates or certifi",
        )
    path, origin = chosen
    what = f"CA certificates {path} ({_CA_ORIGINS.get(origin, origin)})"
    return Check(what, True) if os.access(path, os.R_OK) else Check(what, False, "cannot be read")


def check_data_service(key: str, deadline: float) -> Check:
    from ... import burn_watch

    # The address as the environment gives it, which is where the settings
    # the watch runs with come from.
    what = f"data service {burn_watch.api_base()}"
    auth = key.strip()
    try:
        with time_limit(deadline):
            rows = burn_watch.fetch_all_subnets_latest(auth)
    except TimeLimitPassed as error:
        return Check(what, False, str(error))
    except Exception as error:
        return Check(what, False, _describe(error))
    if isinstance(rows, list):
        return Check(f"{what}, {len(rows)} subnets", True)
    return Check(what, False, _fetch_failure(rows.get("response")))


def check_telegram_bot(token: str, settings: Settings, deadline: float) -> Check:
    from ... import burn_watch

    try:
        with time_limit(deadline):
            bot = burn_watch.get_telegram_bot(token, settings)
    except TimeLimitPassed as error:
        return Check("telegram bot", False, str(error))
    if bot.ok:
        return Check(f"telegram bot @{bot.username}", True)
    reason = bot.detail
    if reason in _TOKEN_REFUSALS:
        reason = f"the token is refused ({reason})"
    return Check("telegram bot", False, reason)


def check_telegram_chat(token: str, chat_id: str, settings: Settings, deadline: float) -> Check:
    from ... import burn_watch

    what = f"telegram chat {chat_id}"
    try:
        with time_limit(deadline):
            chat = burn_watch.get_telegram_chat(token, chat_id, settings)
    except TimeLimitPassed as error:
        return Check(what, False, str(error))
    if chat.ok:
        return Check(f'{what}, "{chat.title}" ({chat.type})', True)
    if chat.migrated_to:
        return Check(
            what,
            False,
            f"the group became a supergroup: set BURN_TELEGRAM_CHAT_ID to {chat.migrated_to}",
        )
    return Check(what, False, chat.detail)


def _unusable(path: Path) -> str | None:
    """Why a state file that gave no rates cannot be read, or None when it is
    a well-formed file that holds none."""
    try:
        document = json.loads(path.read_bytes())
    except OSError as error:
        return error.strerror or str(error)
    except ValueError as error:
        return f"not JSON ({error})"
    if not isinstance(document, dict) or not isinstance(document.get("owner_burn_rate"), dict):
        return 'no "owner_burn_rate" map in it'
    return None


def _folder(path: Path) -> str | None:
    """Why the state file's folder cannot take the file, or None.

    A folder that does not exist yet is fine when the nearest one that does
    is writable: the default location is created on first use.
    """
    folder = path.parent
    while not folder.exists() and folder != folder.parent:
        folder = folder.parent
    if not folder.is_dir():
        return f"{folder} is not a folder"
    if not os.access(folder, os.W_OK | os.X_OK):
        return f"folder {folder} is not writable"
    return None


def check_state_file(path: Path, *, may_create_folder: bool) -> Check:
    from ... import burn_watch

    what = f"state file {path}"
    if not path.parent.is_dir() and not may_create_folder:
        return Check(what, False, f"folder {path.parent} does not exist")
    if problem := _folder(path):
        return Check(what, False, problem)
    if not path.exists():
        return Check(f"{what}, none yet, folder writable", True)
    if not path.is_file():
        return Check(what, False, "not a regular file")
    if not os.access(path, os.W_OK):
        return Check(what, False, "not writable")
    try:
        burns = burn_watch.load_burn_state(str(path))
    except Exception as error:
        return Check(what, False, f"unusable: {_describe(error)}")
    if not burns and (why := _unusable(path)):
        return Check(what, False, f"unusable, {why}; the watch would start a new baseline")
    return Check(f"{what}, baseline of {len(burns)} subnets, folder writable", True)


def run_checks(
    creds: Credentials,
    state_file: Path,
    *,
    may_create_folder: bool,
    secrets: tuple[str, ...],
    write: Callable[[str], None],
    request_deadline: float,
) -> int:
    """Runs every check, writing a line as each finishes: 0 when all pass, else 1.
    A check that asks a service fails when the answer is not complete within
    ``request_deadline`` seconds."""
    token, chat_id, service = creds.burn_token, creds.burn_chat_id, creds.service
    checks: list[Callable[[], Check]] = [
        lambda: check_ca_certificates(service),
        lambda: check_data_service(service.api_key or "", request_deadline),
        lambda: check_telegram_bot(token, service, request_deadline),
        lambda: check_telegram_chat(token, chat_id, service, request_deadline),
        lambda: check_state_file(state_file, may_create_folder=may_create_folder),
    ]
    failed = 0
    for run in checks:
        result = run()
        reason = result.reason
        # A server may quote what it was sent: no secret leaves through a reason.
        for secret in secrets:
            reason = reason.replace(secret, "<redacted>")
        write(Check(result.what, result.ok, reason).line())
        failed += not result.ok
    return 1 if failed else 0


def describe_rules(source: RulesSource, state_file: Path, now: float) -> list[str]:
    """The rules in effect, a line each: what is watched, the thresholds,
    what a change is measured from, the quiet hours and the mutes."""
    from ... import burn_watch

    rules = source.rules()
    merged = source.merged()
    lines = [
        f"watched: {merged.subnets} ({_count(merged.subnets)} subnets)"
        if merged.subnets
        else "watched: every subnet"
    ]
    if merged.ignore_subnets:
        lines.append(f"ignored: {merged.ignore_subnets} ({_count(merged.ignore_subnets)} subnets)")
    threshold = merged.threshold if merged.threshold is not None else DEFAULT_THRESHOLD
    own = ", ".join(f"SN{s} {t:g}" for s, t in sorted(merged.subnet_thresholds.items()))
    lines.append(f"threshold: {threshold:g}" + (f"; own thresholds: {own}" if own else ""))
    lines.append(
        "changes measured from: the value last told to the chat"
        if rules.compare_to == "alerted"
        else "changes measured from: the previous cycle"
    )
    if rules.quiet_hours:
        zone = merged.timezone or "local time"
        quiet = "yes" if rules.in_quiet_hours(now) else "no"
        lines.append(f"quiet hours: {rules.quiet_hours} {zone}; quiet now: {quiet}")
    else:
        lines.append("quiet hours: none")
    path = Path(rules.mutes_path or f"{state_file}.mutes.json")
    try:
        mutes = {s: e for s, e in burn_watch.load_mutes(str(path)).items() if e is None or e > now}
    except (ValueError, OSError) as error:
        lines.append(f"mutes: FAILED: {_describe(error)}")
    else:
        lines += [f"muted: {line}" for line in describe_mutes(mutes)] or ["muted: none"]
    return lines


def _now() -> float:
    return time.time()


def _count(subnets: str) -> int:
    count = 0
    for item in subnets.split(","):
        first, _, last = item.partition("-")
        count += int(last or first) - int(first) + 1
    return count


def command(args: argparse.Namespace, creds: Credentials) -> int:
    if args.state_file is None:
        path, may_create = default_state_file(os.environ), True
    else:
        path, may_create = args.state_file, False
    secrets = (creds.service.api_key or "", creds.burn_token)

    def write(line: str) -> None:
        print(line, flush=True)

    code = run_checks(
        creds,
        path,
        may_create_folder=may_create,
        secrets=secrets,
        write=write,
        request_deadline=args.request_deadline,
    )
    try:
        source = RulesSource(args)
    except RulesError as error:
        write(Check("rules file", False, str(error)).line())
        return 1
    if args.rules is not None:
        write(Check(f"rules file {args.rules}", True).line())
    for line in describe_rules(source, path, _now()):
        write(line)
    return code

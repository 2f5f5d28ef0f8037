"""The watch cycle written in plain Python with the standard library only.

The yardstick of the benchmark: the same operations, in the same order, with
the same inputs and outputs as the compiled library (json for the documents,
float() to read burn texts, repr() to write numbers, urllib for both services),
written the way one would write them without the library. The state file is
replaced the same durable way too (temporary file, fsync, rename, directory
fsync), so both pay for the same disk work.

Over HTTPS each connection gets a fresh default SSL context, which loads the
CA bundle (SSL_CERT_FILE, else the system's) again: what urllib does by default
on Python 3.11, and what makes a changed variable or bundle count at the next
request, as it does for the library. share_tls_context() switches to one
context made once and reused by every request instead: cheaper, but blind to
such changes. The benchmark measures both.
"""

from __future__ import annotations

import http.client
import json
import os
import ssl
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request
from collections.abc import Callable
from datetime import UTC, datetime
from typing import Any

SUBNET_LATEST_PATH = "/api/subnet/latest/v1"
DEFAULT_API_BASE = "https://api.orbisca.io"
DEFAULT_TELEGRAM_BASE = "https://api.telegram.org"
DEFAULT_USER_AGENT = (
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/131.0.0.0 Safari/537.36"
)
CHUNK_LENGTH = 3900

# Every pause goes through here; the benchmark swaps in a no-op, as it does
# for the library.
sleep: Callable[[float], None] = time.sleep


class _HTTPSHandler(urllib.request.HTTPSHandler):
    """urllib's HTTPS handler as Python 3.11 runs it when given no context: a
    fresh default context for every connection. (Python 3.12 makes one with
    the handler instead; spelling it out keeps the yardstick the same.)"""

    shared_context: ssl.SSLContext | None = None

    def https_open(self, req: urllib.request.Request) -> http.client.HTTPResponse:
        context = self.shared_context or ssl.create_default_context()
        return self.do_open(http.client.HTTPSConnection, req, context=context)


# Loopback only: no proxy from the environment.
_opener = urllib.request.build_opener(urllib.request.ProxyHandler({}), _HTTPSHandler())


def share_tls_context() -> None:
    """From now on, every HTTPS request reuses one default SSL context."""
    _HTTPSHandler.shared_context = ssl.create_default_context()


# ---- data service -------------------------------------------------------------


def api_base() -> str:
    return os.environ.get("ORBISCA_API_BASE", DEFAULT_API_BASE).rstrip("/")


def orbisca_auth() -> str | None:
    return os.environ.get("ORBISCA_API_KEY", "").strip() or None


def request_headers(auth: str) -> dict[str, str]:
    return {
        "Authorization": auth,
        "User-Agent": os.environ.get("ORBISCA_USER_AGENT", DEFAULT_USER_AGENT),
        "Accept": "application/json, text/plain, */*",
        "Accept-Language": "en-US,en;q=0.9",
    }


def http_get_json(path: str, params: dict[str, Any], auth: str) -> Any:
    query = "&".join(f"{k}={v}" for k, v in params.items() if v is not None and v != "")
    url = api_base() + path + ("?" + query if query else "")
    request = urllib.request.Request(url, headers=request_headers(auth))
    try:
        with _opener.open(request, timeout=60) as response:
            body = response.read().decode("utf-8")
    except urllib.error.HTTPError as error:
        text = error.read().decode("utf-8")
        try:
            payload = json.loads(text)
        except json.JSONDecodeError:
            payload = {"status_code": error.code, "message": text or error.reason}
        payload["http_status"] = error.code
        return payload
    try:
        data = json.loads(body)
    except json.JSONDecodeError as error:
        return {"parse_error": str(error), "raw": body[:500]}
    if data is not None and not isinstance(data, dict):
        raise ValueError(f"expected a JSON object, got {type(data).__name__}")
    return data


def is_rate_limited(payload: dict[str, Any]) -> bool:
    if payload.get("status_code") == 429:
        return True
    message = payload.get("message", "")
    return message is not None and "Rate Limited" in str(message)


def with_retries(path: str, params: dict[str, Any], auth: str, *, max_retries: int = 6) -> Any:
    pause = 2.0
    for attempt in range(max_retries):
        payload = http_get_json(path, params, auth)
        if not is_rate_limited(payload) or attempt == max_retries - 1:
            return payload
        sleep(pause)
        pause = min(pause * 1.8, 120.0)
    raise ValueError("max_retries must be at least 1")


def fetch_all_subnets_latest(auth: str) -> Any:
    payload = with_retries(SUBNET_LATEST_PATH, {"limit": 1024, "order": "netuid_asc"}, auth)
    rows = payload.get("data")
    return rows if rows else {"error": "no_subnet_rows", "response": payload}


# ---- burn values and state ------------------------------------------------------


def _text(value: Any) -> str:
    return value if isinstance(value, str) else str(value)  # str(float) is repr


def _number(text: str) -> float | None:
    try:
        return float(text)
    except ValueError:
        return None


def owner_burn_from_row(row: dict[str, Any]) -> str:
    burn = row.get("incentive_burn")
    return _text(burn) if burn else "0"


def burn_map(rows: list[dict[str, Any]]) -> dict[str, str]:
    return {_text(row["netuid"]): owner_burn_from_row(row) for row in rows if "netuid" in row}


def format_owner_burn(value: str) -> str:
    number = _number(value)
    return value if number is None else f"{number:.4f}"


def owner_burn_changed(old: str, new: str, threshold: float) -> bool:
    a, b = _number(old), _number(new)
    if a is None or b is None:
        return old != new
    return abs(a - b) > threshold


def load_burn_state(path: str) -> dict[str, str]:
    if not os.path.isfile(path):
        return {}
    try:
        with open(path, encoding="utf-8") as file:
            content = file.read()
    except OSError:
        return {}
    try:
        document = json.loads(content)
    except json.JSONDecodeError:
        return {}
    if not isinstance(document, dict):
        raise ValueError("burn state file does not hold an object")  # noqa: TRY004 - as the library
    burns = document.get("owner_burn_rate")
    if not isinstance(burns, dict):
        return {}
    return {key: _text(value) for key, value in burns.items()}


def save_burn_state(path: str, burns: dict[str, str], updated_at: str) -> None:
    document = {"owner_burn_rate": burns, "updated_at_utc": updated_at}
    data = (json.dumps(document, indent=2, sort_keys=True) + "\n").encode("ascii")
    directory = os.path.dirname(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(dir=directory, prefix="." + os.path.basename(path))
    try:
        with os.fdopen(fd, "wb") as file:
            file.write(data)
            file.flush()
            os.fsync(file.fileno())
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
    dir_fd = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(dir_fd)
    finally:
        os.close(dir_fd)


def diff_burns(
    prev: dict[str, str], current: dict[str, str], threshold: float
) -> list[tuple[str, str, str]]:
    changes = []
    for subnet, new in sorted(current.items(), key=lambda item: int(item[0])):
        old = prev.get(subnet)
        if old is not None and owner_burn_changed(old, new, threshold):
            changes.append((subnet, old, new))
    return changes


# ---- Telegram -----------------------------------------------------------------


def format_burn_alert(changes: list[tuple[str, str, str]], updated_at: str) -> str:
    lines = ["Owner burn rate changed", updated_at + " UTC", ""]
    for subnet, old, new in changes:
        lines.append(f"SN{subnet}: {format_owner_burn(old)} → {format_owner_burn(new)}")
    return "\n".join(lines)


def _chunk_text(text: str, max_len: int = CHUNK_LENGTH) -> list[str]:
    if len(text) <= max_len:
        return [text]
    lines = text.split("\n")
    # An alert has two header lines and its empty line third; anything else
    # is read as three header lines and an empty fourth.
    if len(lines) >= 4 and lines[2] == "" and lines[3] != "":
        header, body = lines[:2], lines[3:]
    else:
        header, body = lines[:3], lines[4:]
    if not body:
        return ["\n".join(header)]
    opening = [*header, ""]
    opening_length = sum(map(len, opening)) + len(opening) - 1
    chunks: list[str] = []
    current, length = list(opening), opening_length
    for line in body:
        if len(current) > len(opening) and length + 1 + len(line) > max_len:
            chunks.append("\n".join(current))
            current, length = list(opening), opening_length
        current.append(line)
        length += 1 + len(line)
    chunks.append("\n".join(current))
    return chunks


def _telegram_base() -> str:
    return os.environ.get("BURN_TELEGRAM_API_BASE", DEFAULT_TELEGRAM_BASE)


def send_burn_telegram(text: str, token: str, chat_id: str) -> tuple[bool, str]:
    if not token or not chat_id:
        return False, "burn telegram not configured"
    body = urllib.parse.urlencode(
        [("chat_id", chat_id), ("text", text), ("disable_web_page_preview", "true")]
    ).encode("ascii")
    request = urllib.request.Request(
        f"{_telegram_base()}/bot{token}/sendMessage",
        data=body,
        headers={"Content-Type": "application/x-www-form-urlencoded"},
        method="POST",
    )
    try:
        with _opener.open(request, timeout=30) as response:
            reply = json.loads(response.read().decode("utf-8"))
    except urllib.error.HTTPError as error:
        text = error.read().decode("utf-8")
        try:
            reply = json.loads(text)
        except json.JSONDecodeError:
            return False, text or str(error)
        return False, reply.get("description") or text[:300]
    except (urllib.error.URLError, OSError) as error:
        return False, str(error).replace(token, "<redacted>")
    return (True, "") if reply.get("ok") else (False, str(reply))


def send_burn_telegram_messages(text: str, token: str, chat_id: str) -> tuple[bool, str]:
    chunks = _chunk_text(text)
    total = len(chunks)
    for number, chunk in enumerate(chunks, 1):
        message = f"({number}/{total})\n{chunk}" if total > 1 else chunk
        ok, detail = send_burn_telegram(message, token, chat_id)
        if not ok:
            return ok, detail
        if number < total:
            sleep(0.4)
    return True, ""


# ---- the cycle ----------------------------------------------------------------


def _log(line: str) -> None:
    sys.stderr.write("[burn] " + line + "\n")
    sys.stderr.flush()


def run_burn_watch_once(
    *, state_path: str, threshold: float, burn_token: str, burn_chat_id: str
) -> int:
    auth = orbisca_auth()
    if not auth:
        _log("orbisca API not available (must be bundled in package defaults)")
        return 1
    updated_at = datetime.now(UTC).strftime("%Y-%m-%dT%H:%M:%SZ")
    data = fetch_all_subnets_latest(auth)
    if isinstance(data, dict) and data.get("error"):
        _log("fetch failed: " + json.dumps(data))
        return 1
    if not isinstance(data, list):
        raise TypeError("subnet list fetch gave no list of rows")
    current = burn_map(data)
    prev = load_burn_state(state_path)
    changes = diff_burns(prev, current, threshold) if prev else []
    save_burn_state(state_path, current, updated_at)
    if not changes:
        return 0
    text = format_burn_alert(changes, updated_at)
    ok, detail = send_burn_telegram_messages(text, burn_token, burn_chat_id)
    if ok:
        _log(f"alert sent ({len(changes)} subnet(s))")
        return 0
    _log("telegram failed: " + str(detail))
    return 1

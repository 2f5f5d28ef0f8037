"""A fake Telegram Bot API on loopback that keeps every message it is sent.

It answers POST "/bot<token>/sendMessage" with {"ok": true, "result": ...}
and records each request: path, headers, raw body and the decoded form
fields. Refusals are scripted in front of the normal answers:

    with TelegramSink(token="123:abc") as sink:
        sink.fail(TelegramSink.refusal("Bad Request: chat not found"))
        os.environ["BURN_TELEGRAM_API_BASE"] = sink.url
        ...
        assert sink.texts() == ["..."]

A wrong token gets 401 and any other method 404, as the real service answers;
a message without "chat_id" or "text", or with a text of more than 4,096
characters, gets 400. ``rate_limited(seconds)`` scripts Telegram's 429 with
retry_after, and ``migrate(old, new)`` turns a group into a supergroup: from
then on every message to the old chat gets the 400 that names the new one.
``delivered()`` lists the messages answered ok. It also answers getMe (the
bot, named ``username``) and getChat (the chats given as ``chats``, or any
chat when none are given; a migrated group is refused as above).

Run as a program to print the messages of a manual demonstration:
    python -m corvane_burn_watch.simulator.telegram_sink --token 123:abc
"""

from __future__ import annotations

import argparse
import json
import ssl
import threading
import time
import urllib.parse
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass

from .http_fake import FakeHttpServer, FakeService, RecordedRequest, Reply, first_header
from .json_document import JsonValue

__all__ = ["SentMessage", "TelegramSink"]

_METHOD_PREFIX = "/bot"
_SEND_MESSAGE = "sendMessage"
_LONGEST_TEXT = 4096  # characters; the Bot API refuses longer messages
_GET_ME = "getMe"
_GET_CHAT = "getChat"


@dataclass(frozen=True)
class SentMessage:
    """One POST as it arrived, with its form body decoded.

    fields is None when the body is not a well-formed ASCII form.
    """

    path: str
    headers: list[tuple[str, str]]
    body: bytes
    fields: list[tuple[str, str]] | None

    @property
    def token(self) -> str | None:
        """The token between "/bot" and the method name, or None."""
        bot, _, method = self.path.rpartition("/")
        return bot[len(_METHOD_PREFIX) :] if bot.startswith(_METHOD_PREFIX) and method else None

    def field(self, name: str) -> str | None:
        """The first value of form field ``name``, or None."""
        for key, value in self.fields or ():
            if key == name:
                return value
        return None

    @property
    def text(self) -> str | None:
        return self.field("text")

    @property
    def chat_id(self) -> str | None:
        return self.field("chat_id")

    @property
    def thread_id(self) -> str | None:
        return self.field("message_thread_id")

    @property
    def silent(self) -> bool:
        return self.field("disable_notification") == "true"

    def header(self, name: str) -> str | None:
        return first_header(self.headers, name)


def _decode_form(body: bytes) -> list[tuple[str, str]] | None:
    try:
        return urllib.parse.parse_qsl(
            body.decode("ascii"), keep_blank_values=True, strict_parsing=True, errors="strict"
        )
    except (UnicodeDecodeError, ValueError):
        return None


def _api_reply(document: JsonValue, status: int = 200) -> Reply:
    return Reply.json(json.dumps(document), status=status)


def _generated_chat(chat_id: str) -> JsonValue:
    """A chat as getChat describes it, for any id: a negative id is a group
    ("-100..." a supergroup), any other a private chat."""
    if chat_id.startswith("-"):
        kind = "supergroup" if chat_id.startswith("-100") else "group"
        return {"id": _number(chat_id), "title": f"Chat {chat_id}", "type": kind}
    return {"id": _number(chat_id), "first_name": f"User {chat_id}", "type": "private"}


def _number(chat_id: str) -> int | str:
    try:
        return int(chat_id)
    except ValueError:
        return chat_id  # "@channelname"


class TelegramSink(FakeService):
    """The sendMessage, getMe and getChat methods of a bot, served by a FakeHttpServer.

    token: the only token accepted; None accepts any. username: the bot's, as
    getMe names it. chats: getChat's answer for each chat id; None answers for
    any id, else an id not in it is "chat not found". on_message: called with
    each SentMessage as it arrives (the demonstration prints them).
    """

    def __init__(
        self,
        token: str | None = None,
        *,
        username: str = "burn_watch_fake_bot",
        chats: Mapping[str, Mapping[str, JsonValue]] | None = None,
        on_message: Callable[[SentMessage], None] | None = None,
        tls_context: ssl.SSLContext | None = None,
    ) -> None:
        self.token = token
        self.username = username
        self.chats = chats
        self.on_message = on_message
        self._lock = threading.Lock()
        self._next_message_id = 1
        self._migrated: dict[str, str] = {}
        self._delivered: list[SentMessage] = []
        self.http = FakeHttpServer(self._answer, tls_context=tls_context)

    # ---- scripted answers ----

    @staticmethod
    def refusal(
        description: str, error_code: int = 400, parameters: Mapping[str, JsonValue] | None = None
    ) -> Reply:
        """The API's refusal: that error status with a JSON description."""
        document: dict[str, JsonValue] = {
            "ok": False,
            "error_code": error_code,
            "description": description,
        }
        if parameters is not None:
            document["parameters"] = parameters
        return _api_reply(document, status=error_code)

    @staticmethod
    def rate_limited(retry_after: float) -> Reply:
        """Telegram's 429, asking to wait ``retry_after`` seconds."""
        document: JsonValue = {
            "ok": False,
            "error_code": 429,
            "description": f"Too Many Requests: retry after {retry_after}",
            "parameters": {"retry_after": retry_after},
        }
        return _api_reply(document, status=429)

    def migrate(self, old_chat_id: str, new_chat_id: str) -> None:
        """The group ``old_chat_id`` became the supergroup ``new_chat_id``."""
        with self._lock:
            self._migrated[old_chat_id] = new_chat_id

    def fail(self, *replies: Reply | Callable[[RecordedRequest], Reply]) -> TelegramSink:
        """Answers the next requests with these replies (or responders), in order.

        Scripted requests are recorded but not answered as messages.
        """
        self.http.script(*replies)
        return self

    # ---- what arrived ----

    @property
    def messages(self) -> list[SentMessage]:
        """Every sendMessage received, scripted or not, in arrival order."""
        return self.calls(_SEND_MESSAGE)

    def calls(self, method: str) -> list[SentMessage]:
        """Every POST of the Bot API method ``method``, in arrival order."""
        return [
            _sent(request)
            for request in self.http.requests
            if request.method == "POST" and request.path.rpartition("/")[2] == method
        ]

    def texts(self) -> list[str | None]:
        return [message.text for message in self.messages]

    def delivered(self) -> list[SentMessage]:
        """The messages answered ok, in arrival order."""
        with self._lock:
            return list(self._delivered)

    # ---- the server ----

    def _answer(self, request: RecordedRequest) -> Reply:
        message = _sent(request)
        method = request.path.rpartition("/")[2]
        if request.method != "POST" or method not in (_SEND_MESSAGE, _GET_ME, _GET_CHAT):
            return self.refusal("Not Found", 404)
        if message.token is None or (self.token is not None and message.token != self.token):
            return self.refusal("Unauthorized", 401)
        if method == _GET_ME:
            bot: JsonValue = {
                "id": 1,
                "is_bot": True,
                "first_name": "Burn watch",
                "username": self.username,
            }
            return _api_reply({"ok": True, "result": bot})
        if not message.chat_id:
            return self.refusal("Bad Request: chat_id is empty")
        if method == _GET_CHAT:
            return self._chat(message.chat_id)
        if not message.text:
            return self.refusal("Bad Request: message text is empty")
        if len(message.text) > _LONGEST_TEXT:
            return self.refusal("Bad Request: message is too long")
        with self._lock:
            moved_to = self._migrated.get(message.chat_id)
            if moved_to is None:
                message_id = self._next_message_id
                self._next_message_id += 1
                self._delivered.append(message)
        if moved_to is not None:
            return self._moved(moved_to)
        if self.on_message is not None:
            self.on_message(message)
        result: JsonValue = {
            "message_id": message_id,
            "chat": {"id": message.chat_id},
            "date": int(time.time()),
            "text": message.text,
        }
        return _api_reply({"ok": True, "result": result})

    @classmethod
    def _moved(cls, new_chat_id: str) -> Reply:
        return cls.refusal(
            "Bad Request: group chat was upgraded to a supergroup chat",
            parameters={"migrate_to_chat_id": _number(new_chat_id)},
        )

    def _chat(self, chat_id: str) -> Reply:
        with self._lock:
            moved_to = self._migrated.get(chat_id)
        if moved_to is not None:
            return self._moved(moved_to)
        if self.chats is None:
            return _api_reply({"ok": True, "result": _generated_chat(chat_id)})
        chat = self.chats.get(chat_id)
        if chat is None:
            return self.refusal("Bad Request: chat not found")
        return _api_reply({"ok": True, "result": chat})


def _sent(request: RecordedRequest) -> SentMessage:
    return SentMessage(
        path=request.path,
        headers=list(request.headers),
        body=request.body,
        fields=_decode_form(request.body),
    )


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--token", default=None, help="the only bot token accepted")
    args = parser.parse_args(argv)

    def show(message: SentMessage) -> None:
        print(f"--- chat {message.chat_id} ---\n{message.text}\n", flush=True)

    with TelegramSink(args.token, on_message=show) as sink:
        sink.serve_until_interrupted("BURN_TELEGRAM_API_BASE")


if __name__ == "__main__":
    main()

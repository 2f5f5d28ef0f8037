"""A scripted HTTP/1.1 server on a loopback ephemeral port.

Tests point the library at ``server.url``, queue the replies they want with
``server.script(...)`` (or install a ``default`` responder) and afterwards read
``server.requests`` to see exactly what arrived on the wire. Every reply closes
its connection, so each request shows up on a connection of its own.

    with FakeHttpServer() as server:
        server.script(Reply(429, body=b"slow down"), Reply(200, body=b"{}"))
        ...
        assert server.requests[0].path == "/api/x?limit=1"
"""

from __future__ import annotations

import collections
import http.server
import socket
import ssl
import struct
import sys
import threading
import time
from collections.abc import Callable, Sequence
from dataclasses import dataclass, replace
from typing import Self, TypedDict, Unpack

__all__ = ["FakeHttpServer", "RecordedRequest", "Reply", "ReplyOptions"]


class ReplyOptions(TypedDict, total=False):
    """The fields of a Reply other than its status and body, as keywords."""

    reason: str | None
    headers: Sequence[tuple[str, str]]
    delay: float
    body_delay: float
    trickle: float
    cut_after: int | None
    reset: bool
    content_length: bool


@dataclass(frozen=True)
class Reply:
    """One scripted answer.

    status: the status code. reason: the reason phrase; None picks the usual
    phrase for the code, "" sends none. body: raw bytes. headers: extra
    headers, in order, after Content-Length. delay: seconds to wait before the
    status line. body_delay: seconds to wait between the headers and the body.
    trickle: send the body one byte at a time, this many seconds apart (a
    server that is slow but never silent for long).
    cut_after: send only this many body bytes and then drop the connection
    (a clean close, or a TCP reset when ``reset`` is true). content_length:
    False leaves the Content-Length header out (the body then ends at close).
    """

    status: int = 200
    body: bytes = b""
    reason: str | None = None
    headers: Sequence[tuple[str, str]] = ()
    delay: float = 0.0
    body_delay: float = 0.0
    trickle: float = 0.0
    cut_after: int | None = None
    reset: bool = False
    content_length: bool = True

    @classmethod
    def json(cls, text: str, status: int = 200, **options: Unpack[ReplyOptions]) -> Reply:
        """A reply whose body is ``text`` in UTF-8, labelled as JSON."""
        reply = cls(status=status, body=text.encode("utf-8"), **options)
        return replace(reply, headers=(("Content-Type", "application/json"), *reply.headers))


def first_header(headers: Sequence[tuple[str, str]], name: str) -> str | None:
    """The first value of header ``name`` (any case) in ``headers``, or None."""
    lowered = name.lower()
    for key, value in headers:
        if key.lower() == lowered:
            return value
    return None


@dataclass(frozen=True)
class RecordedRequest:
    """One request as it arrived: headers keep their order and duplicates."""

    method: str
    path: str  # the request target, query included, exactly as sent
    headers: list[tuple[str, str]]
    body: bytes
    client_port: int

    @property
    def raw_target(self) -> bytes:
        """The request target as the bytes on the wire (``path`` holds them
        decoded as Latin-1, the way the standard library's server reads them)."""
        return self.path.encode("latin-1")

    def header(self, name: str) -> str | None:
        """The first value of header ``name`` (any case), or None."""
        return first_header(self.headers, name)

    def header_names(self) -> list[str]:
        return [key for key, _ in self.headers]


Responder = Callable[[RecordedRequest], Reply]
ScriptItem = Reply | Responder


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server: _Server

    def setup(self) -> None:
        # The TLS handshake runs here, on the connection's own thread, so a
        # client that rejects the certificate never stalls the accept loop.
        if isinstance(self.request, ssl.SSLSocket):
            self.request.settimeout(10)
            self.request.do_handshake()
            self.request.settimeout(None)
        super().setup()

    def log_message(self, format: str, *args: object) -> None:
        pass  # tests read server.requests instead of a log

    def _serve(self) -> None:
        recorded = RecordedRequest(
            method=self.command,
            path=self.path,
            headers=list(self.headers.items()),
            body=self._read_body(),
            client_port=self.client_address[1],
        )
        reply = self.server.owner._record_and_choose(recorded)
        self.close_connection = True
        self._send(reply)

    do_GET = do_POST = do_PUT = do_PATCH = do_DELETE = do_HEAD = do_OPTIONS = _serve

    def _read_body(self) -> bytes:
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            chunks: list[bytes] = []
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass  # trailers
                    return b"".join(chunks)
                chunks.append(self.rfile.read(size))
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def _send(self, reply: Reply) -> None:
        stopping = self.server.owner._stopping
        if reply.delay:
            stopping.wait(reply.delay)
        reason = reply.reason
        if reason is None:
            reason = self.responses.get(reply.status, ("",))[0]
        # The space before an empty reason phrase stays: the status line needs it.
        head = [f"HTTP/1.1 {reply.status} {reason}"]
        if reply.content_length:
            head.append(f"Content-Length: {len(reply.body)}")
        head.append("Connection: close")
        head.extend(f"{name}: {value}" for name, value in reply.headers)
        self.wfile.write(("\r\n".join(head) + "\r\n\r\n").encode("latin-1"))
        if reply.body_delay:
            stopping.wait(reply.body_delay)
        if self.command == "HEAD":
            return
        if reply.trickle:
            for index in range(len(reply.body)):
                self.wfile.write(reply.body[index : index + 1])
                self.wfile.flush()
                if stopping.wait(reply.trickle):
                    return
            return
        if reply.cut_after is None:
            self.wfile.write(reply.body)
            return
        self.wfile.write(reply.body[: reply.cut_after])
        if reply.reset:
            # Linger 0 turns close() into a TCP reset instead of an orderly FIN.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def __init__(self, owner: FakeHttpServer, tls_context: ssl.SSLContext | None):
        self.owner = owner
        self.tls_context = tls_context
        super().__init__(("127.0.0.1", 0), _Handler)

    def get_request(self) -> tuple[socket.socket, tuple[str, int]]:
        sock, address = self.socket.accept()
        if self.tls_context is not None:
            sock = self.tls_context.wrap_socket(
                sock, server_side=True, do_handshake_on_connect=False
            )
        return sock, address

    def handle_error(self, request: object, client_address: object) -> None:
        # A client that gave up, or refused our certificate, is an expected
        # event here: keep it for the test to inspect instead of printing.
        self.owner._record_error(sys.exc_info()[1])


class FakeHttpServer:
    """A scripted HTTP/1.1 (or HTTPS) server on 127.0.0.1, in a daemon thread.

    Replies come from the queue filled by ``script`` first; once it is empty,
    from ``default`` (a callable taking the RecordedRequest); without one, a 500
    reply saying that nothing was scripted (counted in ``unscripted``).
    """

    def __init__(
        self,
        default: Responder | None = None,
        *,
        tls_context: ssl.SSLContext | None = None,
    ) -> None:
        self.default = default
        self._lock = threading.Lock()
        self._queue: collections.deque[ScriptItem] = collections.deque()
        self._requests: list[RecordedRequest] = []
        self._errors: list[BaseException] = []
        self._stopping = threading.Event()
        self.unscripted = 0
        self._server = _Server(self, tls_context)
        self._thread = threading.Thread(
            target=self._server.serve_forever,
            kwargs={"poll_interval": 0.02},
            name=f"fake-http-{self.port}",
            daemon=True,
        )
        self._thread.start()

    # ---- addresses ----

    @property
    def port(self) -> int:
        return self._server.server_address[1]

    @property
    def url(self) -> str:
        scheme = "https" if self._server.tls_context is not None else "http"
        return f"{scheme}://127.0.0.1:{self.port}"

    # ---- scripting ----

    def script(self, *items: ScriptItem) -> FakeHttpServer:
        """Queues replies (or per-request responder callables), used in order."""
        with self._lock:
            self._queue.extend(items)
        return self

    def script_first(self, *items: ScriptItem) -> FakeHttpServer:
        """Puts replies in front of whatever is already queued, keeping their order."""
        with self._lock:
            self._queue.extendleft(reversed(items))
        return self

    def pending(self) -> int:
        """Scripted replies not yet used."""
        with self._lock:
            return len(self._queue)

    # ---- what happened ----

    @property
    def requests(self) -> list[RecordedRequest]:
        with self._lock:
            return list(self._requests)

    @property
    def errors(self) -> list[BaseException]:
        """Failures on the server side (broken connections, failed handshakes)."""
        with self._lock:
            return list(self._errors)

    def clear(self) -> None:
        with self._lock:
            self._requests.clear()
            self._errors.clear()
            self._queue.clear()
            self.unscripted = 0

    # ---- lifecycle ----

    def close(self) -> None:
        if self._stopping.is_set():
            return
        self._stopping.set()  # wakes replies still waiting out a delay
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()

    def __enter__(self) -> Self:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def serve_until_interrupted(self, variable: str) -> None:
        """For a manual demonstration: says which environment variable to set
        to this fake's address, then serves until Ctrl-C."""
        print(f"{variable}={self.url}", flush=True)
        try:
            while True:
                time.sleep(3600)
        except KeyboardInterrupt:
            pass

    # ---- called from connection threads ----

    def _record_and_choose(self, request: RecordedRequest) -> Reply:
        with self._lock:
            self._requests.append(request)
            item = self._queue.popleft() if self._queue else None
            if item is None and self.default is None:
                self.unscripted += 1
        if item is None:
            item = self.default
        if item is None:
            return Reply(500, body=b"fake server: no reply scripted for this request")
        return item if isinstance(item, Reply) else item(request)

    def _record_error(self, error: BaseException | None) -> None:
        if error is not None:
            with self._lock:
                self._errors.append(error)


class FakeService:
    """Base of the fakes built on a FakeHttpServer (``self.http``): their
    address, their recorded requests, closing, and use in a ``with`` block."""

    http: FakeHttpServer

    @property
    def url(self) -> str:
        return self.http.url

    @property
    def requests(self) -> list[RecordedRequest]:
        return self.http.requests

    def close(self) -> None:
        self.http.close()

    def __enter__(self) -> Self:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def serve_until_interrupted(self, variable: str) -> None:
        self.http.serve_until_interrupted(variable)

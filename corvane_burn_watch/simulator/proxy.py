"""A forwarding HTTP proxy on loopback, to show that both services go
through the proxy the environment names.

It forwards a plain request in absolute form ("GET http://host:port/path")
and opens a tunnel for CONNECT (what an https:// address asks of a proxy),
and keeps each request line as it arrived in ``requests``:

    with FakeProxy() as proxy:
        os.environ["https_proxy"] = proxy.url
        ...
        assert proxy.requests == ["CONNECT 127.0.0.1:4431 HTTP/1.1"]
"""

from __future__ import annotations

import http.server
import select
import socket
import threading
import urllib.parse
from typing import Self

__all__ = ["FakeProxy"]

_HOP_BY_HOP = {"connection", "proxy-connection", "keep-alive", "proxy-authorization"}


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server: _Server

    def log_message(self, format: str, *args: object) -> None:
        pass

    def do_CONNECT(self) -> None:
        self.server.owner._record(self.requestline)
        host, _, port = self.path.rpartition(":")
        try:
            upstream = socket.create_connection((host, int(port)), timeout=10)
        except OSError:
            self.send_error(502)
            return
        with upstream:
            self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
            self.wfile.flush()
            _relay(self.connection, upstream)
        self.close_connection = True

    def _forward(self) -> None:
        self.server.owner._record(self.requestline)
        target = urllib.parse.urlsplit(self.path)
        if target.scheme != "http" or not target.hostname:
            self.send_error(400, "absolute http:// address expected")
            return
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        path = target.path or "/"
        if target.query:
            path += "?" + target.query
        head = [f"{self.command} {path} HTTP/1.1"]
        head += [f"{k}: {v}" for k, v in self.headers.items() if k.lower() not in _HOP_BY_HOP]
        head.append("Connection: close")
        try:
            upstream = socket.create_connection((target.hostname, target.port or 80), timeout=10)
        except OSError:
            self.send_error(502)
            return
        with upstream:
            upstream.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body)
            # The answer goes back as it comes, until the server closes.
            while chunk := upstream.recv(65536):
                self.wfile.write(chunk)
        self.close_connection = True

    do_GET = do_POST = do_HEAD = _forward


def _relay(client: socket.socket, upstream: socket.socket) -> None:
    """Copies bytes both ways until either side closes."""
    sockets = [client, upstream]
    while True:
        readable, _, _ = select.select(sockets, [], [], 10)
        if not readable:
            return
        for source in readable:
            data = source.recv(65536)
            if not data:
                return
            (upstream if source is client else client).sendall(data)


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, owner: FakeProxy) -> None:
        self.owner = owner
        super().__init__(("127.0.0.1", 0), _Handler)


class FakeProxy:
    """The proxy, serving on 127.0.0.1 in a daemon thread."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._requests: list[str] = []
        self._server = _Server(self)
        self._thread = threading.Thread(
            target=self._server.serve_forever, kwargs={"poll_interval": 0.02}, daemon=True
        )
        self._thread.start()

    @property
    def url(self) -> str:
        return f"http://127.0.0.1:{self._server.server_address[1]}"

    @property
    def requests(self) -> list[str]:
        """The request line of everything asked of the proxy, in order."""
        with self._lock:
            return list(self._requests)

    def _record(self, line: str) -> None:
        with self._lock:
            self._requests.append(line)

    def close(self) -> None:
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()

    def __enter__(self) -> Self:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

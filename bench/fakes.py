"""The loopback services of the benchmark, in a process of their own.

Started by run.py so that the time the fakes spend serving is never counted
against the code under test. It serves, on 127.0.0.1:
- one subnet data service per data file given, answering the subnet list
  endpoint with that file's bytes. Unlike the test fake, it hands out every
  row it holds whatever "limit" asks for, so that a cycle can be measured well
  past one page of subnets;
- one Telegram sink accepting sendMessage for the benchmark's bot token.

It prints {"data": {name: url}, "telegram": url} as one JSON line, then
serves until its standard input is closed. With --tls, every service speaks
HTTPS with that certificate and key instead of plain HTTP.

    python bench/fakes.py [--tls CERT KEY] NAME=rows.json [NAME=rows.json ...]
"""

from __future__ import annotations

import json
import ssl
import sys
from pathlib import Path

from workload import BOT_TOKEN

from corvane_burn_watch.simulator.http_fake import FakeHttpServer, RecordedRequest, Reply
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

SUBNET_LATEST_PATH = "/api/subnet/latest/v1"


def data_service(body: bytes, tls_context: ssl.SSLContext | None) -> FakeHttpServer:
    answer = Reply(200, body=body, headers=(("Content-Type", "application/json"),))
    not_found = Reply.json('{"message": "Not Found"}', status=404)

    def respond(request: RecordedRequest) -> Reply:
        path = request.path.partition("?")[0]
        return answer if request.method == "GET" and path == SUBNET_LATEST_PATH else not_found

    return FakeHttpServer(respond, tls_context=tls_context)


class _QuietSink(TelegramSink):
    """A sink that answers like the real one but keeps no history: the
    benchmark sends thousands of messages and only needs them accepted."""

    def _answer(self, request: RecordedRequest) -> Reply:
        reply = super()._answer(request)
        self.http.clear()
        return reply


def main(argv: list[str]) -> None:
    tls_context = None
    if argv[:1] == ["--tls"]:
        tls_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls_context.load_cert_chain(argv[1], argv[2])
        argv = argv[3:]
    services = {}
    for argument in argv:
        name, _, path = argument.partition("=")
        services[name] = data_service(Path(path).read_bytes(), tls_context)
    sink = _QuietSink(BOT_TOKEN, tls_context=tls_context)
    print(
        json.dumps({"data": {n: s.url for n, s in services.items()}, "telegram": sink.url}),
        flush=True,
    )
    try:
        sys.stdin.read()
    finally:
        sink.close()
        for service in services.values():
            service.close()


if __name__ == "__main__":
    main(sys.argv[1:])

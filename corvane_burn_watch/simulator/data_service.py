"""A fake Orbisca subnet data service on loopback.

It answers GET "/api/subnet/latest/v1" with {"data": rows} from a list the
caller sets at any time, honouring "limit", and answers 404 elsewhere. When an
API key is configured, a request whose Authorization header differs gets 401.
Failures are scripted in front of the normal answers:

    with FakeDataService(rows=make_rows(3), api_key="k") as service:
        service.rate_limit(2)                  # two 429 refusals, then rows
        service.fail(Reply(500, body=b"boom")) # or any scripted reply
        service.before_answer = drift          # called before each list answer
        os.environ["ORBISCA_API_BASE"] = service.url

Run as a program to serve rows for a manual demonstration:
    python -m corvane_burn_watch.simulator.data_service --rows 12
"""

from __future__ import annotations

import argparse
import json
import ssl
import threading
import urllib.parse
from collections.abc import Callable, Sequence

from .http_fake import FakeHttpServer, FakeService, RecordedRequest, Reply
from .json_document import JsonValue

__all__ = ["SUBNET_LATEST_PATH", "FakeDataService", "make_rows"]

SUBNET_LATEST_PATH = "/api/subnet/latest/v1"


def make_rows(count: int, burn: JsonValue = 0.0, start: int = 0) -> list[dict[str, JsonValue]]:
    """``count`` subnet rows in ascending netuid order, all with burn ``burn``."""
    return [
        {"netuid": netuid, "name": f"subnet-{netuid}", "incentive_burn": burn}
        for netuid in range(start, start + count)
    ]


def _json_reply(document: JsonValue, status: int = 200) -> Reply:
    return Reply.json(json.dumps(document), status=status)


class FakeDataService(FakeService):
    """The subnet data service, served by a FakeHttpServer."""

    def __init__(
        self,
        rows: Sequence[dict[str, JsonValue]] | None = None,
        *,
        api_key: str | None = None,
        tls_context: ssl.SSLContext | None = None,
    ) -> None:
        self._lock = threading.Lock()
        self._rows: list[dict[str, JsonValue]] = list(rows or [])
        self.api_key = api_key
        # Run before each answer of the subnet list: a service whose rates keep moving.
        self.before_answer: Callable[[], None] | None = None
        self.http = FakeHttpServer(self._answer, tls_context=tls_context)

    # ---- rows ----

    @property
    def rows(self) -> list[dict[str, JsonValue]]:
        with self._lock:
            return list(self._rows)

    @rows.setter
    def rows(self, rows: Sequence[dict[str, JsonValue]]) -> None:
        with self._lock:
            self._rows = list(rows)

    def set_burn(self, netuid: int, burn: JsonValue) -> None:
        """Changes one subnet's "incentive_burn", as the real service would over time."""
        with self._lock:
            for row in self._rows:
                if row.get("netuid") == netuid:
                    row["incentive_burn"] = burn
                    return
        raise KeyError(netuid)

    # ---- failures ----

    def fail(self, *replies: Reply) -> FakeDataService:
        """Answers the next requests with these replies, in order."""
        self.http.script(*replies)
        return self

    def rate_limit(self, count: int = 1) -> FakeDataService:
        """Refuses the next ``count`` requests as the service does when asked too fast."""
        refusal = Reply(429, body=b"Rate Limited: too many requests", reason="Too Many Requests")
        return self.fail(*([refusal] * count))

    # ---- the server ----

    def _answer(self, request: RecordedRequest) -> Reply:
        target = urllib.parse.urlsplit(request.path)
        if request.method != "GET" or target.path != SUBNET_LATEST_PATH:
            return _json_reply({"message": "Not Found"}, status=404)
        if self.api_key is not None and request.header("Authorization") != self.api_key:
            return _json_reply({"message": "Unauthorized"}, status=401)
        query = urllib.parse.parse_qs(target.query)
        if self.before_answer is not None:
            self.before_answer()
        rows = self.rows
        try:
            limit = int(query.get("limit", [len(rows)])[0])
        except ValueError:
            return _json_reply({"message": "limit must be an integer"}, status=400)
        return _json_reply({"data": rows[: max(limit, 0)]})


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=8, help="number of subnets served")
    parser.add_argument("--burn", type=float, default=0.18, help="owner burn of every subnet")
    parser.add_argument("--api-key", default=None, help="key the Authorization header must carry")
    args = parser.parse_args(argv)
    with FakeDataService(make_rows(args.rows, args.burn), api_key=args.api_key) as service:
        service.serve_until_interrupted("ORBISCA_API_BASE")


if __name__ == "__main__":
    main()

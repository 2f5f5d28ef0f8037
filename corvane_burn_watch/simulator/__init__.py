"""Loopback stand-ins for the outside services, for tests and demonstrations.

Everything here listens on 127.0.0.1 only and uses the standard library only.
"""

from .http_fake import FakeHttpServer, RecordedRequest, Reply

__all__ = ["FakeHttpServer", "RecordedRequest", "Reply"]

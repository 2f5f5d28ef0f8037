"""Fixtures shared by the test suites."""

from __future__ import annotations

import datetime as dt
import ipaddress
import os
from collections.abc import Callable, Iterator
from pathlib import Path

import pytest
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.http_fake import FakeHttpServer, FakeService


@pytest.fixture
def pauses() -> Iterator[list[float]]:
    """Every pause the library asks for, in seconds, taken without waiting."""
    recorded: list[float] = []
    bw._set_sleep(recorded.append)
    try:
        yield recorded
    finally:
        bw._set_sleep(None)


@pytest.fixture
def server(monkeypatch) -> Iterator[FakeHttpServer]:
    """A scripted loopback server that the data client is pointed at."""
    with FakeHttpServer() as fake:
        monkeypatch.setenv("ORBISCA_API_BASE", fake.url)
        monkeypatch.delenv("ORBISCA_USER_AGENT", raising=False)
        yield fake


def _self_signed(directory: Path, name: str) -> tuple[Path, Path]:
    """Writes a self-signed certificate for 127.0.0.1 and its key; returns both paths."""
    key = ec.generate_private_key(ec.SECP256R1())
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, name)])
    now = dt.datetime.now(dt.UTC)
    certificate = (
        x509.CertificateBuilder()
        .subject_name(subject)
        .issuer_name(subject)
        .public_key(key.public_key())
        .serial_number(x509.random_serial_number())
        .not_valid_before(now - dt.timedelta(minutes=5))
        .not_valid_after(now + dt.timedelta(days=1))
        .add_extension(
            x509.SubjectAlternativeName([x509.IPAddress(ipaddress.ip_address("127.0.0.1"))]),
            critical=False,
        )
        .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
        .sign(key, hashes.SHA256())
    )
    cert_path = directory / f"{name}.pem"
    key_path = directory / f"{name}.key"
    cert_path.write_bytes(certificate.public_bytes(serialization.Encoding.PEM))
    key_path.write_bytes(
        key.private_bytes(
            serialization.Encoding.PEM,
            serialization.PrivateFormat.PKCS8,
            serialization.NoEncryption(),
        )
    )
    return cert_path, key_path


@pytest.fixture
def self_signed() -> Callable[[Path, str], tuple[Path, Path]]:
    """self_signed(directory, name): a certificate for 127.0.0.1 and its key."""
    return _self_signed


@pytest.fixture
def cli_environment(monkeypatch: pytest.MonkeyPatch) -> Callable[..., None]:
    """The program's settings cleared from the environment, and a function that
    points them at a data service fake and a Telegram fake."""
    for name in list(os.environ):
        if name.startswith(("ORBISCA_", "BURN_TELEGRAM_")):
            monkeypatch.delenv(name)

    def point(service: FakeService, sink: FakeService, *, key: str, token: str, chat: str) -> None:
        monkeypatch.setenv("ORBISCA_API_BASE", service.url)
        monkeypatch.setenv("ORBISCA_API_KEY", key)
        monkeypatch.setenv("BURN_TELEGRAM_API_BASE", sink.url)
        monkeypatch.setenv("BURN_TELEGRAM_TOKEN", token)
        monkeypatch.setenv("BURN_TELEGRAM_CHAT_ID", chat)

    return point

"""HTTPS to a loopback server whose certificate the tests make themselves."""

import datetime as dt
import ipaddress
import ssl

import pytest
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.http_fake import FakeHttpServer, Reply


def self_signed(directory, name):
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
def tls_server(tmp_path, monkeypatch):
    cert, key = self_signed(tmp_path, "loopback")
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    with FakeHttpServer(tls_context=context) as server:
        monkeypatch.setenv("ORBISCA_API_BASE", server.url)
        monkeypatch.delenv("SSL_CERT_FILE", raising=False)
        yield server, cert


def test_trusted_through_ssl_cert_file(tls_server, monkeypatch):
    server, cert = tls_server
    monkeypatch.setenv("SSL_CERT_FILE", str(cert))
    server.script(Reply(200, b'{"data": [{"netuid": 4}]}'), Reply(503, b"over tls"))
    assert bw.fetch_all_subnets_latest("k") == [{"netuid": 4}]
    assert bw.http_get_json("/x", {}, "k") == {
        "status_code": 503,
        "message": "over tls",
        "http_status": 503,
    }
    assert [r.header("Authorization") for r in server.requests] == ["k", "k"]


@pytest.mark.parametrize("trust", ["system default", "another certificate", "missing file"])
def test_untrusted_certificate_is_refused(tls_server, tmp_path, monkeypatch, trust):
    server, _ = tls_server
    if trust == "another certificate":
        other, _ = self_signed(tmp_path, "stranger")
        monkeypatch.setenv("SSL_CERT_FILE", str(other))
    elif trust == "missing file":
        monkeypatch.setenv("SSL_CERT_FILE", str(tmp_path / "absent.pem"))
    server.script(Reply(200, b"{}"))
    with pytest.raises(OSError):
        bw.http_get_json("/x", {}, "k")
    assert server.requests == []

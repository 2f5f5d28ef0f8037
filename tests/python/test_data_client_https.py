"""HTTPS to a loopback server whose certificate the tests make themselves."""

import os
import ssl
import threading
from concurrent.futures import ThreadPoolExecutor

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.http_fake import FakeHttpServer, Reply


def server_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


@pytest.fixture
def tls_server(tmp_path, monkeypatch, self_signed):
    cert, key = self_signed(tmp_path, "loopback")
    with FakeHttpServer(tls_context=server_context(cert, key)) as server:
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
def test_untrusted_certificate_is_refused(tls_server, tmp_path, monkeypatch, self_signed, trust):
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


def reached() -> bool:
    """Whether a request got through to the server (any reply) or was refused."""
    try:
        bw.http_get_json("/x", {}, "k")
    except OSError:
        return False
    return True


@pytest.mark.parametrize("change", ["edited in place", "replaced", "another file named"])
def test_a_changed_bundle_counts_from_the_next_request(
    tls_server, tmp_path, monkeypatch, self_signed, change
):
    server, cert = tls_server
    stranger, _ = self_signed(tmp_path, "stranger")
    bundle = tmp_path / "bundle.pem"
    versions = 0

    def trust(*certificates):
        nonlocal versions
        versions += 1
        content = b"".join(c.read_bytes() for c in certificates)
        if change == "edited in place":  # same inode, another size
            with open(bundle, "r+b" if bundle.exists() else "wb") as file:
                file.write(content)
                file.truncate()
        elif change == "replaced":  # another inode at the same path
            fresh = tmp_path / "fresh.pem"
            fresh.write_bytes(content)
            os.replace(fresh, bundle)
        else:
            (tmp_path / f"bundle-{versions}.pem").write_bytes(content)
        name = bundle if change != "another file named" else tmp_path / f"bundle-{versions}.pem"
        monkeypatch.setenv("SSL_CERT_FILE", str(name))

    server.default = lambda request: Reply(200, b"{}")
    trust(stranger)
    assert not reached()
    trust(stranger, cert)
    assert reached()
    assert reached()
    trust(stranger)
    assert not reached()
    assert len(server.requests) == 2


def test_a_server_outside_the_bundle_is_refused_after_a_trusted_one(
    tls_server, tmp_path, monkeypatch, self_signed
):
    server, cert = tls_server
    monkeypatch.setenv("SSL_CERT_FILE", str(cert))
    other_cert, other_key = self_signed(tmp_path, "stranger")
    with FakeHttpServer(tls_context=server_context(other_cert, other_key)) as stranger:
        server.script(Reply(200, b"{}"))
        assert reached()
        monkeypatch.setenv("ORBISCA_API_BASE", stranger.url)
        assert not reached()
        assert stranger.requests == []


def test_requests_from_several_threads_each_make_their_own_connection(
    tmp_path, monkeypatch, self_signed
):
    threads, rounds = 6, 2
    cert, key = self_signed(tmp_path, "loopback")
    context = server_context(cert, key)
    # Each reply waits until every thread has a request in flight: the
    # handshakes and the reads of the bundle overlap.
    together = threading.Barrier(threads, timeout=20)

    def answer(request):
        together.wait()
        return Reply(200, b'{"ok": true}')

    with FakeHttpServer(answer, tls_context=context) as server:
        monkeypatch.setenv("ORBISCA_API_BASE", server.url)
        monkeypatch.setenv("SSL_CERT_FILE", str(cert))

        def requests(_):
            return [bw.http_get_json("/x", {}, "k") for _ in range(rounds)]

        with ThreadPoolExecutor(threads) as pool:
            results = list(pool.map(requests, range(threads)))
        ports = {request.client_port for request in server.requests}
    assert results == [[{"ok": True}] * rounds] * threads
    # One TCP connection and one full handshake per request, none resumed.
    assert len(ports) == threads * rounds
    assert context.session_stats()["accept_good"] == threads * rounds
    assert context.session_stats()["hits"] == 0

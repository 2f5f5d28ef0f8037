"""Both services through the proxy the environment names, as libcurl reads it."""

from __future__ import annotations

import ssl

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.data_service import FakeDataService
from corvane_burn_watch.simulator.proxy import FakeProxy
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

TOKEN = "3131:proxy-token"
VARIABLES = ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY")


@pytest.mark.parametrize(
    ("scheme", "variables", "proxied"),
    [
        ("http", {"http_proxy": "{proxy}"}, True),
        ("https", {"https_proxy": "{proxy}"}, True),
        ("https", {"HTTPS_PROXY": "{proxy}"}, True),
        ("http", {"http_proxy": "{proxy}", "no_proxy": "127.0.0.1"}, False),
        ("https", {"HTTPS_PROXY": "{proxy}", "NO_PROXY": "localhost,127.0.0.1"}, False),
        # Upper-case HTTP_PROXY is what a CGI program finds for a request's
        # "Proxy:" header, so libcurl never takes it.
        ("http", {"HTTP_PROXY": "{proxy}"}, False),
    ],
    ids=["http_proxy", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY", "HTTP_PROXY ignored"],
)
def test_both_services_use_the_proxy(
    tmp_path, monkeypatch, self_signed, scheme, variables, proxied
):
    tls = None
    if scheme == "https":
        cert, key = self_signed(tmp_path, "loopback")
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(cert, key)
        monkeypatch.setenv("SSL_CERT_FILE", str(cert))
    for name in VARIABLES:
        monkeypatch.delenv(name, raising=False)
    with (
        FakeProxy() as proxy,
        FakeDataService([{"netuid": 1, "incentive_burn": 0.5}], tls_context=tls) as service,
        TelegramSink(TOKEN, tls_context=tls) as sink,
    ):
        for name, value in variables.items():
            monkeypatch.setenv(name, value.format(proxy=proxy.url))
        monkeypatch.setenv("ORBISCA_API_BASE", service.url)
        monkeypatch.setenv("BURN_TELEGRAM_API_BASE", sink.url)

        assert bw.fetch_all_subnets_latest("k") == [{"netuid": 1, "incentive_burn": 0.5}]
        assert bw.send_burn_telegram("hi", TOKEN, "-1") == (True, "")
        assert sink.texts() == ["hi"]

    through = [
        f"GET {service.url}{service.requests[0].path} HTTP/1.1",
        f"POST {sink.url}/bot{TOKEN}/sendMessage HTTP/1.1",
    ]
    if scheme == "https":  # a tunnel: the proxy sees only where to
        through = [
            f"CONNECT {url.removeprefix('https://')} HTTP/1.1" for url in (service.url, sink.url)
        ]
    assert proxy.requests == (through if proxied else [])

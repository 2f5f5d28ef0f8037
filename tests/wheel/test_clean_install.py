"""The binary wheel where nothing could build it: installed into a fresh
virtual environment in a minimal Debian root (python3 and python3-venv only),
which scripts/test-wheel makes and names in BURN_WATCH_CLEAN_ROOT. Every
command runs there through chroot, with a /proc of its own; the fakes run here,
on loopback, which the root shares."""

from __future__ import annotations

import json
import os
import shutil
import ssl
import subprocess
from pathlib import Path

import pytest

from corvane_burn_watch.simulator.data_service import FakeDataService, make_rows
from corvane_burn_watch.simulator.telegram_sink import TelegramSink

API_KEY = "clean-install-key"
TOKEN = "123456:clean-install"
CHAT = "-1001"
VENV = "/opt/burn-watch"


@pytest.fixture(scope="module")
def root() -> Path:
    named = os.environ.get("BURN_WATCH_CLEAN_ROOT")
    if not named:
        pytest.fail("BURN_WATCH_CLEAN_ROOT is unset: run these tests through scripts/test-wheel")
    return Path(named)


def in_root(root: Path, *command: str, env: dict[str, str] | None = None):
    """Runs a command inside the root, with only `env` (and a PATH) set."""
    variables = {"PATH": f"{VENV}/bin:/usr/bin:/bin", "HOME": "/root", **(env or {})}
    mount_and_enter = 'mount -t proc proc "$0/proc" && exec chroot "$0" "$@"'
    return subprocess.run(
        [
            "unshare", "--mount", "--fork", "sh", "-c", mount_and_enter, str(root),
            "/usr/bin/env", "-i", *(f"{k}={v}" for k, v in variables.items()), *command,
        ],
        capture_output=True,
        text=True,
        timeout=120,
    )  # fmt: skip


def test_the_root_has_nothing_to_build_with(root):
    for tool in ("cc", "gcc", "g++", "c++", "clang", "ld", "make", "cmake"):
        assert not (root / "usr/bin" / tool).exists(), tool
    for header in ("curl/curl.h", "openssl/ssl.h", "rapidjson/document.h", "simdjson.h"):
        assert not (root / "usr/include" / header).exists(), header
    libraries = [p.name for p in root.glob("usr/lib/x86_64-linux-gnu/libcurl*")]
    assert libraries == []


def test_the_module_carries_its_own_http_stack(root):
    probe = (
        "import json, corvane_burn_watch.burn_watch as bw\n"
        "maps = open('/proc/self/maps').read()\n"
        "loaded = sorted({l.split()[-1] for l in maps.splitlines() if '.so' in l})\n"
        "print(json.dumps({'features': bw._curl_features(), 'loaded': loaded}))\n"
    )
    done = in_root(root, "python", "-c", probe)
    assert done.returncode == 0, done.stderr
    seen = json.loads(done.stdout)
    features = seen["features"]
    assert sorted(features["protocols"]) == ["http", "https"]
    assert features["ssl_version"].startswith("OpenSSL/3.")
    unwanted = {"IDN", "PSL", "brotli", "zstd", "libz", "GSS-API", "Kerberos", "SPNEGO", "NTLM"}
    assert unwanted.isdisjoint(features["features"])
    assert {"SSL", "IPv6", "AsynchDNS"} <= set(features["features"])
    # Nothing of the system's TLS, HTTP or C++ libraries is loaded by the import.
    names = [Path(path).name for path in seen["loaded"]]
    for library in ("libcurl", "libssl", "libcrypto", "libgnutls", "libldap", "libstdc++"):
        assert not [n for n in names if n.startswith(library)], names


def test_version_and_demo(root):
    version = in_root(root, "burn-watch", "--version")
    assert (version.returncode, version.stdout.split()) == (0, ["burn-watch", "0.1.0"])
    demo = in_root(root, "burn-watch", "demo", "--cycles", "1")
    assert demo.returncode == 0, demo.stderr
    assert demo.stdout


@pytest.fixture
def tls_fakes(tmp_path, self_signed):
    cert, key = self_signed(tmp_path, "loopback")
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    with (
        FakeDataService(make_rows(4, burn=0.1), api_key=API_KEY, tls_context=context) as service,
        TelegramSink(token=TOKEN, tls_context=context) as sink,
    ):
        yield service, sink, cert


def test_https_cycles_trust_the_bundle_found_at_run_time(root, tls_fakes):
    service, sink, cert = tls_fakes
    work = root / "tmp/clean-install"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    shutil.copy(cert, work / "loopback.pem")
    env = {
        "ORBISCA_API_BASE": service.url,
        "ORBISCA_API_KEY": API_KEY,
        "BURN_TELEGRAM_API_BASE": sink.url,
        "BURN_TELEGRAM_TOKEN": TOKEN,
        "BURN_TELEGRAM_CHAT_ID": CHAT,
    }
    once = ("burn-watch", "once", "--state-file", "/tmp/clean-install/state.json")

    # Debian's bundle is found where Debian keeps it; it does not know the fake.
    system = "/etc/ssl/certs/ca-certificates.crt"
    check = in_root(root, "burn-watch", "check", env=env)
    assert f"CA certificates {system} (the system's): ok" in check.stdout.splitlines()
    untrusted = in_root(root, *once, env=env)
    assert untrusted.returncode == 1 and "certificate" in untrusted.stderr

    # With no bundle anywhere, the first request says so, and how to give one.
    (root / system.lstrip("/")).unlink()
    unfound = in_root(root, *once, env=env)
    assert unfound.returncode == 1
    assert "no CA certificates found" in unfound.stderr
    assert "SSL_CERT_FILE" in unfound.stderr
    assert service.requests == []

    env["SSL_CERT_FILE"] = "/tmp/clean-install/loopback.pem"
    check = in_root(root, "burn-watch", "check", env=env)
    assert f"CA certificates {env['SSL_CERT_FILE']} (SSL_CERT_FILE): ok" in check.stdout

    first = in_root(root, *once, env=env)
    assert (first.returncode, first.stderr) == (0, "")
    service.set_burn(2, 0.35)
    second = in_root(root, *once, env=env)
    assert (second.returncode, second.stderr) == (0, "[burn] alert sent (1 subnet(s))\n")
    assert [m.text.split("\n")[-1] for m in sink.messages] == ["SN2: 0.1000 \u2192 0.3500"]

"""The benchmark over HTTPS: the 1,024-subnet watch cycle as users run it.

A real cycle talks HTTPS to both services and trusts a CA bundle: the system's
(/etc/ssl/certs/ca-certificates.crt) or the one SSL_CERT_FILE names. Here a
throw-away certificate for 127.0.0.1 is appended to a copy of the system
bundle, that copy is given through SSL_CERT_FILE, and the loopback fakes serve
TLS with the certificate: both pipelines read and parse a real, full-size
bundle. The same cycle is measured over plain HTTP in the same run, user and
system CPU apart.

run.py calls run() while its plain-HTTP fakes are up, then print_report().
Each measurement is worker.py's cycle, in a fresh process:

    worker.py cycle lib|py|py-shared STATE_SEED REPS STATE_DIR

"py" is the plain-Python pipeline as written: a fresh SSL context for every
connection, the way urllib makes one, so that it reads SSL_CERT_FILE and the
bundle at every request as the library does. "py-shared" is the same pipeline
with one SSLContext made once and reused: cheaper, though blind to a changed
bundle; printed for comparison.
"""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import sys
from collections.abc import Iterable
from pathlib import Path
from typing import TYPE_CHECKING, Any

from measurement import measure

if TYPE_CHECKING:
    from run import FakeUrls

HERE = Path(__file__).resolve().parent
SYSTEM_BUNDLE = Path("/etc/ssl/certs/ca-certificates.crt")
SIZE = 1_024
# Cycles per measurement (median and means reported); --quick takes a quarter.
REPS = {"lib": 60, "py": 20, "py-shared": 20}
MIN_SPEEDUP = 10.0
MODES = ("http", "https")

# {(mode, impl): figures of one measurement}, and "bundle_bytes": the bundle's size.
Results = dict[Any, Any]


def make_trust(directory: str) -> tuple[str, str, str]:
    """A throw-away certificate and key for 127.0.0.1, and a copy of the
    system bundle with the certificate appended: (certificate, key, bundle)."""
    cert, key = os.path.join(directory, "loopback.pem"), os.path.join(directory, "loopback.key")
    subprocess.run(
        [
            *("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"),
            *("-nodes", "-days", "1", "-subj", "/CN=burn-bench loopback"),
            *("-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert),
        ],
        check=True,
        capture_output=True,
    )
    bundle = os.path.join(directory, "ca-bundle.crt")
    shutil.copyfile(SYSTEM_BUNDLE, bundle)
    with open(bundle, "ab") as out:
        out.write(b"\n" + Path(cert).read_bytes())
    return cert, key, bundle


def _measure(args: list[str], env: dict[str, str], expected_changes: int) -> dict[str, Any]:
    figures, stderr = measure("worker.py", args, env)
    alert = f"[burn] alert sent ({expected_changes} subnet(s))"
    if stderr.count(alert) != int(args[3]) + 1:
        sys.stderr.write(stderr[-2000:])
        raise SystemExit(f"expected an alert line {alert!r} for every cycle")
    return figures


def run(
    quick: bool,
    env: dict[str, str],
    directory: str,
    state_dir: str,
    http_urls: FakeUrls,
    expected_changes: int,
) -> Results:
    """Measures the cycle over HTTP (the fakes at http_urls) and over HTTPS
    (fakes of its own); returns {(mode, impl): figures} and the bundle's size."""
    seed = str(Path(directory, f"state-{SIZE}.json"))
    rows = str(Path(directory, f"rows-{SIZE}.json"))
    cert, key, bundle = make_trust(directory)
    fakes = subprocess.Popen(
        [sys.executable, str(HERE / "fakes.py"), "--tls", cert, key, f"{SIZE}={rows}"],
        env=env,
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        text=True,
        cwd=str(HERE),
    )
    assert fakes.stdin is not None and fakes.stdout is not None
    results: Results = {"bundle_bytes": os.path.getsize(bundle)}
    try:
        https_urls: FakeUrls = json.loads(fakes.stdout.readline())
        envs = {
            "http": dict(env, ORBISCA_API_BASE=http_urls["data"][str(SIZE)]),
            "https": dict(
                env,
                ORBISCA_API_BASE=https_urls["data"][str(SIZE)],
                BURN_TELEGRAM_API_BASE=https_urls["telegram"],
                SSL_CERT_FILE=bundle,
            ),
        }
        for mode in MODES:
            for impl, full in REPS.items():
                if mode == "http" and impl == "py-shared":
                    continue  # no TLS, nothing to share: the same as "py"
                reps = max(2, full // 4) if quick else full
                print(
                    f"  {impl:9} watch cycle over {mode}, {SIZE:,} subnets ({reps} cycles)...",
                    file=sys.stderr,
                    flush=True,
                )
                args = ["cycle", impl, seed, str(reps), state_dir]
                results[(mode, impl)] = _measure(args, envs[mode], expected_changes)
    finally:
        fakes.stdin.close()
        fakes.wait(timeout=30)
    return results


def print_report(results: Results) -> None:
    impls = ("lib", "py", "py-shared")
    names = {"lib": "lib", "py": "python", "py-shared": "python, 1 ctx"}
    width = 50
    rule = "-" * (width + 16 * len(impls))

    def row(label: str, values: Iterable[str]) -> None:
        print(f"{label:{width}}" + "".join(f"{v:>16}" for v in values))

    print()
    print(f"The {SIZE:,}-subnet watch cycle over HTTP and over HTTPS, state file on disk")
    print(
        f"  HTTPS: both fakes serve TLS; SSL_CERT_FILE names a copy of {SYSTEM_BUNDLE} "
        f"with the test certificate appended ({results['bundle_bytes'] / 1024:.0f} KiB)."
    )
    print("  python: a fresh SSL context per request, as urllib makes it (it reads the bundle")
    print("  each time, as the library must); python, 1 ctx: one SSLContext reused throughout.")
    print("  CPU ms per cycle: total is the median, user and system are means (Linux")
    print("  splits the two by sampling).")
    print(rule)
    row("", [names[i] for i in impls])
    print(rule)
    for mode in MODES:
        figures = {i: results.get((mode, i)) for i in impls}

        def cells(key: str, figures: dict[str, Any] = figures) -> list[str]:
            return [f"{f[key] * 1e3:.3f}" if f else "-" for f in figures.values()]

        row(f"over {mode.upper()}: cycle CPU ms", cells("cpu"))
        row("  user CPU, mean ms", cells("user_mean"))
        row("  system CPU, mean ms", cells("kernel_mean"))
        row("  wall ms", cells("wall"))
    print(rule)
    ratios = {}
    for mode in MODES:
        lib = results[(mode, "lib")]["cpu"]
        ratios[mode] = results[(mode, "py")]["cpu"] / lib
        line = f"plain Python / library, cycle CPU over {mode.upper()}: {ratios[mode]:.1f}x"
        if (mode, "py-shared") in results:
            shared = results[(mode, "py-shared")]["cpu"] / lib
            line += f" (against one reused SSLContext: {shared:.1f}x)"
        print(line)
    https_cost = results[("https", "lib")]["cpu"] - results[("http", "lib")]["cpu"]
    print(f"what TLS adds to the library's cycle (3 requests): {https_cost * 1e3:.3f} ms CPU")
    verdict = "met " if ratios["https"] >= MIN_SPEEDUP else "MISS"
    print(
        f"[{verdict}] {SIZE:,}-subnet cycle over HTTPS at least {MIN_SPEEDUP:.0f}x less CPU "
        f"than plain Python: {ratios['https']:.1f}x"
    )

"""The ``burn-watch`` program: a host that runs the library as a service.

``main`` reads the command line; each command lives in ``commands/``, and the
program's own services (settings, log lines, metrics, systemd notification,
signals) beside it. The library knows nothing of this package.
"""

from .main import main

__all__ = ["main"]

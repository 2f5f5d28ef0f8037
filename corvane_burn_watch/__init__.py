"""Watches the owner burn rate of every Corvane subnet and reports changes to Telegram.

The work is done by the compiled module :mod:`corvane_burn_watch.burn_watch`;
this package re-exports its public operations.
"""

# The compiled module (with libcurl and OpenSSL) is loaded on first use, not
# with the package: the program imports this package before it can handle
# Ctrl-C, and loading the module is most of its start-up. Nothing else costly
# is imported here (not even typing) for the same reason.
import importlib
import os

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any

    from .burn_watch import *

__version__ = "0.1.0"


def _is_submodule(name: str) -> bool:
    folder = os.path.join(os.path.dirname(__file__), name)
    return os.path.isdir(folder) or os.path.exists(folder + ".py")


def __getattr__(name: str) -> "Any":
    # Submodules (``from . import _cli``) are the import system's to load.
    if name.startswith("_") or _is_submodule(name):
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    module = importlib.import_module(".burn_watch", __name__)
    if name == "burn_watch":
        return module
    try:
        return getattr(module, name)
    except AttributeError:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}") from None

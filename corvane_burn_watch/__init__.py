"""Watches the owner burn rate of every Corvane subnet and reports changes to Telegram.

The work is done by the compiled module :mod:`corvane_burn_watch.burn_watch`;
this package re-exports its public operations. The module is loaded when one
of them is first asked for, not with the package, so that ``burn-watch
--version`` and the simulator never load it.
"""

from __future__ import annotations

# Not typing's: nothing here may cost an import at start.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any

    from .burn_watch import *

__version__ = "0.1.0"


def __getattr__(name: str) -> Any:
    if name.startswith("_"):
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    # Importing the submodule sets it in this namespace.
    __import__(f"{__name__}.burn_watch")
    module = globals()["burn_watch"]
    if name == "burn_watch":
        return module
    try:
        return getattr(module, name)
    except AttributeError:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}") from None


def __dir__() -> list[str]:
    __import__(f"{__name__}.burn_watch")
    public = (n for n in dir(globals()["burn_watch"]) if not n.startswith("_"))
    return sorted({*globals(), *public})

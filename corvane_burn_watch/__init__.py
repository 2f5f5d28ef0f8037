"""Watches the owner burn rate of every Corvane subnet and reports changes to Telegram.

The work is done by the compiled module :mod:`corvane_burn_watch.burn_watch`;
this package re-exports its public operations.
"""

from .burn_watch import *
from .burn_watch import __doc__ as _module_doc  # noqa: F401

__version__ = "0.1.0"

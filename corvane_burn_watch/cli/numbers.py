"""The one reader of numbers on the command line: every option that takes a
number goes through it, so that each says the same about a bad one."""

from __future__ import annotations

import argparse
import math
from collections.abc import Callable

__all__ = ["number", "whole_number"]


def number(minimum: float, *, inclusive: bool, maximum: float = math.inf) -> Callable[[str], float]:
    """A reader of finite numbers from `minimum` (included or not) to `maximum`."""
    bound = f">= {minimum:g}" if inclusive else f"> {minimum:g}"
    if maximum < math.inf:
        bound += f" and at most {maximum:g}"

    def read(text: str) -> float:
        try:
            value = float(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
        if (
            not math.isfinite(value)
            or value < minimum
            or (not inclusive and value == minimum)
            or value > maximum
        ):
            raise argparse.ArgumentTypeError(f"must be a number {bound}, not {text!r}")
        return value

    return read


def whole_number(
    minimum: int, maximum: int | None = None, *, what: str = "whole number"
) -> Callable[[str], int]:
    """A reader of whole numbers from `minimum` to `maximum` (both included)."""

    def read(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a {what}: {text!r}") from None
        if maximum is not None and not minimum <= value <= maximum:
            raise argparse.ArgumentTypeError(
                f"must be a {what} from {minimum} to {maximum}, not {text!r}"
            )
        if value < minimum:
            raise argparse.ArgumentTypeError(f"must be at least {minimum}, not {text!r}")
        return value

    return read

"""The JSON documents the fakes serve: any value ``json.dumps`` writes."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import TypeAlias

__all__ = ["JsonValue"]

# Read-only containers, so that a list of rows or a dict of floats is one too.
JsonValue: TypeAlias = (
    bool | int | float | str | Sequence["JsonValue"] | Mapping[str, "JsonValue"] | None
)

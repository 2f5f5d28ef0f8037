"""Every public operation takes the Python types its generated stub declares,
and gives back what the stub says it returns.

The stub is read, not restated: each parameter gets one value per member of
its declared type (the other parameters keep their first), built from the
annotation alone, and each result is checked against the declared return
type. Only the values of file and URL paths are picked by name, so that
nothing lands outside a temporary folder.
"""

from __future__ import annotations

import ast
import builtins
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import Any

import pytest

from corvane_burn_watch import burn_watch as bw
from corvane_burn_watch.simulator.http_fake import Reply

STUB = ast.parse(Path(bw.__file__).with_name("burn_watch.pyi").read_text(encoding="utf-8"))
ALIASES = {
    node.target.id: node.value
    for node in STUB.body
    if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name) and node.value
}
CLASSES = {node.name for node in STUB.body if isinstance(node, ast.ClassDef)}
SCALARS: dict[str, Callable[[], Any]] = {
    "None": lambda: None,
    "bool": lambda: True,
    "int": lambda: 3,
    "float": lambda: 0.5,
    "str": lambda: "1",
    "object": bw.Settings,  # any value; the one parameter of this type is __eq__'s
    **{name: getattr(bw, name) for name in CLASSES},  # a default instance
}
# Texts with a form of their own, picked by the parameter's name.
FORMED_TEXTS = {
    "watched": "1,7-9",
    "ignored": "3",
    "subnets": "1,7-9",
    "compare_to": "alerted",
    "quiet_hours": "22:00-07:00",
    "window": "22:00-07:00",
    "duration": "90s",
}
ANSWER = b'{"ok": true, "data": [{"netuid": 1, "incentive_burn": 0.5}]}'


def members(node: ast.expr) -> list[ast.expr]:
    """The members of a union (`A | B`, `Union[A, B]`, an alias of one)."""
    if isinstance(node, ast.BinOp) and isinstance(node.op, ast.BitOr):
        return members(node.left) + members(node.right)
    if isinstance(node, ast.Subscript) and ast.unparse(node.value) == "Union":
        return [m for e in elements(node.slice) for m in members(e)]
    if isinstance(node, ast.Constant) and isinstance(node.value, str):
        return members(ast.parse(node.value, mode="eval").body)
    if isinstance(node, ast.Name) and node.id in ALIASES:
        return members(ALIASES[node.id])
    return [node]


def elements(node: ast.expr) -> list[ast.expr]:
    return list(node.elts) if isinstance(node, ast.Tuple) else [node]


def samples(annotation: ast.expr) -> list[Any]:
    """A value of each member of the type."""
    return [sample(member) for member in members(annotation)]


def sample(member: ast.expr) -> Any:
    """A value of one type; a container holds one item, of its item type's
    first member."""
    if not isinstance(member, ast.Subscript):
        return SCALARS[ast.unparse(member)]()
    origin = ast.unparse(member.value)
    if origin.endswith("Callable"):
        return lambda *args: 0.0
    items = [sample(members(e)[0]) for e in elements(member.slice)]
    keyed = {items[0]: items[-1]} if len(items) == 2 else {}
    return {
        "list": items,
        "Sequence": items,
        "dict": {"1": items[-1]},
        "Mapping": keyed,
        "tuple": tuple(items),
    }[origin]


def conforms(value: Any, annotation: ast.expr) -> bool:
    for member in members(annotation):
        name = ast.unparse(member.value if isinstance(member, ast.Subscript) else member)
        if name == "None":
            if value is None:
                return True
            continue
        kind = getattr(bw if name in CLASSES else builtins, name)
        if not isinstance(value, kind):
            continue
        if not isinstance(member, ast.Subscript):
            return True
        args = elements(member.slice)
        if kind is list and all(conforms(item, args[0]) for item in value):
            return True
        if kind is dict and all(
            conforms(k, args[0]) and conforms(v, args[1]) for k, v in value.items()
        ):
            return True
        if kind is tuple and len(value) == len(args):
            return all(conforms(item, arg) for item, arg in zip(value, args, strict=True))
    return False


def operations() -> Iterator[Any]:
    """(declaration, where it is) for each function, and for each constructor,
    method and property of each class."""
    for node in STUB.body:
        if isinstance(node, ast.FunctionDef):
            yield pytest.param(node, None, id=node.name)
        elif isinstance(node, ast.ClassDef):
            for method in (m for m in node.body if isinstance(m, ast.FunctionDef)):
                yield pytest.param(method, node.name, id=f"{node.name}.{method.name}")


def instance(owner: str, paths: dict[str, str]) -> Any:
    """An object of a class: a default one, or one as the library makes it."""
    if owner == "StateLock":
        return bw.StateLock(paths["state_path"])
    if owner == "CycleReport":
        reports: list[bw.CycleReport] = []
        bw._set_cycle_observer(reports.append)
        try:
            bw.run_burn_watch_once(
                state_path=paths["state_path"], threshold=0.0, burn_token="t", burn_chat_id="c"
            )
        finally:
            bw._set_cycle_observer(None)
        return reports[0]
    return getattr(bw, owner)()


def resolve(declared: ast.FunctionDef, owner: str | None, paths: dict[str, str]) -> Any:
    if owner is None:
        return getattr(bw, declared.name)
    cls = getattr(bw, owner)
    decorators = {ast.unparse(d) for d in declared.decorator_list}
    if declared.name == "__init__":
        return cls
    if "property" in decorators:
        return lambda: getattr(instance(owner, paths), declared.name)
    if f"{declared.name}.setter" in decorators:
        return lambda value: setattr(instance(owner, paths), declared.name, value)
    if "staticmethod" in decorators:
        return getattr(cls, declared.name)
    return getattr(instance(owner, paths), declared.name)


@pytest.fixture
def paths(tmp_path, server, monkeypatch) -> dict[str, str]:
    """Values for the parameters that name files (or URL paths, which the
    loopback fake answers whatever they are)."""
    server.default = lambda request: Reply(200, ANSWER)
    monkeypatch.setenv("BURN_TELEGRAM_API_BASE", server.url)
    monkeypatch.delenv("ORBISCA_API_KEY", raising=False)  # the driver stops before any traffic
    (tmp_path / "pause").touch()  # the poll loop stops at once
    state = str(tmp_path / "state.json")
    return {"path": state, "state_path": state, "pause_path": str(tmp_path / "pause")}


@pytest.mark.parametrize(("declared", "owner"), list(operations()))
def test_operation_takes_and_gives_its_stub_types(declared, owner, paths, pauses):
    operation = resolve(declared, owner, paths)
    arguments = declared.args
    parameters = [(a, False) for a in arguments.posonlyargs + arguments.args if a.arg != "self"]
    parameters += [(a, True) for a in arguments.kwonlyargs]
    choices = [
        [paths[a.arg]]
        if a.arg in paths and ast.unparse(a.annotation) == "str"
        else [
            FORMED_TEXTS[a.arg] if isinstance(v, str) and a.arg in FORMED_TEXTS else v
            for v in samples(a.annotation)
        ]
        for a, _ in parameters
    ]
    first = [options[0] for options in choices]
    calls = [first] + [
        [*first[:index], option, *first[index + 1 :]]
        for index, options in enumerate(choices)
        for option in options[1:]
    ]
    for values in calls:
        bound = list(zip(parameters, values, strict=True))
        result = operation(
            *[v for (_, keyword), v in bound if not keyword],
            **{a.arg: v for (a, keyword), v in bound if keyword},
        )
        if declared.name != "__init__":
            assert conforms(result, declared.returns), (values, result)
    if declared.name.startswith("_set_"):
        operation(None)  # the real seam again


def test_every_public_name_is_in_the_stub():
    declared = {getattr(node, "name", None) for node in STUB.body} | set(ALIASES)
    assert {name for name in vars(bw) if not name.startswith("__")} <= declared

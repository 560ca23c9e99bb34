"""The installed type stubs: the reviewed copy in tests/stubs is what the build installs, and it
agrees with the running module on classes, methods, kinds, parameters, defaults and docstrings.
The Makefile's typecheck target adds mypy's stubtest and a strict check of the examples."""

from __future__ import annotations

import ast
import importlib.util
import inspect
from pathlib import Path
from typing import Any

import pytest

import vornalt_torso_kinematics as vtk

REVIEWED = Path(__file__).parent / "stubs" / "vornalt_torso_kinematics.pyi"


def _stub_classes() -> dict[str, ast.ClassDef]:
    tree = ast.parse(REVIEWED.read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}


def _stub_methods() -> list[Any]:
    return [
        pytest.param(class_name, method, id=f"{class_name}.{method.name}")
        for class_name, node in _stub_classes().items()
        for method in node.body
        if isinstance(method, ast.FunctionDef)
    ]


def test_installed_stub_is_the_reviewed_copy() -> None:
    spec = importlib.util.find_spec("vornalt_torso_kinematics")
    assert spec is not None and spec.origin is not None
    installed = Path(spec.origin).parent / "vornalt_torso_kinematics-stubs" / "__init__.pyi"
    assert installed.read_bytes() == REVIEWED.read_bytes()


def test_stub_has_exactly_the_module_classes() -> None:
    assert sorted(_stub_classes()) == sorted(vtk.__all__)
    tree = ast.parse(REVIEWED.read_text(encoding="utf-8"))
    exported = [
        ast.literal_eval(node.value)
        for node in tree.body
        if isinstance(node, ast.Assign) and ast.unparse(node.targets[0]) == "__all__"
    ]
    assert exported == [vtk.__all__]


@pytest.mark.parametrize(("class_name", "method"), _stub_methods())
def test_stub_method_matches_runtime(class_name: str, method: ast.FunctionDef) -> None:
    cls = getattr(vtk, class_name)
    assert hasattr(cls, method.name), f"{class_name}.{method.name} is in the stub only"
    decorators = [ast.unparse(d) for d in method.decorator_list]
    names = [a.arg for a in method.args.args]
    defaults = [ast.literal_eval(d) for d in method.args.defaults]

    if method.name == "__new__":
        # The constructor's signature is the class's text signature.
        assert decorators == [] and names[0] == "cls"
        runtime = inspect.signature(cls)
    else:
        runtime_attr = inspect.getattr_static(cls, method.name)
        is_static = isinstance(runtime_attr, staticmethod)
        assert decorators == (["staticmethod"] if is_static else [])
        if not is_static:
            assert names[0] == "self"
        runtime = inspect.signature(getattr(cls, method.name))
        assert ast.get_docstring(method, clean=False) == getattr(cls, method.name).__doc__

    parameters = [p for p in runtime.parameters.values() if p.name != "self"]
    receiver = 0 if decorators else 1
    assert names[receiver:] == [p.name for p in parameters]
    runtime_defaults = [p.default for p in parameters if p.default is not inspect.Parameter.empty]
    assert defaults == runtime_defaults
    assert [type(d) for d in defaults] == [type(d) for d in runtime_defaults]

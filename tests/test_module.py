"""Shape of the module and of its two classes: attributes, type flags, docstrings, signatures,
re-import, sub-interpreter refusal and the exported symbol table."""

from __future__ import annotations

import gc
import importlib
import inspect
import re
import shutil
import struct
import subprocess
import sys
import textwrap
import types
import weakref
from typing import Any

import pytest

import vornalt_torso_kinematics as vtk

Arm: Any = vtk.VornaltArmKinematics
Neck: Any = vtk.VornaltNeckKinematics

MODULE = "vornalt_torso_kinematics"

# CPython type flags (Include/object.h).
TPFLAGS_MANAGED_WEAKREF = 1 << 3
TPFLAGS_MANAGED_DICT = 1 << 4
TPFLAGS_DISALLOW_INSTANTIATION = 1 << 7
TPFLAGS_IMMUTABLETYPE = 1 << 8
TPFLAGS_HEAPTYPE = 1 << 9
TPFLAGS_BASETYPE = 1 << 10
TPFLAGS_HAVE_GC = 1 << 14

CLASSES = [
    pytest.param(Arm, "VornaltArmKinematics", "(arm_arc=0.7, coupler_arc=0.5, mirror=False)", id="arm"),
    pytest.param(Neck, "VornaltNeckKinematics", "()", id="neck"),
]


def _interpreter_message(action: Any, *args: Any) -> str:
    """The message the interpreter gives when `action(*args)` fails with TypeError or
    AttributeError; used to derive the wording for our own classes."""
    try:
        action(*args)
    except (TypeError, AttributeError) as exc:
        return str(exc)
    raise AssertionError("reference action did not fail")


def _subclass(base: Any) -> None:
    type("Derived", (base,), {})


def _instances(cls: Any) -> list[Any]:
    if cls is Arm:
        return [Arm(), Arm.default_left(), Arm.default_right()]
    return [Neck(), Neck()]


# --------------------------------------------------------------------------------------------
# Module


def test_module_all_and_doc() -> None:
    assert type(vtk.__all__) is list
    assert vtk.__all__ == ["VornaltArmKinematics", "VornaltNeckKinematics"]
    assert vtk.__doc__ == ""
    assert vtk.__name__ == MODULE


def test_module_has_no_other_public_attributes() -> None:
    public = [name for name in dir(vtk) if not (name.startswith("__") and name.endswith("__"))]
    assert public == sorted(vtk.__all__)
    for name in vtk.__all__:
        assert type(getattr(vtk, name)) is type


def test_reimport_returns_the_identical_module() -> None:
    original = sys.modules[MODULE]
    try:
        del sys.modules[MODULE]
        again = importlib.import_module(MODULE)
        assert again is original
        assert again.VornaltArmKinematics is Arm
        assert again.VornaltNeckKinematics is Neck
        assert again.__all__ == ["VornaltArmKinematics", "VornaltNeckKinematics"]
    finally:
        sys.modules[MODULE] = original


_SUBINTERPRETER_PROBE = textwrap.dedent(
    """
    import os, sys
    import vornalt_torso_kinematics
    try:
        import _testcapi
    except ImportError:
        print("NO_TESTCAPI")
        sys.exit(0)
    read_fd, write_fd = os.pipe()
    code = (
        "import os, sys\\n"
        f"sys.path[:] = {sys.path!r}\\n"
        "try:\\n"
        "    import vornalt_torso_kinematics\\n"
        "    outcome = 'IMPORTED'\\n"
        "except ImportError as exc:\\n"
        "    outcome = 'ImportError:' + str(exc)\\n"
        "except BaseException as exc:\\n"
        "    outcome = 'OTHER:' + type(exc).__name__ + ':' + str(exc)\\n"
        f"os.write({write_fd}, outcome.encode())\\n"
    )
    status = _testcapi.run_in_subinterp(code)
    os.close(write_fd)
    outcome = os.read(read_fd, 65536).decode()
    # The main interpreter keeps its module.
    assert vornalt_torso_kinematics.VornaltNeckKinematics().fk([0, 0, 0])[2][2] == 1.0
    print("STATUS", status)
    print("OUTCOME", outcome)
    """
)


def test_legacy_subinterpreter_import_is_refused() -> None:
    proc = subprocess.run(
        [sys.executable, "-c", _SUBINTERPRETER_PROBE],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert proc.returncode == 0, proc.stderr
    if "NO_TESTCAPI" in proc.stdout:
        pytest.skip("_testcapi is not available in this interpreter")
    lines = dict(line.split(" ", 1) for line in proc.stdout.splitlines() if " " in line)
    assert lines["STATUS"] == "0"
    outcome = lines["OUTCOME"]
    assert outcome.startswith("ImportError:"), outcome
    assert re.search(r"sub-?interpreters?", outcome, re.IGNORECASE), outcome


def test_only_the_init_function_is_exported() -> None:
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    path = vtk.__file__
    assert path is not None
    proc = subprocess.run([nm, "-D", "--defined-only", path], capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    # Text, data, read-only data, BSS, weak and unique symbols; absolute entries (version
    # nodes) are not code or data.
    symbols = [
        (fields[1], fields[2])
        for fields in (line.split() for line in proc.stdout.splitlines())
        if len(fields) == 3 and fields[1] in "TtDdBbRrWwVvGgSsiu"
    ]
    assert symbols == [("T", "PyInit_vornalt_torso_kinematics")]


# --------------------------------------------------------------------------------------------
# Class objects


@pytest.mark.parametrize(("cls", "name", "text_signature"), CLASSES)
def test_class_identity_and_docs(cls: Any, name: str, text_signature: str) -> None:
    assert type(cls) is type
    assert cls.__module__ == MODULE
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert cls.__doc__ == ""
    assert cls.__text_signature__ == text_signature
    assert str(inspect.signature(cls)) == text_signature
    assert cls.__bases__ == (object,)
    assert cls.__mro__ == (cls, object)


def test_arm_class_signature_parameters() -> None:
    params = list(inspect.signature(Arm).parameters.values())
    assert [p.name for p in params] == ["arm_arc", "coupler_arc", "mirror"]
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in params)
    defaults = [p.default for p in params]
    assert defaults == [0.7, 0.5, False]
    assert [type(d) for d in defaults] == [float, float, bool]


@pytest.mark.parametrize(("cls", "name", "text_signature"), CLASSES)
def test_class_defines_no_special_methods_of_its_own(cls: Any, name: str, text_signature: str) -> None:
    dunders = {key for key in vars(cls) if key.startswith("__") and key.endswith("__")}
    assert dunders == {"__new__", "__doc__", "__module__"}
    for special in ("__repr__", "__eq__", "__hash__", "__lt__", "__init__", "__getattribute__", "__setattr__"):
        assert getattr(cls, special) is getattr(object, special)


@pytest.mark.parametrize(("cls", "name", "text_signature"), CLASSES)
def test_class_flags(cls: Any, name: str, text_signature: str) -> None:
    flags = cls.__flags__
    assert flags & TPFLAGS_HEAPTYPE
    for forbidden in (
        TPFLAGS_BASETYPE,
        TPFLAGS_HAVE_GC,
        TPFLAGS_IMMUTABLETYPE,
        TPFLAGS_MANAGED_DICT,
        TPFLAGS_MANAGED_WEAKREF,
        TPFLAGS_DISALLOW_INSTANTIATION,
    ):
        assert not flags & forbidden, hex(forbidden)
    assert cls.__weakrefoffset__ == 0
    assert cls.__dictoffset__ == 0


def test_instance_layouts() -> None:
    # Arm: the object header, then arm_arc, coupler_arc (doubles), branch and mirror (bytes).
    assert Arm.__basicsize__ == object.__basicsize__ + struct.calcsize("ddBB0d")
    assert Arm.__itemsize__ == 0
    # Neck: a bare object header.
    assert Neck.__basicsize__ == object.__basicsize__
    assert Neck.__itemsize__ == 0


@pytest.mark.parametrize(("cls", "name", "text_signature"), CLASSES)
def test_class_cannot_be_subclassed(cls: Any, name: str, text_signature: str) -> None:
    expected = _interpreter_message(_subclass, bool).replace("'bool'", f"'{MODULE}.{name}'")
    with pytest.raises(TypeError, match=f"^{re.escape(expected)}$"):
        _subclass(cls)
    with pytest.raises(TypeError, match=f"^{re.escape(expected)}$"):

        class Derived(cls):  # type: ignore[misc]
            pass


@pytest.mark.parametrize(("cls", "name", "text_signature"), CLASSES)
def test_instances_have_no_weakref_dict_or_gc(cls: Any, name: str, text_signature: str) -> None:
    expected = _interpreter_message(weakref.ref, object()).replace("'object'", f"'{MODULE}.{name}'")
    for instance in _instances(cls):
        with pytest.raises(TypeError, match=f"^{re.escape(expected)}$"):
            weakref.ref(instance)
        assert not hasattr(instance, "__dict__")
        assert not hasattr(instance, "__weakref__")
        assert not gc.is_tracked(instance)


@pytest.mark.parametrize(("cls", "name", "text_signature"), CLASSES)
@pytest.mark.parametrize(
    ("attribute", "reference_attribute"),
    [
        pytest.param("x", "x", id="new-attribute"),
        pytest.param("fk", "__str__", id="method"),
        pytest.param("__doc__", "__doc__", id="class-data"),
    ],
)
def test_setting_an_instance_attribute_fails(
    cls: type, name: str, text_signature: str, attribute: str, reference_attribute: str
) -> None:
    # Same wording as for a plain object, with our type and attribute names.
    expected = _interpreter_message(setattr, object(), reference_attribute, 1)
    expected = expected.replace("'object'", f"'{MODULE}.{name}'").replace(
        f"'{reference_attribute}'", f"'{attribute}'"
    )
    for instance in _instances(cls):
        with pytest.raises(AttributeError, match=f"^{re.escape(expected)}$"):
            setattr(instance, attribute, 1)
        with pytest.raises(AttributeError):
            delattr(instance, attribute)


@pytest.mark.parametrize(("cls", "name", "text_signature"), CLASSES)
def test_class_attributes_can_be_set(cls: Any, name: str, text_signature: str) -> None:
    instance = cls()
    cls.tag_for_test = 42
    try:
        assert cls.tag_for_test == 42
        assert instance.tag_for_test == 42
    finally:
        del cls.tag_for_test
    assert not hasattr(cls, "tag_for_test")


@pytest.mark.parametrize(("cls", "name", "text_signature"), CLASSES)
def test_default_repr_equality_and_hash(cls: Any, name: str, text_signature: str) -> None:
    first, second = cls(), cls()
    assert re.fullmatch(rf"<{MODULE}\.{name} object at 0x[0-9a-f]+>", repr(first))
    assert repr(first) == object.__repr__(first)
    assert str(first) == repr(first)
    assert first == first
    assert first != second  # same contents, distinct objects
    assert hash(first) == object.__hash__(first)
    assert len({first, second}) == 2
    with pytest.raises(TypeError):
        _ = first < second


def test_explicit_new_builds_the_requested_type() -> None:
    with pytest.raises(TypeError):
        Arm.__new__(Neck)
    with pytest.raises(TypeError):
        Neck.__new__(Arm)
    built = Arm.__new__(Arm, 0.3, mirror=True)
    assert (built.arm_arc(), built.coupler_arc(), built.mirror()) == (0.3, 0.5, True)
    assert type(built) is Arm
    assert type(Neck.__new__(Neck)) is Neck


def test_arm_instances_with_equal_geometry_are_not_equal() -> None:
    assert Arm.default_left() != Arm.default_left()
    assert Arm(0.7, 0.5, False) != Arm.default_left()


# --------------------------------------------------------------------------------------------
# Methods

FK_DOC = (
    "Forward kinematics: `(θ_A, θ_B)` → 3×3 rotation of the end-effector.\n"
    "Raises `RuntimeError` when the loop fails to close (target joint\n"
    "pair is outside the workspace)."
)
DIRECTION_DOC = (
    "Forward kinematics that returns just the end-effector pointing\n"
    "direction (the third column of the FK rotation, equal to `v_3`)."
)
NECK_FK_DOC = (
    "Forward kinematics. `joints = [yaw, pitch, roll]` in radians.\n"
    "Returns the 3×3 rotation matrix of the head frame in the body frame."
)
NECK_IK_DOC = (
    "Inverse kinematics. `r` is a 3×3 rotation matrix (row-major).\n"
    "Returns `(yaw, pitch, roll)` in radians.\n\n"
    "Raises `ValueError` near gimbal lock (|pitch| ≈ π/2). The neck's\n"
    "pitch range is well under that limit in practice."
)

# (class, name, text signature, __doc__ as the interpreter derives it). An empty description
# after the signature block leaves the method without a docstring (None).
METHODS = [
    (Arm, "default_left", "()", "Build the default left-arm geometry."),
    (Arm, "default_right", "()", "Build the default right-arm geometry (mirror of left)."),
    (Arm, "fk", "($self, theta_a, theta_b)", FK_DOC),
    (Arm, "direction", "($self, theta_a, theta_b)", DIRECTION_DOC),
    (
        Arm,
        "is_reachable_joints",
        "($self, theta_a, theta_b)",
        "Whether `(θ_A, θ_B)` lands inside the workspace (loop closes).",
    ),
    (Arm, "arm_arc", "($self)", None),
    (Arm, "coupler_arc", "($self)", None),
    (Arm, "mirror", "($self)", None),
    (Neck, "fk", "($self, joints)", NECK_FK_DOC),
    (Neck, "ik", "($self, r)", NECK_IK_DOC),
]


@pytest.mark.parametrize(
    ("cls", "name", "text_signature", "doc"),
    [pytest.param(*m, id=f"{m[0].__name__}.{m[1]}") for m in METHODS],
)
def test_method_signature_and_doc(cls: Any, name: str, text_signature: str, doc: str | None) -> None:
    method = getattr(cls, name)
    assert method.__name__ == name
    assert method.__qualname__ == f"{cls.__name__}.{name}"
    assert method.__text_signature__ == text_signature
    assert method.__doc__ == doc
    bound = getattr(cls(), name)
    assert bound.__text_signature__ == text_signature
    assert bound.__doc__ == doc
    expected_bound = text_signature.replace("$self, ", "").replace("$self", "")
    assert str(inspect.signature(bound)) == expected_bound


@pytest.mark.parametrize("name", ["default_left", "default_right"])
def test_static_factories_on_class_and_instance(name: str) -> None:
    assert isinstance(vars(Arm)[name], staticmethod)
    instance = Arm(0.2, 0.3, True)
    from_class = getattr(Arm, name)()
    from_instance = getattr(instance, name)()
    for built in (from_class, from_instance):
        assert type(built) is Arm
        assert built is not instance
        assert (built.arm_arc(), built.coupler_arc()) == (0.7, 0.5)
        assert built.mirror() is (name == "default_right")
    assert from_class is not from_instance
    # The receiver is not passed on: an instance call does not copy the instance's geometry.
    assert from_instance.arm_arc() != instance.arm_arc()


@pytest.mark.parametrize(
    ("cls", "name"),
    [(Arm, "fk"), (Arm, "direction"), (Arm, "is_reachable_joints"), (Arm, "arm_arc"),
     (Arm, "coupler_arc"), (Arm, "mirror"), (Neck, "fk"), (Neck, "ik")],
)
def test_instance_methods_are_descriptors_that_bind(cls: Any, name: str) -> None:
    assert type(vars(cls)[name]).__name__ == "method_descriptor"
    instance = cls()
    bound = getattr(instance, name)
    assert isinstance(bound, types.BuiltinMethodType)
    assert bound.__self__ is instance


@pytest.mark.parametrize("name", ["arm_arc", "coupler_arc", "mirror"])
def test_accessors_are_methods_not_properties(name: str) -> None:
    arm = Arm(0.25, 0.75, True)
    accessor = getattr(arm, name)
    assert callable(accessor)
    assert not isinstance(accessor, (float, bool))
    assert accessor() == {"arm_arc": 0.25, "coupler_arc": 0.75, "mirror": True}[name]
    expected = _interpreter_message([].clear, 1).replace("list.clear()", f"VornaltArmKinematics.{name}()")
    with pytest.raises(TypeError, match=f"^{re.escape(expected)}$"):
        accessor(1)


def test_parameterless_static_methods_reject_arguments() -> None:
    for name in ("default_left", "default_right"):
        expected = _interpreter_message([].clear, 1).replace("list.clear()", f"VornaltArmKinematics.{name}()")
        with pytest.raises(TypeError, match=f"^{re.escape(expected)}$"):
            getattr(Arm, name)(1)
        with pytest.raises(TypeError, match=f"^{re.escape(expected)}$"):
            getattr(Arm(), name)(1)


@pytest.mark.parametrize(
    ("cls", "name", "args"),
    [(Arm, "fk", (0.0, 0.0)), (Arm, "arm_arc", ()), (Neck, "fk", ([0, 0, 0],))],
)
def test_unbound_method_checks_its_receiver(cls: Any, name: str, args: tuple[Any, ...]) -> None:
    other = Neck() if cls is Arm else Arm()
    with pytest.raises(TypeError):
        getattr(cls, name)(other, *args)
    with pytest.raises(TypeError):
        getattr(cls, name)(1, *args)
    # The correct receiver works through the same path.
    getattr(cls, name)(cls(), *args)

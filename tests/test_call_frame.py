"""The common call frame: argument binding messages, argument converters (float, boolean,
vector, matrix) and the result objects, exercised through every entry point that has
parameters."""

from __future__ import annotations

import fractions
import math
import re
from collections import OrderedDict
from collections.abc import Callable
from typing import Any, NoReturn

import numpy as np
import pytest

import vornalt_torso_kinematics as vtk

Arm = vtk.VornaltArmKinematics
Neck = vtk.VornaltNeckKinematics

IDENTITY = [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]]


def raises_exactly(exc_type: type[BaseException], message: str) -> Any:
    """pytest.raises for `exc_type` with the whole message equal to `message`."""
    return pytest.raises(exc_type, match=f"^{re.escape(message)}$")


def as_double(value: Any) -> float:
    """Reference for CPython's PyFloat_AsDouble: math.ldexp's first parameter goes through it
    unchanged, both for the value and for the error it raises. (struct.pack('d', ...) is no
    reference: it replaces the error with struct.error.)"""
    return math.ldexp(value, 0)


def as_double_error(value: Any) -> BaseException:
    try:
        as_double(value)
    except BaseException as exc:  # noqa: BLE001 - any error is the reference here
        return exc
    raise AssertionError(f"{value!r} converts to float")


def length_error(value: Any) -> BaseException:
    try:
        len(value)
    except BaseException as exc:  # noqa: BLE001
        return exc
    raise AssertionError(f"{value!r} has a length")


# --------------------------------------------------------------------------------------------
# Entry points


def arm_new(*args: Any, **kwargs: Any) -> Any:
    return Arm(*args, **kwargs)


def arm_method(name: str) -> Callable[..., Any]:
    def call(*args: Any, **kwargs: Any) -> Any:
        return getattr(Arm.default_left(), name)(*args, **kwargs)

    call.__name__ = f"arm_{name}"
    return call


def neck_new(*args: Any, **kwargs: Any) -> Any:
    return Neck(*args, **kwargs)


def neck_method(name: str) -> Callable[..., Any]:
    def call(*args: Any, **kwargs: Any) -> Any:
        return getattr(Neck(), name)(*args, **kwargs)

    call.__name__ = f"neck_{name}"
    return call


ARM_QUERIES = [("fk", arm_method("fk")), ("direction", arm_method("direction")),
               ("is_reachable_joints", arm_method("is_reachable_joints"))]

PARSER_CASES: list[Any] = []
for _name, _call in ARM_QUERIES:
    _q = f"VornaltArmKinematics.{_name}()"
    PARSER_CASES += [
        pytest.param(_call, (1, 2, 3), {}, f"{_q} takes 2 positional arguments but 3 were given",
                     id=f"{_name}-3-positional"),
        pytest.param(_call, (1, 2, 3, 4), {}, f"{_q} takes 2 positional arguments but 4 were given",
                     id=f"{_name}-4-positional"),
        pytest.param(_call, (1, 2, 3), {"theta_a": 1, "gamma": 2},
                     f"{_q} takes 2 positional arguments but 3 were given", id=f"{_name}-count-before-keywords"),
        pytest.param(_call, (0.0, 0.0), {"gamma": 1}, f"{_q} got an unexpected keyword argument 'gamma'",
                     id=f"{_name}-unexpected"),
        pytest.param(_call, (), {"theta_a": 0.0, "self": 1}, f"{_q} got an unexpected keyword argument 'self'",
                     id=f"{_name}-self-keyword"),
        pytest.param(_call, (0.0,), {"theta_a": 1.0}, f"{_q} got multiple values for argument 'theta_a'",
                     id=f"{_name}-multiple"),
        pytest.param(_call, (0.0,), {"theta_a": 1.0, "gamma": 1},
                     f"{_q} got multiple values for argument 'theta_a'", id=f"{_name}-keywords-in-order-1"),
        pytest.param(_call, (0.0,), {"gamma": 1, "theta_a": 1.0},
                     f"{_q} got an unexpected keyword argument 'gamma'", id=f"{_name}-keywords-in-order-2"),
        pytest.param(_call, (), {}, f"{_q} missing 2 required positional arguments: 'theta_a' and 'theta_b'",
                     id=f"{_name}-missing-2"),
        pytest.param(_call, (0.0,), {}, f"{_q} missing 1 required positional argument: 'theta_b'",
                     id=f"{_name}-missing-b"),
        pytest.param(_call, ("not a number",), {}, f"{_q} missing 1 required positional argument: 'theta_b'",
                     id=f"{_name}-binding-before-conversion"),
        pytest.param(_call, (), {"theta_b": 0.0}, f"{_q} missing 1 required positional argument: 'theta_a'",
                     id=f"{_name}-missing-a"),
        pytest.param(_call, (), {"gamma": 0.0}, f"{_q} got an unexpected keyword argument 'gamma'",
                     id=f"{_name}-unexpected-before-missing"),
    ]

_q = "VornaltArmKinematics.__new__()"
PARSER_CASES += [
    pytest.param(arm_new, (1, 2, 3, 4), {}, f"{_q} takes from 0 to 3 positional arguments but 4 were given",
                 id="arm-new-4-positional"),
    pytest.param(arm_new, (1, 2, 3, 4, 5), {}, f"{_q} takes from 0 to 3 positional arguments but 5 were given",
                 id="arm-new-5-positional"),
    pytest.param(arm_new, (), {"gamma": 1}, f"{_q} got an unexpected keyword argument 'gamma'",
                 id="arm-new-unexpected"),
    pytest.param(arm_new, (), {"arm_arc": 0.7, "branch": 1}, f"{_q} got an unexpected keyword argument 'branch'",
                 id="arm-new-no-branch-parameter"),
    pytest.param(arm_new, (0.7,), {"arm_arc": 0.7}, f"{_q} got multiple values for argument 'arm_arc'",
                 id="arm-new-multiple-first"),
    pytest.param(arm_new, (0.7, 0.5, True), {"mirror": False}, f"{_q} got multiple values for argument 'mirror'",
                 id="arm-new-multiple-last"),
    pytest.param(arm_new, ("x", "y"), {"coupler_arc": 0.5}, f"{_q} got multiple values for argument 'coupler_arc'",
                 id="arm-new-binding-before-conversion"),
]

_q = "VornaltNeckKinematics.__new__()"
PARSER_CASES += [
    pytest.param(neck_new, (1,), {}, f"{_q} takes 0 positional arguments but 1 was given", id="neck-new-1"),
    pytest.param(neck_new, (1, 2), {}, f"{_q} takes 0 positional arguments but 2 were given", id="neck-new-2"),
    pytest.param(neck_new, (), {"x": 1}, f"{_q} got an unexpected keyword argument 'x'", id="neck-new-keyword"),
]

for _name, _param in (("fk", "joints"), ("ik", "r")):
    _q = f"VornaltNeckKinematics.{_name}()"
    _call = neck_method(_name)
    _good: Any = [0, 0, 0] if _name == "fk" else IDENTITY
    PARSER_CASES += [
        pytest.param(_call, (_good, _good), {}, f"{_q} takes 1 positional arguments but 2 were given",
                     id=f"neck-{_name}-2-positional"),
        pytest.param(_call, (), {}, f"{_q} missing 1 required positional argument: '{_param}'",
                     id=f"neck-{_name}-missing"),
        pytest.param(_call, (_good,), {_param: _good}, f"{_q} got multiple values for argument '{_param}'",
                     id=f"neck-{_name}-multiple"),
        pytest.param(_call, (), {_param.upper(): _good}, f"{_q} got an unexpected keyword argument '{_param.upper()}'",
                     id=f"neck-{_name}-unexpected"),
    ]


@pytest.mark.parametrize(("call", "args", "kwargs", "message"), PARSER_CASES)
def test_argument_parser_messages(
    call: Callable[..., Any], args: tuple[Any, ...], kwargs: dict[str, Any], message: str
) -> None:
    with raises_exactly(TypeError, message) as info:
        call(*args, **kwargs)
    assert type(info.value) is TypeError
    assert info.value.args == (message,)


def test_keyword_binding_follows_parameter_names(arm: Any, neck: Any) -> None:
    a, b = 0.3, -0.2
    for name in ("fk", "direction", "is_reachable_joints"):
        method = getattr(arm, name)
        assert method(theta_b=b, theta_a=a) == method(a, b)
        assert method(a, theta_b=b) == method(a, b)
    # The pair is not symmetric, so swapped binding would show.
    assert arm.fk(a, b) != arm.fk(b, a)

    built = Arm(mirror=True, arm_arc=0.6)
    assert (built.arm_arc(), built.coupler_arc(), built.mirror()) == (0.6, 0.5, True)
    built = Arm(0.4, mirror=True, coupler_arc=0.3)
    assert (built.arm_arc(), built.coupler_arc(), built.mirror()) == (0.4, 0.3, True)
    assert type(Arm(**{})) is Arm
    assert type(Neck(**{})) is Neck

    joints = [0.1, 0.2, 0.3]
    assert neck.fk(joints=joints) == neck.fk(joints)
    r = neck.fk(joints)
    assert neck.ik(r=r) == neck.ik(r)


# --------------------------------------------------------------------------------------------
# Float converter


class HasFloat:
    def __init__(self, value: float) -> None:
        self.value = value

    def __float__(self) -> float:
        return self.value


class HasIndex:
    def __init__(self, value: int) -> None:
        self.value = value

    def __index__(self) -> int:
        return self.value


class FloatSubclass(float):
    def __float__(self) -> float:  # not consulted: a float subclass is read as a float
        return 99.0


ACCEPTED_FLOATS = [
    pytest.param(0.3, id="float"),
    pytest.param(-1.0, id="minus-one"),
    pytest.param(-0.0, id="negative-zero"),
    pytest.param(0, id="int-0"),
    pytest.param(-1, id="int-minus-1"),
    pytest.param(2**53 + 1, id="int-rounded"),
    pytest.param(True, id="bool"),
    pytest.param(HasFloat(0.3), id="__float__"),
    pytest.param(HasFloat(-1.0), id="__float__-minus-one"),
    pytest.param(HasIndex(-1), id="__index__-minus-one"),
    pytest.param(HasIndex(7), id="__index__"),
    pytest.param(FloatSubclass(0.3), id="float-subclass"),
    pytest.param(fractions.Fraction(1, 3), id="fraction"),
    pytest.param(np.float64(0.3), id="np.float64"),
    pytest.param(np.float32(0.3), id="np.float32"),
    pytest.param(np.int64(-1), id="np.int64"),
    pytest.param(np.float64(-1.0), id="np.float64-minus-one"),
    pytest.param(float("inf"), id="inf"),
]


def same_float(x: float, y: float) -> bool:
    return (math.isnan(x) and math.isnan(y)) or (x == y and math.copysign(1, x) == math.copysign(1, y))


@pytest.mark.parametrize("value", ACCEPTED_FLOATS)
def test_float_converter_accepts(value: Any) -> None:
    expected = as_double(value)
    if not isinstance(value, FloatSubclass):
        assert expected == float(value) or math.isnan(expected)
    else:
        assert expected == 0.3

    # The stored arcs show the converted value bit for bit.
    built = Arm(arm_arc=value, coupler_arc=value)
    assert type(built.arm_arc()) is float
    assert same_float(built.arm_arc(), expected)
    assert same_float(built.coupler_arc(), expected)
    assert same_float(Arm(value).arm_arc(), expected)

    # Angles and vector items convert the same way.
    arm = Arm(0.7, 1.2)
    for name in ("fk", "direction", "is_reachable_joints"):
        method = getattr(arm, name)
        try:
            reference = method(expected, 0.25)
        except RuntimeError:
            with pytest.raises(RuntimeError):
                method(value, 0.25)
        else:
            assert repr(method(value, 0.25)) == repr(reference)
            assert repr(method(0.25, value)) == repr(method(0.25, expected))
    neck = Neck()
    assert repr(neck.fk([value, value, value])) == repr(neck.fk([expected] * 3))


class FloatRaisesTypeErrorWithCause:
    cause = KeyError("inner")

    def __float__(self) -> NoReturn:
        raise TypeError("no float here") from self.cause


class FloatRaisesTypeError:
    def __float__(self) -> NoReturn:
        raise TypeError("plain failure")


class TypeErrorSubclass(TypeError):
    pass


class FloatRaisesTypeErrorSubclass:
    error = TypeErrorSubclass("subclass failure")

    def __float__(self) -> NoReturn:
        raise self.error


class FloatRaisesValueError:
    error = ValueError("value failure")

    def __float__(self) -> NoReturn:
        raise self.error


class FloatReturnsStr:
    def __float__(self) -> Any:
        return "0.5"


REJECTED_FLOATS = [
    pytest.param("x", id="str"),
    pytest.param("0.5", id="numeric-str"),
    pytest.param(None, id="None"),
    pytest.param(b"1", id="bytes"),
    pytest.param([0.5], id="list"),
    pytest.param(1 + 2j, id="complex"),
    pytest.param(FloatRaisesTypeError(), id="__float__-TypeError"),
    pytest.param(FloatReturnsStr(), id="__float__-returns-str"),
    pytest.param(np.array([0.5, 0.25]), id="ndarray"),
]


def float_sites() -> list[Any]:
    """(parameter name, call) pairs that run one value through the float converter."""
    arm = Arm.default_left()
    neck = Neck()
    return [
        ("arm_arc", lambda v: Arm(v)),
        ("coupler_arc", lambda v: Arm(coupler_arc=v)),
        ("theta_a", lambda v: arm.fk(v, 0.0)),
        ("theta_b", lambda v: arm.fk(0.0, v)),
        ("theta_a", lambda v: arm.direction(theta_a=v, theta_b=0.0)),
        ("theta_b", lambda v: arm.is_reachable_joints(0.0, v)),
        ("joints", lambda v: neck.fk([0.0, v, 0.0])),
        ("r", lambda v: neck.ik([[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, v]])),
    ]


@pytest.mark.parametrize("value", REJECTED_FLOATS)
def test_float_converter_type_errors_are_prefixed(value: Any) -> None:
    reference = as_double_error(value)
    assert type(reference) is TypeError
    for parameter, call in float_sites():
        message = f"argument '{parameter}': {reference}"
        with raises_exactly(TypeError, message) as info:
            call(value)
        assert type(info.value) is TypeError
        assert info.value.args == (message,)
        assert info.value.__cause__ is None


def test_float_converter_keeps_the_cause() -> None:
    value = FloatRaisesTypeErrorWithCause()
    for parameter, call in float_sites():
        with raises_exactly(TypeError, f"argument '{parameter}': no float here") as info:
            call(value)
        assert type(info.value) is TypeError
        assert info.value.__cause__ is FloatRaisesTypeErrorWithCause.cause


@pytest.mark.parametrize(
    "value",
    [
        pytest.param(FloatRaisesValueError(), id="ValueError"),
        pytest.param(FloatRaisesTypeErrorSubclass(), id="TypeError-subclass"),
    ],
)
def test_float_converter_other_errors_pass_unchanged(value: Any) -> None:
    for _parameter, call in float_sites():
        with pytest.raises(Exception) as info:
            call(value)
        assert info.value is value.error
        assert str(info.value) == str(value.error)


@pytest.mark.parametrize("value", [10**400, -(10**400), HasIndex(10**400)])
def test_float_converter_overflow_passes_unprefixed(value: Any) -> None:
    reference = as_double_error(value)
    assert type(reference) is OverflowError
    for _parameter, call in float_sites():
        with raises_exactly(OverflowError, str(reference)) as info:
            call(value)
        assert type(info.value) is OverflowError


def test_float_errors_name_the_first_failing_parameter_in_parameter_order(arm: Any) -> None:
    with raises_exactly(TypeError, "argument 'theta_a': must be real number, not str"):
        arm.fk("x", None)
    with raises_exactly(TypeError, "argument 'theta_a': must be real number, not str"):
        arm.fk(theta_b=None, theta_a="x")
    with raises_exactly(TypeError, "argument 'theta_b': must be real number, not NoneType"):
        arm.direction(theta_b=None, theta_a=0.0)
    with raises_exactly(TypeError, "argument 'arm_arc': must be real number, not str"):
        Arm(coupler_arc=None, mirror=1, arm_arc="x")
    with raises_exactly(TypeError, "argument 'coupler_arc': must be real number, not NoneType"):
        Arm(mirror=1, coupler_arc=None)
    with raises_exactly(TypeError, "argument 'mirror': 'int' object cannot be converted to 'PyBool'"):
        Arm(0.1, 0.2, 1)


# --------------------------------------------------------------------------------------------
# Boolean converter


def fake_numpy_type(name: str, module: str = "numpy", **members: Any) -> type:
    namespace: dict[str, Any] = {"__module__": module, "__qualname__": name, **members}
    return type(name, (), namespace)


class Holder:
    class Flag:
        pass


def bool_raises(error: BaseException) -> Callable[[Any], bool]:
    def __bool__(self: Any) -> bool:
        raise error

    return __bool__


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        pytest.param(True, True, id="True"),
        pytest.param(False, False, id="False"),
        pytest.param(np.True_, True, id="np.True_"),
        pytest.param(np.False_, False, id="np.False_"),
        pytest.param(np.bool_(1), True, id="np.bool_(1)"),
        pytest.param(fake_numpy_type("bool_", __bool__=lambda self: True)(), True, id="fake-bool_-true"),
        pytest.param(fake_numpy_type("bool", __bool__=lambda self: False)(), False, id="fake-bool-false"),
    ],
)
def test_boolean_converter_accepts(value: Any, expected: bool) -> None:
    built = Arm(mirror=value)
    assert built.mirror() is expected
    assert Arm(0.7, 0.5, value).mirror() is expected


@pytest.mark.parametrize(
    "value",
    [
        pytest.param(1, id="int-1"),
        pytest.param(0, id="int-0"),
        pytest.param(None, id="None"),
        pytest.param("yes", id="str"),
        pytest.param(1.0, id="float"),
        pytest.param([], id="list"),
        pytest.param(np.int64(1), id="np.int64"),
        pytest.param(np.array(True), id="0-d-bool-array"),
        pytest.param(Holder.Flag(), id="nested-class"),
        pytest.param(fake_numpy_type("int_", __bool__=lambda self: True)(), id="numpy-int_"),
        pytest.param(fake_numpy_type("bool_", module="numpyx", __bool__=lambda self: True)(), id="numpyx-bool_"),
        pytest.param(fake_numpy_type("bool_", module="numpy.core", __bool__=lambda self: True)(), id="numpy.core-bool_"),
    ],
)
def test_boolean_converter_rejects(value: Any) -> None:
    message = f"argument 'mirror': '{type(value).__qualname__}' object cannot be converted to 'PyBool'"
    with raises_exactly(TypeError, message) as info:
        Arm(mirror=value)
    assert type(info.value) is TypeError


@pytest.mark.parametrize("name", ["bool_", "bool"])
@pytest.mark.parametrize(
    "members",
    [pytest.param({}, id="nothing"), pytest.param({"__len__": lambda self: 1}, id="only-__len__")],
)
def test_boolean_converter_numpy_type_without_bool_slot(name: str, members: dict[str, Any]) -> None:
    fake = fake_numpy_type(name, **members)
    assert str(fake) == f"<class 'numpy.{name}'>"
    message = f"argument 'mirror': object of type '{fake}' does not define a '__bool__' conversion"
    with raises_exactly(TypeError, message) as info:
        Arm(mirror=fake())
    assert type(info.value) is TypeError


def test_boolean_converter_slot_errors() -> None:
    value_error = ValueError("cannot decide")
    fake = fake_numpy_type("bool_", __bool__=bool_raises(value_error))
    with pytest.raises(ValueError) as info:
        Arm(mirror=fake())
    assert info.value is value_error

    fake = fake_numpy_type("bool_", __bool__=bool_raises(TypeError("undecidable")))
    with raises_exactly(TypeError, "argument 'mirror': undecidable"):
        Arm(mirror=fake())

    returns_int = fake_numpy_type("bool", __bool__=lambda self: 1)()
    try:
        bool(returns_int)
    except TypeError as exc:
        reference = str(exc)
    with raises_exactly(TypeError, f"argument 'mirror': {reference}"):
        Arm(mirror=returns_int)


@pytest.mark.parametrize("error", [KeyboardInterrupt, MemoryError, AttributeError])
def test_boolean_converter_lets_errors_reading_the_module_pass(error: type[BaseException]) -> None:
    class Meta(type):
        def __getattribute__(cls, name: str) -> Any:
            if name == "__module__":
                raise error("module")
            return super().__getattribute__(name)

    value = Meta("bool_", (), {})()
    if error is AttributeError:  # no module: not numpy's
        with raises_exactly(TypeError, "argument 'mirror': 'bool_' object cannot be converted to 'PyBool'"):
            Arm(mirror=value)
    else:
        with pytest.raises(error, match="^module$"):
            Arm(mirror=value)


# --------------------------------------------------------------------------------------------
# Vector converter (neck fk `joints`)


class Recorder:
    """A sequence that logs its length queries and item fetches into a shared journal."""

    def __init__(self, items: list[Any], journal: list[Any], label: str = "") -> None:
        self.items = items
        self.journal = journal
        self.label = label

    def __len__(self) -> int:
        self.journal.append((self.label, "len"))
        return len(self.items)

    def __getitem__(self, index: Any) -> Any:
        self.journal.append((self.label, index, type(index)))
        return self.items[index]


class LenRaises:
    def __init__(self, error: BaseException) -> None:
        self.error = error

    def __len__(self) -> int:
        raise self.error

    def __getitem__(self, index: int) -> float:
        return 0.0


class NoLen:
    def __getitem__(self, index: int) -> float:
        return 0.0


class GetItemRaisesAt1:
    def __init__(self, error: BaseException, item: Any = 0.0) -> None:
        self.error = error
        self.item = item

    def __len__(self) -> int:
        return 3

    def __getitem__(self, index: int) -> Any:
        if index == 1:
            raise self.error
        return self.item


@pytest.mark.parametrize(
    "joints",
    [
        pytest.param([0.1, 0.2, 0.3], id="list"),
        pytest.param((0.1, 0.2, 0.3), id="tuple"),
        pytest.param(np.array([0.1, 0.2, 0.3]), id="ndarray"),
        pytest.param(np.array([0.1, 0.2, 0.3], dtype=np.float32), id="ndarray-float32"),
        pytest.param(Recorder([0.1, 0.2, 0.3], []), id="custom-sequence"),
    ],
)
def test_vector_converter_accepts(neck: Any, joints: Any) -> None:
    expected = neck.fk([as_double(x) for x in [joints[0], joints[1], joints[2]]])
    assert neck.fk(joints) == expected
    assert neck.fk(joints=joints) == expected


def test_vector_converter_accepts_range(neck: Any) -> None:
    assert neck.fk(range(3)) == neck.fk([0.0, 1.0, 2.0])
    assert neck.fk(range(-1, 2)) == neck.fk([-1.0, 0.0, 1.0])


def test_vector_converter_fetches_items_in_order(neck: Any) -> None:
    journal: list[Any] = []
    neck.fk(Recorder([0.1, 0.2, 0.3], journal))
    assert journal == [("", "len"), ("", 0, int), ("", 1, int), ("", 2, int)]


def test_vector_converter_string_fails_on_first_item(neck: Any) -> None:
    message = f"argument 'joints': {as_double_error('a')}"
    with raises_exactly(TypeError, message):
        neck.fk("abc")


@pytest.mark.parametrize(
    "value",
    [
        pytest.param({}, id="dict"),
        pytest.param({0: 0.0, 1: 0.0, 2: 0.0}, id="dict-with-int-keys"),
        pytest.param(OrderedDict(), id="OrderedDict"),
        pytest.param(0.5, id="float"),
        pytest.param(3, id="int"),
        pytest.param(None, id="None"),
        pytest.param({0.0, 1.0, 2.0}, id="set"),
        pytest.param(iter([0.0, 0.0, 0.0]), id="iterator"),
        pytest.param(x for x in (0.0, 0.0, 0.0)),
        pytest.param(np.float64(0.5), id="np.float64"),
        pytest.param(Holder.Flag(), id="nested-class"),
    ],
)
def test_vector_converter_rejects_non_sequences(neck: Any, value: Any) -> None:
    message = f"argument 'joints': '{type(value).__qualname__}' object cannot be converted to 'Sequence'"
    with raises_exactly(TypeError, message) as info:
        neck.fk(value)
    assert type(info.value) is TypeError


@pytest.mark.parametrize(
    ("value", "length"),
    [
        pytest.param([], 0, id="empty"),
        pytest.param([0.1], 1, id="1"),
        pytest.param([0.1, 0.2], 2, id="2"),
        pytest.param([0.1, 0.2, 0.3, 0.4], 4, id="4"),
        pytest.param(("x", 0.0, 0.0, 0.0), 4, id="length-checked-before-items"),
        pytest.param("ab", 2, id="str-2"),
        pytest.param(np.zeros(4), 4, id="ndarray-4"),
        pytest.param(np.zeros((2, 3)), 2, id="ndarray-2x3"),
        pytest.param(range(5), 5, id="range-5"),
    ],
)
def test_vector_converter_length_errors_are_unprefixed(neck: Any, value: Any, length: int) -> None:
    message = f"expected a sequence of length 3 (got {length})"
    with raises_exactly(ValueError, message) as info:
        neck.fk(value)
    assert type(info.value) is ValueError
    assert info.value.args == (message,)


@pytest.mark.parametrize(
    "value",
    [
        pytest.param(LenRaises(ValueError("length unknown")), id="__len__-ValueError"),
        pytest.param(LenRaises(RuntimeError("length broken")), id="__len__-RuntimeError"),
        pytest.param(LenRaises(TypeError("length refused")), id="__len__-TypeError"),
        pytest.param(NoLen(), id="no-__len__"),
    ],
)
def test_vector_converter_length_query_errors_pass_through(neck: Any, value: Any) -> None:
    reference = length_error(value)
    if type(reference) is TypeError:
        with raises_exactly(TypeError, f"argument 'joints': {reference}"):
            neck.fk(value)
    else:
        with pytest.raises(type(reference)) as info:
            neck.fk(value)
        assert info.value is value.error


def test_vector_converter_item_errors_pass_through(neck: Any) -> None:
    index_error = IndexError("gone")
    with pytest.raises(IndexError) as info:
        neck.fk(GetItemRaisesAt1(index_error))
    assert info.value is index_error

    with raises_exactly(TypeError, "argument 'joints': item refused"):
        neck.fk(GetItemRaisesAt1(TypeError("item refused")))

    with raises_exactly(TypeError, "argument 'joints': must be real number, not NoneType"):
        neck.fk([0.0, None, "x"])
    with raises_exactly(TypeError, "argument 'joints': must be real number, not str"):
        neck.fk([0.0, 0.0, "x"])
    with raises_exactly(TypeError, f"argument 'joints': {as_double_error(np.zeros(3))}"):
        neck.fk(np.zeros((3, 3)))


# --------------------------------------------------------------------------------------------
# Matrix converter (neck ik `r`)

ROTATION = Neck().fk([0.3, -0.2, 0.1])


@pytest.mark.parametrize(
    "make",
    [
        pytest.param(lambda r: r, id="list-of-lists"),
        pytest.param(lambda r: tuple(tuple(row) for row in r), id="tuple-of-tuples"),
        pytest.param(lambda r: np.array(r), id="ndarray"),
        pytest.param(lambda r: np.array(r).T.copy().T, id="ndarray-fortran-order"),
        pytest.param(lambda r: [np.array(row) for row in r], id="list-of-ndarrays"),
        pytest.param(lambda r: (r[0], tuple(r[1]), np.array(r[2])), id="mixed-rows"),
    ],
)
def test_matrix_converter_accepts(neck: Any, make: Callable[[Any], Any]) -> None:
    expected = neck.ik(ROTATION)
    assert neck.ik(make(ROTATION)) == expected
    assert neck.ik(r=make(ROTATION)) == expected


def test_matrix_converter_fetch_order(neck: Any) -> None:
    journal: list[Any] = []
    rows = [Recorder(list(row), journal, f"row{i}") for i, row in enumerate(ROTATION)]
    neck.ik(Recorder(rows, journal, "outer"))
    expected: list[Any] = [("outer", "len")]
    for i in range(3):
        expected += [("outer", i, int), (f"row{i}", "len")]
        expected += [(f"row{i}", j, int) for j in range(3)]
    assert journal == expected


@pytest.mark.parametrize(
    ("r", "exc_type", "message"),
    [
        pytest.param([[1, 0, 0], [0, 1], [0, 0, 1]], ValueError, "expected a sequence of length 3 (got 2)",
                     id="short-row"),
        pytest.param([[1, 0], [0, 1], [0, 0]], ValueError, "expected a sequence of length 3 (got 2)", id="3x2"),
        pytest.param([[1, 0, 0, 0], [0, 1, 0], [0, 0, 1]], ValueError, "expected a sequence of length 3 (got 4)",
                     id="long-row"),
        pytest.param([[1, 0, 0], [0, 1, 0]], ValueError, "expected a sequence of length 3 (got 2)", id="2-rows"),
        pytest.param([[1, 0, 0]] * 4, ValueError, "expected a sequence of length 3 (got 4)", id="4-rows"),
        pytest.param([[1, 0, 0], [0, 1], 5, "x"], ValueError, "expected a sequence of length 3 (got 4)",
                     id="outer-length-first"),
        pytest.param("abc", ValueError, "expected a sequence of length 3 (got 1)", id="str"),
        pytest.param(np.eye(2), ValueError, "expected a sequence of length 3 (got 2)", id="ndarray-2x2"),
        pytest.param(np.zeros(3), TypeError, "argument 'r': 'float64' object cannot be converted to 'Sequence'",
                     id="ndarray-1d"),
        pytest.param([[1, 0, 0], 5, [0, 0, 1]], TypeError,
                     "argument 'r': 'int' object cannot be converted to 'Sequence'", id="row-not-sequence"),
        pytest.param([[1, 0, 0], [0, 1, 0], {}], TypeError,
                     "argument 'r': 'dict' object cannot be converted to 'Sequence'", id="row-dict"),
        pytest.param({}, TypeError, "argument 'r': 'dict' object cannot be converted to 'Sequence'", id="dict"),
        pytest.param(None, TypeError, "argument 'r': 'NoneType' object cannot be converted to 'Sequence'",
                     id="None"),
        pytest.param([[1, 0, "x"], [0, 1], [0, 0, 1]], TypeError, "argument 'r': must be real number, not str",
                     id="row-major-item-before-later-row-length"),
        pytest.param([[1, 0, 0], [0, 1], ["x", 0, 0]], ValueError, "expected a sequence of length 3 (got 2)",
                     id="row-major-length-before-later-item"),
        pytest.param([[1, 0, 0], [0, 1, None], 5], TypeError, "argument 'r': must be real number, not NoneType",
                     id="row-major-item-before-later-row-type"),
        pytest.param([[1, 0, 0], 5, [0, None, 0]], TypeError,
                     "argument 'r': 'int' object cannot be converted to 'Sequence'",
                     id="row-major-row-type-before-later-item"),
        pytest.param([[1, 0, 0], [0, 1, 0], [0, 0, "x"]], TypeError, "argument 'r': must be real number, not str",
                     id="last-item"),
        pytest.param([[1, 0, 0], [0, 1, 0], "ab"], ValueError, "expected a sequence of length 3 (got 2)",
                     id="row-str-2"),
        pytest.param([[1, 0, 0], [0, 1, 0], "abc"], TypeError, "argument 'r': must be real number, not str",
                     id="row-str-3"),
    ],
)
def test_matrix_converter_errors(neck: Any, r: Any, exc_type: type[Exception], message: str) -> None:
    with raises_exactly(exc_type, message) as info:
        neck.ik(r)
    assert type(info.value) is exc_type
    assert info.value.args == (message,)


def test_matrix_converter_row_errors_pass_through(neck: Any) -> None:
    index_error = IndexError("row gone")
    with pytest.raises(IndexError) as info:
        neck.ik([[1, 0, 0], GetItemRaisesAt1(index_error), [0, 0, 1]])
    assert info.value is index_error
    with pytest.raises(IndexError) as info:
        neck.ik(GetItemRaisesAt1(index_error, [1.0, 0.0, 0.0]))
    assert info.value is index_error
    length_failure = ValueError("row length unknown")
    with pytest.raises(ValueError) as length_info:
        neck.ik([[1, 0, 0], LenRaises(length_failure), [0, 0, 1]])
    assert length_info.value is length_failure


# --------------------------------------------------------------------------------------------
# Results


def assert_matrix_of_floats(m: Any) -> None:
    assert type(m) is list and len(m) == 3
    for row in m:
        assert type(row) is list and len(row) == 3
        assert all(type(x) is float for x in row)


def test_results_are_new_objects_of_exact_types(arm: Any, neck: Any) -> None:
    first, second = arm.fk(0.3, -0.2), arm.fk(0.3, -0.2)
    assert_matrix_of_floats(first)
    assert first == second
    assert first is not second
    assert all(a is not b for a, b in zip(first, second, strict=True))
    assert len({id(row) for row in first}) == 3

    d1, d2 = arm.direction(0.3, -0.2), arm.direction(0.3, -0.2)
    assert type(d1) is list and len(d1) == 3 and all(type(x) is float for x in d1)
    assert d1 == d2 and d1 is not d2

    assert arm.is_reachable_joints(0.3, -0.2) is True
    assert arm.is_reachable_joints(1.0, 1.0) is False

    assert type(arm.arm_arc()) is float
    assert type(arm.coupler_arc()) is float
    assert arm.mirror() is False

    n1, n2 = neck.fk([0.1, 0.2, 0.3]), neck.fk([0.1, 0.2, 0.3])
    assert_matrix_of_floats(n1)
    assert n1 == n2 and n1 is not n2
    assert all(a is not b for a, b in zip(n1, n2, strict=True))

    angles1, angles2 = neck.ik(n1), neck.ik(n1)
    assert type(angles1) is tuple and len(angles1) == 3
    assert all(type(x) is float for x in angles1)
    assert angles1 == angles2 and angles1 is not angles2


def test_results_do_not_alias_arguments(neck: Any) -> None:
    joints = [0.0, 0.0, 0.0]
    r = neck.fk(joints)
    assert r is not joints and all(row is not joints for row in r)
    r[0][0] = 5.0  # mutating a result leaves later results untouched
    assert neck.fk(joints)[0][0] == 1.0

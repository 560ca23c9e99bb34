"""Hostile arguments: every constructor and method called with arbitrary objects in every
parameter. Each call must return the answer that the same call with plain floats, lists and
tuples gives, or raise exactly the error that the call frame's converters raise for that
argument (type, message and cause), and never a SystemError.

Arguments are drawn as recipes (plain, printable descriptions) and built twice, once for a
reference model of the converters and once for the call, because many of them have side
effects (a list that empties itself while its items are read, a length that changes)."""

from __future__ import annotations

import ctypes
import math
import operator
import struct
import warnings
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import vornalt_torso_kinematics as vtk

Arm = vtk.VornaltArmKinematics
Neck = vtk.VornaltNeckKinematics

_sequence_check = ctypes.pythonapi.PySequence_Check
_sequence_check.argtypes = [ctypes.py_object]
_sequence_check.restype = ctypes.c_int


# --------------------------------------------------------------------------------------------
# Hostile objects


class Boom(Exception):
    """An exception of the caller's own."""


class FloatSub(float):
    """A float subclass: its value is read directly, its __float__ is never asked."""

    def __float__(self) -> float:
        return 99.0


class IntSub(int):
    pass


class StrSub(str):
    def __str__(self) -> str:
        return "not the text"


class ListSub(list):  # type: ignore[type-arg]
    pass


class TupleSub(tuple):  # type: ignore[type-arg]
    """A tuple whose __len__ and __getitem__ lie; the pair converter reads the tuple itself."""

    def __len__(self) -> int:
        return 2

    def __getitem__(self, index: Any) -> Any:
        raise Boom("tuple item")


def _raiser(error: str) -> BaseException:
    if error == "type":
        return TypeError("no conversion")
    if error == "value":
        return ValueError("bad value")
    if error == "boom":
        return Boom("caller's own")
    if error == "caused":
        exc = TypeError("with a cause")
        exc.__cause__ = KeyError("the cause")
        return exc
    if error == "bad_str":
        # str() of this TypeError runs the caller's code, which fails too.
        return TypeError(BadStr())
    raise AssertionError(error)


class BadStr:
    def __str__(self) -> str:
        raise Boom("str of the message")


def make_dunder(kind: str, payload: Any) -> Any:
    """An object with __float__ or __index__ that returns `payload` or raises."""
    namespace: dict[str, Any] = {}
    if kind in ("float", "index"):
        result = payload

        def method(self: Any) -> Any:
            if isinstance(result, tuple) and result and result[0] == "raise":
                raise _raiser(result[1])
            return build(result) if isinstance(result, tuple) else result

        namespace[f"__{kind}__"] = method
    return type(f"Has_{kind}", (), namespace)()


class Sequence3:
    """A sequence whose length and item access follow a script."""

    def __init__(self, length: Any, access: str, items: list[Any]) -> None:
        self.length = length
        self.access = access
        self.items = items

    def __len__(self) -> Any:
        if self.length == "raise":
            raise Boom("len")
        if self.length == "type":
            raise TypeError("no length today")
        if self.length == "str":
            return "3"
        if self.length == "items":
            return len(self.items)
        return self.length

    def __getitem__(self, index: Any) -> Any:
        if self.access == "raise":
            raise Boom(f"item {index!r}")
        if self.access == "key":
            raise KeyError(index)
        if self.access == "odd":
            return object()
        if self.access == "self":
            return self
        if self.access == "shrink":
            # Each access drops the last item: the length no longer holds.
            item = self.items[index]
            self.items.pop()
            return item
        return self.items[index]


def fake_numpy_bool(truth: str) -> Any:
    """An object whose type passes for numpy's boolean scalar type by its module and name."""
    namespace: dict[str, Any] = {"__module__": "numpy"}
    if truth == "raise":

        def raising(self: Any) -> bool:
            raise Boom("truth")

        namespace["__bool__"] = raising
    elif truth == "int":
        namespace["__bool__"] = lambda self: 1
    elif truth in ("true", "false"):
        value = truth == "true"
        namespace["__bool__"] = lambda self: value
    return type("bool_", (), namespace)()


def build(recipe: tuple[Any, ...]) -> Any:
    """A fresh object from its recipe."""
    kind, *rest = recipe
    if kind == "float":
        return rest[0]
    if kind == "int":
        return rest[0]
    if kind == "bool":
        return rest[0]
    if kind == "none":
        return None
    if kind == "float_sub":
        return FloatSub(rest[0])
    if kind == "int_sub":
        return IntSub(rest[0])
    if kind == "dunder":
        return make_dunder(rest[0], rest[1])
    if kind == "str":
        return rest[0]
    if kind == "str_sub":
        return StrSub(rest[0])
    if kind == "bytes":
        return rest[0]
    if kind == "bytearray":
        return bytearray(rest[0])
    if kind == "complex":
        return complex(rest[0], 1.0)
    if kind == "object":
        return object()
    if kind == "dict":
        return {0: 0.0, 1: 0.0, 2: 0.0}
    if kind == "set":
        return {0.0, 1.0, 2.0}
    if kind == "range":
        return range(rest[0])
    if kind == "np_scalar":
        dtype, value = rest
        if dtype == "complex128":
            return np.complex128(value)
        return np.dtype(dtype).type(abs(value) if dtype == "uint8" else value)
    if kind == "ndarray":
        shape, dtype = rest
        size = math.prod(shape)
        values = np.arange(size, dtype=np.float64).reshape(shape) * 0.25 - 0.5
        if dtype == "object":
            array = np.empty(shape, dtype=object)
            array.flat[:] = [float(v) for v in values.flat]
            return array
        return values.astype(dtype)
    if kind == "fake_bool":
        return fake_numpy_bool(rest[0])
    if kind == "list":
        return [build(item) for item in rest[0]]
    if kind == "tuple":
        return tuple(build(item) for item in rest[0])
    if kind == "list_sub":
        return ListSub(build(item) for item in rest[0])
    if kind == "tuple_sub":
        return TupleSub(build(item) for item in rest[0])
    if kind == "seq":
        length, access, items = rest
        return Sequence3(length, access, [build(item) for item in items])
    if kind == "emptying_list":
        # An exact list whose item at `at` empties the list when it is converted.
        items, at = rest
        target = [build(item) for item in items]

        class Emptier:
            def __float__(self) -> float:
                target.clear()
                return 0.5

        target[at] = Emptier()
        return target
    raise AssertionError(recipe)


# --------------------------------------------------------------------------------------------
# Recipes

finite = st.floats(allow_nan=False, allow_infinity=False, width=64)

plain_floats = st.one_of(
    st.floats(width=64).map(lambda x: ("float", x)),
    st.sampled_from([("float", 0.3), ("float", -0.2), ("float", 0.0), ("float", -0.0)]),
)
integers = st.one_of(
    st.integers(-(2**64), 2**64),
    st.sampled_from([10**400, -(10**400), 2**1023, 2**1024]),
).map(lambda n: ("int", n))
dunder_payloads = st.one_of(
    finite,
    st.integers(-5, 5),
    st.sampled_from([10**400, "3", None, ("float_sub", 0.25), ("int_sub", 2)]),
    st.sampled_from(["type", "value", "boom", "caused", "bad_str"]).map(lambda e: ("raise", e)),
)
scalars = st.one_of(
    plain_floats,
    integers,
    st.booleans().map(lambda b: ("bool", b)),
    st.just(("none",)),
    finite.map(lambda x: ("float_sub", x)),
    st.integers(-3, 3).map(lambda n: ("int_sub", n)),
    st.tuples(st.just("dunder"), st.sampled_from(["float", "index"]), dunder_payloads),
    st.just(("dunder", "none", None)),
    st.sampled_from(["", "x", "abc", "1.5", "\ud800"]).map(lambda s: ("str", s)),
    st.sampled_from([b"", b"abc"]).map(lambda b: ("bytes", b)),
    finite.map(lambda x: ("complex", x)),
    st.just(("object",)),
    st.tuples(
        st.just("np_scalar"),
        st.sampled_from(["float64", "float32", "int64", "uint8", "bool", "complex128"]),
        st.integers(-3, 3),
    ),
    st.sampled_from(["true", "false", "none", "raise", "int"]).map(lambda t: ("fake_bool", t)),
)


def sequences_of(items: st.SearchStrategy[Any]) -> st.SearchStrategy[Any]:
    lists = st.lists(items, min_size=0, max_size=4).map(tuple)
    return st.one_of(
        lists.map(lambda xs: ("list", xs)),
        lists.map(lambda xs: ("tuple", xs)),
        lists.map(lambda xs: ("list_sub", xs)),
        st.tuples(
            st.just("seq"),
            st.sampled_from(["items", 3, 2, -1, 2**70, "raise", "type", "str"]),
            st.sampled_from(["items", "items", "raise", "key", "odd", "self", "shrink"]),
            lists,
        ),
        st.tuples(st.just("emptying_list"), st.lists(items, min_size=3, max_size=3).map(tuple),
                  st.integers(0, 2)),
        st.sampled_from(["abc", "ab", "1.5"]).map(lambda s: ("str", s)),
        st.sampled_from(["abc", "xyz"]).map(lambda s: ("str_sub", s)),
        st.sampled_from([b"abc", b"ab"]).map(lambda b: ("bytes", b)),
        st.just(("bytearray", b"\x01\x02\x03")),
        st.integers(0, 4).map(lambda n: ("range", n)),
        st.just(("dict",)),
        st.just(("set",)),
    )


shapes = st.sampled_from([(), (3,), (2,), (4,), (3, 3), (3, 2), (2, 3), (3, 3, 1), (3, 1), (1, 3)])
dtypes = st.sampled_from(["float64", "float32", "int32", "bool", "complex128", "object", "U3"])
arrays = st.tuples(st.just("ndarray"), shapes, dtypes)

vectors = st.one_of(sequences_of(scalars), arrays, scalars)
matrices = st.one_of(sequences_of(st.one_of(sequences_of(scalars), arrays)), arrays, scalars)
anything = st.one_of(scalars, sequences_of(scalars), arrays, matrices)
pairs = st.one_of(
    st.just(("none",)),
    st.lists(scalars, min_size=0, max_size=3).map(lambda xs: ("tuple", tuple(xs))),
    st.lists(scalars, min_size=2, max_size=2).map(lambda xs: ("tuple_sub", tuple(xs))),
    anything,
)
json_texts = st.one_of(
    st.sampled_from([
        '{"arm_arc": 0.6, "coupler_arc": 0.4, "branch": "negative", "mirror": true}',
        '[0.7, 0.5, "positive", false]',
        '{"arm_arc": 0.6}',
        "not json",
        "",
        '"\ud800"',
    ]).map(lambda s: ("str", s)),
    st.just(("str_sub", '[0.7, 0.5, "negative", true]')),
    st.just(("bytes", b'[0.7, 0.5, "positive", false]')),
    anything,
)


# --------------------------------------------------------------------------------------------
# Reference model of the converters


def ref_float(obj: Any) -> float:
    if type(obj) is float:
        return obj
    # math.ldexp's first parameter goes through PyFloat_AsDouble, value and error alike.
    return math.ldexp(obj, 0)


def _type_name(obj: Any) -> str:
    return type(obj).__qualname__


def _three(obj: Any, item: Callable[[Any], Any]) -> list[Any]:
    if not _sequence_check(obj):
        raise TypeError(f"'{_type_name(obj)}' object cannot be converted to 'Sequence'")
    length = len(obj)
    if length != 3:
        raise ValueError(f"expected a sequence of length 3 (got {length})")
    return [item(operator.getitem(obj, i)) for i in range(3)]


def ref_vector(obj: Any) -> list[float]:
    return _three(obj, ref_float)


def ref_matrix(obj: Any) -> list[list[float]]:
    return _three(obj, ref_vector)


def ref_pair(obj: Any) -> tuple[float, float] | None:
    if obj is None:
        return None
    if not isinstance(obj, tuple):
        raise TypeError(f"'{_type_name(obj)}' object cannot be converted to 'PyTuple'")
    length = tuple.__len__(obj)
    if length != 2:
        raise ValueError(f"expected tuple of length 2, but got tuple of length {length}")
    return (ref_float(tuple.__getitem__(obj, 0)), ref_float(tuple.__getitem__(obj, 1)))


def ref_bool(obj: Any) -> bool:
    if obj is True or obj is False:
        return obj
    kind = type(obj)
    if getattr(kind, "__module__", None) == "numpy" and kind.__name__ in ("bool_", "bool"):
        if getattr(kind, "__bool__", None) is None:
            raise TypeError(f"object of type '{kind}' does not define a '__bool__' conversion")
        return bool(obj)
    raise TypeError(f"'{_type_name(obj)}' object cannot be converted to 'PyBool'")


def ref_string(obj: Any) -> str:
    if not isinstance(obj, str):
        raise TypeError(f"'{_type_name(obj)}' object cannot be converted to 'PyString'")
    text = str.__getitem__(obj, slice(None))
    text.encode("utf-8")  # a lone surrogate has no UTF-8 form
    return text


@dataclass(frozen=True)
class Entry:
    label: str
    call: Callable[..., Any]  # takes the receiver first, then the arguments
    params: tuple[tuple[str, Callable[[Any], Any], st.SearchStrategy[Any]], ...]
    required: int


def _method(name: str) -> Callable[..., Any]:
    return lambda receiver, /, *args, **kwargs: getattr(receiver, name)(*args, **kwargs)


THETA = (("theta_a", ref_float, anything), ("theta_b", ref_float, anything))
ENTRIES = [
    Entry("Arm", lambda _, /, *a, **k: Arm(*a, **k),
          (("arm_arc", ref_float, anything), ("coupler_arc", ref_float, anything),
           ("mirror", ref_bool, anything)), 0),
    Entry("from_json", lambda _, /, *a, **k: Arm.from_json(*a, **k),
          (("json", ref_string, json_texts),), 1),
    Entry("fk", _method("fk"), THETA, 2),
    Entry("direction", _method("direction"), THETA, 2),
    Entry("is_reachable_joints", _method("is_reachable_joints"), THETA, 2),
    Entry("ik", _method("ik"), (("r_target", ref_matrix, matrices),), 1),
    Entry("is_reachable_orientation", _method("is_reachable_orientation"),
          (("r_target", ref_matrix, matrices),), 1),
    Entry("ik_from_direction", _method("ik_from_direction"),
          (("v3", ref_vector, vectors), ("near", ref_pair, pairs)), 1),
    Entry("is_reachable_direction", _method("is_reachable_direction"),
          (("v3", ref_vector, vectors),), 1),
    Entry("neck.fk", _method("fk"), (("joints", ref_vector, vectors),), 1),
    Entry("neck.ik", _method("ik"), (("r", ref_matrix, matrices),), 1),
]


def _outcome(thunk: Callable[[], Any]) -> tuple[str, Any]:
    with warnings.catch_warnings():
        # A warning (a __float__ returning a float subclass, a complex number made real) is
        # an error, which then passes through the converters like any other.
        warnings.simplefilter("error")
        try:
            return ("value", thunk())
        except Exception as exc:  # noqa: BLE001 - every error is compared
            return ("error", exc)


def expected_outcome(entry: Entry, receiver: Any, supplied: list[tuple[int, Any]]) -> tuple[str, Any]:
    """What the call frame makes of the arguments: the first converter error, renamed after
    its parameter when it is a TypeError, else the answer of a call with plain values."""
    plain: dict[str, Any] = {}
    for index, obj in supplied:
        name, convert, _ = entry.params[index]
        kind, converted = _outcome(lambda: convert(obj))
        if kind == "error":
            if type(converted) is TypeError:
                try:
                    text = str(converted)
                except Exception as exc:  # noqa: BLE001 - the caller's __str__ failed
                    return ("error", exc)
                renamed = TypeError(f"argument '{name}': {text}")
                renamed.__cause__ = converted.__cause__
                return ("error", renamed)
            return ("error", converted)
        plain[name] = converted
    if entry.label == "ik_from_direction" and "near" in plain and plain["near"] is None:
        del plain["near"]
    return _outcome(lambda: entry.call(receiver, **plain))


def _same_float(a: float, b: float) -> bool:
    if math.isnan(a) and math.isnan(b):
        return True
    return struct.pack("<d", a) == struct.pack("<d", b)


def assert_same_value(got: Any, want: Any) -> None:
    assert type(got) is type(want), (got, want)
    if isinstance(want, float):
        assert _same_float(got, want), (got, want)
    elif isinstance(want, (list, tuple)):
        assert len(got) == len(want)
        for g, w in zip(got, want):
            assert_same_value(g, w)
    elif isinstance(want, Arm):
        assert got is not want
        assert _same_float(got.arm_arc(), want.arm_arc())
        assert _same_float(got.coupler_arc(), want.coupler_arc())
        assert got.mirror() is want.mirror()
        # The branch shows only in the kinematics.
        for joints in ((0.0, 0.0), (0.3, -0.2)):
            got_fk = _outcome(lambda: got.fk(*joints))
            want_fk = _outcome(lambda: want.fk(*joints))
            assert got_fk[0] == want_fk[0]
            if want_fk[0] == "value":
                assert_same_value(got_fk[1], want_fk[1])
            else:
                assert_same_error(got_fk[1], want_fk[1])
    elif isinstance(want, Neck):
        assert got is not want
    else:
        assert got is want or got == want, (got, want)


def assert_same_error(got: BaseException, want: BaseException) -> None:
    assert type(got) is type(want), (got, want)
    assert str(got) == str(want)
    assert type(got.__cause__) is type(want.__cause__)
    if want.__cause__ is not None:
        assert str(got.__cause__) == str(want.__cause__)


@st.composite
def calls(draw: st.DrawFn, entry: Entry) -> tuple[list[tuple[int, Any]], list[str]]:
    """Which parameters get an argument (a recipe each), and which of them by keyword."""
    supplied = []
    for index, (_, _, recipes) in enumerate(entry.params):
        if index < entry.required or draw(st.booleans()):
            supplied.append((index, draw(recipes)))
    keywords = [entry.params[i][0] for i, _ in supplied if draw(st.booleans())]
    return supplied, keywords


ENTRY_BY_LABEL = {entry.label: entry for entry in ENTRIES}


def check_call(entry: Entry, supplied: list[tuple[int, Any]], keywords: list[str]) -> None:
    """Calls the entry with fresh objects built from the recipes and compares the outcome with
    the reference model's."""
    receiver = Neck() if entry.label.startswith("neck") else Arm.default_left()
    want = expected_outcome(entry, receiver, [(i, build(recipe)) for i, recipe in supplied])

    args: list[Any] = []
    kwargs: dict[str, Any] = {}
    for index, recipe in supplied:
        name = entry.params[index][0]
        # Positional arguments fill the leading parameters without a gap.
        if name in keywords or kwargs or index != len(args):
            kwargs[name] = build(recipe)
        else:
            args.append(build(recipe))
    got = _outcome(lambda: entry.call(receiver, *args, **kwargs))

    assert got[0] == want[0], (got, want)
    if want[0] == "value":
        assert_same_value(got[1], want[1])
    else:
        assert_same_error(got[1], want[1])


@pytest.mark.parametrize("label", ENTRY_BY_LABEL)
@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(data=st.data())
def test_hostile_arguments(label: str, data: st.DataObject) -> None:
    entry = ENTRY_BY_LABEL[label]
    supplied, keywords = data.draw(calls(entry))
    check_call(entry, supplied, keywords)


def _dunder(kind: str, payload: Any) -> tuple[Any, ...]:
    return ("dunder", kind, payload)


F = ("float", 0.25)
ROW = ("list", (F, F, F))

# Cases that random drawing reaches rarely, each in the parameter where it matters most.
NOTABLE = [
    ("fk", [(0, _dunder("float", ("raise", "bad_str"))), (1, F)]),
    ("Arm", [(2, ("fake_bool", "raise"))]),
    ("Arm", [(2, ("fake_bool", "none"))]),
    ("Arm", [(2, ("fake_bool", "int"))]),
    ("Arm", [(2, ("np_scalar", "bool", 1))]),
    ("Arm", [(0, _dunder("index", 10**400))]),
    ("direction", [(0, ("int", 10**400)), (1, F)]),
    ("direction", [(0, _dunder("float", ("float_sub", 0.25))), (1, F)]),
    ("is_reachable_joints", [(0, _dunder("float", ("raise", "caused"))), (1, F)]),
    ("is_reachable_joints", [(0, ("np_scalar", "complex128", 1)), (1, F)]),
    ("neck.fk", [(0, ("emptying_list", (F, F, F), 0))]),
    ("neck.fk", [(0, ("seq", "items", "shrink", (F, F, F)))]),
    ("neck.fk", [(0, ("seq", 3, "items", (F, F)))]),
    ("neck.fk", [(0, ("seq", "str", "items", (F, F, F)))]),
    ("neck.fk", [(0, ("seq", 2**70, "items", (F, F, F)))]),
    ("neck.fk", [(0, ("seq", -1, "items", (F, F, F)))]),
    ("neck.fk", [(0, ("seq", "type", "items", (F, F, F)))]),
    ("neck.fk", [(0, ("list_sub", (F, F, F)))]),
    ("neck.fk", [(0, ("range", 3))]),
    ("neck.fk", [(0, ("bytearray", b"\x01\x02\x03"))]),
    ("neck.ik", [(0, ("str", "abc"))]),
    ("neck.ik", [(0, ("ndarray", (3, 3, 1), "float64"))]),
    ("neck.ik", [(0, ("ndarray", (3, 3), "object"))]),
    ("ik", [(0, ("list", (ROW, ("seq", "items", "self", (F, F, F)), ROW)))]),
    ("ik", [(0, ("emptying_list", (ROW, ROW, ROW), 1))]),
    ("ik_from_direction", [(0, ("tuple", (F, F, F))), (1, ("tuple_sub", (F, F)))]),
    ("ik_from_direction", [(0, ("tuple", (F, F, F))), (1, ("list", (F, F)))]),
    ("ik_from_direction", [(0, ("str", "ab")), (1, ("list", (F, F)))]),
    ("from_json", [(0, ("str", "\ud800"))]),
    ("from_json", [(0, ("str_sub", '[0.7, 0.5, "negative", true]'))]),
]


@pytest.mark.parametrize(("label", "supplied"), NOTABLE, ids=[f"{n}-{s[0][1][0]}" for n, s in NOTABLE])
@pytest.mark.parametrize("by_keyword", [False, True])
def test_notable_hostile_arguments(label: str, supplied: list[tuple[int, Any]], by_keyword: bool) -> None:
    entry = ENTRY_BY_LABEL[label]
    keywords = [entry.params[i][0] for i, _ in supplied] if by_keyword else []
    check_call(entry, supplied, keywords)


def test_a_failing_message_passes_through_with_the_converter_error_as_context(arm: Any) -> None:
    with pytest.raises(Boom, match="^str of the message$") as info:
        arm.fk(build(_dunder("float", ("raise", "bad_str"))), 0.0)
    context = info.value.__context__
    assert type(context) is TypeError and isinstance(context.args[0], BadStr)


# --------------------------------------------------------------------------------------------
# Keyword names that are not strings

_vectorcall = ctypes.pythonapi.PyObject_Vectorcall
_vectorcall.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_size_t,
                        ctypes.py_object]
_vectorcall.restype = ctypes.py_object
_call = ctypes.pythonapi.PyObject_Call
_call.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]
_call.restype = ctypes.py_object


def vectorcall(callable_: Any, args: list[Any], kwnames: tuple[Any, ...]) -> Any:
    """Calls with the vector convention, as C code can: the last len(kwnames) arguments are
    the values of those keywords, whatever the names are."""
    vector = (ctypes.py_object * len(args))(*args)
    return _vectorcall(callable_, vector, len(args) - len(kwnames), kwnames)


class Name(str):
    pass


@pytest.mark.parametrize(
    ("kwnames", "message"),
    [
        ((1,), "VornaltArmKinematics.fk() got an unexpected keyword argument '1'"),
        ((b"theta_b",), "VornaltArmKinematics.fk() got an unexpected keyword argument 'b'theta_b''"),
        ((None,), "VornaltArmKinematics.fk() got an unexpected keyword argument 'None'"),
        (("theta_b",), None),
        ((Name("theta_b"),), None),
    ],
)
def test_method_keyword_names_from_c(arm: Any, kwnames: tuple[Any, ...], message: str | None) -> None:
    # Python code cannot pass them: the interpreter refuses before any entry point runs.
    with pytest.raises(TypeError, match="keywords must be strings"):
        arm.fk(0.3, **{1: -0.2})
    if message is None:
        assert vectorcall(arm.fk, [0.3, -0.2], kwnames) == arm.fk(0.3, -0.2)
    else:
        with pytest.raises(TypeError) as info:
            vectorcall(arm.fk, [0.3, -0.2], kwnames)
        assert type(info.value) is TypeError and str(info.value) == message


@pytest.mark.parametrize(
    ("kwargs", "message"),
    [
        ({1: 0.5}, "VornaltArmKinematics.__new__() got an unexpected keyword argument '1'"),
        ({(1, 2): 0.5}, "VornaltArmKinematics.__new__() got an unexpected keyword argument '(1, 2)'"),
        ({"arm_arc": 0.5, 2.5: 1}, "VornaltArmKinematics.__new__() got an unexpected keyword argument '2.5'"),
    ],
)
def test_constructor_keyword_names_from_c(kwargs: dict[Any, Any], message: str) -> None:
    with pytest.raises(TypeError) as info:
        _call(Arm, (), kwargs)
    assert type(info.value) is TypeError and str(info.value) == message
    # A str subclass names the parameter like the str it holds.
    built = _call(Arm, (), {Name("coupler_arc"): 0.25})
    assert (built.arm_arc(), built.coupler_arc()) == (0.7, 0.25)


# --------------------------------------------------------------------------------------------
# Argument binding with arbitrary counts and keyword names

_R = Arm.default_left().fk(0.3, -0.2)
PLAIN = {
    "arm_arc": 0.6, "coupler_arc": 0.4, "mirror": True, "json": '[0.6, 0.4, "negative", true]',
    "theta_a": 0.3, "theta_b": -0.2, "r_target": _R, "v3": [0.6, 0.5, 0.6], "near": (0.3, -1.2),
    "joints": [0.1, 0.2, 0.3], "r": _R,
}
QUALIFIED = {
    "Arm": "VornaltArmKinematics.__new__()", "from_json": "VornaltArmKinematics.from_json()",
    "neck.fk": "VornaltNeckKinematics.fk()", "neck.ik": "VornaltNeckKinematics.ik()",
}
BINDING_ENTRIES = [*ENTRIES, Entry("Neck", lambda _, /, *a, **k: Neck(*a, **k), (), 0)]
QUALIFIED["Neck"] = "VornaltNeckKinematics.__new__()"


def expected_binding_error(entry: Entry, qualified: str, positional: int, keywords: list[str]) -> str | None:
    """The argument parser's message for these arguments, or None when they bind."""
    names = [p[0] for p in entry.params]
    if positional > len(names):
        verb = "was" if positional == 1 else "were"
        if entry.required == len(names):
            return f"{qualified} takes {len(names)} positional arguments but {positional} {verb} given"
        return (f"{qualified} takes from {entry.required} to {len(names)} positional arguments "
                f"but {positional} {verb} given")
    filled = set(names[:positional])
    for keyword in keywords:
        if keyword not in names:
            return f"{qualified} got an unexpected keyword argument '{keyword}'"
        if keyword in filled:
            return f"{qualified} got multiple values for argument '{keyword}'"
        filled.add(keyword)
    missing = [f"'{n}'" for n in names[:entry.required] if n not in filled]
    if not missing:
        return None
    listed = missing[0] if len(missing) == 1 else (
        " and ".join(missing) if len(missing) == 2 else ", ".join(missing[:-1]) + ", and " + missing[-1])
    noun = "argument" if len(missing) == 1 else "arguments"
    return f"{qualified} missing {len(missing)} required positional {noun}: {listed}"


@settings(max_examples=300, deadline=None)
@given(
    index=st.integers(0, len(BINDING_ENTRIES) - 1),
    positional=st.integers(0, 5),
    keywords=st.lists(
        st.one_of(st.sampled_from(sorted(PLAIN)), st.text(max_size=8), st.just("\ud800")),
        max_size=4, unique=True),
)
def test_binding_of_any_count_and_keyword_names(index: int, positional: int, keywords: list[str]) -> None:
    entry = BINDING_ENTRIES[index]
    qualified = QUALIFIED.get(entry.label, f"VornaltArmKinematics.{entry.label}()")
    names = [p[0] for p in entry.params]
    args = [PLAIN[names[i]] if i < len(names) else 0.0 for i in range(positional)]
    kwargs = {k: PLAIN.get(k, 0.0) for k in keywords}
    receiver = Neck() if entry.label.startswith("neck") else Arm.default_left()

    message = expected_binding_error(entry, qualified, positional, keywords)
    got = _outcome(lambda: entry.call(receiver, *args, **kwargs))
    if message is None:
        bound = dict(zip(names, args)) | kwargs
        want = _outcome(lambda: entry.call(receiver, **bound))
        assert got[0] == want[0] == "value", (got, want)
        assert_same_value(got[1], want[1])
    else:
        assert got[0] == "error" and type(got[1]) is TypeError, got
        assert str(got[1]) == message


def test_a_message_that_raises_its_own_error_passes_through(arm: Any) -> None:
    class Reraise:
        error: TypeError | None = None

        def __str__(self) -> str:
            assert Reraise.error is not None
            raise Reraise.error

    class Value:
        def __float__(self) -> float:
            Reraise.error = TypeError(Reraise())
            raise Reraise.error

    with pytest.raises(TypeError) as info:
        arm.direction(0.0, Value())
    assert info.value is Reraise.error
    assert info.value.__context__ is not info.value

"""Nothing leaks: every constructor and method, called thousands of times on success and on
every failure path, leaves the interpreter's count of allocated blocks, the reference counts
of its arguments, of its receiver and of both classes where they were."""

from __future__ import annotations

import gc
import sys
from collections.abc import Callable
from typing import Any

import numpy as np
import pytest

import vornalt_torso_kinematics as vtk

Arm = vtk.VornaltArmKinematics
Neck = vtk.VornaltNeckKinematics

CALLS = 3000
WARM_UP = 300
# Blocks the interpreter may take for itself over a measurement (caches, specialisation); a
# leak of one object per call shows as thousands.
BLOCK_SLACK = 30

ARM = Arm.default_left()
NECK = Neck()
R = ARM.fk(0.3, -0.2)
D = ARM.direction(0.3, -0.4)
GOOD_JSON = '{"arm_arc": 0.6, "coupler_arc": 0.4, "branch": "negative", "mirror": true}'


class CausedTypeError:
    """A float whose conversion raises a TypeError with a cause (renamed, cause kept)."""

    def __float__(self) -> float:
        raise TypeError("no float") from KeyError("cause")


class FailingMessage:
    def __str__(self) -> str:
        raise ValueError("no text")


class TypeErrorWithFailingMessage:
    def __float__(self) -> float:
        raise TypeError(FailingMessage())


class Unsized:
    """Passes the sequence check, fails the length query."""

    def __getitem__(self, index: int) -> float:
        return 0.0


class Emptying(list):  # type: ignore[type-arg]
    """A list subclass that loses its items while they are read."""

    def __getitem__(self, index: Any) -> Any:
        item = list.__getitem__(self, index)
        self.clear()
        return item


def emptying() -> Any:
    return Emptying([0.1, 0.2, 0.3])


# (label, receiver, method name or None for the receiver itself, arguments, keywords)
Case = tuple[str, Any, "str | None", tuple[Any, ...], dict[str, Any]]
CASES: list[Case] = [
    ("arm-new", Arm, None, (0.6, 0.4, True), {}),
    ("arm-new-keywords", Arm, None, (), {"coupler_arc": 0.4, "mirror": np.bool_(True)}),
    ("arm-new-bad-mirror", Arm, None, (0.6, 0.4, 1), {}),
    ("arm-new-bad-arc", Arm, None, ("x",), {}),
    ("arm-new-caused", Arm, None, (CausedTypeError(),), {}),
    ("arm-new-surplus", Arm, None, (1, 2, 3, 4), {}),
    ("arm-new-unexpected", Arm, None, (), {"gamma": 1}),
    ("arm-new-multiple", Arm, None, (0.6,), {"arm_arc": 0.6}),
    ("default-left", ARM, "default_left", (), {}),
    ("default-right", Arm, "default_right", (), {}),
    ("from-json", Arm, "from_json", (GOOD_JSON,), {}),
    ("from-json-invalid", Arm, "from_json", ('{"arm_arc": "x"}',), {}),
    ("from-json-not-str", Arm, "from_json", (b"[]",), {}),
    ("from-json-surrogate", Arm, "from_json", ("\ud800",), {}),
    ("from-json-missing", Arm, "from_json", (), {}),
    ("arm-arc", ARM, "arm_arc", (), {}),
    ("coupler-arc", ARM, "coupler_arc", (), {}),
    ("mirror", ARM, "mirror", (), {}),
    ("fk", ARM, "fk", (0.3, -0.2), {}),
    ("fk-keywords", ARM, "fk", (), {"theta_b": -0.2, "theta_a": 0.3}),
    ("fk-numpy", ARM, "fk", (np.float64(0.3), np.int64(0)), {}),
    ("fk-loop-open", ARM, "fk", (1.0, 1.0), {}),
    ("fk-bad-angle", ARM, "fk", ("x", 0.0), {}),
    ("fk-caused", ARM, "fk", (0.0, CausedTypeError()), {}),
    ("fk-failing-message", ARM, "fk", (TypeErrorWithFailingMessage(), 0.0), {}),
    ("fk-huge", ARM, "fk", (10**400, 0.0), {}),
    ("fk-missing", ARM, "fk", (0.0,), {}),
    ("fk-surplus", ARM, "fk", (0.0, 0.0, 0.0), {}),
    ("fk-wrong-receiver", Arm.fk, None, (NECK, 0.0, 0.0), {}),
    ("direction", ARM, "direction", (0.3, -0.2), {}),
    ("direction-loop-open", ARM, "direction", (1.0, 1.0), {}),
    ("is-reachable-joints", ARM, "is_reachable_joints", (0.3, -0.2), {}),
    ("is-reachable-joints-false", ARM, "is_reachable_joints", (1.0, 1.0), {}),
    ("is-reachable-joints-bad", ARM, "is_reachable_joints", (None, 1.0), {}),
    ("ik", ARM, "ik", (R,), {}),
    ("ik-tuples", ARM, "ik", (tuple(tuple(row) for row in R),), {}),
    ("ik-array", ARM, "ik", (np.array(R),), {}),
    ("ik-unreachable", ARM, "ik", ([[1, 0, 0], [0, 1, 0], [0, 0, 1]],), {}),
    ("ik-short-row", ARM, "ik", ([[1, 0, 0], [0, 1], [0, 0, 1]],), {}),
    ("ik-bad-item", ARM, "ik", ([[1, 0, 0], [0, "y", 0], [0, 0, 1]],), {}),
    ("ik-string", ARM, "ik", ("abc",), {}),
    ("ik-unsized", ARM, "ik", (Unsized(),), {}),
    ("ik-emptying", ARM, "ik", ([[0.1, 0.2, 0.3], emptying(), [0.1, 0.2, 0.3]],), {}),
    ("is-reachable-orientation", ARM, "is_reachable_orientation", (R,), {}),
    ("is-reachable-orientation-false", ARM, "is_reachable_orientation", (np.eye(3),), {}),
    ("ik-from-direction", ARM, "ik_from_direction", (D,), {}),
    ("ik-from-direction-near", ARM, "ik_from_direction", (D,), {"near": (0.3, -1.2)}),
    ("ik-from-direction-near-none", ARM, "ik_from_direction", (D, None), {}),
    ("ik-from-direction-near-list", ARM, "ik_from_direction", (D,), {"near": [0.3, -1.2]}),
    ("ik-from-direction-near-long", ARM, "ik_from_direction", (D, (0.1, 0.2, 0.3)), {}),
    ("ik-from-direction-near-bad", ARM, "ik_from_direction", (D, (0.1, "z")), {}),
    ("ik-from-direction-zero", ARM, "ik_from_direction", ([0, 0, 0],), {}),
    ("ik-from-direction-dict", ARM, "ik_from_direction", ({},), {}),
    ("is-reachable-direction", ARM, "is_reachable_direction", (D,), {}),
    ("is-reachable-direction-false", ARM, "is_reachable_direction", ([1, 0, 0],), {}),
    ("is-reachable-direction-short", ARM, "is_reachable_direction", ([1, 0],), {}),
    ("neck-new", Neck, None, (), {}),
    ("neck-new-surplus", Neck, None, (1,), {}),
    ("neck-new-keyword", Neck, None, (), {"x": 1}),
    ("neck-fk", NECK, "fk", ([0.1, 0.2, 0.3],), {}),
    ("neck-fk-keyword", NECK, "fk", (), {"joints": (0.1, 0.2, 0.3)}),
    ("neck-fk-float", NECK, "fk", (0.5,), {}),
    ("neck-fk-short", NECK, "fk", ([0.1, 0.2],), {}),
    ("neck-ik", NECK, "ik", (NECK.fk([0.1, 0.2, 0.3]),), {}),
    ("neck-ik-gimbal-lock", NECK, "ik", ([[0, 0, 1], [0, 1, 0], [-1, 0, 0]],), {}),
    ("neck-ik-wrong-receiver", Neck.ik, None, (ARM, np.eye(3)), {}),
]


def _target(receiver: Any, method: str | None) -> Callable[..., Any]:
    return receiver if method is None else getattr(receiver, method)


def _run(call: Callable[..., Any], args: tuple[Any, ...], kwargs: dict[str, Any], times: int) -> None:
    for _ in range(times):
        try:
            call(*args, **kwargs)
        except Exception:  # noqa: BLE001 - the failure paths are what is measured
            pass


def _snapshot(objects: list[Any]) -> tuple[int, list[int]]:
    gc.collect()
    return sys.getallocatedblocks(), [sys.getrefcount(o) for o in objects]


def measure(receiver: Any, method: str | None, args: tuple[Any, ...], kwargs: dict[str, Any]) -> tuple[int, list[int], list[int]]:
    """Blocks gained, and the reference counts before and after, over CALLS calls."""
    call = _target(receiver, method)
    watched = [Arm, Neck, receiver, *args, *kwargs.values()]
    _run(call, args, kwargs, WARM_UP)
    blocks_before, counts_before = _snapshot(watched)
    _run(call, args, kwargs, CALLS)
    blocks_after, counts_after = _snapshot(watched)
    return blocks_after - blocks_before, counts_before, counts_after


@pytest.mark.parametrize(("receiver", "method", "args", "kwargs"),
                         [pytest.param(*case[1:], id=case[0]) for case in CASES])
def test_no_leak(receiver: Any, method: str | None, args: tuple[Any, ...], kwargs: dict[str, Any]) -> None:
    blocks, before, after = measure(receiver, method, args, kwargs)
    assert after == before, "reference counts of the classes, the receiver or the arguments changed"
    assert blocks <= BLOCK_SLACK, f"{blocks} blocks gained over {CALLS} calls"


def test_the_measure_sees_a_leak() -> None:
    kept: list[Any] = []
    argument = object()

    def leaky(value: Any) -> None:
        kept.append([value])

    blocks, before, after = measure(leaky, None, (argument,), {})
    # The argument's count rose by one per call, and the lists are blocks.
    assert after[3] - before[3] == CALLS
    if sys.getallocatedblocks() > 0:  # zero under PYTHONMALLOC=malloc
        assert blocks >= CALLS


def test_every_method_is_measured() -> None:
    measured = {
        (receiver if isinstance(receiver, type) else type(receiver), method)
        for _, receiver, method, _, _ in CASES
    }
    for cls in (Arm, Neck):
        assert (cls, None) in measured
        for name, value in vars(cls).items():
            if callable(value) and not name.startswith("__"):
                assert (cls, name) in measured, f"{cls.__name__}.{name} is not measured"

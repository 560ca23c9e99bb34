"""An interpreter that cannot create a result object: the call raises the module's internal
fault, a direct subclass of BaseException, with "Python API call failed", and the process and
the instance go on as before. The allocator fails on demand through CPython's test hooks."""

from __future__ import annotations

import gc
import sys
from collections.abc import Callable
from typing import Any

import pytest

import vornalt_torso_kinematics as vtk

_testcapi = pytest.importorskip("_testcapi")

ARM = vtk.VornaltArmKinematics.default_left()
NECK = vtk.VornaltNeckKinematics()
R = ARM.fk(0.3, -0.2)
D = ARM.direction(0.3, -0.4)

QUERIES: list[tuple[str, Callable[[], Any]]] = [
    ("fk", lambda: ARM.fk(0.3, -0.2)),
    ("direction", lambda: ARM.direction(0.3, -0.2)),
    ("ik", lambda: ARM.ik(R)),
    ("ik_from_direction", lambda: ARM.ik_from_direction(D, (0.3, -1.2))),
    ("arm_arc", ARM.arm_arc),
    ("default_left", vtk.VornaltArmKinematics.default_left),
    ("from_json", lambda: vtk.VornaltArmKinematics.from_json("[0.6, 0.4, \"negative\", true]")),
    ("neck.fk", lambda: NECK.fk([0.1, 0.2, 0.3])),
    ("neck.ik", lambda: NECK.ik(R)),
]


def _plain(value: Any) -> Any:
    if isinstance(value, vtk.VornaltArmKinematics):
        return ("arm", value.arm_arc(), value.coupler_arc(), value.mirror())
    return value


def _attempt(call: Callable[[], Any], fail_at: int) -> tuple[str, Any]:
    # Take the free lists of small tuples, lists and floats, so that results need the
    # allocator; with the collector paused, no garbage refills them.
    collecting = gc.isenabled()
    gc.disable()
    hold: list[Any] = [tuple([i, i]) for i in range(2100)] + [tuple([i, i, i]) for i in range(2100)]
    hold += [[] for _ in range(200)]
    hold += [i + 0.5 for i in range(300)]  # no float is freed on the way
    _testcapi.set_nomemory(fail_at, fail_at + 1)  # only that one allocation fails
    try:
        return ("value", _plain(call()))
    except BaseException as exc:  # noqa: BLE001 - the internal fault is a BaseException
        return ("error", exc)
    finally:
        _testcapi.remove_mem_hooks()
        del hold
        if collecting:
            gc.enable()


@pytest.mark.parametrize("call", [q[1] for q in QUERIES], ids=[q[0] for q in QUERIES])
def test_a_result_that_cannot_be_created_is_an_internal_fault(
    call: Callable[[], Any], capfd: pytest.CaptureFixture[str]
) -> None:
    answer = _plain(call())
    watched = [vtk.VornaltArmKinematics, vtk.VornaltNeckKinematics, ARM, NECK, R, D]
    gc.collect()  # instances that earlier tests left in cycles
    counts = [sys.getrefcount(o) for o in watched]
    faults = 0
    for fail_at in range(80):
        kind, outcome = _attempt(call, fail_at)
        if kind == "value":
            assert outcome == answer
            continue
        if isinstance(outcome, MemoryError):
            continue  # the interpreter's own allocation, outside the module
        assert type(outcome).__name__ == "InternalFault", repr(outcome)
        assert type(outcome).__module__ == "vornalt_torso_kinematics"
        assert type(outcome).__bases__ == (BaseException,)
        assert outcome.args == ("Python API call failed",)
        faults += 1
    assert faults > 0
    # Nothing half-built is left holding the instances, the classes or the arguments.
    gc.collect()
    assert [sys.getrefcount(o) for o in watched] == counts
    # The interpreter's error was printed before the fault was raised.
    assert "MemoryError" in capfd.readouterr().err
    assert _plain(call()) == answer

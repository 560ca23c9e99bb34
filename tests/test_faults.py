"""An interpreter that cannot create a result object: the call raises the module's internal
fault, a direct subclass of BaseException, with "Python API call failed", and the process and
the instance go on as before. The allocator fails on demand through CPython's test hooks."""

from __future__ import annotations

import gc
import os
import subprocess
import sys
from collections.abc import Callable
from pathlib import Path
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


# Faults that could end the process run in a child process of their own, so that a crash fails
# the test instead of ending the run. Each child prints what it saw on its last line.
EMPTIED_KEYWORDS = """
import gc
from vornalt_torso_kinematics import VornaltArmKinematics
class Emptier:  # empties the constructor's keyword dictionary while it is converted
    def __float__(self):
        for holder in gc.get_referrers(self):
            if isinstance(holder, dict):
                holder.clear()
        return 0.5
arm = VornaltArmKinematics(**{"arm_arc": Emptier(), "coupler_arc": float("0.75"), "mirror": True})
print(arm.arm_arc(), arm.coupler_arc(), arm.mirror())
"""
EXITING_HOOK = """
import sys
from test_faults import QUERIES, _attempt
def hook(*exc_info):
    raise SystemExit(3)
sys.excepthook = hook
raised = {type(outcome).__name__ for _, call in QUERIES for fail_at in range(80)
          for kind, outcome in [_attempt(call, fail_at)] if kind == "error"}
print("InternalFault" in raised, [n for n in dir(sys) if n.startswith("last_")])
"""
DEEP_RECORD_WITHOUT_MEMORY = """
import resource, sys
from vornalt_torso_kinematics import VornaltArmKinematics
depth = 1 << 24  # a nesting record of 2 MiB, beyond what is left
record = '{"arm_arc": 1, "coupler_arc": 0.5, "note": ' + "[" * depth + "]" * depth + "}"
if sys.argv[1:] == ["quoted"]:  # invalid: its message quotes a 16 MiB string
    record = '{"arm_arc": 1, "coupler_arc": 0.5, "branch": "' + "x" * depth + '"}'
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
with open("/proc/self/statm") as statm:
    mapped = int(statm.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (mapped + (1 << 20), hard))
try:
    VornaltArmKinematics.from_json(record)
    outcome = "decoded"
except BaseException as exc:
    outcome = type(exc).__name__
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
try:
    print(outcome, VornaltArmKinematics.from_json(record).arm_arc())
except ValueError as exc:
    print(outcome, str(exc)[:34])
"""
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


@pytest.mark.parametrize(("script", "argv", "environment", "last_line"), [
    pytest.param(EMPTIED_KEYWORDS, [], {}, "0.5 0.75 True", id="constructor-keywords-emptied"),
    pytest.param(EXITING_HOOK, [], {}, "True []", id="excepthook-that-exits"),
    # Allocations of 64 KiB and more are mapped and unmapped one by one, so that the limit on
    # the address space decides whether the nesting record (or a long message) can grow.
    *[pytest.param(DEEP_RECORD_WITHOUT_MEMORY, argv, {"MALLOC_MMAP_THRESHOLD_": "65536"}, last,
                   id=f"{name}-record-out-of-memory",
                   marks=pytest.mark.skipif(SANITIZED, reason="the sanitizer reserves the address space"))
      for name, argv, last in [("deep", [], "MemoryError 1.0"),
                               ("quoted", ["quoted"], "MemoryError Invalid arms.json: unknown variant")]],
])
def test_faults_in_a_child_process(script: str, argv: list[str], environment: dict[str, str],
                                   last_line: str) -> None:
    child = subprocess.run([sys.executable, "-c", script, *argv], capture_output=True, text=True, timeout=300,
                           cwd=Path(__file__).parent, env={**os.environ, **environment})
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines()[-1] == last_line
    # The interpreter's error is reported without sys.excepthook: as one line, no traceback.
    assert "Traceback" not in child.stderr

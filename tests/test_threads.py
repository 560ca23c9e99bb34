"""Many threads share instances and call every method, on success and on failure paths, for a
bounded time: every outcome equals the single-threaded one, and no thread crashes or hangs."""

from __future__ import annotations

import random
import sys
import threading
import time
from collections.abc import Callable
from typing import Any

import numpy as np

import vornalt_torso_kinematics as vtk

Arm = vtk.VornaltArmKinematics
Neck = vtk.VornaltNeckKinematics

THREADS = 8
SECONDS = 1.5


def _work() -> list[tuple[str, Callable[[], Any]]]:
    left = Arm.default_left()
    right = Arm.default_right()
    negative = Arm.from_json('{"arm_arc": 0.7, "coupler_arc": 0.5, "branch": "negative"}')
    neck = Neck()
    r = left.fk(0.3, -0.2)
    d = left.direction(0.3, -0.4)
    work: list[tuple[str, Callable[[], Any]]] = [
        ("new", lambda: Arm(0.6, 0.4, True).coupler_arc()),
        ("new-bad", lambda: Arm(mirror=1)),
        ("from-json-bad", lambda: Arm.from_json("[0.7, 0.5, 1]")),
        ("default-left", lambda: Arm.default_left().mirror()),
        ("default-right", lambda: Arm.default_right().mirror()),
        ("from-json", lambda: Arm.from_json('[0.6, 0.4, "negative", true]').fk(0.3, -0.2)),
        ("neck-new", lambda: Neck(1)),
    ]
    for name, arm in (("left", left), ("right", right), ("negative", negative)):
        work += [
            (f"{name}-accessors", lambda arm=arm: (arm.arm_arc(), arm.coupler_arc(), arm.mirror())),
            (f"{name}-fk", lambda arm=arm: arm.fk(0.3, -0.2)),
            (f"{name}-fk-open", lambda arm=arm: arm.fk(1.0, 1.0)),
            (f"{name}-fk-bad", lambda arm=arm: arm.fk("x", 0.0)),
            (f"{name}-direction", lambda arm=arm: arm.direction(-0.1, 0.25)),
            (f"{name}-reachable-joints", lambda arm=arm: arm.is_reachable_joints(1.0, 1.0)),
            (f"{name}-ik", lambda arm=arm: arm.ik(arm.fk(0.3, -0.2))),
            (f"{name}-ik-shared-input", lambda arm=arm: arm.ik(r)),
            (f"{name}-ik-array", lambda arm=arm: arm.ik(np.array(r))),
            (f"{name}-reachable-orientation", lambda arm=arm: arm.is_reachable_orientation(r)),
            (f"{name}-ik-from-direction", lambda arm=arm: arm.ik_from_direction(d)),
            (f"{name}-ik-near", lambda arm=arm: arm.ik_from_direction(d, near=(0.3, -1.2))),
            (f"{name}-ik-near-bad", lambda arm=arm: arm.ik_from_direction(d, near=[0.3, -1.2])),
            (f"{name}-reachable-direction", lambda arm=arm: arm.is_reachable_direction([1, 1, 1])),
            (f"{name}-reachable-direction-bad", lambda arm=arm: arm.is_reachable_direction([1, 1])),
        ]
    work += [
        ("neck-fk", lambda: neck.fk([0.4, -0.25, 0.1])),
        ("neck-ik", lambda: neck.ik(neck.fk([0.4, -0.25, 0.1]))),
        ("neck-gimbal", lambda: neck.ik([[0, 0, 1], [0, 1, 0], [-1, 0, 0]])),
        ("neck-fk-bad", lambda: neck.fk({})),
    ]
    return work


def _outcome(call: Callable[[], Any]) -> tuple[str, Any]:
    try:
        return ("value", call())
    except Exception as exc:  # noqa: BLE001 - errors are outcomes to compare
        return ("error", (type(exc), str(exc)))


def test_shared_instances_answer_as_in_one_thread() -> None:
    work = _work()
    expected = {name: _outcome(call) for name, call in work}
    assert sum(kind == "error" for kind, _ in expected.values()) >= 10

    mismatches: list[tuple[str, Any, Any]] = []
    calls = [0] * THREADS
    crashes: list[BaseException] = []
    start = threading.Barrier(THREADS)

    def run(index: int) -> None:
        try:
            order = list(work)
            random.Random(index).shuffle(order)
            start.wait()
            deadline = time.monotonic() + SECONDS
            while time.monotonic() < deadline:
                for name, call in order:
                    got = _outcome(call)
                    if got != expected[name]:
                        mismatches.append((name, got, expected[name]))
                    calls[index] += 1
        except BaseException as exc:  # noqa: BLE001 - reported below
            crashes.append(exc)

    switch = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)  # hand the interpreter lock around often
    try:
        threads = [threading.Thread(target=run, args=(i,)) for i in range(THREADS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(timeout=SECONDS + 60)
    finally:
        sys.setswitchinterval(switch)

    assert not any(thread.is_alive() for thread in threads), "a thread hangs"
    assert not crashes, crashes
    assert not mismatches, mismatches[:5]
    assert all(count >= len(work) for count in calls), calls

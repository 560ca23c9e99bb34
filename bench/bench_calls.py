"""Per-call cost of every query, beside Python-level alternatives, and a leak check.

Run with `make bench`. Prints nanoseconds per call (best of several repeats) and the memory
still held after many calls; nothing here asserts a time.
"""

from __future__ import annotations

import gc
import json
import math
import os
import sys
import timeit
import tracemalloc
from collections.abc import Callable

import numpy as np
from scipy.spatial.transform import Rotation

from vornalt_torso_kinematics import VornaltArmKinematics, VornaltNeckKinematics

REPEATS = 7


def per_call_ns(call: Callable[[], object], number: int) -> float:
    """Best-of-REPEATS wall time of one call, in nanoseconds."""
    times = timeit.repeat(call, number=number, repeat=REPEATS)
    return min(times) / number * 1e9


def numpy_arm_fk(arm_arc: float, coupler_arc: float, theta_a: float, theta_b: float) -> np.ndarray:
    """Forward kinematics of the unmirrored arm, as a numpy user would write it."""
    sa, ca = math.sin(arm_arc), math.cos(arm_arc)
    v2 = np.array([sa * math.cos(theta_a), sa * math.sin(theta_a), ca])
    v4 = np.array([ca, -sa * math.sin(theta_b), sa * math.cos(theta_b)])
    d = float(np.clip(v2 @ v4, -1.0, 1.0))
    s = math.sqrt(1.0 - d * d)
    alpha = math.cos(coupler_arc)
    beta = (math.cos(coupler_arc) - alpha * d) / s
    n = np.cross(v2, v4) / s
    t = np.cross(n, v2)
    v3 = alpha * v2 + beta * t + math.sqrt(1.0 - alpha**2 - beta**2) * n
    u = (v2 + v4) / np.linalg.norm(v2 + v4)
    w = u - (u @ v3) * v3
    x = w / np.linalg.norm(w)
    y = np.cross(v3, x)
    return np.column_stack((x, y, v3))


def speed() -> None:
    arm = VornaltArmKinematics.default_left()
    neck = VornaltNeckKinematics()
    rotation = arm.fk(0.3, -0.4)
    direction = arm.direction(0.3, -0.4)
    head = neck.fk([0.3, -0.2, 0.1])
    record = '{"arm_arc": 0.7, "coupler_arc": 0.5, "branch": "negative", "mirror": true}'
    numpy_rotation = np.array(rotation)

    rows: list[tuple[str, Callable[[], object], int]] = [
        ("arm.fk(0.3, -0.4)", lambda: arm.fk(0.3, -0.4), 200_000),
        ("arm.direction(0.3, -0.4)", lambda: arm.direction(0.3, -0.4), 200_000),
        ("arm.is_reachable_joints(0.3, -0.4)", lambda: arm.is_reachable_joints(0.3, -0.4), 200_000),
        ("arm.fk(theta_a=0.3, theta_b=-0.4)", lambda: arm.fk(theta_a=0.3, theta_b=-0.4), 200_000),
        ("arm.ik(rotation)", lambda: arm.ik(rotation), 100_000),
        ("arm.ik(numpy 3x3 array)", lambda: arm.ik(numpy_rotation), 50_000),
        ("arm.ik_from_direction(d)", lambda: arm.ik_from_direction(direction), 100_000),
        (
            "arm.ik_from_direction(d, near=(0.3, -1.2))",
            lambda: arm.ik_from_direction(direction, near=(0.3, -1.2)),
            100_000,
        ),
        ("arm.is_reachable_direction(d)", lambda: arm.is_reachable_direction(direction), 100_000),
        ("VornaltArmKinematics.from_json(record)", lambda: VornaltArmKinematics.from_json(record),
         100_000),
        ("neck.fk([0.3, -0.2, 0.1])", lambda: neck.fk([0.3, -0.2, 0.1]), 200_000),
        ("neck.ik(head)", lambda: neck.ik(head), 200_000),
    ]
    alternatives: list[tuple[str, Callable[[], object], int]] = [
        ("numpy forward kinematics of the arm", lambda: numpy_arm_fk(0.7, 0.5, 0.3, -0.4), 20_000),
        (
            "scipy Rotation.from_euler('ZYX').as_matrix()",
            lambda: Rotation.from_euler("ZYX", [0.3, -0.2, 0.1]).as_matrix(),
            20_000,
        ),
        (
            "scipy Rotation.from_matrix().as_euler('ZYX')",
            lambda: Rotation.from_matrix(head).as_euler("ZYX"),
            20_000,
        ),
        ("json.loads(record) (parsing only)", lambda: json.loads(record), 100_000),
    ]

    print(f"Python {sys.version.split()[0]}; best of {REPEATS} repeats; ns per call")
    print()
    print(f"{'vornalt_torso_kinematics':<48}{'ns/call':>10}")
    for name, call, number in rows:
        print(f"{name:<48}{per_call_ns(call, number):>10.0f}")
    print()
    print(f"{'Python-level alternatives':<48}{'ns/call':>10}")
    for name, call, number in alternatives:
        print(f"{name:<48}{per_call_ns(call, number):>10.0f}")


def resident_kib() -> int:
    """Resident set size of this process, which also counts memory the C++ side allocates."""
    with open("/proc/self/statm", encoding="ascii") as statm:
        pages = int(statm.read().split()[1])
    return pages * os.sysconf("SC_PAGE_SIZE") // 1024


def memory() -> None:
    """Memory still held after many calls of each query (a leak shows as growth)."""
    arm = VornaltArmKinematics.default_left()
    neck = VornaltNeckKinematics()
    rotation = arm.fk(0.3, -0.4)
    direction = arm.direction(0.3, -0.4)

    def failing() -> None:
        for call in (lambda: arm.fk(1.0, 1.0), lambda: arm.ik([[1, 0, 0], [0, 1, 0], [0, 0, 1]]),
                     lambda: arm.fk("x", 0.0), lambda: VornaltArmKinematics.from_json("[0.7]")):
            try:
                call()
            except (RuntimeError, TypeError, ValueError):
                pass

    workloads: list[tuple[str, Callable[[], object]]] = [
        ("forward queries", lambda: (arm.fk(0.3, -0.4), arm.direction(0.3, -0.4))),
        ("inverse queries", lambda: (arm.ik(rotation), arm.ik_from_direction(direction, (0.0, 0.0)))),
        ("neck", lambda: neck.ik(neck.fk([0.3, -0.2, 0.1]))),
        ("construction", lambda: (VornaltArmKinematics(0.7, 0.5, True),
                                  VornaltArmKinematics.from_json("[0.7, 0.5, \"negative\"]"))),
        ("raising calls", failing),
    ]
    print()
    print(f"{'memory held after 100,000 more calls':<48}{'Python B':>10}{'RSS KiB':>10}")
    for name, call in workloads:
        for _ in range(1_000):
            call()
        gc.collect()
        rss_before = resident_kib()
        tracemalloc.start()
        before = tracemalloc.take_snapshot()
        for _ in range(100_000):
            call()
        gc.collect()
        after = tracemalloc.take_snapshot()
        tracemalloc.stop()
        growth = sum(stat.size_diff for stat in after.compare_to(before, "filename"))
        print(f"{name:<48}{growth:>10}{resident_kib() - rss_before:>10}")


if __name__ == "__main__":
    speed()
    memory()

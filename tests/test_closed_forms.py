"""The module against an independent transcription of its closed forms in plain Python and in
numpy (bench/alternatives.py, which the benchmarks time beside it): the same answers, the
same failures. This keeps the speed comparison honest and checks the module's arithmetic
against a second implementation."""

from __future__ import annotations

import itertools
import math
import sys
from pathlib import Path

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vornalt_torso_kinematics as vtk

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "bench"))
from alternatives import GimbalLockError, NpArm, NpNeck, PyArm, PyNeck  # noqa: E402

angles = st.floats(min_value=-math.pi, max_value=math.pi, allow_nan=False)
geometries = st.tuples(st.floats(min_value=0.3, max_value=1.2), st.floats(min_value=0.2,
                                                                           max_value=1.0),
                       st.booleans())


def close(a: object, b: object) -> bool:
    return bool(np.allclose(np.asarray(a, dtype=float), np.asarray(b, dtype=float), rtol=0.0,
                            atol=1e-12))


def same(a: object, b: object) -> bool:
    """The same numbers to the last bit, signed zeros included."""
    return np.asarray(a, dtype=float).tobytes() == np.asarray(b, dtype=float).tobytes()


@settings(max_examples=300)
@given(geometries, angles, angles, st.one_of(st.none(), st.tuples(angles, angles)))
def test_plain_python_arm_is_the_same_arithmetic(geometry: tuple[float, float, bool],
                                                 theta_a: float, theta_b: float,
                                                 near: tuple[float, float] | None) -> None:
    # The plain Python arm makes the module's operations in the module's order with the same
    # maths library, so every answer and every failure is the module's, bit for bit, however
    # ill-conditioned the pose (coinciding tips, the stretch limit, a tie between candidates).
    arm, py_arm = vtk.VornaltArmKinematics(*geometry), PyArm(*geometry)
    reachable = arm.is_reachable_joints(theta_a, theta_b)
    assert py_arm.is_reachable_joints(theta_a, theta_b) is reachable
    if not reachable:
        with pytest.raises(RuntimeError):
            py_arm.fk(theta_a, theta_b)
        return
    rotation, direction = arm.fk(theta_a, theta_b), arm.direction(theta_a, theta_b)
    assert same(py_arm.fk(theta_a, theta_b), rotation)
    assert same(py_arm.direction(theta_a, theta_b), direction)
    assert py_arm.is_reachable_orientation(rotation) is arm.is_reachable_orientation(rotation)
    assert py_arm.is_reachable_direction(direction) is arm.is_reachable_direction(direction)
    if arm.is_reachable_orientation(rotation):
        assert same(py_arm.ik(rotation), arm.ik(rotation))
    if arm.is_reachable_direction(direction):
        assert same(py_arm.ik_from_direction(direction, near),
                    arm.ik_from_direction(direction, near))


# numpy's trigonometry and its dot products round differently from the maths library, and the
# difference grows without bound as the tips coincide, as the loop nears its stretch limit and
# as two candidates tie: the numpy arm is compared on well-conditioned poses only.
@pytest.mark.parametrize("geometry", [(0.7, 0.5, False), (0.7, 0.5, True), (0.45, 0.8, False),
                                      (1.05, 0.65, True)])
def test_numpy_arm_agrees_on_well_conditioned_poses(geometry: tuple[float, float, bool]) -> None:
    arm, np_arm = vtk.VornaltArmKinematics(*geometry), NpArm(*geometry)
    grid = (-2.5, -1.3, -0.4, 0.35, 1.2, 2.6)
    compared = 0
    for theta_a, theta_b in itertools.product(grid, grid):
        reachable = arm.is_reachable_joints(theta_a, theta_b)
        assert np_arm.is_reachable_joints(theta_a, theta_b) is reachable
        if not reachable:
            continue
        rotation, direction = arm.fk(theta_a, theta_b), arm.direction(theta_a, theta_b)
        assert np.allclose(np_arm.fk(theta_a, theta_b), rotation, rtol=0, atol=1e-9)
        assert np.allclose(np_arm.ik(rotation), arm.ik(rotation), rtol=0, atol=1e-9)
        assert np.allclose(np_arm.ik_from_direction(direction), arm.ik_from_direction(direction),
                           rtol=0, atol=1e-9)
        compared += 1
    assert compared >= 10


@pytest.mark.parametrize("record", [
    '{"arm_arc": 0.7, "coupler_arc": 0.5, "branch": "negative", "mirror": true}',
    '{"coupler_arc": 0.6, "arm_arc": 0.8, "branch": {"positive": null}}',
    '[0.7, 0.5, "negative", true]',
    '[0.9, 0.4]',
])
def test_records_decode_alike(record: str) -> None:
    arm, py_arm = vtk.VornaltArmKinematics.from_json(record), PyArm.from_json(record)
    assert (py_arm.arm_arc(), py_arm.coupler_arc(), py_arm.mirror()) == \
        (arm.arm_arc(), arm.coupler_arc(), arm.mirror())
    assert same(py_arm.fk(0.3, -0.2), arm.fk(0.3, -0.2))


@settings(max_examples=300)
@given(st.lists(angles, min_size=3, max_size=3))
def test_neck_agrees(joints: list[float]) -> None:
    neck = vtk.VornaltNeckKinematics()
    head = neck.fk(joints)
    assert close(PyNeck().fk(joints), head)
    assert close(NpNeck().fk(joints), head)
    try:
        expected = neck.ik(head)
    except ValueError:
        for alternative in (PyNeck(), NpNeck()):
            with pytest.raises(GimbalLockError):
                alternative.ik(head)
        return
    assert close(PyNeck().ik(head), expected)
    assert close(NpNeck().ik(head), expected)

"""The module against an independent transcription of its closed forms in plain Python and in
numpy (bench/alternatives.py, which the benchmarks time beside it): the same answers, the
same failures. This keeps the speed comparison honest and checks the module's arithmetic
against a second implementation."""

from __future__ import annotations

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


@settings(max_examples=300)
@given(geometries, angles, angles)
def test_forward_kinematics_agrees(geometry: tuple[float, float, bool], theta_a: float,
                                   theta_b: float) -> None:
    arm = vtk.VornaltArmKinematics(*geometry)
    py_arm, np_arm = PyArm(*geometry), NpArm(*geometry)
    reachable = arm.is_reachable_joints(theta_a, theta_b)
    assert py_arm.is_reachable_joints(theta_a, theta_b) is reachable
    if reachable:
        rotation = arm.fk(theta_a, theta_b)
        assert close(py_arm.fk(theta_a, theta_b), rotation)
        assert close(np_arm.fk(theta_a, theta_b), rotation)
        assert close(py_arm.direction(theta_a, theta_b), arm.direction(theta_a, theta_b))
    else:
        with pytest.raises(RuntimeError):
            py_arm.fk(theta_a, theta_b)


@settings(max_examples=200)
@given(geometries, angles, angles, st.one_of(st.none(), st.tuples(angles, angles)))
def test_inverse_kinematics_agrees(geometry: tuple[float, float, bool], theta_a: float,
                                   theta_b: float, near: tuple[float, float] | None) -> None:
    arm = vtk.VornaltArmKinematics(*geometry)
    py_arm, np_arm = PyArm(*geometry), NpArm(*geometry)
    if not arm.is_reachable_joints(theta_a, theta_b):
        return
    rotation = arm.fk(theta_a, theta_b)
    direction = arm.direction(theta_a, theta_b)
    for alternative in (py_arm, np_arm):
        assert alternative.is_reachable_orientation(rotation) is \
            arm.is_reachable_orientation(rotation)
        assert alternative.is_reachable_direction(direction) is \
            arm.is_reachable_direction(direction)
        if arm.is_reachable_orientation(rotation):
            assert close(alternative.ik(rotation), arm.ik(rotation))
        if arm.is_reachable_direction(direction):
            assert close(alternative.ik_from_direction(direction, near),
                         arm.ik_from_direction(direction, near))


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
    assert close(py_arm.fk(0.3, -0.2), arm.fk(0.3, -0.2))


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

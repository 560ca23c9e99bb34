"""Neck yaw-pitch-roll kinematics: exact values and signs of zeros, agreement with scipy,
round trips, the gimbal-lock boundary and non-finite inputs."""

from __future__ import annotations

import math
import re
import struct
from typing import Any

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from scipy.spatial.transform import Rotation

import vornalt_torso_kinematics as vtk

Neck = vtk.VornaltNeckKinematics

GIMBAL_MESSAGE = "Gimbal lock: pitch is too close to ±π/2."
NAN = float("nan")
INF = float("inf")


def bits(x: float) -> int:
    return int(struct.unpack("<Q", struct.pack("<d", x))[0])


def identical(a: Any, b: Any) -> bool:
    """Equal bit for bit (so 0.0 and -0.0 differ), with any NaN equal to any NaN."""
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(identical(x, y) for x, y in zip(a, b, strict=True))
    if math.isnan(a) and math.isnan(b):
        return True
    return bits(a) == bits(b)


def raises_gimbal_lock() -> Any:
    return pytest.raises(ValueError, match=f"^{re.escape(GIMBAL_MESSAGE)}$")


# --------------------------------------------------------------------------------------------
# Bit-exact model of the forward product: one factor per joint (the exact identity for a zero
# angle, +0.0 for every zero entry), then (Rz . Ry) . Rx with each entry summed in index order.


def _sin_cos(angle: float) -> tuple[float, float]:
    if math.isfinite(angle):
        return math.sin(angle), math.cos(angle)
    return NAN, NAN


def _factor(axis: str, angle: float) -> list[list[float]]:
    if angle == 0.0:
        return [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]]
    s, c = _sin_cos(angle)
    if axis == "z":
        return [[c, -s, 0.0], [s, c, 0.0], [0.0, 0.0, 1.0]]
    if axis == "y":
        return [[c, 0.0, s], [0.0, 1.0, 0.0], [-s, 0.0, c]]
    return [[1.0, 0.0, 0.0], [0.0, c, -s], [0.0, s, c]]


def _product(a: list[list[float]], b: list[list[float]]) -> list[list[float]]:
    return [[a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j] for j in range(3)] for i in range(3)]


def model_fk(yaw: float, pitch: float, roll: float) -> list[list[float]]:
    return _product(_product(_factor("z", yaw), _factor("y", pitch)), _factor("x", roll))


def model_ik(r: list[list[float]]) -> tuple[float, float, float]:
    return (math.atan2(r[1][0], r[0][0]), math.asin(-r[2][0]), math.atan2(r[2][1], r[2][2]))


# --------------------------------------------------------------------------------------------
# Forward


def test_fk_of_zero_is_the_exact_identity(neck: Any) -> None:
    identity = [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]]
    for joints in ([0, 0, 0], [0.0, 0.0, 0.0], [-0.0, -0.0, -0.0], (0.0, -0.0, 0.0)):
        # +0.0 everywhere off the diagonal, r[2][0] included.
        assert identical(neck.fk(joints), identity)


def test_fk_of_yaw_alone_is_rz(neck: Any) -> None:
    yaw = -0.3
    s, c = math.sin(yaw), math.cos(yaw)
    r = neck.fk([yaw, 0.0, 0.0])
    assert identical(r, [[c, -s, 0.0], [s, c, 0.0], [0.0, 0.0, 1.0]])
    for i, j in ((0, 2), (1, 2), (2, 0), (2, 1)):
        assert bits(r[i][j]) == 0  # +0.0


def test_fk_of_pitch_two(neck: Any) -> None:
    r = neck.fk([0, 2.0, 0])
    assert bits(r[1][0]) == 0
    assert bits(r[2][1]) == 0
    assert identical(r, model_fk(0.0, 2.0, 0.0))
    angles = neck.ik(r)
    # Yaw and roll are +pi, not -pi, because of the positive zeros.
    assert identical(angles, (3.141592653589793, 1.1415926535897933, 3.141592653589793))


@pytest.mark.parametrize(
    "joints",
    [
        pytest.param([0.3, -0.2, 0.1], id="general"),
        pytest.param([0.0, 0.0, 0.7], id="roll-only"),
        pytest.param([0.0, -1.1, 0.0], id="pitch-only"),
        pytest.param([math.pi, 0.0, 0.0], id="yaw-pi"),
        pytest.param([-0.0, 0.4, -0.0], id="negative-zeros"),
        pytest.param([-0.3, 0.0, -0.0], id="negative-yaw"),
        pytest.param([NAN, 0.0, 0.0], id="nan-yaw"),
        pytest.param([0.0, INF, 0.0], id="inf-pitch"),
        pytest.param([0.0, 0.0, -INF], id="-inf-roll"),
    ],
)
def test_fk_matches_exact_product(neck: Any, joints: list[float]) -> None:
    assert identical(neck.fk(joints), model_fk(*joints))


def test_fk_non_finite_angles_give_nan_where_the_factor_contributes(neck: Any) -> None:
    # Yaw: Rz mixes rows 0 and 1 only.
    for yaw in (NAN, INF, -INF):
        r = neck.fk([yaw, 0.0, 0.0])
        assert all(math.isnan(x) for x in r[0] + r[1])
        assert identical(r[2], [0.0, 0.0, 1.0])
    # Pitch: every entry.
    for joints in ([0.0, NAN, 0.0], [0.0, INF, 0.0], [0.3, -INF, 0.1], [INF, -INF, NAN]):
        assert all(math.isnan(x) for row in neck.fk(joints) for x in row)
    # Roll: Rx mixes columns 1 and 2 only; column 0 is that of the roll-free pose.
    for yaw, pitch in ((0.0, 0.0), (0.3, 0.2), (-1.0, 0.0)):
        for roll in (NAN, INF, -INF):
            r = neck.fk([yaw, pitch, roll])
            assert all(math.isnan(row[1]) and math.isnan(row[2]) for row in r)
            assert identical([row[0] for row in r], [row[0] for row in neck.fk([yaw, pitch, 0.0])])


finite_angles = st.floats(min_value=-10.0, max_value=10.0, allow_nan=False)
special_angles = st.sampled_from([0.0, -0.0, math.pi, -math.pi, math.pi / 2, NAN, INF, -INF, 1e-300, 1e300])
any_angle = st.one_of(finite_angles, special_angles)


@settings(max_examples=200, deadline=None)
@given(yaw=any_angle, pitch=any_angle, roll=any_angle)
def test_fk_is_the_exact_product_of_factors(yaw: float, pitch: float, roll: float) -> None:
    assert identical(Neck().fk([yaw, pitch, roll]), model_fk(yaw, pitch, roll))


@settings(max_examples=200, deadline=None)
@given(yaw=finite_angles, pitch=finite_angles, roll=finite_angles)
def test_fk_agrees_with_scipy(yaw: float, pitch: float, roll: float) -> None:
    expected = Rotation.from_euler("ZYX", [yaw, pitch, roll]).as_matrix()
    assert np.allclose(Neck().fk([yaw, pitch, roll]), expected, rtol=0, atol=1e-12)


# --------------------------------------------------------------------------------------------
# Inverse


@pytest.mark.parametrize(
    ("r", "expected"),
    [
        pytest.param(((1, 0, 0), (0, 1, 0), (0, 0, 1)), (0.0, -0.0, 0.0), id="identity"),
        pytest.param(Neck().fk([math.pi, 0, 0]), (math.pi, -0.0, 0.0), id="yaw-pi"),
        pytest.param([[-1, 0, 0], [0, -1, 0], [0, 0, 1]], (math.pi, -0.0, 0.0), id="int-half-turn"),
        pytest.param([[-1.0, 0.0, 0.0], [-0.0, -1.0, 0.0], [0.0, 0.0, 1.0]], (-math.pi, -0.0, 0.0),
                     id="negative-zero-selects-minus-pi"),
        pytest.param([[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [-0.0, 0.0, 1.0]], (0.0, 0.0, 0.0), id="positive-pitch-zero"),
    ],
)
def test_ik_exact_values(neck: Any, r: Any, expected: tuple[float, float, float]) -> None:
    angles = neck.ik(r)
    assert type(angles) is tuple
    assert identical(angles, expected)


def test_ik_of_fk_round_trip_example(neck: Any) -> None:
    assert np.allclose(neck.ik(neck.fk([0.3, -0.2, 0.1])), (0.3, -0.2, 0.1), rtol=0, atol=1e-15)


PITCH_LIMIT = math.pi / 2 - 0.0015
open_angle = st.floats(min_value=-math.pi, max_value=math.pi, exclude_min=True)


@settings(max_examples=200, deadline=None)
@given(yaw=open_angle, pitch=st.floats(min_value=-PITCH_LIMIT, max_value=PITCH_LIMIT), roll=open_angle)
def test_round_trip_inside_the_pitch_limit(yaw: float, pitch: float, roll: float) -> None:
    neck = Neck()
    angles = neck.ik(neck.fk([yaw, pitch, roll]))
    assert np.allclose(angles, (yaw, pitch, roll), rtol=0, atol=1e-9)


finite_entries = st.floats(min_value=-2.0, max_value=2.0)


@settings(max_examples=200, deadline=None)
@given(
    entries=st.lists(finite_entries, min_size=9, max_size=9),
    x=st.floats(min_value=-0.999998, max_value=0.999998),
)
def test_ik_formulas_on_any_matrix(entries: list[float], x: float) -> None:
    # Not necessarily a rotation: nothing is checked beyond the gimbal-lock test.
    r = [entries[0:3], entries[3:6], [x, entries[7], entries[8]]]
    assert identical(Neck().ik(r), model_ik(r))


@pytest.mark.parametrize("noise", [NAN, INF, -INF, 1e300, -5.0])
def test_ik_reads_only_five_entries(neck: Any, noise: float) -> None:
    r = neck.fk([0.3, -0.2, 0.1])
    expected = neck.ik(r)
    noisy = [[r[0][0], noise, noise], [r[1][0], noise, noise], [r[2][0], r[2][1], r[2][2]]]
    assert identical(neck.ik(noisy), expected)


def test_ik_still_converts_unread_entries(neck: Any) -> None:
    message = "argument 'r': must be real number, not str"
    with pytest.raises(TypeError, match=f"^{re.escape(message)}$"):
        neck.ik([[1.0, "x", 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]])


@pytest.mark.parametrize(
    "x",
    [1.0, -1.0, 0.9999995, -0.9999995, 1.5, -1.5, INF, -INF, math.nextafter(0.999999, 1.0), 1.0 - 1e-7, 1e300],
)
def test_gimbal_lock(neck: Any, x: float) -> None:
    r = [[0.0, 0.0, 1.0], [0.0, 1.0, 0.0], [x, 0.0, 0.0]]
    with raises_gimbal_lock() as info:
        neck.ik(r)
    assert type(info.value) is ValueError
    assert info.value.args == (GIMBAL_MESSAGE,)


@pytest.mark.parametrize("x", [0.999999, -0.999999, 0.999998, -0.999998, 0.5, 0.0])
def test_just_inside_the_gimbal_lock_boundary(neck: Any, x: float) -> None:
    r = [[0.3, 0.0, 0.0], [0.4, 1.0, 0.0], [x, 0.2, 0.9]]
    assert identical(neck.ik(r), model_ik(r))


def test_gimbal_lock_threshold_is_strict(neck: Any) -> None:
    # 1 - 0.999999 lies just above 1e-6 and passes; the next float up lies just below and locks.
    inside = 0.999999
    outside = math.nextafter(inside, 1.0)
    for sign in (1.0, -1.0):
        r = [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [sign * inside, 0.0, 1.0]]
        assert identical(neck.ik(r), model_ik(r))
        r[2][0] = sign * outside
        with raises_gimbal_lock():
            neck.ik(r)


def test_gimbal_lock_from_a_valid_rotation(neck: Any) -> None:
    with raises_gimbal_lock():
        neck.ik([[0, 0, 1], [0, 1, 0], [-1, 0, 0]])
    with raises_gimbal_lock():
        neck.ik(neck.fk([0.0, math.pi / 2 - 0.0014, 0.0]))
    with raises_gimbal_lock():
        neck.ik(neck.fk([0.4, -(math.pi / 2 - 0.0014), -0.3]))
    angles = neck.ik(neck.fk([0.0, math.pi / 2 - 0.0015, 0.0]))
    assert np.allclose(angles, (0.0, math.pi / 2 - 0.0015, 0.0), rtol=0, atol=1e-9)


def test_nan_pitch_entry_is_not_gimbal_lock(neck: Any) -> None:
    r = [[0.6, 0.0, 0.0], [0.8, 1.0, 0.0], [NAN, 0.3, -0.4]]
    yaw, pitch, roll = neck.ik(r)
    assert math.isnan(pitch)
    assert identical((yaw, roll), (math.atan2(0.8, 0.6), math.atan2(0.3, -0.4)))
    yaw, pitch, roll = neck.ik([[NAN, 0, 0], [NAN, 1, 0], [NAN, NAN, 1.0]])
    assert math.isnan(yaw) and math.isnan(pitch) and math.isnan(roll)


def test_neck_instances_are_interchangeable() -> None:
    joints = [0.3, -0.2, 0.1]
    assert Neck().fk(joints) == Neck().fk(joints)
    r = Neck().fk(joints)
    assert Neck().ik(r) == Neck().ik(r)

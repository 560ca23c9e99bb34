"""Inverse queries of the arm: ik, ik_from_direction and the reachability of targets."""

from __future__ import annotations

import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import edge_distance
from vornalt_torso_kinematics import VornaltArmKinematics

UNREACHABLE = "Target orientation is outside the spherical 5-bar workspace."

LEFT = VornaltArmKinematics.default_left()
RIGHT = VornaltArmKinematics.default_right()

angles = st.floats(min_value=-math.pi, max_value=math.pi, allow_nan=False)
anything = st.floats(allow_nan=True, allow_infinity=True)


def turned_about_own_z(r: list[list[float]], angle: float) -> list[list[float]]:
    """r multiplied on the right by a turn about z: the same pointing direction, another roll."""
    c, s = math.cos(angle), math.sin(angle)
    turn = np.array([[c, -s, 0.0], [s, c, 0.0], [0.0, 0.0, 1.0]])
    return (np.array(r) @ turn).tolist()


def transposed(r: list[list[float]]) -> list[list[float]]:
    return [list(column) for column in zip(*r)]


# -- ik -------------------------------------------------------------------------------------


@pytest.mark.parametrize("arm", [LEFT, RIGHT], ids=["left", "right"])
def test_ik_inverts_fk(arm: VornaltArmKinematics) -> None:
    theta = arm.ik(arm.fk(0.3, -0.2))
    assert type(theta) is tuple and len(theta) == 2
    assert all(type(value) is float for value in theta)
    assert theta == pytest.approx((0.3, -0.2), abs=1e-12)


def test_ik_at_the_zero_pair() -> None:
    assert LEFT.ik(LEFT.fk(0.0, 0.0)) == pytest.approx((0.0, 0.0), abs=1e-14)


@pytest.mark.parametrize(
    "target",
    [
        transposed(LEFT.fk(0.3, -0.2)),
        turned_about_own_z(LEFT.fk(0.3, -0.2), 0.001),
        [[1, 0, 0], [0, 1, 0], [0, 0, 1]],
        [[0, 0, 1], [0, 1, 0], [-1, 0, 0]],
        [[0.0] * 3] * 3,
        [[math.nan] * 3] * 3,
        (np.array(LEFT.fk(0.3, -0.2)) * 1.001).tolist(),
    ],
    ids=["transpose", "rolled", "identity", "axis-b", "zeros", "nan", "scaled"],
)
def test_unreachable_orientations_raise_and_are_not_reachable(target: list[list[float]]) -> None:
    with pytest.raises(RuntimeError) as raised:
        LEFT.ik(target)
    assert raised.value.args == (UNREACHABLE,)
    assert LEFT.is_reachable_orientation(target) is False


def test_ik_accepts_tuples_lists_and_numpy_arrays() -> None:
    r = LEFT.fk(0.3, -0.2)
    forms = [r, tuple(tuple(row) for row in r), np.array(r), [np.array(row) for row in r]]
    results = {LEFT.ik(form) for form in forms}
    assert len(results) == 1
    assert all(LEFT.is_reachable_orientation(form) is True for form in forms)


@settings(max_examples=300, deadline=None)
@given(theta_a=angles, theta_b=angles, mirrored=st.booleans())
def test_ik_of_fk_reproduces_the_rotation(theta_a: float, theta_b: float, mirrored: bool) -> None:
    arm = RIGHT if mirrored else LEFT
    near = (-1e-12, 0.0, 1e-12)
    if not all(arm.is_reachable_joints(theta_a + da, theta_b + db) for da in near for db in near):
        return  # at the stretch limit, whether the loop closes is down to rounding
    r = arm.fk(theta_a, theta_b)
    z = r[2][2]
    if abs(abs(z) - 1.0) < 1e-3 or abs(abs(r[0][2]) - 1.0) < 1e-3:
        return  # pointing along a joint axis, where no tip can be found
    if edge_distance(arm, [row[2] for row in r]) < 1e-10:
        return  # an arm in line with the coupler: whether its tip is found is down to rounding
    solved = arm.ik(r)
    assert all(-math.pi <= value <= math.pi for value in solved)
    assert np.allclose(arm.fk(*solved), r, atol=1e-6)


# -- ik_from_direction ------------------------------------------------------------------------


D = LEFT.direction(0.3, -0.4)


@pytest.mark.parametrize(
    ("call", "expected", "tolerance"),
    [
        (lambda: LEFT.ik_from_direction(D), (0.3, -0.4), 1e-12),
        (lambda: LEFT.ik_from_direction(D, None), (0.3, -0.4), 1e-12),
        (lambda: LEFT.ik_from_direction(D, near=None), (0.3, -0.4), 1e-12),
        (lambda: LEFT.ik_from_direction(v3=D), (0.3, -0.4), 1e-12),
        (lambda: LEFT.ik_from_direction([2.5 * x for x in D]), (0.3, -0.4), 1e-12),
        (lambda: LEFT.ik_from_direction(D, near=(0.3, -1.2)), (0.3, -1.193961), 5e-7),
        (lambda: LEFT.ik_from_direction(D, (1.5, 0.0)), (1.598011, -0.4), 5e-7),
        (lambda: LEFT.ik_from_direction(near=(0.3 + 2 * math.pi, -0.4), v3=D), (1.598011, -0.4),
         5e-7),
        (lambda: LEFT.ik_from_direction(D, near=(math.nan, 0.0)), (1.598011, -0.4), 5e-7),
        (lambda: LEFT.ik_from_direction([1, 1, 1]), (0.191734, -0.191734), 5e-7),
        (lambda: LEFT.ik_from_direction(np.array([1.0, 1.0, 1.0])), (0.191734, -0.191734), 5e-7),
    ],
    ids=["plain", "none-positional", "none-keyword", "v3-keyword", "scaled", "near", "near-far",
         "near-unwrapped", "near-nan", "diagonal", "numpy"],
)
def test_ik_from_direction(call, expected: tuple[float, float], tolerance: float) -> None:  # type: ignore[no-untyped-def]
    result = call()
    assert type(result) is tuple and len(result) == 2
    assert all(type(value) is float for value in result)
    assert result == pytest.approx(expected, abs=tolerance)


@pytest.mark.parametrize(
    "v3",
    [[0, 0, 0], [0, 0, 1], [0, 0, -1], [1, 0, 0], [-1, 0, 0], [0, 1, 0],
     [0.9e-12 * x for x in D], [math.nan, 0, 1], [math.inf, 0, 1]],
    ids=["zero", "axis-a", "anti-axis-a", "axis-b", "anti-axis-b", "outside", "too-short",
         "nan", "inf"],
)
@pytest.mark.parametrize("arm", [LEFT, RIGHT], ids=["left", "right"])
def test_unreachable_directions(arm: VornaltArmKinematics, v3: list[float]) -> None:
    with pytest.raises(RuntimeError) as raised:
        arm.ik_from_direction(v3)
    assert raised.value.args == (UNREACHABLE,)
    with pytest.raises(RuntimeError):
        arm.ik_from_direction(v3, near=(0.0, 0.0))
    assert arm.is_reachable_direction(v3) is False


def test_a_barely_long_enough_direction_is_normalised() -> None:
    assert LEFT.ik_from_direction([1.5e-12 * x for x in D]) == pytest.approx((0.3, -0.4), abs=1e-12)


@settings(max_examples=300, deadline=None)
@given(
    v3=st.lists(st.floats(min_value=-2, max_value=2, allow_nan=False), min_size=3, max_size=3),
    near=st.none() | st.tuples(angles, angles),
    mirrored=st.booleans(),
)
def test_reachability_agrees_with_solving(
    v3: list[float], near: tuple[float, float] | None, mirrored: bool
) -> None:
    arm = RIGHT if mirrored else LEFT
    reachable = arm.is_reachable_direction(v3)
    assert reachable is (reachable is True)
    try:
        pair = arm.ik_from_direction(v3, near)
    except RuntimeError as error:
        assert error.args == (UNREACHABLE,)
        assert reachable is False
    else:
        assert reachable is True
        length = math.sqrt(sum(x * x for x in v3))
        reached = np.array(arm.direction(*pair))
        assert np.linalg.norm(reached - np.array(v3) / length) < 1e-6


@settings(max_examples=200, deadline=None)
@given(r=st.lists(st.lists(anything, min_size=3, max_size=3), min_size=3, max_size=3))
def test_orientation_reachability_agrees_with_ik_on_any_matrix(r: list[list[float]]) -> None:
    reachable = LEFT.is_reachable_orientation(r)
    try:
        LEFT.ik(r)
    except RuntimeError:
        assert reachable is False
    else:
        assert reachable is True


# -- argument errors --------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda: LEFT.ik(), TypeError,
         "VornaltArmKinematics.ik() missing 1 required positional argument: 'r_target'"),
        (lambda: LEFT.ik(1, 2), TypeError,
         "VornaltArmKinematics.ik() takes 1 positional arguments but 2 were given"),
        (lambda: LEFT.ik_from_direction(D, None, None), TypeError,
         "VornaltArmKinematics.ik_from_direction() takes from 1 to 2 positional arguments but 3 "
         "were given"),
        (lambda: LEFT.ik_from_direction(near=None), TypeError,
         "VornaltArmKinematics.ik_from_direction() missing 1 required positional argument: 'v3'"),
        (lambda: LEFT.is_reachable_direction(D, near=None), TypeError,
         "VornaltArmKinematics.is_reachable_direction() got an unexpected keyword argument 'near'"),
        (lambda: LEFT.ik_from_direction(D, near=[0.3, -1.2]), TypeError,
         "argument 'near': 'list' object cannot be converted to 'PyTuple'"),
        (lambda: LEFT.ik_from_direction(D, near=(0.3, -1.2, 0.0)), ValueError,
         "expected tuple of length 2, but got tuple of length 3"),
        (lambda: LEFT.ik_from_direction(D, near=("a", 0.0)), TypeError,
         "argument 'near': must be real number, not str"),
        (lambda: LEFT.ik_from_direction([1, 0], near=[0, 0]), ValueError,
         "expected a sequence of length 3 (got 2)"),
        (lambda: LEFT.ik_from_direction({}, near=[0, 0]), TypeError,
         "argument 'v3': 'dict' object cannot be converted to 'Sequence'"),
        (lambda: LEFT.is_reachable_direction([1, 2]), ValueError,
         "expected a sequence of length 3 (got 2)"),
        (lambda: LEFT.is_reachable_direction({}), TypeError,
         "argument 'v3': 'dict' object cannot be converted to 'Sequence'"),
        (lambda: LEFT.is_reachable_orientation([[1, 0, 0], [0, 1, 0]]), ValueError,
         "expected a sequence of length 3 (got 2)"),
        (lambda: LEFT.is_reachable_orientation([[1, 0, 0], [0, 1, 0], [0, 0]]), ValueError,
         "expected a sequence of length 3 (got 2)"),
        (lambda: LEFT.ik("abc"), ValueError, "expected a sequence of length 3 (got 1)"),
        (lambda: LEFT.ik([[1, 0, 0], [0, "x", 0], 5]), TypeError,
         "argument 'r_target': must be real number, not str"),
        (lambda: LEFT.ik([[1, 0, 0], 5, [0, "x", 0]]), TypeError,
         "argument 'r_target': 'int' object cannot be converted to 'Sequence'"),
    ],
)
def test_argument_errors_raise_exactly(call, error: type[Exception], message: str) -> None:  # type: ignore[no-untyped-def]
    with pytest.raises(error) as raised:
        call()
    assert type(raised.value) is error
    assert str(raised.value) == message

"""Arm construction, geometry accessors and the forward queries fk, direction and
is_reachable_joints, checked against worked examples and an independent numpy model of the
spherical 5-bar linkage."""

from __future__ import annotations

import math
import re
import struct
from typing import Any

import numpy as np
import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st

import vornalt_torso_kinematics as vtk

Arm = vtk.VornaltArmKinematics

LOOP_MESSAGE = "Spherical 5-bar loop does not close: v_2 and v_4 are too far apart for the coupler."
SIX_DECIMALS = 5e-7 + 1e-12
NAN = float("nan")
INF = float("inf")


def raises_exactly(exc_type: type[BaseException], message: str) -> Any:
    return pytest.raises(exc_type, match=f"^{re.escape(message)}$")


def bits(x: float) -> int:
    return int(struct.unpack("<Q", struct.pack("<d", x))[0])


def geometry(arm: Any) -> tuple[float, float, bool]:
    return (arm.arm_arc(), arm.coupler_arc(), arm.mirror())


def same_float(x: float, y: float) -> bool:
    return bits(x) == bits(y) or (math.isnan(x) and math.isnan(y))


# --------------------------------------------------------------------------------------------
# Construction and accessors


@pytest.mark.parametrize(
    ("args", "kwargs", "expected"),
    [
        pytest.param((), {}, (0.7, 0.5, False), id="defaults"),
        pytest.param((0.6,), {}, (0.6, 0.5, False), id="arm_arc"),
        pytest.param((0.6, 0.4), {}, (0.6, 0.4, False), id="two-positional"),
        pytest.param((0.6, 0.4, True), {}, (0.6, 0.4, True), id="three-positional"),
        pytest.param((), {"coupler_arc": 0.6, "mirror": True}, (0.7, 0.6, True), id="keywords"),
        pytest.param((), {"mirror": False}, (0.7, 0.5, False), id="mirror-false"),
        pytest.param((-1.0, 0.0), {}, (-1.0, 0.0, False), id="negative-and-zero"),
        pytest.param((1, 0), {}, (1.0, 0.0, False), id="ints"),
        pytest.param((-0.0, -0.0), {}, (-0.0, -0.0, False), id="negative-zeros"),
        pytest.param((NAN, NAN), {}, (NAN, NAN, False), id="nan"),
        pytest.param((INF, -INF), {}, (INF, -INF, False), id="infinities"),
        pytest.param((10.0, 4.0), {}, (10.0, 4.0, False), id="beyond-pi"),
        pytest.param((5e-324, 1e308), {}, (5e-324, 1e308, False), id="extremes"),
        pytest.param((np.float64(0.25), np.float32(0.5), np.True_), {}, (0.25, 0.5, True), id="numpy"),
        pytest.param((), {"mirror": np.False_}, (0.7, 0.5, False), id="numpy-false"),
    ],
)
def test_construction_stores_values_unchanged(
    args: tuple[Any, ...], kwargs: dict[str, Any], expected: tuple[float, float, bool]
) -> None:
    built = Arm(*args, **kwargs)
    assert type(built) is Arm
    arm_arc, coupler_arc, mirror = geometry(built)
    assert type(arm_arc) is float and type(coupler_arc) is float
    assert same_float(arm_arc, expected[0])
    assert same_float(coupler_arc, expected[1])
    assert mirror is expected[2]
    # Accessors are stable.
    assert same_float(built.arm_arc(), arm_arc)


def test_default_constants_are_exact() -> None:
    assert bits(Arm().arm_arc()) == 0x3FE6666666666666
    assert bits(Arm().coupler_arc()) == 0x3FE0000000000000


@pytest.mark.parametrize(
    ("factory", "mirror"),
    [(Arm.default_left, False), (Arm.default_right, True)],
)
def test_default_arms(factory: Any, mirror: bool) -> None:
    first, second = factory(), factory()
    assert type(first) is Arm
    assert first is not second
    assert geometry(first) == (0.7, 0.5, mirror)
    assert bits(first.arm_arc()) == 0x3FE6666666666666
    # The default left arm is the all-defaults constructor; the right one is it mirrored.
    reference = Arm(mirror=mirror)
    for pair in [(0.0, 0.0), (0.3, -0.2), (-0.4, 0.1)]:
        assert first.fk(*pair) == reference.fk(*pair)


# --------------------------------------------------------------------------------------------
# Worked examples

LEFT_00 = [[0.334817, 0.707107, 0.622814], [-0.880792, 0.000000, 0.473503], [0.334817, -0.707107, 0.622814]]
RIGHT_00 = [[-0.334817, -0.707107, -0.622814], [0.880792, 0.000000, -0.473503], [0.334817, -0.707107, 0.622814]]
LEFT_03 = [[0.232089, 0.712017, 0.662696], [-0.755315, -0.297360, 0.584017], [0.612890, -0.636088, 0.468783]]


@pytest.mark.parametrize(
    ("mirror", "joints", "expected"),
    [
        pytest.param(False, (0.0, 0.0), LEFT_00, id="left-zero"),
        pytest.param(True, (0.0, 0.0), RIGHT_00, id="right-zero"),
        pytest.param(False, (0.3, -0.2), LEFT_03, id="left-0.3--0.2"),
    ],
)
def test_worked_examples(mirror: bool, joints: tuple[float, float], expected: list[list[float]]) -> None:
    arm = Arm.default_right() if mirror else Arm.default_left()
    rotation = arm.fk(*joints)
    assert np.allclose(rotation, expected, rtol=0, atol=SIX_DECIMALS)
    direction = arm.direction(*joints)
    assert np.allclose(direction, [row[2] for row in expected], rtol=0, atol=SIX_DECIMALS)
    assert arm.is_reachable_joints(*joints) is True


def test_stretch_limit() -> None:
    # Tips pi/2 - 1.4 apart: the coupler must be at least half of that to close the loop.
    with raises_exactly(RuntimeError, LOOP_MESSAGE):
        Arm(0.7, 0.0853).fk(0.0, 0.0)
    assert Arm(0.7, 0.0853).is_reachable_joints(0.0, 0.0) is False
    assert np.allclose(Arm(0.7, 0.0854).direction(0.0, 0.0), [0.707107, 0.000561, 0.707107], rtol=0,
                       atol=SIX_DECIMALS)
    assert np.allclose(Arm(0.7, 0.0855).direction(0.0, 0.0), [0.707101, 0.004177, 0.707101], rtol=0,
                       atol=SIX_DECIMALS)


JOINT_PAIRS = [(0.0, 0.0), (0.3, -0.2), (-0.3, 0.2), (0.5, 0.5), (-0.7, -0.1), (0.25, 0.6)]


@pytest.mark.parametrize("mirror", [False, True])
@pytest.mark.parametrize("joints", JOINT_PAIRS)
def test_direction_is_the_last_column_of_fk(mirror: bool, joints: tuple[float, float]) -> None:
    arm = Arm(mirror=mirror)
    rotation = arm.fk(*joints)
    assert arm.direction(*joints) == [row[2] for row in rotation]


LOOP_FAILURES = [(1.0, 1.0), (2.0, 0.0), (0.0, 2.0), (math.pi, 0.0)]


@pytest.mark.parametrize("mirror", [False, True])
@pytest.mark.parametrize("joints", LOOP_FAILURES)
def test_loop_not_closed(mirror: bool, joints: tuple[float, float]) -> None:
    arm = Arm(mirror=mirror)
    for query in (arm.fk, arm.direction):
        with raises_exactly(RuntimeError, LOOP_MESSAGE) as info:
            query(*joints)
        assert type(info.value) is RuntimeError
        assert info.value.args == (LOOP_MESSAGE,)
    assert arm.is_reachable_joints(*joints) is False
    assert arm.is_reachable_joints(0.0, 0.0) is True


@pytest.mark.parametrize("coupler_arc", [0.05, 0.5, 1.0, math.pi / 2, 2.0, 3.0])
def test_coinciding_tips_never_close(coupler_arc: float) -> None:
    arm = Arm(math.pi / 4, coupler_arc)
    with raises_exactly(RuntimeError, LOOP_MESSAGE):
        arm.fk(0.0, 0.0)
    with raises_exactly(RuntimeError, LOOP_MESSAGE):
        arm.direction(0.0, 0.0)
    assert arm.is_reachable_joints(0.0, 0.0) is False


@pytest.mark.parametrize(
    ("arm_args", "joints"),
    [
        pytest.param((), (NAN, 0.0), id="nan-theta_a"),
        pytest.param((), (0.0, NAN), id="nan-theta_b"),
        pytest.param((), (INF, 0.0), id="inf-theta_a"),
        pytest.param((), (0.0, -INF), id="-inf-theta_b"),
        pytest.param((NAN,), (0.0, 0.0), id="nan-arm_arc"),
        pytest.param((0.7, NAN), (0.0, 0.0), id="nan-coupler_arc"),
        pytest.param((0.7, 0.5, True), (NAN, NAN), id="nan-mirrored"),
    ],
)
def test_not_a_number_flows_through(arm_args: tuple[Any, ...], joints: tuple[float, float]) -> None:
    arm = Arm(*arm_args)
    rotation = arm.fk(*joints)
    assert len(rotation) == 3 and all(len(row) == 3 for row in rotation)
    assert all(math.isnan(x) for row in rotation for x in row)
    direction = arm.direction(*joints)
    assert len(direction) == 3 and all(math.isnan(x) for x in direction)
    assert arm.is_reachable_joints(*joints) is True


@pytest.mark.parametrize("joints", [(0, 0), (1, 0), (0, -1), (1, -1), (2, 2), (-3, 1)])
def test_int_angles_equal_float_angles(joints: tuple[int, int]) -> None:
    arm = Arm(0.7, 1.0)
    as_floats = (float(joints[0]), float(joints[1]))
    assert arm.is_reachable_joints(*joints) is arm.is_reachable_joints(*as_floats)
    if arm.is_reachable_joints(*as_floats):
        assert arm.fk(*joints) == arm.fk(*as_floats)
        assert arm.direction(*joints) == arm.direction(*as_floats)
    else:
        with raises_exactly(RuntimeError, LOOP_MESSAGE):
            arm.fk(*joints)


def test_fk_of_int_zero_angles_matches_float(arm: Any) -> None:
    assert arm.fk(0, 0) == arm.fk(0.0, 0.0)


def test_angles_are_not_wrapped(arm: Any) -> None:
    # Angles enter only through sine and cosine: a full turn lands on (nearly) the same pose,
    # computed from the unwrapped value.
    assert np.allclose(arm.fk(0.3 + 2 * math.pi, -0.2 - 4 * math.pi), arm.fk(0.3, -0.2), rtol=0, atol=1e-12)


@pytest.mark.parametrize(
    ("args", "kwargs", "exc_type", "message"),
    [
        pytest.param(("a", 0.0), {}, TypeError, "argument 'theta_a': must be real number, not str", id="str"),
        pytest.param((0.0, None), {}, TypeError, "argument 'theta_b': must be real number, not NoneType",
                     id="None"),
        pytest.param((0.0,), {}, TypeError,
                     "VornaltArmKinematics.is_reachable_joints() missing 1 required positional argument: 'theta_b'",
                     id="missing"),
        pytest.param((0.0, 0.0, 0.0), {}, TypeError,
                     "VornaltArmKinematics.is_reachable_joints() takes 2 positional arguments but 3 were given",
                     id="surplus"),
        pytest.param((1.0, 1.0), {"phi": 0}, TypeError,
                     "VornaltArmKinematics.is_reachable_joints() got an unexpected keyword argument 'phi'",
                     id="keyword"),
        pytest.param((1.0, 10**400), {}, OverflowError, "int too large to convert to float", id="overflow"),
    ],
)
def test_is_reachable_joints_still_raises_for_bad_arguments(
    arm: Any, args: tuple[Any, ...], kwargs: dict[str, Any], exc_type: type[Exception], message: str
) -> None:
    with raises_exactly(exc_type, message):
        arm.is_reachable_joints(*args, **kwargs)


# --------------------------------------------------------------------------------------------
# Independent model: Rodrigues rotations and a symmetric construction of the coupler joint.

X = np.array([1.0, 0.0, 0.0])
Z = np.array([0.0, 0.0, 1.0])
EPS = np.finfo(float).eps


def rotation_about(axis: np.ndarray, angle: float) -> np.ndarray:
    k = axis / np.linalg.norm(axis)
    cross = np.array([[0.0, -k[2], k[1]], [k[2], 0.0, -k[0]], [-k[1], k[0], 0.0]])
    result: np.ndarray = np.eye(3) + math.sin(angle) * cross + (1.0 - math.cos(angle)) * (cross @ cross)
    return result


def tilt(v: np.ndarray, toward: np.ndarray, angle: float) -> np.ndarray:
    """Turn v by `angle` within the plane of v and `toward`, moving it toward `toward`."""
    result: np.ndarray = rotation_about(np.cross(v, toward), angle) @ v
    return result


class ModelOutcome:
    def __init__(self, rotation: np.ndarray | None, margin: float, conditioning: float) -> None:
        self.rotation = rotation  # None: the loop does not close
        self.margin = margin  # distance of the closure test from its boundary
        self.conditioning = conditioning  # how far from the degenerate configurations


def model_fk(arm_arc: float, coupler_arc: float, mirror: bool, theta_a: float, theta_b: float) -> ModelOutcome:
    m = -1.0 if mirror else 1.0
    v1 = Z
    v5 = m * X
    v2 = rotation_about(v1, theta_a) @ tilt(v1, m * X, arm_arc)
    v4 = rotation_about(v5, theta_b) @ tilt(v5, Z, arm_arc)

    # v_3 is equidistant from both tips, so it lies in the bisecting plane: its component in the
    # plane of the tips is along v2 + v4, its remaining component along the normal v2 x v4.
    normal = np.cross(v2, v4)
    s = float(np.linalg.norm(normal))
    if s < 1e-3:
        return ModelOutcome(None, 0.0, s)
    in_plane = math.cos(coupler_arc) / (1.0 + float(v2 @ v4)) * (v2 + v4)
    h = 1.0 - float(in_plane @ in_plane)
    if h < 0.0:
        return ModelOutcome(None, -h, s)
    v3 = in_plane + math.sqrt(h) * normal / s  # positive branch: toward v2 x v4

    mid = (v2 + v4) / np.linalg.norm(v2 + v4)
    tangent = mid - float(mid @ v3) * v3
    w = float(np.linalg.norm(tangent))
    x_axis = tangent / w
    y_axis = np.cross(v3, x_axis)
    return ModelOutcome(np.column_stack([x_axis, y_axis, v3]), h, min(s, w))


def test_model_reproduces_the_worked_example() -> None:
    outcome = model_fk(0.7, 0.5, False, 0.3, -0.2)
    assert outcome.rotation is not None
    assert np.allclose(outcome.rotation, LEFT_03, rtol=0, atol=SIX_DECIMALS)
    mirrored = model_fk(0.7, 0.5, True, 0.0, 0.0)
    assert mirrored.rotation is not None
    assert np.allclose(mirrored.rotation, RIGHT_00, rtol=0, atol=SIX_DECIMALS)
    assert model_fk(0.7, 0.5, False, 1.0, 1.0).rotation is None


angles = st.floats(min_value=-7.0, max_value=7.0, allow_nan=False)
arm_arcs = st.floats(min_value=0.05, max_value=1.5)
coupler_arcs = st.floats(min_value=0.05, max_value=math.pi / 2 - 0.05)


@settings(max_examples=150, deadline=None)
@given(arm_arc=arm_arcs, coupler_arc=coupler_arcs, mirror=st.booleans(), theta_a=angles, theta_b=angles)
def test_fk_matches_independent_model(
    arm_arc: float, coupler_arc: float, mirror: bool, theta_a: float, theta_b: float
) -> None:
    outcome = model_fk(arm_arc, coupler_arc, mirror, theta_a, theta_b)
    assume(outcome.conditioning > 1e-3)
    assume(outcome.margin > 1e-8)
    arm = Arm(arm_arc, coupler_arc, mirror)
    if outcome.rotation is None:
        with raises_exactly(RuntimeError, LOOP_MESSAGE):
            arm.fk(theta_a, theta_b)
        with raises_exactly(RuntimeError, LOOP_MESSAGE):
            arm.direction(theta_a, theta_b)
        assert arm.is_reachable_joints(theta_a, theta_b) is False
        return
    # Rounding grows as the tips' separation (or the tangent towards their midpoint) shrinks and
    # as the loop nears its stretch limit: about eps / (s^2 sqrt(h)), and 64 times that bounds it.
    rounding = 64 * EPS / (outcome.conditioning**2 * math.sqrt(outcome.margin))
    rotation = np.array(arm.fk(theta_a, theta_b))
    assert np.allclose(rotation, outcome.rotation, rtol=0, atol=1e-9 + rounding)
    assert np.allclose(arm.direction(theta_a, theta_b), outcome.rotation[:, 2], rtol=0, atol=1e-9 + rounding)
    assert arm.is_reachable_joints(theta_a, theta_b) is True
    # A proper rotation.
    assert np.allclose(rotation.T @ rotation, np.eye(3), rtol=0, atol=1e-12 + rounding)
    assert abs(np.linalg.det(rotation) - 1.0) < 1e-12 + rounding


HALF_TURN_Z = np.diag([-1.0, -1.0, 1.0])


@settings(max_examples=150, deadline=None)
@given(arm_arc=arm_arcs, coupler_arc=coupler_arcs, theta_a=angles, theta_b=angles)
def test_mirrored_arm_is_a_half_turn_about_z(arm_arc: float, coupler_arc: float, theta_a: float,
                                             theta_b: float) -> None:
    left = Arm(arm_arc, coupler_arc, False)
    right = Arm(arm_arc, coupler_arc, True)
    reachable = left.is_reachable_joints(theta_a, theta_b)
    assert right.is_reachable_joints(theta_a, theta_b) is reachable
    if not reachable:
        with raises_exactly(RuntimeError, LOOP_MESSAGE):
            right.fk(theta_a, theta_b)
        return
    outcome = model_fk(arm_arc, coupler_arc, False, theta_a, theta_b)
    # Away from the stretched-out fallback: the model must close the loop too, not only by a
    # rounding of h either way.
    assume(outcome.rotation is not None and outcome.conditioning > 1e-6)
    left_rotation = np.array(left.fk(theta_a, theta_b))
    right_rotation = np.array(right.fk(theta_a, theta_b))
    assert np.allclose(right_rotation, HALF_TURN_Z @ left_rotation, rtol=0, atol=1e-12)
    assert np.allclose(right.direction(theta_a, theta_b), HALF_TURN_Z @ left_rotation[:, 2], rtol=0, atol=1e-12)

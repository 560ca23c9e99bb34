"""The call frame's shortcuts (positional-only binding, exact floats read in place) give what
the general paths give, bit for bit, and step aside whenever Python code could run."""

from __future__ import annotations

import math
import struct
from typing import Any

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import vornalt_torso_kinematics as vtk

angles = st.floats(min_value=-4.0, max_value=4.0, allow_nan=False)
any_floats = st.floats(allow_nan=True, allow_infinity=True)


def bits(value: Any) -> Any:
    """The bit patterns of every float in a nested result, so that -0.0 and NaN compare."""
    if isinstance(value, float):
        return struct.pack("<d", value)
    if isinstance(value, (list, tuple)):
        return type(value)(bits(item) for item in value)
    return value


class Exact(float):
    """A float subclass: never read through the exact-float shortcut."""


def container_forms(values: list[float]) -> list[Any]:
    """The same three numbers as every kind of sequence the converters accept."""
    return [
        list(values),
        tuple(values),
        [Exact(v) for v in values],
        (values[0], Exact(values[1]), values[2]),
        np.array(values),
        [np.float64(v) for v in values],
    ]


@given(st.lists(any_floats, min_size=3, max_size=3))
def test_neck_fk_reads_every_sequence_form_alike(joints: list[float]) -> None:
    neck = vtk.VornaltNeckKinematics()
    expected = bits(neck.fk(joints))
    for form in container_forms(joints):
        assert bits(neck.fk(form)) == expected


@given(angles, angles)
def test_matrix_rows_of_every_form_give_the_same_inverse(theta_a: float, theta_b: float) -> None:
    arm = vtk.VornaltArmKinematics.default_left()
    if not arm.is_reachable_joints(theta_a, theta_b):
        return
    rotation = arm.fk(theta_a, theta_b)
    expected = arm.is_reachable_orientation(rotation)
    forms = [tuple(tuple(row) for row in rotation), np.array(rotation),
             [container_forms(row)[k] for k, row in enumerate(rotation)]]
    for form in forms:
        assert arm.is_reachable_orientation(form) is expected
    if expected:
        pair = bits(arm.ik(rotation))
        assert all(bits(arm.ik(form)) == pair for form in forms)


@given(angles, angles)
def test_keywords_bind_as_positions(theta_a: float, theta_b: float) -> None:
    arm = vtk.VornaltArmKinematics.default_left()
    calls = [
        lambda f: f(theta_a, theta_b),
        lambda f: f(theta_a, theta_b=theta_b),
        lambda f: f(theta_b=theta_b, theta_a=theta_a),
    ]
    for method in (arm.fk, arm.direction, arm.is_reachable_joints):
        outcomes = []
        for call in calls:
            try:
                outcomes.append(bits(call(method)))
            except RuntimeError as error:
                outcomes.append(str(error))
        assert outcomes.count(outcomes[0]) == len(outcomes)


@given(any_floats, any_floats, st.booleans())
def test_constructor_keywords_bind_as_positions(arm_arc: float, coupler_arc: float,
                                                mirror: bool) -> None:
    made = [
        vtk.VornaltArmKinematics(arm_arc, coupler_arc, mirror),
        vtk.VornaltArmKinematics(arm_arc, coupler_arc, mirror=mirror),
        vtk.VornaltArmKinematics(mirror=mirror, coupler_arc=coupler_arc, arm_arc=arm_arc),
    ]
    geometry = [bits((a.arm_arc(), a.coupler_arc())) + (a.mirror(),) for a in made]
    assert geometry.count(geometry[0]) == 3


@pytest.mark.parametrize("call, message", [
    (lambda arm: arm.fk(), "VornaltArmKinematics.fk() missing 2 required positional arguments: "
                           "'theta_a' and 'theta_b'"),
    (lambda arm: arm.fk(0.1), "VornaltArmKinematics.fk() missing 1 required positional "
                              "argument: 'theta_b'"),
    (lambda arm: arm.fk(0.1, 0.2, 0.3), "VornaltArmKinematics.fk() takes 2 positional arguments "
                                        "but 3 were given"),
    (lambda arm: arm.ik_from_direction(), "VornaltArmKinematics.ik_from_direction() missing 1 "
                                          "required positional argument: 'v3'"),
    (lambda arm: arm.ik_from_direction([1, 1, 1], None, None),
     "VornaltArmKinematics.ik_from_direction() takes from 1 to 2 positional arguments but 3 "
     "were given"),
    (lambda arm: vtk.VornaltArmKinematics(0.7, 0.5, False, 1),
     "VornaltArmKinematics.__new__() takes from 0 to 3 positional arguments but 4 were given"),
    (lambda arm: vtk.VornaltArmKinematics(0.7, 0.5, False, mirror=True),
     "VornaltArmKinematics.__new__() got multiple values for argument 'mirror'"),
])
def test_calls_outside_the_shortcut_still_raise_the_binder_errors(call: Any, message: str) -> None:
    arm = vtk.VornaltArmKinematics.default_left()
    with pytest.raises(TypeError) as raised:
        call(arm)
    assert str(raised.value) == message


class Shrinks:
    """A number whose conversion empties the list that holds it."""

    def __init__(self, holder: list[Any]) -> None:
        self.holder = holder

    def __float__(self) -> float:
        self.holder.clear()
        return 0.25


class Replaces:
    """A number whose conversion swaps the list's later items for other floats."""

    def __init__(self, holder: list[Any]) -> None:
        self.holder = holder

    def __float__(self) -> float:
        self.holder[1:] = [7.0, 8.0]
        return 0.25


def test_a_list_emptied_by_an_item_conversion_raises_index_error() -> None:
    joints: list[Any] = [0.1, 0.2, 0.3]
    joints[0] = Shrinks(joints)
    with pytest.raises(IndexError):
        vtk.VornaltNeckKinematics().fk(joints)


def test_items_are_read_after_the_conversions_before_them() -> None:
    # The general path fetches item i only after converting item i - 1, so it sees the swap.
    neck = vtk.VornaltNeckKinematics()
    joints: list[Any] = [0.1, 0.2, 0.3]
    joints[0] = Replaces(joints)
    assert bits(neck.fk(joints)) == bits(neck.fk([0.25, 7.0, 8.0]))


@pytest.mark.parametrize("rows", [
    [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0]],
    [[1.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]],
    [[1.0, 0.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]],
    ((1.0, 0.0, 0.0), (0.0, 1.0), (0.0, 0.0, 1.0)),
])
def test_exact_float_rows_of_the_wrong_length_raise(rows: Any) -> None:
    with pytest.raises(ValueError, match=r"^expected a sequence of length 3 \(got [0-9]\)$"):
        vtk.VornaltNeckKinematics().ik(rows)


def test_accessors_return_fresh_equal_floats() -> None:
    arm = vtk.VornaltArmKinematics(-0.0, math.inf, True)
    assert bits(arm.arm_arc()) == bits(-0.0)
    assert arm.coupler_arc() == math.inf
    assert arm.mirror() is True
    assert vtk.VornaltArmKinematics.default_right().mirror() is True

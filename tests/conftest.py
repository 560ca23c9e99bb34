"""Shared fixtures for the Python test suites of vornalt_torso_kinematics, and hypothesis's
profiles: "repeatable", the default, draws the same cases on every run and keeps no example
database; "explore" draws new ones each time (TORSO_HYPOTHESIS_PROFILE=explore, or pytest's
--hypothesis-profile=explore, with --hypothesis-seed to repeat a run)."""

from __future__ import annotations

import math
import os

import pytest
from hypothesis import settings

import vornalt_torso_kinematics as vtk

settings.register_profile("repeatable", derandomize=True, database=None, print_blob=True)
settings.register_profile("explore", derandomize=False, database=None, print_blob=True)
settings.load_profile(os.environ.get("TORSO_HYPOTHESIS_PROFILE", "repeatable"))


@pytest.fixture
def arm() -> vtk.VornaltArmKinematics:
    """The default left arm (arm_arc 0.7, coupler_arc 0.5, not mirrored)."""
    return vtk.VornaltArmKinematics.default_left()


@pytest.fixture
def right_arm() -> vtk.VornaltArmKinematics:
    """The default right arm (the left arm, mirrored)."""
    return vtk.VornaltArmKinematics.default_right()


@pytest.fixture
def neck() -> vtk.VornaltNeckKinematics:
    return vtk.VornaltNeckKinematics()


def edge_distance(arm: vtk.VornaltArmKinematics, v3: list[float]) -> float:
    """How far the unit direction v3 lies, in arc from either joint axis, from the edge of the
    directions an arm and the coupler can span together: a + c (in line) or |a - c| (folded)."""
    a, c = arm.arm_arc(), arm.coupler_arc()
    arcs = (math.acos(v3[2]), math.acos((-1.0 if arm.mirror() else 1.0) * v3[0]))
    return min(abs(arc - edge) for arc in arcs for edge in (a + c, abs(a - c)))

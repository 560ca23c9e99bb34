"""Shared fixtures for the Python test suites of vornalt_torso_kinematics."""

from __future__ import annotations

import pytest

import vornalt_torso_kinematics as vtk


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

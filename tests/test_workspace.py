"""The workspace pictures: the files, and the numbers drawn in them."""

from __future__ import annotations

import importlib.util
import math
import sys
from pathlib import Path
from types import ModuleType

import numpy as np
import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st

import vornalt_torso_kinematics as vtk
from conftest import edge_distance

SCRIPT = Path(__file__).resolve().parent.parent / "examples" / "workspace.py"
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


@pytest.fixture(scope="module")
def workspace() -> ModuleType:
    module_spec = importlib.util.spec_from_file_location("workspace", SCRIPT)
    assert module_spec is not None and module_spec.loader is not None
    module = importlib.util.module_from_spec(module_spec)
    sys.modules["workspace"] = module
    module_spec.loader.exec_module(module)
    return module


def test_renders_every_picture_as_png(
    workspace: ModuleType, tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    workspace.main(["--out", str(tmp_path / "pictures")])
    names = sorted(path.name for path in (tmp_path / "pictures").iterdir())
    assert names == ["directions.png", "joint_space.png", "linkage.png", "neck_gimbal_lock.png"]
    for name in names:
        data = (tmp_path / "pictures" / name).read_bytes()
        assert data.startswith(PNG_SIGNATURE) and len(data) > 20_000, name
    out = capsys.readouterr().out
    assert "neck: ik reports gimbal lock for |pitch| > 1.5693821 rad (89.9190°)" in out
    assert out.count("% of the sphere reachable") == 2


def hint_grid_pairs(arm: vtk.VornaltArmKinematics, d: list[float]) -> set[tuple[float, float]]:
    """The reaching pairs found from a dense grid of hints, each rounded to 9 decimals."""
    found = set()
    for near_a in np.linspace(-4.0, 4.0, 41):
        for near_b in np.linspace(-4.0, 4.0, 41):
            pair = arm.ik_from_direction(d, near=(float(near_a), float(near_b)))
            found.add((round(pair[0], 9), round(pair[1], 9)))
    return found


@pytest.mark.parametrize(
    ("joints", "expected"),
    [
        # The three pairs that reach the direction of (0.3, -0.4); the fourth candidate closes
        # the loop at the mirror image of that direction.
        ((0.3, -0.4), {(0.3, -0.4), (1.598011, -0.4), (0.3, -1.193961)}),
        ((0.3, -0.2), {(0.3, -0.2), (1.144746, -0.2), (0.3, -1.588839)}),
    ],
)
def test_reaching_pairs_of_known_directions(
    workspace: ModuleType,
    joints: tuple[float, float],
    expected: set[tuple[float, float]],
) -> None:
    arm = vtk.VornaltArmKinematics.default_left()
    d = arm.direction(*joints)
    pairs = workspace.reaching_pairs(arm, d)
    assert {(round(a, 6), round(b, 6)) for a, b in pairs} == expected
    assert len(pairs) == len(hint_grid_pairs(arm, d))


@pytest.mark.parametrize("d", [[0.0, 0.0, 1.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0, 0, 0]])
def test_no_pairs_for_unreachable_directions(workspace: ModuleType, d: list[float]) -> None:
    assert workspace.reaching_pairs(vtk.VornaltArmKinematics.default_left(), d) == []


@settings(max_examples=150, deadline=None)
@given(
    mirror=st.booleans(),
    theta_a=st.floats(-math.pi, math.pi),
    theta_b=st.floats(-math.pi, math.pi),
)
def test_reaching_pairs_find_the_pair_that_made_the_direction(
    workspace: ModuleType, mirror: bool, theta_a: float, theta_b: float
) -> None:
    arm = vtk.VornaltArmKinematics(mirror=mirror)
    # Away from the edge of the closing region, where the direction is well defined.
    step = 1e-3
    assume(all(arm.is_reachable_joints(theta_a + da, theta_b + db)
               for da in (-step, 0.0, step) for db in (-step, 0.0, step)))
    d = arm.direction(theta_a, theta_b)
    axis_b = [-1.0 if mirror else 1.0, 0.0, 0.0]
    assume(min(math.dist(d, axis) for axis in ([0.0, 0.0, 1.0], axis_b)) > 1e-3)
    # Nor at arc a + c or |a - c| from an axis, an arm in line with the coupler: whether that
    # arm's tip can be found there is down to rounding.
    assume(edge_distance(arm, d) > 1e-10)
    pairs = workspace.reaching_pairs(arm, d)
    assert 1 <= len(pairs) <= 4
    assert any(abs(a - theta_a) < 1e-6 and abs(b - theta_b) < 1e-6 for a, b in pairs)
    for pair in pairs:
        assert math.dist(arm.direction(*pair), d) < 1e-6


def test_direction_maps_of_the_mirrored_arms_agree(workspace: ModuleType) -> None:
    # The right arm points where the left arm does, turned half a turn about z.
    left = workspace.direction_map(vtk.VornaltArmKinematics.default_left(), 0.0, step_deg=5.0)
    right = workspace.direction_map(vtk.VornaltArmKinematics.default_right(), 180.0, step_deg=5.0)
    assert left.counts.shape == (36, 72)
    assert np.count_nonzero(left.counts != right.counts) <= 2
    assert 0.05 < left.reached_fraction() < 0.15
    assert set(np.unique(left.counts)) == {0.0, 1.0, 2.0, 3.0, 4.0}


def test_joint_map_marks_where_the_loop_closes(workspace: ModuleType) -> None:
    arm = vtk.VornaltArmKinematics.default_left()
    grid = workspace.joint_map(arm, samples=41)
    for i, theta_b in enumerate(grid.theta):
        for j, theta_a in enumerate(grid.theta):
            closes = arm.is_reachable_joints(float(theta_a), float(theta_b))
            assert np.isnan(grid.elevation_deg[i, j]) != closes
    centre = 20  # theta = 0
    expected = math.degrees(math.asin(arm.direction(0.0, 0.0)[2]))
    assert grid.elevation_deg[centre, centre] == pytest.approx(expected, abs=1e-12)
    assert 0.1 < grid.closed_fraction() < 0.3


def test_gimbal_lock_limit_is_the_neck_threshold(workspace: ModuleType) -> None:
    limit = workspace.gimbal_lock_limit(vtk.VornaltNeckKinematics())
    assert limit == pytest.approx(math.asin(1.0 - 1e-6), abs=1e-9)

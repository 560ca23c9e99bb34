"""Pictures of the torso's workspace, drawn with matplotlib.

- linkage.png: the spherical 5-bar linkage of the left arm at one joint pair.
- directions.png: for each default arm, the pointing directions it reaches, on a map of the
  sphere, coloured by how many joint pairs reach each direction.
- joint_space.png: for each default arm, the joint pairs (θ_A, θ_B) where the loop closes,
  coloured by the elevation of the pointing direction.
- neck_gimbal_lock.png: the neck's round trip over the whole pitch range, and the narrow band
  around ±90° where the inverse kinematics reports gimbal lock.

Usage: python examples/workspace.py [--out DIRECTORY]   (default: build/pictures)

The maps come from the module's own calls. The linkage figure places the input-arm tips by
the arm's formulas and checks them against the module's pointing direction. The output is the
same on every run.
"""

from __future__ import annotations

import argparse
import math
from collections.abc import Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any, cast

import matplotlib
import matplotlib.pyplot as plt
import numpy as np
import numpy.typing as npt
from matplotlib.axes import Axes
from matplotlib.colors import BoundaryNorm, ListedColormap
from matplotlib.figure import Figure

from vornalt_torso_kinematics import VornaltArmKinematics, VornaltNeckKinematics

# Files only, no window: the same pictures on every machine.
matplotlib.use("Agg")

Grid = npt.NDArray[np.float64]
Pair = tuple[float, float]

# Grid steps of the pictures: fine enough to show the shapes, coarse enough for seconds.
SPHERE_STEP_DEG = 1.0
JOINT_SAMPLES = 241

# How far out along a diagonal of the joint plane the hints of reaching_pairs lie; anything
# well beyond π works, since every returned angle lies in [-π, π].
HINT_REACH = 10.0
# Two returned pairs closer than this in both angles are the same pair.
SAME_PAIR = 1e-9

# The neck reports gimbal lock when 1 - |r[2][0]| falls below this.
GIMBAL_LOCK_TOLERANCE = 1e-6

# Colours of the pictures.
COUNT_COLOURS = ["#d9d9d9", "#fdae61", "#a6d96a", "#1a9641", "#084594"]
UNREACHED_COLOUR = "#d9d9d9"
INPUT_ARM_COLOUR = "#2c7bb6"
COUPLER_COLOUR = "#e66101"
POINTING_COLOUR = "#b2182b"


def default_arms() -> list[tuple[str, VornaltArmKinematics]]:
    return [
        ("left", VornaltArmKinematics.default_left()),
        ("right", VornaltArmKinematics.default_right()),
    ]


# ------------------------------------------------------------------------------------------
# Pointing directions


def reaching_pairs(arm: VornaltArmKinematics, direction: Sequence[float]) -> list[Pair]:
    """Every joint pair that points `arm` along `direction`, without repeats.

    The candidate pairs of one direction are the corners of a rectangle in the (θ_A, θ_B)
    plane: two choices of θ_A (where the tip of arm A can be) times two of θ_B. Given a hint,
    ik_from_direction returns the reaching pair nearest to it. From a hint far out along a
    diagonal of the plane, the corner at that end of the diagonal is the nearest of all four
    whenever it reaches the direction, so the four diagonals find every reaching pair.
    """
    if not arm.is_reachable_direction(direction):
        return []
    pairs: list[Pair] = []
    for sign_a, sign_b in ((1.0, 1.0), (1.0, -1.0), (-1.0, 1.0), (-1.0, -1.0)):
        pair = arm.ik_from_direction(direction, near=(sign_a * HINT_REACH, sign_b * HINT_REACH))
        if all(abs(pair[0] - a) > SAME_PAIR or abs(pair[1] - b) > SAME_PAIR for a, b in pairs):
            pairs.append(pair)
    return pairs


def unit_direction(azimuth: float, elevation: float) -> list[float]:
    """The unit vector at `azimuth` about +z from +x and `elevation` above the xy plane."""
    return [
        math.cos(elevation) * math.cos(azimuth),
        math.cos(elevation) * math.sin(azimuth),
        math.sin(elevation),
    ]


@dataclass(frozen=True)
class DirectionMap:
    azimuth_deg: Grid  # cell edges, from centre - 180 to centre + 180
    elevation_deg: Grid  # cell edges, from -90 to 90
    counts: Grid  # [elevation, azimuth]: joint pairs reaching the cell's centre direction

    def reached_fraction(self) -> float:
        """The share of the sphere's area that the arm can point at."""
        centres = np.radians(0.5 * (self.elevation_deg[:-1] + self.elevation_deg[1:]))
        weights = np.repeat(np.cos(centres)[:, np.newaxis], self.counts.shape[1], axis=1)
        return float(weights[self.counts > 0].sum() / weights.sum())


def direction_map(arm: VornaltArmKinematics, centre_deg: float,
                  step_deg: float = SPHERE_STEP_DEG) -> DirectionMap:
    """Counts the reaching joint pairs on cells of step_deg, azimuths centred on centre_deg."""
    azimuth = np.arange(centre_deg - 180.0, centre_deg + 180.0 + 1e-9, step_deg)
    elevation = np.arange(-90.0, 90.0 + 1e-9, step_deg)
    counts = np.zeros((elevation.size - 1, azimuth.size - 1))
    for i in range(elevation.size - 1):
        el = math.radians(0.5 * (elevation[i] + elevation[i + 1]))
        for j in range(azimuth.size - 1):
            az = math.radians(0.5 * (azimuth[j] + azimuth[j + 1]))
            counts[i, j] = len(reaching_pairs(arm, unit_direction(az, el)))
    return DirectionMap(azimuth, elevation, counts)


def azimuth_of(vector: Sequence[float], centre_deg: float) -> float:
    """The azimuth of `vector` in degrees, within 180 of `centre_deg`."""
    azimuth = math.degrees(math.atan2(vector[1], vector[0]))
    return (azimuth - centre_deg + 180.0) % 360.0 - 180.0 + centre_deg


def elevation_of(vector: Sequence[float]) -> float:
    return math.degrees(math.asin(max(-1.0, min(1.0, vector[2]))))


def draw_directions(maps: Sequence[tuple[str, VornaltArmKinematics, float, DirectionMap]]) -> Figure:
    figure, axes = plt.subplots(1, len(maps), figsize=(14, 5.2), layout="constrained")
    colours = ListedColormap(COUNT_COLOURS)
    norm = BoundaryNorm(np.arange(-0.5, 5.0, 1.0), colours.N)
    mesh = None
    for ax, (name, arm, centre, grid) in zip(axes, maps):
        mesh = ax.pcolormesh(grid.azimuth_deg, grid.elevation_deg, grid.counts, cmap=colours,
                             norm=norm)
        ticks = np.arange(centre - 180.0, centre + 180.1, 30.0)
        ax.set_xticks(ticks, [f"{(t + 180.0) % 360.0 - 180.0:.0f}°" for t in ticks])
        ax.set_yticks(np.arange(-90.0, 90.1, 15.0),
                      [f"{t:.0f}°" for t in np.arange(-90.0, 90.1, 15.0)])
        ax.set_xlabel("azimuth about +z, from +x towards +y")
        ax.set_ylabel("elevation above the xy plane")
        ax.set_title(f"{name} arm (mirror={arm.mirror()}): "
                     f"{100.0 * grid.reached_fraction():.1f}% of the sphere reachable")
        ax.grid(color="white", linewidth=0.5, alpha=0.6)
        # The reachable patch and the axis of joint B; the fraction counts the whole sphere.
        ax.set_xlim(centre - 75.0, centre + 120.0)
        ax.set_ylim(-20.0, 90.0)

        axis_b = 1.0 if not arm.mirror() else -1.0
        ax.plot([azimuth_of([axis_b, 0.0, 0.0], centre)], [0.0], marker="X", color="black",
                markersize=9, linestyle="none")
        ax.annotate(f"joint B axis v_5 = {'+' if axis_b > 0 else '−'}x", (azimuth_of([axis_b, 0, 0], centre), 0.0),
                    xytext=(8, -14), textcoords="offset points")
        ax.annotate("joint A axis v_1 = +z lies along the top edge", (centre, 90.0),
                    xytext=(0, -14), textcoords="offset points", ha="center")
        home = arm.direction(0.0, 0.0)
        ax.plot([azimuth_of(home, centre)], [elevation_of(home)], marker="o", color="white",
                markeredgecolor="black", markersize=7, linestyle="none")
        ax.annotate("direction(0, 0)", (azimuth_of(home, centre), elevation_of(home)),
                    xytext=(8, 6), textcoords="offset points")
    assert mesh is not None
    bar = figure.colorbar(mesh, ax=list(axes), ticks=range(5), shrink=0.9)
    bar.set_label("joint pairs (θ_A, θ_B) that point the arm there")
    figure.suptitle("Pointing directions of the two default arms (arm_arc 0.7, coupler_arc 0.5)")
    return figure


# ------------------------------------------------------------------------------------------
# Joint space


@dataclass(frozen=True)
class JointMap:
    theta: Grid  # sample angles, the same for θ_A and θ_B
    elevation_deg: Grid  # [θ_B, θ_A]: elevation of the pointing direction, NaN where open

    def closed_fraction(self) -> float:
        """The share of the joint square [-π, π]² where the loop closes."""
        return float(np.count_nonzero(~np.isnan(self.elevation_deg)) / self.elevation_deg.size)


def joint_map(arm: VornaltArmKinematics, samples: int = JOINT_SAMPLES) -> JointMap:
    """Samples the joint square [-π, π]² on a grid of samples × samples pairs."""
    theta = np.linspace(-math.pi, math.pi, samples)
    elevation = np.full((theta.size, theta.size), np.nan)
    for i, theta_b in enumerate(theta):
        for j, theta_a in enumerate(theta):
            if arm.is_reachable_joints(float(theta_a), float(theta_b)):
                elevation[i, j] = elevation_of(arm.direction(float(theta_a), float(theta_b)))
    return JointMap(theta, elevation)


def set_angle_ticks(ax: Axes) -> None:
    ticks = [-math.pi, -math.pi / 2, 0.0, math.pi / 2, math.pi]
    labels = ["−π", "−π/2", "0", "π/2", "π"]
    ax.set_xticks(ticks, labels)
    ax.set_yticks(ticks, labels)


def draw_joint_space(maps: Sequence[tuple[str, VornaltArmKinematics, JointMap]]) -> Figure:
    figure, axes = plt.subplots(1, len(maps), figsize=(12, 5.4), layout="constrained")
    colours = plt.get_cmap("viridis").with_extremes(bad=UNREACHED_COLOUR)
    mesh = None
    for ax, (name, arm, grid) in zip(axes, maps):
        mesh = ax.pcolormesh(grid.theta, grid.theta, np.ma.masked_invalid(grid.elevation_deg),
                             cmap=colours, vmin=20.0, vmax=70.0, shading="nearest")
        closed = (~np.isnan(grid.elevation_deg)).astype(float)
        ax.contour(grid.theta, grid.theta, closed, levels=[0.5], colors="black", linewidths=0.8)
        ax.plot([0.0], [0.0], marker="o", color="white", markeredgecolor="black",
                linestyle="none")
        set_angle_ticks(ax)
        ax.set_aspect("equal")
        ax.set_xlabel("θ_A: joint A, about +z (rad)")
        ax.set_ylabel(f"θ_B: joint B, about {'+' if not arm.mirror() else '−'}x (rad)")
        ax.set_title(f"{name} arm: the loop closes on {100.0 * grid.closed_fraction():.1f}% "
                     "of the square\n(grey: the tips are too far apart for the coupler)")
    assert mesh is not None
    bar = figure.colorbar(mesh, ax=list(axes), shrink=0.9)
    bar.set_label("elevation of the pointing direction v_3 (degrees)")
    figure.suptitle("Joint pairs where the 5-bar loop closes")
    return figure


# ------------------------------------------------------------------------------------------
# Neck


def locks(neck: VornaltNeckKinematics, pitch: float) -> bool:
    """Whether the neck's inverse kinematics reports gimbal lock for the head at `pitch`."""
    try:
        neck.ik(neck.fk([0.0, pitch, 0.0]))
    except ValueError:
        return True
    return False


def gimbal_lock_limit(neck: VornaltNeckKinematics) -> float:
    """The largest pitch below π/2 at which ik still answers, found by bisection (radians)."""
    low, high = 1.5, math.pi / 2
    assert not locks(neck, low) and locks(neck, high)
    for _ in range(60):
        middle = 0.5 * (low + high)
        if locks(neck, middle):
            high = middle
        else:
            low = middle
    return low


def draw_neck(neck: VornaltNeckKinematics, limit: float) -> Figure:
    figure, (whole, zoom) = plt.subplots(1, 2, figsize=(13, 5), layout="constrained")

    yaw, roll = 0.5, 0.3
    commanded = np.linspace(-math.pi, math.pi, 1441)
    answers = np.full((commanded.size, 3), np.nan)
    for k, pitch in enumerate(commanded):
        try:
            answers[k] = neck.ik(neck.fk([yaw, float(pitch), roll]))
        except ValueError:
            pass
    for column, label, style in ((0, "yaw", "-"), (1, "pitch", "-"), (2, "roll", "--")):
        whole.plot(np.degrees(commanded), np.degrees(answers[:, column]), style,
                   label=f"{label} read back by ik")
    for edge in (-90.0, 90.0):
        whole.axvline(edge, color=POINTING_COLOUR, linewidth=1.0)
    whole.annotate("gimbal lock at ±90°\n(band ±0.08°, see right)", (90.0, -150.0),
                   xytext=(10, 0), textcoords="offset points", color=POINTING_COLOUR)
    whole.set_xlabel("commanded pitch (degrees), with yaw 28.6° and roll 17.2°")
    whole.set_ylabel("angle returned by ik (degrees)")
    whole.set_xticks(np.arange(-180.0, 180.1, 45.0))
    whole.set_yticks(np.arange(-180.0, 180.1, 45.0))
    whole.grid(alpha=0.3)
    whole.legend(loc="upper left")
    whole.set_title("Round trip ik(fk(yaw, pitch, roll)): beyond ±90° the pitch folds back\n"
                    "and yaw and roll turn by 180° (the same head pose)")

    offsets = np.linspace(-0.3, 0.3, 601) + 0.0005  # degrees from 90°, never exactly on it
    margin = np.empty(offsets.size)
    locked = np.empty(offsets.size, dtype=bool)
    for k, offset in enumerate(offsets):
        steep = math.pi / 2 + math.radians(float(offset))
        margin[k] = max(1.0 - abs(neck.fk([0.0, steep, 0.0])[2][0]), 1e-17)
        locked[k] = locks(neck, steep)
    zoom.semilogy(90.0 + offsets, margin, color="black", label="1 − |r[2][0]| of the head pose")
    zoom.axhline(GIMBAL_LOCK_TOLERANCE, color=POINTING_COLOUR, linestyle="--",
                 label="threshold 1e-6")
    zoom.fill_between(90.0 + offsets, 1e-17, 1.0, where=locked, color=POINTING_COLOUR,
                      alpha=0.2, label="ik raises ValueError (gimbal lock)")
    band = math.degrees(math.pi / 2 - limit)
    zoom.set_ylim(1e-12, 1e-4)
    zoom.set_xlabel("commanded pitch (degrees)")
    zoom.set_ylabel("1 − |r[2][0]|  (r[2][0] = −sin pitch)")
    zoom.set_title(f"Near 90°: ik refuses |pitch| > {math.degrees(limit):.4f}°\n"
                   f"(within {band:.4f}° = {math.pi / 2 - limit:.7f} rad of 90°)")
    zoom.legend(loc="lower left")
    zoom.grid(alpha=0.3, which="both")
    figure.suptitle("Neck: R = Rz(yaw)·Ry(pitch)·Rx(roll)")
    return figure


# ------------------------------------------------------------------------------------------
# The linkage


def slerp(p: Sequence[float], q: Sequence[float], samples: int = 50) -> Grid:
    """Points on the shorter great-circle arc from the unit vector p to the unit vector q."""
    a, b = np.asarray(p, dtype=float), np.asarray(q, dtype=float)
    angle = math.acos(max(-1.0, min(1.0, float(a @ b))))
    t = np.linspace(0.0, 1.0, samples)[:, np.newaxis]
    return cast(Grid, (np.sin((1.0 - t) * angle) * a + np.sin(t * angle) * b) / math.sin(angle))


def arc_between(p: Sequence[float], q: Sequence[float]) -> float:
    return math.acos(max(-1.0, min(1.0, float(np.dot(p, q)))))


def draw_linkage(arm: VornaltArmKinematics, theta_a: float, theta_b: float) -> Figure:
    """The left arm's linkage on the unit sphere at (theta_a, theta_b)."""
    a, c = arm.arm_arc(), arm.coupler_arc()
    # The fixed axes and the tips of the input arms, as the module places them.
    v1 = [0.0, 0.0, 1.0]
    v5 = [1.0, 0.0, 0.0]
    v2 = [math.sin(a) * math.cos(theta_a), math.sin(a) * math.sin(theta_a), math.cos(a)]
    v4 = [math.cos(a), -math.sin(a) * math.sin(theta_b), math.sin(a) * math.cos(theta_b)]
    rotation = np.asarray(arm.fk(theta_a, theta_b))
    v3 = list(rotation[:, 2])
    # The coupler joint lies at arc c from both tips.
    assert abs(arc_between(v2, v3) - c) < 1e-9 and abs(arc_between(v4, v3) - c) < 1e-9

    figure = plt.figure(figsize=(9, 8.5), layout="constrained")
    # A 3D axes (mpl_toolkits carries no type information).
    ax: Any = figure.add_subplot(projection="3d")
    u, v = np.meshgrid(np.linspace(0, 2 * math.pi, 37), np.linspace(0, math.pi, 19))
    ax.plot_wireframe(np.cos(u) * np.sin(v), np.sin(u) * np.sin(v), np.cos(v),
                      color="#bbbbbb", linewidth=0.3)

    def line(points: Grid, **style: object) -> None:
        ax.plot(points[:, 0], points[:, 1], points[:, 2], **style)

    def arrow(tip: Sequence[float], colour: str, base: Sequence[float] = (0.0, 0.0, 0.0),
              scale: float = 1.0) -> None:
        ax.quiver(*base, *(scale * np.asarray(tip)), color=colour, linewidth=2.0,
                  arrow_length_ratio=0.12)

    def label(point: Sequence[float] | Grid, text: str, colour: str = "black") -> None:
        ax.text(*(1.08 * np.asarray(point)), text, color=colour, fontsize=11)

    # The circles that the tips travel on as their joints turn.
    turn = np.linspace(0.0, 2 * math.pi, 200)
    line(np.stack([math.sin(a) * np.cos(turn), math.sin(a) * np.sin(turn),
                   np.full_like(turn, math.cos(a))], axis=1),
         color=INPUT_ARM_COLOUR, linestyle=":", linewidth=1.0)
    line(np.stack([np.full_like(turn, math.cos(a)), -math.sin(a) * np.sin(turn),
                   math.sin(a) * np.cos(turn)], axis=1),
         color=INPUT_ARM_COLOUR, linestyle=":", linewidth=1.0)
    # The turns θ_A and θ_B from the tips' start points.
    swept_a = np.linspace(0.0, theta_a, 40)
    line(np.stack([math.sin(a) * np.cos(swept_a), math.sin(a) * np.sin(swept_a),
                   np.full_like(swept_a, math.cos(a))], axis=1),
         color="black", linewidth=2.5)
    swept_b = np.linspace(0.0, theta_b, 40)
    line(np.stack([np.full_like(swept_b, math.cos(a)), -math.sin(a) * np.sin(swept_b),
                   math.sin(a) * np.cos(swept_b)], axis=1),
         color="black", linewidth=2.5)
    label([math.sin(a) * math.cos(theta_a / 2) - 0.25, math.sin(a) * math.sin(theta_a / 2),
           math.cos(a) + 0.02], f"θ_A = {theta_a}")
    label([math.cos(a), -math.sin(a) * math.sin(theta_b / 2) - 0.35,
           math.sin(a) * math.cos(theta_b / 2) + 0.02], f"θ_B = {theta_b}")

    # The links: input arms of arc a and coupler segments of arc c.
    line(slerp(v1, v2), color=INPUT_ARM_COLOUR, linewidth=4.0, label=f"input arms, arc {a}")
    line(slerp(v5, v4), color=INPUT_ARM_COLOUR, linewidth=4.0)
    line(slerp(v2, v3), color=COUPLER_COLOUR, linewidth=4.0, label=f"coupler segments, arc {c}")
    line(slerp(v3, v4), color=COUPLER_COLOUR, linewidth=4.0)
    for point in (v1, v2, v3, v4, v5):
        ax.scatter(*point, color="black", s=30, depthshade=False)

    arrow(v1, INPUT_ARM_COLOUR, scale=1.25)
    arrow(v5, INPUT_ARM_COLOUR, scale=1.25)
    arrow(v3, POINTING_COLOUR, scale=1.25)
    arrow(list(rotation[:, 0]), "#4d4d4d", base=v3, scale=0.35)
    arrow(list(rotation[:, 1]), "#4d4d4d", base=v3, scale=0.35)
    label([0.0, 0.0, 1.25], "v_1 = +z: axis of joint A")
    label([1.25, 0.0, 0.0], "v_5 = +x: axis of joint B")
    label(v2, "v_2")
    label(v4, "v_4")
    label(1.18 * np.asarray(v3), "v_3: pointing direction", POINTING_COLOUR)
    label(np.asarray(v3) + 0.35 * rotation[:, 0], "x", "#4d4d4d")
    label(np.asarray(v3) + 0.35 * rotation[:, 1], "y", "#4d4d4d")

    ax.set_xlim(-0.2, 1.2)
    ax.set_ylim(-0.5, 0.9)
    ax.set_zlim(-0.2, 1.2)
    ax.set_box_aspect((1.0, 1.0, 1.0))
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    ax.set_zlabel("z")
    ax.view_init(elev=22.0, azim=28.0)
    ax.legend(loc="upper left")
    ax.set_title(f"Left arm: spherical 5-bar linkage at (θ_A, θ_B) = ({theta_a}, {theta_b})\n"
                 "every joint axis passes through the centre; x, y: the end-effector frame")
    return figure


# ------------------------------------------------------------------------------------------


def save(figure: Figure, path: Path) -> None:
    # No software version in the file, so the bytes depend on the drawing alone.
    figure.savefig(path, dpi=100, bbox_inches="tight", pad_inches=0.15,
                   metadata={"Software": None})
    plt.close(figure)
    print(f"wrote {path}")


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description="Draw the workspace of the torso's arms and neck.")
    parser.add_argument("--out", type=Path, default=Path("build/pictures"),
                        help="directory for the PNG files (default: build/pictures)")
    out: Path = parser.parse_args(argv).out
    out.mkdir(parents=True, exist_ok=True)

    left = VornaltArmKinematics.default_left()
    save(draw_linkage(left, 0.5, -0.3), out / "linkage.png")

    direction_maps = []
    joint_maps = []
    for name, arm in default_arms():
        centre = 0.0 if not arm.mirror() else 180.0
        directions = direction_map(arm, centre)
        joints = joint_map(arm)
        direction_maps.append((name, arm, centre, directions))
        joint_maps.append((name, arm, joints))
        shares = ", ".join(
            f"{n}: {int(np.count_nonzero(directions.counts == n))}" for n in range(1, 5))
        print(f"{name} arm: {100.0 * directions.reached_fraction():.1f}% of the sphere reachable; "
              f"map cells by joint pairs {shares}; "
              f"the loop closes on {100.0 * joints.closed_fraction():.1f}% of the joint square")
    save(draw_directions(direction_maps), out / "directions.png")
    save(draw_joint_space(joint_maps), out / "joint_space.png")

    neck = VornaltNeckKinematics()
    limit = gimbal_lock_limit(neck)
    print(f"neck: ik reports gimbal lock for |pitch| > {limit:.7f} rad "
          f"({math.degrees(limit):.4f}°)")
    save(draw_neck(neck, limit), out / "neck_gimbal_lock.png")


if __name__ == "__main__":
    main()

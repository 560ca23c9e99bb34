"""A tour of vornalt_torso_kinematics: the two arms and the neck of the torso."""

from __future__ import annotations

import json
import math
import tempfile
from collections.abc import Sequence
from pathlib import Path

from vornalt_torso_kinematics import VornaltArmKinematics, VornaltNeckKinematics


def show_matrix(name: str, matrix: Sequence[Sequence[float]]) -> None:
    print(f"{name} =")
    for row in matrix:
        print("    [" + ", ".join(f"{value:+.6f}" for value in row) + "]")


def show_vector(name: str, vector: Sequence[float]) -> None:
    print(f"{name} = [" + ", ".join(f"{value:+.6f}" for value in vector) + "]")


def heading(title: str) -> None:
    print()
    print(title)
    print("-" * len(title))


def forward_kinematics() -> None:
    heading("Forward kinematics of the two default arms")
    for name, arm in (
        ("left", VornaltArmKinematics.default_left()),
        ("right", VornaltArmKinematics.default_right()),
    ):
        print(
            f"{name} arm: arm_arc={arm.arm_arc()}, coupler_arc={arm.coupler_arc()}, "
            f"mirror={arm.mirror()}"
        )
        for theta_a, theta_b in ((0.0, 0.0), (0.3, -0.2)):
            show_matrix(f"  fk({theta_a}, {theta_b})", arm.fk(theta_a, theta_b))
            show_vector(f"  direction({theta_a}, {theta_b})", arm.direction(theta_a, theta_b))

    arm = VornaltArmKinematics.default_left()
    print("The loop closes only while the input-arm tips stay within reach of the coupler:")
    for theta_a, theta_b in ((0.0, 0.0), (1.0, 1.0)):
        print(f"  is_reachable_joints({theta_a}, {theta_b}) -> "
              f"{arm.is_reachable_joints(theta_a, theta_b)}")
    try:
        arm.fk(1.0, 1.0)
    except RuntimeError as error:
        print(f"  fk(1.0, 1.0) raises RuntimeError: {error}")


def inverse_kinematics() -> None:
    heading("Inverse kinematics: from an orientation and from a pointing direction")
    for name, arm in (
        ("left", VornaltArmKinematics.default_left()),
        ("right", VornaltArmKinematics.default_right()),
    ):
        target = arm.fk(0.3, -0.2)
        theta_a, theta_b = arm.ik(target)
        print(f"{name} arm: ik(fk(0.3, -0.2)) -> ({theta_a:.12f}, {theta_b:.12f})")
        pointing = [0.5, 0.45, 0.75] if not arm.mirror() else [-0.5, -0.45, 0.75]
        theta_a, theta_b = arm.ik_from_direction(pointing)
        print(f"{name} arm: ik_from_direction({pointing}) -> ({theta_a:.6f}, {theta_b:.6f})")
        show_vector("          direction of that pair", arm.direction(theta_a, theta_b))

    arm = VornaltArmKinematics.default_left()
    d = arm.direction(0.3, -0.4)
    show_vector("One pointing direction d", d)
    print("is reached by several joint pairs, each with its own roll about d:")
    seen: list[tuple[float, float]] = []
    for near in ((0.0, 0.0), (0.3, -1.2), (1.5, 0.0), (1.6, -1.2)):
        pair = arm.ik_from_direction(d, near=near)
        if all(abs(pair[0] - a) + abs(pair[1] - b) > 1e-9 for a, b in seen):
            seen.append(pair)
        print(f"  near={near}: ({pair[0]:+.6f}, {pair[1]:+.6f})")
    print(f"  without near, the smallest-norm pair wins: {arm.ik_from_direction(d)}")
    print(f"  {len(seen)} distinct joint pairs reach d")

    print("Unreachable targets:")
    for v3 in ([0.0, 0.0, 1.0], [0.0, 1.0, 0.0], [0.0, 0.0, 0.0]):
        print(f"  is_reachable_direction({v3}) -> {arm.is_reachable_direction(v3)}")
    rolled = [[row[1], -row[0], row[2]] for row in arm.fk(0.3, -0.2)]
    print(f"  the same pointing direction rolled by 90°: "
          f"is_reachable_orientation -> {arm.is_reachable_orientation(rolled)}")
    try:
        arm.ik(rolled)
    except RuntimeError as error:
        print(f"  ik raises RuntimeError: {error}")


def geometry_records() -> None:
    heading("Arm geometry from an arms.json record")
    records = {
        "left": {"arm_arc": 0.7, "coupler_arc": 0.5},
        "right": [0.7, 0.5, "positive", True],
        "left_negative": {"arm_arc": 0.7, "coupler_arc": 0.5, "branch": {"negative": None},
                          "note": "the other closure of the loop"},
    }
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "arms.json"
        path.write_text(json.dumps(records, indent=2), encoding="utf-8")
        # The module reads no files: the caller reads the record and passes its text.
        loaded = json.loads(path.read_text(encoding="utf-8"))
        for name, record in loaded.items():
            arm = VornaltArmKinematics.from_json(json.dumps(record))
            show_vector(f"{name:>13}: {json.dumps(record)}\n{'':>15}direction(0, 0)",
                        arm.direction(0.0, 0.0))

    broken = '{"arm_arc": 0.7,\n "coupler_arc": 0.5,\n "branch": "upward"}'
    print("A malformed record names what is wrong and where:")
    try:
        VornaltArmKinematics.from_json(broken)
    except ValueError as error:
        print(f"  ValueError: {error}")


def neck() -> None:
    heading("Neck: yaw, pitch and roll")
    neck = VornaltNeckKinematics()
    joints = [0.4, -0.25, 0.1]
    head = neck.fk(joints)
    show_matrix(f"head pose for [yaw, pitch, roll] = {joints}", head)
    yaw, pitch, roll = neck.ik(head)
    print(f"read back: yaw={yaw:.12f}, pitch={pitch:.12f}, roll={roll:.12f}")

    print("Near a pitch of ±π/2 yaw and roll cannot be told apart:")
    for pitch in (math.pi / 2 - 0.0015, math.pi / 2 - 0.0014):
        try:
            angles = neck.ik(neck.fk([0.0, pitch, 0.0]))
            print(f"  pitch π/2 - {math.pi / 2 - pitch:.4f}: ik -> {angles}")
        except ValueError as error:
            print(f"  pitch π/2 - {math.pi / 2 - pitch:.4f}: ValueError: {error}")


def main() -> None:
    forward_kinematics()
    inverse_kinematics()
    geometry_records()
    neck()


if __name__ == "__main__":
    main()

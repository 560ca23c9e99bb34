"""What a user would write instead of the module: the same closed forms in plain Python with
`math`, and with numpy. bench_calls.py times them beside the module and checks, once and
untimed, that they give the module's answers.
"""

from __future__ import annotations

import json
import math
from math import atan2, cos, sin, sqrt

import numpy as np

Vec = tuple[float, float, float]
Rows = list[list[float]]

DEGENERATE = 1e-12
AUXILIARY_AXIS_LIMIT = 0.9
CANDIDATE_TOLERANCE = 1e-6
GIMBAL_LOCK_TOLERANCE = 1e-6


class GimbalLockError(ValueError):
    pass


# ------------------------------------------------------------------------------------------
# Plain Python with math


def intersect(a: Vec, b: Vec, radius_a: float, radius_b: float, sign: float) -> Vec | None:
    """The point at arc radius_a from a and radius_b from b, on the side of a x b for +1."""
    ax, ay, az = a
    bx, by, bz = b
    d = ax * bx + ay * by + az * bz
    d = -1.0 if d < -1.0 else (1.0 if d > 1.0 else d)
    s = sqrt(1.0 - d * d)
    if s < DEGENERATE:
        return None
    alpha = cos(radius_a)
    beta = (cos(radius_b) - alpha * d) / s
    h = 1.0 - alpha * alpha - beta * beta
    if h < 0.0:
        return None
    nx, ny, nz = (ay * bz - az * by) / s, (az * bx - ax * bz) / s, (ax * by - ay * bx) / s
    tx, ty, tz = ny * az - nz * ay, nz * ax - nx * az, nx * ay - ny * ax
    off = sign * sqrt(h)
    return (alpha * ax + beta * tx + off * nx, alpha * ay + beta * ty + off * ny,
            alpha * az + beta * tz + off * nz)


class PyArm:
    """The arm as a Python class: geometry, forward and inverse kinematics."""

    __slots__ = ("_arm_arc", "_coupler_arc", "_negative", "_mirror")

    def __init__(self, arm_arc: float = 0.7, coupler_arc: float = 0.5,
                 mirror: bool = False) -> None:
        self._arm_arc = float(arm_arc)
        self._coupler_arc = float(coupler_arc)
        self._negative = False
        self._mirror = bool(mirror)

    @staticmethod
    def default_left() -> PyArm:
        return PyArm(0.7, 0.5, False)

    @staticmethod
    def default_right() -> PyArm:
        return PyArm(0.7, 0.5, True)

    @staticmethod
    def from_json(text: str) -> PyArm:
        record = json.loads(text)
        if isinstance(record, list):
            record = dict(zip(("arm_arc", "coupler_arc", "branch", "mirror"), record))
        arm = PyArm(record["arm_arc"], record["coupler_arc"], record.get("mirror", False))
        branch = record.get("branch", "positive")
        if isinstance(branch, dict):
            (branch,) = branch
        arm._negative = branch == "negative"
        return arm

    def arm_arc(self) -> float:
        return self._arm_arc

    def coupler_arc(self) -> float:
        return self._coupler_arc

    def mirror(self) -> bool:
        return self._mirror

    def _solve(self, theta_a: float, theta_b: float) -> tuple[Vec, Vec] | None:
        """The x axis and v_3 of the end-effector, or None when the loop does not close."""
        m = -1.0 if self._mirror else 1.0
        a = self._arm_arc
        sa, ca = sin(a), cos(a)
        sta, cta = (0.0, 1.0) if theta_a == 0.0 else (sin(theta_a), cos(theta_a))
        stb, ctb = (0.0, 1.0) if theta_b == 0.0 else (sin(theta_b), cos(theta_b))
        v2 = (m * sa * cta, m * sa * sta, ca)
        v4 = (m * ca, -m * sa * stb, sa * ctb)
        v3 = intersect(v2, v4, self._coupler_arc, self._coupler_arc,
                       -1.0 if self._negative else 1.0)
        if v3 is None:
            return None
        px, py, pz = v2[0] + v4[0], v2[1] + v4[1], v2[2] + v4[2]
        length = sqrt(px * px + py * py + pz * pz)
        ux, uy, uz = px / length, py / length, pz / length
        x3, y3, z3 = v3
        along = ux * x3 + uy * y3 + uz * z3
        wx, wy, wz = ux - along * x3, uy - along * y3, uz - along * z3
        w_norm = sqrt(wx * wx + wy * wy + wz * wz)
        if not w_norm > DEGENERATE:
            ax, ay, az = (1.0, 0.0, 0.0) if abs(x3) < AUXILIARY_AXIS_LIMIT else (0.0, 1.0, 0.0)
            along = ax * x3 + ay * y3 + az * z3
            wx, wy, wz = ax - along * x3, ay - along * y3, az - along * z3
            w_norm = sqrt(wx * wx + wy * wy + wz * wz)
        return (wx / w_norm, wy / w_norm, wz / w_norm), v3

    @staticmethod
    def _rows(x_axis: Vec, v3: Vec) -> Rows:
        (xx, xy, xz), (x3, y3, z3) = x_axis, v3
        yx, yy, yz = y3 * xz - z3 * xy, z3 * xx - x3 * xz, x3 * xy - y3 * xx
        return [[xx, yx, x3], [xy, yy, y3], [xz, yz, z3]]

    def fk(self, theta_a: float, theta_b: float) -> Rows:
        solved = self._solve(theta_a, theta_b)
        if solved is None:
            raise RuntimeError("loop does not close")
        return self._rows(*solved)

    def direction(self, theta_a: float, theta_b: float) -> list[float]:
        solved = self._solve(theta_a, theta_b)
        if solved is None:
            raise RuntimeError("loop does not close")
        return list(solved[1])

    def is_reachable_joints(self, theta_a: float, theta_b: float) -> bool:
        return self._solve(theta_a, theta_b) is not None

    def _candidates(self, v3: Vec) -> list[tuple[float, float, Rows]]:
        m = -1.0 if self._mirror else 1.0
        a, c = self._arm_arc, self._coupler_arc
        sa = sin(a)
        msa = m * sa
        found = []
        for sign_a in (1.0, -1.0):
            v2 = intersect((0.0, 0.0, 1.0), v3, a, c, sign_a)
            if v2 is None:
                continue
            theta_a = atan2(msa * v2[1], msa * v2[0])
            for sign_b in (1.0, -1.0):
                v4 = intersect((m, 0.0, 0.0), v3, a, c, sign_b)
                if v4 is None:
                    continue
                theta_b = atan2(-msa * v4[1], sa * v4[2])
                solved = self._solve(theta_a, theta_b)
                if solved is not None:
                    found.append((theta_a, theta_b, self._rows(*solved)))
        return found

    def _ik(self, r: Rows) -> tuple[float, float] | None:
        best = None
        best_error = CANDIDATE_TOLERANCE
        for theta_a, theta_b, rotation in self._candidates((r[0][2], r[1][2], r[2][2])):
            error = sqrt(sum((rotation[i][j] - r[i][j]) ** 2 for i in range(3) for j in range(3)))
            if error < best_error:
                best, best_error = (theta_a, theta_b), error
        return best

    def ik(self, r_target: Rows) -> tuple[float, float]:
        pair = self._ik(r_target)
        if pair is None:
            raise RuntimeError("unreachable")
        return pair

    def is_reachable_orientation(self, r_target: Rows) -> bool:
        return self._ik(r_target) is not None

    def _ik_direction(self, v3: list[float],
                      near: tuple[float, float] | None) -> tuple[float, float] | None:
        x, y, z = v3
        n = sqrt(x * x + y * y + z * z)
        if n < DEGENERATE:
            return None
        u = (x / n, y / n, z / n)
        kept = []
        for theta_a, theta_b, rotation in self._candidates(u):
            dx, dy, dz = rotation[0][2] - u[0], rotation[1][2] - u[1], rotation[2][2] - u[2]
            if sqrt(dx * dx + dy * dy + dz * dz) < CANDIDATE_TOLERANCE:
                kept.append((theta_a, theta_b))
        if not kept:
            return None
        na, nb = near if near is not None else (0.0, 0.0)
        best = kept[0]
        best_distance = (best[0] - na) ** 2 + (best[1] - nb) ** 2
        for pair in kept[1:]:
            distance = (pair[0] - na) ** 2 + (pair[1] - nb) ** 2
            if distance < best_distance:
                best, best_distance = pair, distance
        return best

    def ik_from_direction(self, v3: list[float],
                          near: tuple[float, float] | None = None) -> tuple[float, float]:
        pair = self._ik_direction(v3, near)
        if pair is None:
            raise RuntimeError("unreachable")
        return pair

    def is_reachable_direction(self, v3: list[float]) -> bool:
        return self._ik_direction(v3, None) is not None


class PyNeck:
    """The neck as a Python class: R = Rz(yaw) Ry(pitch) Rx(roll) and back."""

    __slots__ = ()

    def fk(self, joints: list[float]) -> Rows:
        yaw, pitch, roll = joints
        sy, cy = sin(yaw), cos(yaw)
        sp, cp = sin(pitch), cos(pitch)
        sr, cr = sin(roll), cos(roll)
        return [[cy * cp, cy * sp * sr - sy * cr, cy * sp * cr + sy * sr],
                [sy * cp, sy * sp * sr + cy * cr, sy * sp * cr - cy * sr],
                [-sp, cp * sr, cp * cr]]

    def ik(self, r: Rows) -> tuple[float, float, float]:
        x = r[2][0]
        if 1.0 - abs(x) < GIMBAL_LOCK_TOLERANCE:
            raise GimbalLockError("gimbal lock")
        return atan2(r[1][0], r[0][0]), math.asin(-x), atan2(r[2][1], r[2][2])


# ------------------------------------------------------------------------------------------
# numpy

_V1 = np.array([0.0, 0.0, 1.0])


def np_intersect(a: np.ndarray, b: np.ndarray, radius_a: float, radius_b: float,
                 sign: float) -> np.ndarray | None:
    d = float(np.clip(a @ b, -1.0, 1.0))
    s = math.sqrt(1.0 - d * d)
    if s < DEGENERATE:
        return None
    alpha = math.cos(radius_a)
    beta = (math.cos(radius_b) - alpha * d) / s
    h = 1.0 - alpha * alpha - beta * beta
    if h < 0.0:
        return None
    n = np.cross(a, b) / s
    t = np.cross(n, a)
    result: np.ndarray = alpha * a + beta * t + sign * math.sqrt(h) * n
    return result


class NpArm:
    """The arm with numpy arrays for its vectors and matrices."""

    __slots__ = ("arm_arc", "coupler_arc", "negative", "mirror")

    def __init__(self, arm_arc: float = 0.7, coupler_arc: float = 0.5,
                 mirror: bool = False) -> None:
        self.arm_arc = arm_arc
        self.coupler_arc = coupler_arc
        self.negative = False
        self.mirror = mirror

    def _solve(self, theta_a: float, theta_b: float) -> np.ndarray | None:
        """The rotation (columns x axis, y axis, v_3), or None when the loop does not close."""
        m = -1.0 if self.mirror else 1.0
        sa, ca = np.sin(self.arm_arc), np.cos(self.arm_arc)
        v2 = np.array([m * sa * np.cos(theta_a), m * sa * np.sin(theta_a), ca])
        v4 = np.array([m * ca, -m * sa * np.sin(theta_b), sa * np.cos(theta_b)])
        v3 = np_intersect(v2, v4, self.coupler_arc, self.coupler_arc,
                          -1.0 if self.negative else 1.0)
        if v3 is None:
            return None
        u = (v2 + v4) / np.linalg.norm(v2 + v4)
        w = u - (u @ v3) * v3
        w_norm = np.linalg.norm(w)
        if not w_norm > DEGENERATE:
            aux = np.array([1.0, 0.0, 0.0]) if abs(v3[0]) < AUXILIARY_AXIS_LIMIT else \
                np.array([0.0, 1.0, 0.0])
            w = aux - (aux @ v3) * v3
            w_norm = np.linalg.norm(w)
        x = w / w_norm
        return np.column_stack((x, np.cross(v3, x), v3))

    def fk(self, theta_a: float, theta_b: float) -> np.ndarray:
        rotation = self._solve(theta_a, theta_b)
        if rotation is None:
            raise RuntimeError("loop does not close")
        return rotation

    def direction(self, theta_a: float, theta_b: float) -> np.ndarray:
        return self.fk(theta_a, theta_b)[:, 2]

    def is_reachable_joints(self, theta_a: float, theta_b: float) -> bool:
        return self._solve(theta_a, theta_b) is not None

    def _candidates(self, v3: np.ndarray) -> list[tuple[float, float, np.ndarray]]:
        m = -1.0 if self.mirror else 1.0
        sa = math.sin(self.arm_arc)
        v5 = np.array([m, 0.0, 0.0])
        found = []
        for sign_a in (1.0, -1.0):
            v2 = np_intersect(_V1, v3, self.arm_arc, self.coupler_arc, sign_a)
            if v2 is None:
                continue
            theta_a = float(np.arctan2(m * sa * v2[1], m * sa * v2[0]))
            for sign_b in (1.0, -1.0):
                v4 = np_intersect(v5, v3, self.arm_arc, self.coupler_arc, sign_b)
                if v4 is None:
                    continue
                theta_b = float(np.arctan2(-m * sa * v4[1], sa * v4[2]))
                rotation = self._solve(theta_a, theta_b)
                if rotation is not None:
                    found.append((theta_a, theta_b, rotation))
        return found

    def _ik(self, r_target: object) -> tuple[float, float] | None:
        r = np.asarray(r_target, dtype=float)
        best = None
        best_error = CANDIDATE_TOLERANCE
        for theta_a, theta_b, rotation in self._candidates(r[:, 2]):
            error = float(np.linalg.norm(rotation - r))
            if error < best_error:
                best, best_error = (theta_a, theta_b), error
        return best

    def ik(self, r_target: object) -> tuple[float, float]:
        pair = self._ik(r_target)
        if pair is None:
            raise RuntimeError("unreachable")
        return pair

    def is_reachable_orientation(self, r_target: object) -> bool:
        return self._ik(r_target) is not None

    def _ik_direction(self, v3: object,
                      near: tuple[float, float] | None) -> tuple[float, float] | None:
        v = np.asarray(v3, dtype=float)
        n = float(np.linalg.norm(v))
        if n < DEGENERATE:
            return None
        u = v / n
        kept = [np.array([theta_a, theta_b]) for theta_a, theta_b, rotation in self._candidates(u)
                if np.linalg.norm(rotation[:, 2] - u) < CANDIDATE_TOLERANCE]
        if not kept:
            return None
        target = np.zeros(2) if near is None else np.asarray(near, dtype=float)
        distances = [float((pair - target) @ (pair - target)) for pair in kept]
        best = kept[int(np.argmin(distances))]
        return float(best[0]), float(best[1])

    def ik_from_direction(self, v3: object,
                          near: tuple[float, float] | None = None) -> tuple[float, float]:
        pair = self._ik_direction(v3, near)
        if pair is None:
            raise RuntimeError("unreachable")
        return pair

    def is_reachable_direction(self, v3: object) -> bool:
        return self._ik_direction(v3, None) is not None


class NpNeck:
    """The neck as the product of three numpy rotation matrices, and back."""

    __slots__ = ()

    def fk(self, joints: object) -> np.ndarray:
        yaw, pitch, roll = np.asarray(joints, dtype=float)
        cy, sy = np.cos(yaw), np.sin(yaw)
        cp, sp = np.cos(pitch), np.sin(pitch)
        cr, sr = np.cos(roll), np.sin(roll)
        rz = np.array([[cy, -sy, 0.0], [sy, cy, 0.0], [0.0, 0.0, 1.0]])
        ry = np.array([[cp, 0.0, sp], [0.0, 1.0, 0.0], [-sp, 0.0, cp]])
        rx = np.array([[1.0, 0.0, 0.0], [0.0, cr, -sr], [0.0, sr, cr]])
        result: np.ndarray = rz @ ry @ rx
        return result

    def ik(self, r_target: object) -> tuple[float, float, float]:
        r = np.asarray(r_target, dtype=float)
        if 1.0 - abs(r[2, 0]) < GIMBAL_LOCK_TOLERANCE:
            raise GimbalLockError("gimbal lock")
        return (float(np.arctan2(r[1, 0], r[0, 0])), float(np.arcsin(-r[2, 0])),
                float(np.arctan2(r[2, 1], r[2, 2])))

"""The benchmark report's verdicts: a figure just past its limit is a miss, never a pass."""

from __future__ import annotations

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "bench"))
from bench_calls import Row, targets  # noqa: E402

CORE_NS = 100.0
ATAN2_NS = 40.0


def core(fk_ratio: float = 1.0, rate: float = 500e6, ik_ratio: float = 1.0,
         direction_ratio: float = 1.0) -> dict[str, dict[str, float]]:
    figures = {name: {"ns": CORE_NS, "real_ns": CORE_NS, "bytes_per_second": 0.0}
               for name in ("BM_forward_kinematics", "BM_inverse_kinematics", "BM_neck_fk",
                            "BM_loop_closes", "BM_inverse_kinematics_libm_floor")}
    figures["BM_forward_kinematics_libm_floor"] = {"ns": CORE_NS / fk_ratio, "real_ns": 0.0,
                                                   "bytes_per_second": 0.0}
    figures["BM_inverse_kinematics"]["ns"] = CORE_NS * ik_ratio
    figures["BM_inverse_kinematics_from_direction"] = {
        "ns": CORE_NS * direction_ratio, "real_ns": 0.0, "bytes_per_second": 0.0}
    figures["BM_decode_geometry_long_record"] = {"ns": 1.0, "real_ns": 1.0,
                                                 "bytes_per_second": rate}
    return figures


def verdict(row: Row, name_part: str, figures: dict[str, dict[str, float]] | None = None) -> bool:
    found = [t for t in targets([row], figures or core(), ATAN2_NS) if name_part in t.name]
    assert len(found) == 1
    return found[0].passed


def row(kind: str, core_name: str | None, module: float, floor: float, python: float,
        scipy: float | None = None) -> Row:
    times = {"module": module, "floor": floor, "python": python}
    if scipy is not None:
        times["scipy"] = scipy
    return Row("method", {}, kind, core_name, times)


@pytest.mark.parametrize("kind, core_name, added, passes", [
    ("forward", "BM_forward_kinematics", 1.29, True),
    ("forward", "BM_forward_kinematics", 1.31, False),
    ("neck", "BM_neck_fk", 1.31, False),
    ("inverse", "BM_inverse_kinematics", 1.49, True),
    ("inverse", "BM_inverse_kinematics", 1.51, False),
])
def test_what_the_binding_adds_is_held_against_the_core(kind: str, core_name: str, added: float,
                                                        passes: bool) -> None:
    floor = 50.0
    module = floor + added * CORE_NS
    assert verdict(row(kind, core_name, module, floor, 1e9), "(module - floor)") is passes


@pytest.mark.parametrize("module, passes", [(119.0, True), (121.0, False)])
def test_plain_methods_are_held_against_their_floor(module: float, passes: bool) -> None:
    assert verdict(row("plain", None, module, 100.0, 1e9), "module / floor") is passes


@pytest.mark.parametrize("kind, core_name, python, passes", [
    ("plain", None, 100.0, False),  # as fast is not faster
    ("plain", None, 100.1, True),
    ("inverse", "BM_inverse_kinematics", 1990.0, False),
    ("inverse", "BM_inverse_kinematics", 2000.0, True),
])
def test_pure_python_comparison(kind: str, core_name: str | None, python: float,
                                passes: bool) -> None:
    assert verdict(row(kind, core_name, 100.0, 50.0, python), "pure Python") is passes


@pytest.mark.parametrize("scipy, passes", [(1999.0, False), (2000.0, True)])
def test_neck_against_scipy(scipy: float, passes: bool) -> None:
    assert verdict(row("neck", "BM_neck_fk", 100.0, 50.0, 1e9, scipy), "scipy") is passes


@pytest.mark.parametrize("fk_ratio, ik_ratio, direction_ratio, rate, passes", [
    (2.14, 4.49, 4.49, 201e6, (True, True, True, True)),
    (2.16, 4.51, 4.49, 199e6, (False, False, True, False)),
    (2.14, 4.49, 4.51, 201e6, (True, True, False, True)),
])
def test_core_targets(fk_ratio: float, ik_ratio: float, direction_ratio: float, rate: float,
                      passes: tuple[bool, bool, bool, bool]) -> None:
    figures = core(fk_ratio, rate, ik_ratio, direction_ratio)
    plain = row("plain", None, 100.0, 100.0, 200.0)
    assert (verdict(plain, "BM_forward_kinematics / its libm floor", figures),
            verdict(plain, "BM_inverse_kinematics / its libm floor", figures),
            verdict(plain, "BM_inverse_kinematics_from_direction / its libm floor", figures),
            verdict(plain, "JSON decoder", figures)) == passes


# The inverse solvers and the closure test in units of one math.atan2 call of ATAN2_NS.
@pytest.mark.parametrize("name, kind, core_name, units, passes", [
    ("arm.ik(rotation)", "inverse", "BM_inverse_kinematics", 10.9, True),
    ("arm.ik(rotation)", "inverse", "BM_inverse_kinematics", 11.1, False),
    ("arm.ik_from_direction(direction)", "inverse", "BM_inverse_kinematics_from_direction",
     11.1, False),
    ("arm.is_reachable_joints(0.3, -0.4)", "forward", "BM_loop_closes", 1.79, True),
    ("arm.is_reachable_joints(0.3, -0.4)", "forward", "BM_loop_closes", 1.81, False),
])
def test_python_methods_against_atan2(name: str, kind: str, core_name: str, units: float,
                                      passes: bool) -> None:
    method = Row(name, {}, kind, core_name, {"module": units * ATAN2_NS, "floor": 1.0,
                                             "python": 1e9})
    assert verdict(method, "math.atan2 calls") is passes

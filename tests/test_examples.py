"""The tour runs to the end and shows what it promises."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

TOUR = Path(__file__).resolve().parent.parent / "examples" / "tour.py"


def test_tour_runs_and_shows_every_part() -> None:
    result = subprocess.run(
        [sys.executable, str(TOUR)], capture_output=True, text=True, timeout=60, check=False
    )
    assert result.returncode == 0, result.stderr
    out = result.stdout
    for expected in (
        "fk(0.3, -0.2) =",
        "ik(fk(0.3, -0.2)) -> (0.300000000000, -0.200000000000)",
        "3 distinct joint pairs reach d",
        "direction(0, 0) = [+0.622814, -0.473503, +0.622814]",
        "Invalid arms.json: unknown variant `upward`, expected `positive` or `negative` at line 3",
        "read back: yaw=0.400000000000, pitch=-0.250000000000, roll=0.100000000000",
        "ValueError: Gimbal lock: pitch is too close to ±π/2.",
    ):
        assert expected in out

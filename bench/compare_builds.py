"""Time every method of two builds of the module side by side: what a change bought.

    .venv/bin/python bench/compare_builds.py BEFORE_DIR [AFTER_DIR]

BEFORE_DIR (and AFTER_DIR, by default the installed module) hold a built
vornalt_torso_kinematics extension. Both are loaded into one process under different names
and every method statement of bench_calls.py is timed on each, interleaved round by round;
the table gives the medians in ns of CPU time per call and the change.
"""

from __future__ import annotations

import argparse
import importlib.machinery
import importlib.util
import re
import statistics
import sys
import time
import timeit
from pathlib import Path
from types import ModuleType

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench_calls import rows  # noqa: E402

NAMES = ("Arm", "Neck", "arm", "neck")


def load(directory: Path | None, alias: str) -> ModuleType:
    """The extension in `directory` (the installed one for None), imported as `alias`."""
    if directory is None:
        import vornalt_torso_kinematics

        return vornalt_torso_kinematics
    (path,) = directory.glob("vornalt_torso_kinematics*.so")
    # The init function is found by the last component of the name.
    name = f"{alias}.vornalt_torso_kinematics"
    loader = importlib.machinery.ExtensionFileLoader(name, str(path))
    spec = importlib.util.spec_from_file_location(name, path, loader=loader)
    assert spec is not None
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def namespace(module: ModuleType, prefix: str) -> dict[str, object]:
    arm = module.VornaltArmKinematics.default_left()
    neck = module.VornaltNeckKinematics()
    return {f"{prefix}Arm": module.VornaltArmKinematics,
            f"{prefix}Neck": module.VornaltNeckKinematics,
            f"{prefix}arm": arm, f"{prefix}neck": neck}


def renamed(statement: str, prefix: str) -> str:
    return re.sub(r"\b(" + "|".join(NAMES) + r")\b(?=[.(])", prefix + r"\1", statement)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("before", type=Path)
    parser.add_argument("after", type=Path, nargs="?")
    parser.add_argument("--rounds", type=int, default=31)
    parser.add_argument("--seconds", type=float, default=0.004)
    args = parser.parse_args()

    before, after = load(args.before, "before"), load(args.after, "after")
    ns: dict[str, object] = {**namespace(before, "b_"), **namespace(after, "a_")}
    probe = after.VornaltArmKinematics.default_left()
    ns.update(rotation=probe.fk(0.3, -0.4), direction=probe.direction(0.3, -0.4),
              joints=[0.3, -0.2, 0.1], head=after.VornaltNeckKinematics().fk([0.3, -0.2, 0.1]),
              record='{"arm_arc": 0.7, "coupler_arc": 0.5, "branch": "negative", '
                     '"mirror": true}')

    statements = [(row.name, renamed(row.statements["module"], "b_"),
                   renamed(row.statements["module"], "a_")) for row in rows()]
    timers = {}
    for _, *pair in statements:
        for statement in pair:
            timer = timeit.Timer(statement, timer=time.process_time, globals=ns)
            number = max(1, int(args.seconds / max(timer.timeit(200) / 200, 1e-9)))
            timers[statement] = (timer, number)
    samples: dict[str, list[float]] = {statement: [] for statement in timers}
    for round_index in range(args.rounds):
        for _, first, second in statements:
            for statement in (first, second) if round_index % 2 == 0 else (second, first):
                timer, number = timers[statement]
                samples[statement].append(timer.timeit(number) / number * 1e9)

    print("| method | before ns | after ns | change |")
    print("|---|---:|---:|---:|")
    for name, first, second in statements:
        b, a = statistics.median(samples[first]), statistics.median(samples[second])
        print(f"| {name} | {b:.1f} | {a:.1f} | {(a - b) / b:+.0%} |")


if __name__ == "__main__":
    main()

"""Time per call of every method of both classes, beside its floor and its alternatives.

Run with `make bench`, which builds the C++ suite (build/bench/core_bench) and the floor
extension and then runs this script. For each method, the script times in turn: the module;
its floor (the torso_floor extension built for the benchmark: same calling convention, same
arguments, cheapest conversion, a constant result of the same shape); the same closed form in
plain Python with math and with numpy; and, for the neck, scipy's Rotation.

The machine is shared and noisy, so both suites run in the same rounds: each round runs the
C++ suite once (its JSON report, --benchmark_out, is read back) and then takes one timeit
sample of every Python statement, in a rotating order. Every figure is the median over the
rounds, and the ratios between the suites compare figures taken in the same time windows.
The results are written to bench/results.md, bench/results.json and bench/results.png, with a
pass or miss for every target. Nothing here asserts a time: the exit status is 0 whether the
targets pass or not.

A memory check follows: the memory still held after many calls of each query.
"""

from __future__ import annotations

import argparse
import gc
import json
import math
import os
import platform
import statistics
import subprocess
import sys
import time
import timeit
import tracemalloc
from collections.abc import Callable
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np
from scipy.spatial.transform import Rotation

from vornalt_torso_kinematics import VornaltArmKinematics, VornaltNeckKinematics

sys.path.insert(0, str(Path(__file__).resolve().parent))
from alternatives import NpArm, NpNeck, PyArm, PyNeck  # noqa: E402

# A typical arms.json record.
RECORD = '{"arm_arc": 0.7, "coupler_arc": 0.5, "branch": "negative", "mirror": true}'

VARIANTS = ("module", "floor", "python", "numpy", "scipy")
LABELS = {
    "module": "vornalt_torso_kinematics",
    "floor": "floor (constant result)",
    "python": "pure Python (math)",
    "numpy": "numpy",
    "scipy": "scipy Rotation",
}


@dataclass
class Row:
    """One method and the statements that time it and its alternatives."""

    name: str
    statements: dict[str, str]
    kind: str  # "forward", "inverse", "neck", "json" or "plain" (accessors, constructors)
    core: str | None = None  # the C++ benchmark of the routine the method calls
    times: dict[str, float] = field(default_factory=dict)  # median ns per call


def rows() -> list[Row]:
    def arm_row(name: str, call: str, kind: str, core: str | None, numpy: bool = True,
                python_call: str | None = None) -> Row:
        statements = {
            "module": f"arm.{call}",
            "floor": f"floor_arm.{call}",
            "python": f"py_arm.{python_call or call}",
        }
        if numpy:
            statements["numpy"] = "np_arm." + call.replace("rotation", "np_rotation").replace(
                "(direction", "(np_direction")
        return Row(name, statements, kind, core)

    return [
        Row("VornaltArmKinematics(0.7, 0.5, True)",
            {"module": "Arm(0.7, 0.5, True)", "floor": "FloorArm(0.7, 0.5, True)",
             "python": "PyArm(0.7, 0.5, True)"}, "plain"),
        Row("VornaltArmKinematics.default_left()",
            {"module": "Arm.default_left()", "floor": "FloorArm.default_left()",
             "python": "PyArm.default_left()"}, "plain"),
        Row("VornaltArmKinematics.default_right()",
            {"module": "Arm.default_right()", "floor": "FloorArm.default_right()",
             "python": "PyArm.default_right()"}, "plain"),
        arm_row("arm.arm_arc()", "arm_arc()", "plain", None, numpy=False),
        arm_row("arm.coupler_arc()", "coupler_arc()", "plain", None, numpy=False),
        arm_row("arm.mirror()", "mirror()", "plain", None, numpy=False),
        Row("VornaltArmKinematics.from_json(record)",
            {"module": "Arm.from_json(record)", "floor": "FloorArm.from_json(record)",
             "python": "PyArm.from_json(record)"}, "json", "BM_decode_geometry"),
        arm_row("arm.fk(0.3, -0.4)", "fk(0.3, -0.4)", "forward", "BM_forward_kinematics"),
        arm_row("arm.direction(0.3, -0.4)", "direction(0.3, -0.4)", "forward",
                "BM_forward_kinematics"),
        arm_row("arm.is_reachable_joints(0.3, -0.4)", "is_reachable_joints(0.3, -0.4)",
                "forward", "BM_loop_closes"),
        arm_row("arm.ik(rotation)", "ik(rotation)", "inverse", "BM_inverse_kinematics"),
        arm_row("arm.is_reachable_orientation(rotation)", "is_reachable_orientation(rotation)",
                "inverse", "BM_inverse_kinematics"),
        arm_row("arm.ik_from_direction(direction)", "ik_from_direction(direction)", "inverse",
                "BM_inverse_kinematics_from_direction"),
        arm_row("arm.ik_from_direction(direction, near=(0.3, -1.2))",
                "ik_from_direction(direction, near=(0.3, -1.2))", "inverse",
                "BM_inverse_kinematics_from_direction_near"),
        arm_row("arm.is_reachable_direction(direction)", "is_reachable_direction(direction)",
                "inverse", "BM_inverse_kinematics_from_direction"),
        Row("VornaltNeckKinematics()",
            {"module": "Neck()", "floor": "FloorNeck()", "python": "PyNeck()"}, "plain"),
        Row("neck.fk([0.3, -0.2, 0.1])",
            {"module": "neck.fk(joints)", "floor": "floor_neck.fk(joints)",
             "python": "py_neck.fk(joints)", "numpy": "np_neck.fk(np_joints)",
             "scipy": 'Rotation.from_euler("ZYX", joints).as_matrix()'},
            "neck", "BM_neck_fk"),
        Row("neck.ik(head)",
            {"module": "neck.ik(head)", "floor": "floor_neck.ik(head)",
             "python": "py_neck.ik(head)", "numpy": "np_neck.ik(np_head)",
             "scipy": 'Rotation.from_matrix(np_head).as_euler("ZYX")'},
            "neck", "BM_neck_ik"),
    ]


def namespace(floor: object) -> dict[str, object]:
    arm = VornaltArmKinematics.default_left()
    neck = VornaltNeckKinematics()
    rotation = arm.fk(0.3, -0.4)
    direction = arm.direction(0.3, -0.4)
    joints = [0.3, -0.2, 0.1]
    head = neck.fk(joints)
    floor_arm_type = getattr(floor, "FloorArm")
    floor_neck_type = getattr(floor, "FloorNeck")
    return {
        "Arm": VornaltArmKinematics, "Neck": VornaltNeckKinematics,
        "FloorArm": floor_arm_type, "FloorNeck": floor_neck_type,
        "PyArm": PyArm, "PyNeck": PyNeck, "Rotation": Rotation,
        "arm": arm, "neck": neck,
        "floor_arm": floor_arm_type(), "floor_neck": floor_neck_type(),
        "py_arm": PyArm.default_left(), "py_neck": PyNeck(),
        "np_arm": NpArm(), "np_neck": NpNeck(),
        "rotation": rotation, "direction": direction, "joints": joints, "head": head,
        "np_rotation": np.array(rotation), "np_direction": np.array(direction),
        "np_joints": np.array(joints), "np_head": np.array(head),
        "record": RECORD, "atan2": math.atan2,
    }


def check_agreement(ns: dict[str, object]) -> None:
    """The alternatives compute what the module computes, so the comparison is honest."""
    for row in rows():
        if row.kind == "plain" and "Arm(" not in row.statements["module"]:
            continue
        expected = eval(row.statements["module"], ns)  # noqa: S307 - our own statements
        for variant in ("python", "numpy", "scipy"):
            if variant not in row.statements:
                continue
            got = eval(row.statements[variant], ns)  # noqa: S307
            if isinstance(expected, VornaltArmKinematics):
                same = (got.arm_arc(), got.coupler_arc(), got.mirror()) == (
                    expected.arm_arc(), expected.coupler_arc(), expected.mirror())
            elif isinstance(expected, bool):
                same = got is expected
            else:
                same = np.allclose(np.asarray(got, dtype=float), np.asarray(expected),
                                   rtol=0.0, atol=1e-12)
            if not same:
                raise SystemExit(f"{variant} disagrees with the module on {row.name}: "
                                 f"{got!r} != {expected!r}")
    # The record decodes to the same geometry, negative branch included.
    for text in (RECORD, '[0.7, 0.5, "negative", true]'):
        a, b = VornaltArmKinematics.from_json(text), PyArm.from_json(text)
        if a.fk(0.3, -0.4) != b.fk(0.3, -0.4):
            raise SystemExit(f"PyArm.from_json disagrees with the module on {text}")


def calibrate(timer: timeit.Timer, target_seconds: float) -> int:
    """A loop count whose run takes about `target_seconds`."""
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= target_seconds / 4 or number >= 1 << 24:
            return max(1, int(number * target_seconds / max(elapsed, 1e-9)))
        number *= 4


class Sampler:
    """Timeit samples of a set of statements, each loop calibrated once to a fixed length."""

    def __init__(self, statements: dict[str, str], ns: dict[str, object],
                 target_seconds: float) -> None:
        self.timers = {key: timeit.Timer(stmt, timer=time.process_time, globals=ns)
                       for key, stmt in statements.items()}
        self.numbers = {key: calibrate(timer, target_seconds)
                        for key, timer in self.timers.items()}
        self.samples: dict[str, list[float]] = {key: [] for key in self.timers}

    def sample(self, round_index: int, per_round: int) -> None:
        """`per_round` samples of each statement, interleaved, starting at a rotating place."""
        keys = list(self.timers)
        for k in range(per_round):
            shift = (round_index * per_round + k) % len(keys)
            for key in keys[shift:] + keys[:shift]:
                number = self.numbers[key]
                self.samples[key].append(self.timers[key].timeit(number) / number * 1e9)

    def medians(self) -> dict[str, float]:
        return {key: statistics.median(values) for key, values in self.samples.items()}


def run_core(core_bench: Path, report: Path, min_time: float, repetitions: int,
             samples: dict[str, dict[str, list[float]]]) -> None:
    """Runs the C++ suite once, `repetitions` short runs of each benchmark, and appends each
    run's figures to `samples`."""
    run = subprocess.run([str(core_bench), f"--benchmark_min_time={min_time}",
                          f"--benchmark_repetitions={repetitions}",
                          f"--benchmark_out={report}", "--benchmark_out_format=json"],
                         capture_output=True, text=True, check=False)
    if run.returncode != 0:
        raise SystemExit(f"{core_bench} failed:\n{run.stdout}{run.stderr}")
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    for entry in json.loads(report.read_text(encoding="utf-8"))["benchmarks"]:
        if entry.get("run_type") != "iteration" or entry.get("error_occurred"):
            continue
        figures = samples.setdefault(entry["name"], {"ns": [], "real_ns": [],
                                                     "bytes_per_second": []})
        figures["ns"].append(entry["cpu_time"] * scale[entry["time_unit"]])
        figures["real_ns"].append(entry["real_time"] * scale[entry["time_unit"]])
        figures["bytes_per_second"].append(entry.get("bytes_per_second", 0.0))


# ------------------------------------------------------------------------------------------
# Targets


@dataclass
class Target:
    name: str
    measured: float
    limit: float
    sense: str  # "<=" or ">="
    unit: str

    @property
    def passed(self) -> bool:
        return self.measured <= self.limit if self.sense == "<=" else self.measured >= self.limit


def core_medians(samples: dict[str, dict[str, list[float]]]) -> dict[str, dict[str, float]]:
    """Median CPU time (ns), real time and bytes per second of each C++ benchmark."""
    return {name: {key: statistics.median(values) for key, values in figures.items()}
            for name, figures in samples.items()}


# Core routines against the maths-library calls they cannot do without, timed alone on the
# same arguments: (routine, its floor, limit).
CORE_FLOORS = [
    ("BM_forward_kinematics", "BM_forward_kinematics_libm_floor", 2.15),
    ("BM_inverse_kinematics", "BM_inverse_kinematics_libm_floor", 4.5),
    ("BM_inverse_kinematics_from_direction", "BM_inverse_kinematics_libm_floor", 4.5),
]

# Python methods in units of one math.atan2(0.3, -0.2) call timed in the same rounds.
ATAN2_LIMITS = {
    "arm.ik(rotation)": 11.0,
    "arm.ik_from_direction(direction)": 11.0,
    "arm.ik_from_direction(direction, near=(0.3, -1.2))": 11.0,
    "arm.is_reachable_joints(0.3, -0.4)": 1.8,
}


def targets(table: list[Row], core: dict[str, dict[str, float]],
            reference: float) -> list[Target]:
    """The verdicts; `reference` is the median time of math.atan2(0.3, -0.2) in ns."""
    found: list[Target] = []
    for row in table:
        t = row.times
        if row.kind == "plain":
            found.append(Target(f"{row.name}: module / floor", t["module"] / t["floor"], 1.2,
                                "<=", "x"))
        else:
            assert row.core is not None
            factor = 1.3 if row.kind in ("forward", "neck") else 1.5
            added = (t["module"] - t["floor"]) / core[row.core]["ns"]
            found.append(Target(f"{row.name}: (module - floor) / {row.core}", added, factor,
                                "<=", "x"))
        inverse = row.kind == "inverse"
        found.append(Target(f"{row.name}: pure Python / module", t["python"] / t["module"],
                            20.0 if inverse else 1.0, ">=" if inverse else ">", "x"))
        if "scipy" in t:
            found.append(Target(f"{row.name}: scipy / module", t["scipy"] / t["module"], 20.0,
                                ">=", "x"))
        if row.name in ATAN2_LIMITS:
            found.append(Target(f"{row.name}: in math.atan2 calls", t["module"] / reference,
                                ATAN2_LIMITS[row.name], "<=", "x"))
    for routine, floor, limit in CORE_FLOORS:
        ratio = core[routine]["ns"] / core[floor]["ns"]
        found.append(Target(f"{routine} / its libm floor", ratio, limit, "<=", "x"))
    rate = core["BM_decode_geometry_long_record"]["bytes_per_second"] / 1e6
    found.append(Target("JSON decoder on a long record with unknown keys", rate, 200.0, ">=",
                        "MB/s"))
    for target in found:
        if target.sense == ">":  # strictly faster
            target.sense = ">="
            target.limit = math.nextafter(1.0, 2.0)
    return found


# ------------------------------------------------------------------------------------------
# Memory


def resident_kib() -> int:
    """Resident set size of this process, which also counts memory the C++ side allocates."""
    with open("/proc/self/statm", encoding="ascii") as statm:
        pages = int(statm.read().split()[1])
    return pages * os.sysconf("SC_PAGE_SIZE") // 1024


def memory() -> list[dict[str, object]]:
    """Memory still held after many calls of each query (a leak shows as growth)."""
    arm = VornaltArmKinematics.default_left()
    neck = VornaltNeckKinematics()
    rotation = arm.fk(0.3, -0.4)
    direction = arm.direction(0.3, -0.4)

    def failing() -> None:
        for call in (lambda: arm.fk(1.0, 1.0), lambda: arm.ik([[1, 0, 0], [0, 1, 0], [0, 0, 1]]),
                     lambda: arm.fk("x", 0.0), lambda: VornaltArmKinematics.from_json("[0.7]")):
            try:
                call()
            except (RuntimeError, TypeError, ValueError):
                pass

    workloads: list[tuple[str, Callable[[], object]]] = [
        ("forward queries", lambda: (arm.fk(0.3, -0.4), arm.direction(0.3, -0.4))),
        ("inverse queries", lambda: (arm.ik(rotation), arm.ik_from_direction(direction, (0.0, 0.0)))),
        ("neck", lambda: neck.ik(neck.fk([0.3, -0.2, 0.1]))),
        ("construction", lambda: (VornaltArmKinematics(0.7, 0.5, True),
                                  VornaltArmKinematics.from_json("[0.7, 0.5, \"negative\"]"))),
        ("raising calls", failing),
    ]
    results = []
    print()
    print(f"{'memory held after 100,000 more calls':<48}{'Python B':>10}{'RSS KiB':>10}")
    for name, call in workloads:
        for _ in range(1_000):
            call()
        gc.collect()
        rss_before = resident_kib()
        tracemalloc.start()
        before = tracemalloc.take_snapshot()
        for _ in range(100_000):
            call()
        gc.collect()
        after = tracemalloc.take_snapshot()
        tracemalloc.stop()
        growth = sum(stat.size_diff for stat in after.compare_to(before, "filename"))
        rss = resident_kib() - rss_before
        print(f"{name:<48}{growth:>10}{rss:>10}")
        results.append({"workload": name, "python_bytes": growth, "rss_kib": rss})
    return results


# ------------------------------------------------------------------------------------------
# Reports


def machine() -> dict[str, str]:
    cpu = "unknown"
    with open("/proc/cpuinfo", encoding="utf-8") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    return {
        "cpu": cpu,
        "cores": str(os.cpu_count()),
        "python": sys.version.split()[0],
        "implementation": platform.python_implementation(),
        "numpy": np.__version__,
        "scipy": __import__("scipy").__version__,
        "platform": platform.platform(),
    }


def fmt(value: float) -> str:
    return f"{value:,.0f}" if value >= 100 else f"{value:.1f}"


def write_markdown(path: Path, info: dict[str, str], table: list[Row], reference: float,
                   core: dict[str, dict[str, float]], found: list[Target],
                   held: list[dict[str, object]], changes: str,
                   args: argparse.Namespace) -> None:
    lines = [
        "# Time per call",
        "",
        f"Machine: {info['cpu']}, {info['cores']} cores (shared); {info['platform']}.  ",
        f"Python {info['python']} ({info['implementation']}), numpy {info['numpy']}, "
        f"scipy {info['scipy']}.  ",
        "Command: `make bench` (builds the C++ suite `build/bench/core_bench` and the floor "
        "extension, then runs `bench/bench_calls.py`, which drives both suites).",
        "",
        f"Both suites run in the same {args.rounds} rounds: each round runs the C++ suite "
        f"once (Google Benchmark, {args.per_round} runs of at least {args.core_seconds} s per "
        f"benchmark) and takes {args.per_round} interleaved timeit samples of "
        f"{args.seconds * 1e3:g} ms of every Python statement. Every figure "
        "is the median over the rounds, in ns of CPU time per call (the process's own time, "
        "which other load on the machine disturbs least; real times of the C++ suite are given "
        "beside). The ratios hold on a noisy machine; the absolute times are for information "
        "only. Debian's Google Benchmark library warns that it was built for debugging; that "
        "concerns only its own bookkeeping around the timed loops. The floor is an extension "
        "built for the benchmark alone, with the same calling convention and arguments, that "
        "returns a constant result of the same shape. "
        f"For reference, `math.atan2(0.3, -0.2)` takes {fmt(reference)} ns here.",
        "",
        "## Targets",
        "",
        "| target | measured | limit | result |",
        "|---|---:|---:|---|",
    ]
    for target in found:
        limit = "> 1" if target.limit == math.nextafter(1.0, 2.0) else \
            f"{target.sense} {target.limit:g}"
        lines.append(f"| {target.name} | {target.measured:.2f} {target.unit} | {limit} "
                     f"{target.unit} | {'pass' if target.passed else '**miss**'} |")
    passed = sum(target.passed for target in found)
    lines += ["", f"{passed} of {len(found)} targets pass.", "", "## Python methods", "",
              "| method | module ns | floor ns | module / floor | pure Python ns | Python / "
              "module | numpy ns | numpy / module | scipy ns | scipy / module |",
              "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for row in table:
        t = row.times
        cells = [row.name, fmt(t["module"]), fmt(t["floor"]), f"{t['module'] / t['floor']:.2f}",
                 fmt(t["python"]), f"{t['python'] / t['module']:.1f}"]
        for variant in ("numpy", "scipy"):
            if variant in t:
                cells += [fmt(t[variant]), f"{t[variant] / t['module']:.1f}"]
            else:
                cells += ["", ""]
        lines.append("| " + " | ".join(cells) + " |")
    lines += ["", "## What the binding adds", "",
              "The method's time minus its floor's, against the median of the core routine "
              "it calls.", "",
              "| method | module - floor ns | core routine | core ns | ratio | limit |",
              "|---|---:|---|---:|---:|---:|"]
    for row in table:
        if row.core is None:
            continue
        added = row.times["module"] - row.times["floor"]
        core_ns = core[row.core]["ns"]
        limit = 1.3 if row.kind in ("forward", "neck") else 1.5
        lines.append(f"| {row.name} | {fmt(added)} | `{row.core}` | {fmt(core_ns)} | "
                     f"{added / core_ns:.2f} | {limit} |")
    lines += ["", "## Kinematics core (C++)", "",
              "| benchmark | CPU ns | real ns | throughput |", "|---|---:|---:|---:|"]
    for name, values in core.items():
        rate = f"{values['bytes_per_second'] / 1e6:,.0f} MB/s" if values["bytes_per_second"] \
            else ""
        lines.append(f"| `{name}` | {fmt(values['ns'])} | {fmt(values['real_ns'])} | {rate} |")
    lines += ["", "## Memory held after 100,000 more calls", "",
              "| workload | Python bytes | RSS KiB |", "|---|---:|---:|"]
    for entry in held:
        lines.append(f"| {entry['workload']} | {entry['python_bytes']} | {entry['rss_kib']} |")
    lines += ["", "## What each change bought", "", changes.strip(), ""]
    path.write_text("\n".join(lines), encoding="utf-8")


def write_chart(path: Path, table: list[Row], reference: float) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    colours = {"module": "#1b6ca8", "floor": "#9db4c0", "python": "#e07a5f",
               "numpy": "#f2cc8f", "scipy": "#81b29a"}
    fig, ax = plt.subplots(figsize=(11, 0.62 * len(table) + 1.8))
    height = 0.16
    for index, row in enumerate(table):
        present = [variant for variant in VARIANTS if variant in row.times]
        for k, variant in enumerate(present):
            y = index + (k - (len(present) - 1) / 2) * height
            ax.barh(y, row.times[variant], height=height, color=colours[variant],
                    label=LABELS[variant] if index == 0 or variant in ("numpy", "scipy") else None)
    ax.axvline(reference, color="black", linestyle=":", linewidth=1,
               label="math.atan2(0.3, -0.2)")
    ax.set_yticks(range(len(table)))
    ax.set_yticklabels([row.name for row in table], fontsize=8)
    ax.invert_yaxis()
    ax.set_xscale("log")
    ax.set_xlabel("ns per call (median, log scale)")
    ax.set_title("vornalt_torso_kinematics: time per call beside its floor and alternatives")
    handles, labels = ax.get_legend_handles_labels()
    unique = dict(zip(labels, handles))
    ax.legend(unique.values(), unique.keys(), fontsize=8, loc="lower right")
    ax.grid(axis="x", which="both", alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--core-bench", type=Path, required=True,
                        help="the C++ suite, build/bench/core_bench")
    parser.add_argument("--core-report", type=Path, default=None,
                        help="where the C++ suite writes its JSON report (default: beside it)")
    parser.add_argument("--floor", type=Path, required=True,
                        help="directory holding the torso_floor extension")
    parser.add_argument("--out", type=Path, default=Path(__file__).resolve().parent,
                        help="directory for results.md, results.json and results.png")
    # Short samples are less often disturbed by other load; many of them keep the medians
    # steady.
    parser.add_argument("--rounds", type=int, default=25)
    parser.add_argument("--per-round", type=int, default=3,
                        help="samples of each Python statement and C++ benchmark per round")
    parser.add_argument("--seconds", type=float, default=0.002,
                        help="length of one timed Python loop")
    parser.add_argument("--core-seconds", type=float, default=0.01,
                        help="minimum time of one run of a C++ benchmark")
    args = parser.parse_args()

    sys.path.insert(0, str(args.floor.resolve()))
    import torso_floor

    ns = namespace(torso_floor)
    check_agreement(ns)
    core_report = args.core_report or args.core_bench.parent / "core.json"

    table = rows()
    reference_sampler = Sampler({"atan2": "atan2(0.3, -0.2)"}, ns, args.seconds)
    samplers = [Sampler(row.statements, ns, args.seconds) for row in table]
    core_samples: dict[str, dict[str, list[float]]] = {}
    repeats = args.rounds * args.per_round
    print(f"{args.rounds} rounds of the C++ suite and of the Python statements, "
          f"{args.per_round} samples of each per round", flush=True)
    for round_index in range(args.rounds):
        run_core(args.core_bench, core_report, args.core_seconds, args.per_round,
                 core_samples)
        reference_sampler.sample(round_index, args.per_round)
        for sampler in samplers:
            sampler.sample(round_index, args.per_round)
        print(".", end="", flush=True)
    print()
    core = core_medians(core_samples)
    reference = reference_sampler.medians()["atan2"]
    for row, sampler in zip(table, samplers):
        row.times = sampler.medians()

    print(f"Python {sys.version.split()[0]}; median of {repeats} samples; ns per call; "
          f"math.atan2(0.3, -0.2): {reference:.1f}")
    print(f"{'method':<52}" + "".join(f"{v:>10}" for v in VARIANTS))
    for row in table:
        print(f"{row.name:<52}" + "".join(
            f"{row.times[v]:>10.1f}" if v in row.times else f"{'':>10}" for v in VARIANTS))
    print(f"\n{'C++ benchmark (median of rounds)':<52}{'CPU ns':>10}{'real ns':>10}{'MB/s':>10}")
    for name, figures in core.items():
        rate = f"{figures['bytes_per_second'] / 1e6:>10.0f}" if figures["bytes_per_second"] else ""
        print(f"{name:<52}{figures['ns']:>10.1f}{figures['real_ns']:>10.1f}{rate}")

    found = targets(table, core, reference)
    print()
    for target in found:
        print(f"{'pass' if target.passed else 'MISS'}  {target.name}: {target.measured:.2f} "
              f"{target.unit} ({target.sense} {target.limit:g})")
    held = memory()

    info = machine()
    changes_file = Path(__file__).resolve().parent / "changes.md"
    changes = changes_file.read_text(encoding="utf-8") if changes_file.exists() else ""
    args.out.mkdir(parents=True, exist_ok=True)
    write_markdown(args.out / "results.md", info, table, reference, core, found, held, changes,
                   args)
    report = {
        "command": "make bench",
        "machine": info,
        "rounds": args.rounds,
        "python_samples_per_round": args.per_round,
        "reference_atan2_ns": reference,
        "python": [{"method": row.name, "kind": row.kind, "core": row.core,
                    "statements": row.statements, "median_ns": row.times} for row in table],
        "core": core,
        "targets": [{"name": t.name, "measured": t.measured, "limit": t.limit, "sense": t.sense,
                     "unit": t.unit, "passed": t.passed} for t in found],
        "memory": held,
    }
    (args.out / "results.json").write_text(json.dumps(report, indent=2) + "\n",
                                           encoding="utf-8")
    write_chart(args.out / "results.png", table, reference)
    print(f"\nwrote {args.out / 'results.md'}, results.json and results.png; "
          f"{sum(t.passed for t in found)} of {len(found)} targets pass")


if __name__ == "__main__":
    main()

"""Time two builds of the C++ suite side by side: what a change to the core bought.

    .venv/bin/python bench/compare_core.py BEFORE/core_bench AFTER/core_bench [--filter RE]

The two programs run in turn, round by round (the order alternating), each run taking
--repetitions short runs of every benchmark that matches the filter; the table gives the
medians over all runs in ns of CPU time per iteration, and the change. Benchmarks that only
one build has are listed with that build's figure alone. Both programs are first copied to
paths of the same length: the length of argv[0] shifts the stack, and with it the timing of
the maths library's stores and loads, by as much as the changes being measured.
"""

from __future__ import annotations

import argparse
import json
import shutil
import statistics
import subprocess
import tempfile
from pathlib import Path


def run(program: Path, pattern: str, min_time: float, repetitions: int,
        samples: dict[str, list[float]]) -> None:
    with tempfile.NamedTemporaryFile(suffix=".json") as report:
        subprocess.run([str(program), f"--benchmark_filter={pattern}",
                        f"--benchmark_min_time={min_time}",
                        f"--benchmark_repetitions={repetitions}",
                        f"--benchmark_out={report.name}", "--benchmark_out_format=json"],
                       check=True, capture_output=True)
        scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
        for entry in json.loads(Path(report.name).read_text(encoding="utf-8"))["benchmarks"]:
            if entry.get("run_type") == "iteration":
                samples.setdefault(entry["name"], []).append(
                    entry["cpu_time"] * scale[entry["time_unit"]])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("before", type=Path)
    parser.add_argument("after", type=Path)
    parser.add_argument("--filter", default="BM_(forward|inverse|enumerate|loop)")
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--repetitions", type=int, default=3)
    parser.add_argument("--min-time", type=float, default=0.01)
    args = parser.parse_args()

    before: dict[str, list[float]] = {}
    after: dict[str, list[float]] = {}
    with tempfile.TemporaryDirectory() as directory:
        programs = []
        for label, program in (("a", args.before), ("b", args.after)):
            copy = Path(directory) / label / "core_bench"
            copy.parent.mkdir()
            shutil.copy2(program, copy)
            programs.append(copy)
        for round_index in range(args.rounds):
            pairs = [(programs[0], before), (programs[1], after)]
            for program, samples in pairs if round_index % 2 == 0 else pairs[::-1]:
                run(program, args.filter, args.min_time, args.repetitions, samples)

    print("| benchmark | before ns | after ns | change |")
    print("|---|---:|---:|---:|")
    for name in list(before) + [name for name in after if name not in before]:
        b = statistics.median(before[name]) if name in before else None
        a = statistics.median(after[name]) if name in after else None
        change = f"{(a - b) / b:+.0%}" if a is not None and b is not None else ""
        cells = [f"{x:.1f}" if x is not None else "" for x in (b, a)]
        print(f"| `{name}` | {cells[0]} | {cells[1]} | {change} |")


if __name__ == "__main__":
    main()

"""The documents stay true: README and numerics examples run, reference pages are current."""

from __future__ import annotations

import builtins
import doctest
import importlib.util
import re
import sys
import textwrap
from pathlib import Path
from types import ModuleType

import pytest

ROOT = Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
NUMERICS = ROOT / "docs" / "numerics.md"

FENCE = re.compile(r"^(?P<indent>[ ]*)```(?P<lang>\w*)\n(?P<body>.*?)^(?P=indent)```$",
                   re.MULTILINE | re.DOTALL)
FLOAT = re.compile(r"-?\d+\.\d+(?:e[+-]?\d+)?")


def code_blocks(path: Path, language: str) -> list[str]:
    return [textwrap.dedent(match["body"]) for match in FENCE.finditer(path.read_text("utf-8"))
            if match["lang"] == language]


class RoundedNumbers(doctest.OutputChecker):
    """Compares printed floats to the digits written in the expected output.

    A number written with six or more decimals matches any value that rounds to it, so that a
    document can show 0.662696 for 0.6626962244871317. A shorter number such as 0.3 stands for
    that value itself, within 1e-12: round trips must come back exact up to rounding.
    """

    def check_output(self, want: str, got: str, optionflags: int) -> bool:
        if super().check_output(want, got, optionflags):
            return True
        if optionflags & doctest.NORMALIZE_WHITESPACE:
            want, got = " ".join(want.split()), " ".join(got.split())
        if FLOAT.split(want) != FLOAT.split(got):
            return False
        wanted, gotten = FLOAT.findall(want), FLOAT.findall(got)
        if len(wanted) != len(gotten):
            return False
        for w, g in zip(wanted, gotten):
            places = len(w.split(".")[1]) if "e" not in w else 0
            tolerance = 0.5 * 10.0**-places if places >= 6 else 1e-12 * max(1.0, abs(float(w)))
            if not abs(float(w) - float(g)) <= tolerance * (1 + 1e-9):
                return False
        return True


def run_python_blocks(path: Path) -> None:
    """Runs every python block of the document in order, in one namespace, as doctests."""
    blocks = code_blocks(path, "python")
    assert blocks, f"no python blocks in {path.name}"
    namespace: dict[str, object] = {}
    runner = doctest.DocTestRunner(checker=RoundedNumbers(),
                                   optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    parser = doctest.DocTestParser()
    for number, block in enumerate(blocks, 1):
        assert ">>> " in block, f"{path.name} block {number} is not a session"
        test = parser.get_doctest(block, namespace, f"{path.name} block {number}",
                                  str(path), 0)
        runner.run(test, clear_globs=False)
        namespace = test.globs  # the next block sees what this one defined
    result = runner.summarize(verbose=False)
    assert result.attempted > 0
    assert result.failed == 0, f"{result.failed} example(s) in {path.name} failed (see above)"


@pytest.mark.parametrize("path", [README, NUMERICS], ids=lambda p: p.name)
def test_python_examples_run_as_written(path: Path) -> None:
    run_python_blocks(path)


@pytest.mark.parametrize(
    ("want", "got", "matches"),
    [
        ("[0.662696, 0.584017]", "[0.6626962244871317, 0.584017488490181]", True),
        ("[0.662696, 0.584017]", "[0.6626972244871317, 0.584017488490181]", False),
        ("(0.3, -0.2)", "(0.29999999999999893, -0.19999999999999973)", True),
        ("(0.3, -0.2)", "(0.3000001, -0.2)", False),
        ("(0.3, -0.2)", "[0.3, -0.2]", False),
        ("1.5693821", "1.5693821", True),
    ],
)
def test_number_comparison_of_the_examples(want: str, got: str, matches: bool) -> None:
    assert RoundedNumbers().check_output(want + "\n", got + "\n", 0) is matches


def load_tool(name: str) -> ModuleType:
    path = ROOT / "tools" / f"{name}.py"
    module_spec = importlib.util.spec_from_file_location(name, path)
    assert module_spec is not None and module_spec.loader is not None
    module = importlib.util.module_from_spec(module_spec)
    sys.modules[name] = module
    module_spec.loader.exec_module(module)
    return module


def test_reference_pages_match_the_module_and_stubs() -> None:
    pages = load_tool("make_reference").pages()
    assert sorted(pages) == ["arm.md", "neck.md"]
    for file, text in pages.items():
        committed = (ROOT / "docs" / file).read_text(encoding="utf-8")
        assert committed == text, f"docs/{file} is out of date: run make reference"


def test_reference_lists_every_public_method() -> None:
    import vornalt_torso_kinematics as vtk

    for cls, file in ((vtk.VornaltArmKinematics, "arm.md"), (vtk.VornaltNeckKinematics, "neck.md")):
        text = (ROOT / "docs" / file).read_text(encoding="utf-8")
        for name in (n for n in dir(cls) if not n.startswith("_")):
            assert f"\n## {name}\n" in text, f"{name} missing from docs/{file}"


def test_stub_and_runtime_disagreement_is_reported() -> None:
    tool = load_tool("make_reference")
    import vornalt_torso_kinematics as vtk

    methods = tool.read_stub_classes(tool.stub_file())["VornaltNeckKinematics"]
    assert tool.check_against_runtime(vtk.VornaltNeckKinematics, methods) == []
    renamed = [tool.StubMethod(m.name, m.kind, m.signature, [("angles", None)], m.docstring)
               if m.name == "fk" else m for m in methods]
    assert any("fk" in problem for problem in
               tool.check_against_runtime(vtk.VornaltNeckKinematics, renamed))
    reworded = [tool.StubMethod(m.name, m.kind, m.signature, m.parameters, "Other text.")
                if m.name == "ik" else m for m in methods]
    assert tool.check_against_runtime(vtk.VornaltNeckKinematics, reworded) == [
        "VornaltNeckKinematics.ik: the docstrings differ"]


TOLERANCE_ROW = re.compile(r"^\| `(?P<name>k\w+)` \| `(?P<value>[^`]+)` \| `(?P<header>[^`]+)` \|",
                           re.MULTILINE)


def test_numerics_constants_are_those_of_the_sources() -> None:
    rows = list(TOLERANCE_ROW.finditer(NUMERICS.read_text(encoding="utf-8")))
    assert {row["name"] for row in rows} == {
        "kDegenerateTolerance", "kAuxiliaryAxisLimit", "kCandidateTolerance",
        "kGimbalLockTolerance"}
    for row in rows:
        header = (ROOT / row["header"]).read_text(encoding="utf-8")
        definition = f"inline constexpr double {row['name']} = {row['value']};"
        assert definition in header, f"{row['name']} is not {row['value']} in {row['header']}"


def test_readme_cpp_example_is_taken_from_the_example_program() -> None:
    program = (ROOT / "examples" / "cpp" / "main.cpp").read_text(encoding="utf-8")
    blocks = code_blocks(README, "cpp")
    assert blocks
    for block in blocks:
        for line in filter(None, (line.strip() for line in block.splitlines())):
            if line != "...":
                assert line in program, f"README C++ line not in examples/cpp/main.cpp: {line}"


def test_every_mention_of_the_version_is_the_one_in_pyproject() -> None:
    # The installed metadata (absent where make sanitize installs the module alone), the
    # changelog's newest entry, the file names in the README and the version that the README
    # and examples/cpp ask of the CMake package follow pyproject.
    import importlib.metadata
    import tomllib

    import vornalt_torso_kinematics as vtk

    version = tomllib.loads((ROOT / "pyproject.toml").read_text("utf-8"))["project"]["version"]
    major_minor = ".".join(version.split(".")[:2])
    site = str(Path(vtk.__file__).parent)
    installed = [dist.version for dist in importlib.metadata.distributions(path=[site])
                 if dist.name == "vornalt-torso-kinematics"]
    assert installed in ([], [version])
    changelog = (ROOT / "CHANGELOG.md").read_text("utf-8")
    assert re.findall(r"^## (\S+)$", changelog, re.MULTILINE)[0] == version
    readme = README.read_text("utf-8")
    example = (ROOT / "examples" / "cpp" / "CMakeLists.txt").read_text("utf-8")
    files = re.findall(r"vornalt_torso_kinematics-([0-9.]+)(?:-cp|\.tar)", readme)
    requested = re.findall(r"find_package\(vornalt_torso_kinematics ([0-9.]+)", readme + example)
    assert len(files) >= 2 and set(files) == {version}
    assert len(requested) >= 3 and set(requested) == {major_minor}


def test_readme_shows_every_picture() -> None:
    text = README.read_text(encoding="utf-8")
    pictures = sorted(path.name for path in (ROOT / "docs" / "images").glob("*.png"))
    assert pictures == ["directions.png", "joint_space.png", "linkage.png",
                        "neck_gimbal_lock.png"]
    for name in pictures:
        assert f"](docs/images/{name})" in text, f"README does not show {name}"


def test_reference_quotes_the_module_messages() -> None:
    import vornalt_torso_kinematics as vtk

    tool = load_tool("make_reference")
    arm, neck = vtk.VornaltArmKinematics.default_left(), vtk.VornaltNeckKinematics()
    calls = [
        (tool.LOOP_NOT_CLOSED, lambda: arm.direction(1.0, 1.0)),
        (tool.UNREACHABLE, lambda: arm.ik_from_direction([0.0, 0.0, 1.0])),
        (tool.GIMBAL_LOCK, lambda: neck.ik([[0, 0, 1], [0, 1, 0], [-1, 0, 0]])),
    ]
    for (error, message), call in calls:
        with pytest.raises(getattr(builtins, error)) as raised:
            call()
        assert str(raised.value) == message

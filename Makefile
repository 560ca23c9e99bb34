# Quick start: `make demo` builds, installs into .venv and runs the tour; `make test` builds
# and runs every test suite.

SHELL := /bin/bash
.SHELLFLAGS := -euo pipefail -c
.DEFAULT_GOAL := build

VENV := .venv
PY := $(VENV)/bin/python
JOBS := 2
FUZZ_SECONDS ?= 300
FUZZ_SMOKE_SECONDS ?= 20
CORPUS := build/fuzz-corpus

# CMake and Ninja come from the virtual environment.
export PATH := $(abspath $(VENV))/bin:$(PATH)

.PHONY: build test demo bench fuzz fuzz-smoke cpp-test py-test typecheck format check-format \
        toolchain clean

# ------------------------------------------------------------------------------------------
# Environment

toolchain:
	@command -v c++ >/dev/null 2>&1 || command -v g++ >/dev/null 2>&1 || { \
	  echo "error: no C++ compiler found; install one (for example: apt-get install g++)." >&2; \
	  exit 1; }

$(VENV)/.ready: pyproject.toml | toolchain
	@python=$$(tools/find-python); \
	if [ ! -x $(PY) ]; then echo "Creating $(VENV) with $$python"; "$$python" -m venv $(VENV); fi
	$(PY) -m pip install -q --upgrade "pip>=25.1"
	$(PY) -m pip install -q --group build --group test
	@touch $@

# ------------------------------------------------------------------------------------------
# Build: the same wheel that `pip install .` builds, installed into .venv.

build: $(VENV)/.ready
	$(PY) -m pip install -q --no-build-isolation --no-deps --force-reinstall .
	@$(PY) -c "import vornalt_torso_kinematics as m; print('built', m.__file__)"

demo: build
	$(PY) examples/tour.py

# ------------------------------------------------------------------------------------------
# Tests

# pytest runs last, so that its summary closes the output.
test: check-format cpp-test fuzz-smoke typecheck py-test

cpp-test: $(VENV)/.ready
	tools/ensure-system-packages gtest
	cmake -S . -B build/cpp -G Ninja -DTORSO_BUILD_MODULE=OFF -DTORSO_BUILD_TESTS=ON \
	  -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	cmake --build build/cpp -j $(JOBS)
	ctest --test-dir build/cpp --output-on-failure --no-tests=error -j $(JOBS)

py-test: build
	$(PY) -m pytest -q

# The installed stubs against the module (mypy's stubtest), and the examples under mypy
# --strict. Stubtest runs in an empty directory, so that nothing in the tree shadows the
# installed module.
typecheck: build
	mkdir -p build/typecheck
	cd build/typecheck && $(abspath $(PY)) -m mypy.stubtest vornalt_torso_kinematics
	$(PY) -m mypy --strict examples/

fuzz-smoke:
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=$(FUZZ_SMOKE_SECONDS)

# ------------------------------------------------------------------------------------------
# Fuzzing: libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer on the decoder.

fuzz: $(VENV)/.ready
	tools/ensure-system-packages clang-fuzzer
	CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DTORSO_BUILD_MODULE=OFF \
	  -DTORSO_BUILD_FUZZ=ON >/dev/null
	cmake --build build/fuzz --target geometry_fuzz -j $(JOBS)
	mkdir -p $(CORPUS)
	@echo "Fuzzing the geometry decoder for $(FUZZ_SECONDS) s (log: build/fuzz.log)"
	@build/fuzz/geometry_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -timeout=10 \
	  -print_final_stats=1 $(CORPUS) tests/fuzz/seeds > build/fuzz.log 2>&1 || { \
	  tail -n 60 build/fuzz.log; echo "error: the fuzzer found a failing input" >&2; exit 1; }
	@grep -E '^(Done|stat::(number_of_executed_units|new_units_added|peak_rss_mb))' build/fuzz.log

# ------------------------------------------------------------------------------------------
# Benchmarks and housekeeping

# The Python suite times every method beside its floor (an extension built here for the
# benchmark alone) and its alternatives, in rounds with the C++ suite, whose JSON reports it
# reads; it writes bench/results.md, bench/results.json and bench/results.png.
bench: build
	tools/ensure-system-packages benchmark
	cmake -S . -B build/bench -G Ninja -DTORSO_BUILD_MODULE=OFF -DTORSO_BUILD_BENCH=ON \
	  -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	cmake --build build/bench --target core_bench torso_floor -j $(JOBS)
	$(PY) bench/bench_calls.py --core-bench build/bench/core_bench --floor build/bench/floor \
	  --out bench

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

check-format:
	tools/ensure-system-packages clang-format
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf build $(VENV)

# Quick start: `make demo` builds, installs into .venv and runs the tour; `make test` builds
# and runs every test suite.

SHELL := /bin/bash
.SHELLFLAGS := -euo pipefail -c
.DEFAULT_GOAL := build

VENV := .venv
PY := $(VENV)/bin/python
JOBS := 2
FUZZ_SECONDS ?= 300
FUZZ_SMOKE_RUNS ?= 2000000
CORPUS := build/fuzz-corpus

# CMake and Ninja come from the virtual environment.
export PATH := $(abspath $(VENV))/bin:$(PATH)

# The project's own builds treat warnings as errors; a user's `pip install` or `cmake` does not.
STRICT := -DTORSO_WARNINGS_AS_ERRORS=ON
# What `make build` hands scikit-build-core: the same, and a build directory kept in the tree.
SKBUILD_SETTINGS := -C build-dir=build/wheel/{wheel_tag} -C cmake.define.TORSO_WARNINGS_AS_ERRORS=ON

.PHONY: build test test-explore demo pictures reference bench fuzz fuzz-build fuzz-smoke cpp-test cpp-example \
        py-test typecheck sanitize wheel wheel-test format check-format toolchain clean

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
	$(PY) -m pip install -q --no-build-isolation --no-deps --force-reinstall $(SKBUILD_SETTINGS) .
	@$(PY) -c "import vornalt_torso_kinematics as m; print('built', m.__file__)"

# The tour, and the pictures of the workspace rendered into build/pictures.
demo: build
	$(PY) examples/tour.py
	$(PY) examples/workspace.py --out build/pictures

# Writes the reference pages docs/arm.md and docs/neck.md from the installed module and stubs.
reference: build
	$(PY) tools/make_reference.py --out docs

# Renders the pictures again into docs/images, the copies that the README shows.
pictures: build
	$(PY) examples/workspace.py --out docs/images

# ------------------------------------------------------------------------------------------
# Tests

# pytest runs last, so that its summary closes the output.
test: check-format cpp-test cpp-example fuzz-smoke typecheck py-test

cpp-test: $(VENV)/.ready
	tools/ensure-system-packages gtest
	cmake -S . -B build/cpp -G Ninja -DTORSO_BUILD_MODULE=OFF -DTORSO_BUILD_TESTS=ON $(STRICT) \
	  -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	cmake --build build/cpp -j $(JOBS)
	ctest --test-dir build/cpp --output-on-failure --no-tests=error -j $(JOBS)

# The core installed as a CMake package (no Python), and examples/cpp built against it.
cpp-example: $(VENV)/.ready
	cmake -S . -B build/cpp-package -G Ninja $(STRICT) >/dev/null
	cmake --build build/cpp-package -j $(JOBS)
	rm -rf build/cpp-install
	cmake --install build/cpp-package --prefix build/cpp-install >/dev/null
	cmake -S examples/cpp -B build/cpp-example -G Ninja -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
	  -DCMAKE_PREFIX_PATH=$(abspath build/cpp-install) >/dev/null
	cmake --build build/cpp-example -j $(JOBS)
	build/cpp-example/torso_example

# pytest draws the same hypothesis cases on every run (the "repeatable" profile of
# tests/conftest.py). test-explore draws new ones each time; SEED=<n> repeats such a run.
py-test: build
	$(PY) -m pytest -q

test-explore: build
	TORSO_HYPOTHESIS_PROFILE=explore $(PY) -m pytest -q $(if $(SEED),--hypothesis-seed=$(SEED))

# The installed stubs against the module (mypy's stubtest), and the examples under mypy
# --strict. Stubtest runs in an empty directory, so that nothing in the tree shadows the
# installed module.
typecheck: build
	mkdir -p build/typecheck
	cd build/typecheck && $(abspath $(PY)) -m mypy.stubtest vornalt_torso_kinematics
	$(PY) -m mypy --strict examples/ tools/make_reference.py

# ------------------------------------------------------------------------------------------
# Fuzzing: libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer on the decoder.

fuzz-build: $(VENV)/.ready
	tools/ensure-system-packages clang-fuzzer
	CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DTORSO_BUILD_FUZZ=ON $(STRICT) >/dev/null
	cmake --build build/fuzz --target geometry_fuzz -j $(JOBS)

# The same inputs on every run, as the rest of make test: a fixed seed and number of runs from
# the committed seeds into an empty corpus, without address-space randomisation (which would
# change the comparisons libFuzzer traces; where setarch may not turn it off, it stays on) and
# without reloading the corpus on a timer.
fuzz-smoke: fuzz-build
	rm -rf build/fuzz-smoke-corpus
	mkdir -p build/fuzz-smoke-corpus
	@echo "Fuzzing the geometry decoder: $(FUZZ_SMOKE_RUNS) fixed inputs (log: build/fuzz-smoke.log)"
	@fixed=$$(setarch "$$(uname -m)" -R true 2>/dev/null && echo setarch "$$(uname -m)" -R); \
	$$fixed build/fuzz/geometry_fuzz -seed=1 -runs=$(FUZZ_SMOKE_RUNS) \
	  -reload=0 -max_len=4096 -timeout=10 -print_final_stats=1 build/fuzz-smoke-corpus \
	  tests/fuzz/seeds > build/fuzz-smoke.log 2>&1 || { \
	  tail -n 60 build/fuzz-smoke.log; echo "error: the fuzzer found a failing input" >&2; exit 1; }
	@grep -E '^(Done|stat::(number_of_executed_units|new_units_added|peak_rss_mb))' \
	  build/fuzz-smoke.log

# New inputs for FUZZ_SECONDS, into a corpus kept in build/fuzz-corpus between runs.
fuzz: fuzz-build
	mkdir -p $(CORPUS)
	@echo "Fuzzing the geometry decoder for $(FUZZ_SECONDS) s (log: build/fuzz.log)"
	@build/fuzz/geometry_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -timeout=10 \
	  -print_final_stats=1 $(CORPUS) tests/fuzz/seeds > build/fuzz.log 2>&1 || { \
	  tail -n 60 build/fuzz.log; echo "error: the fuzzer found a failing input" >&2; exit 1; }
	@grep -E '^(Done|stat::(number_of_executed_units|new_units_added|peak_rss_mb))' build/fuzz.log

# ------------------------------------------------------------------------------------------
# Sanitizers: the module and the C++ tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer (gcc) in build/sanitize, then ctest, and pytest against the
# sanitized module installed into build/sanitize/site. Python itself is not instrumented, so
# its allocator is switched to malloc (PYTHONMALLOC) for ASan to see every object, and the
# ASan runtime is preloaded, since it must come first in a process. Any report ends the run
# with a failure. Leak detection is off: the interpreter keeps much of its memory until exit,
# and so does the module (its class objects), which LeakSanitizer would report at every exit;
# tests/test_leaks.py checks the module's own allocations and references instead.

SANITIZE_BUILD := build/sanitize
SANITIZE_ENV := ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:halt_on_error=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

sanitize: $(VENV)/.ready
	tools/ensure-system-packages gtest g++
	CXX=g++ cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DTORSO_SANITIZE=ON -DTORSO_BUILD_MODULE=ON \
	  -DTORSO_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo $(STRICT) \
	  -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	$(SANITIZE_ENV) cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	rm -rf $(SANITIZE_BUILD)/site
	cmake --install $(SANITIZE_BUILD) --prefix $(SANITIZE_BUILD)/site --component Unspecified >/dev/null
	$(SANITIZE_ENV) ctest --test-dir $(SANITIZE_BUILD) --output-on-failure --no-tests=error -j $(JOBS)
	export $(SANITIZE_ENV) PYTHONMALLOC=malloc PYTHONPATH=$(abspath $(SANITIZE_BUILD)/site) \
	  LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)"; \
	$(PY) -c "import vornalt_torso_kinematics as m; \
	  assert m.__file__.startswith('$(abspath $(SANITIZE_BUILD))'), m.__file__"; \
	$(PY) -m pytest -q -p no:cacheprovider

# ------------------------------------------------------------------------------------------
# Release: the sdist, and a wheel built from it and repaired by auditwheel for manylinux 2.17
# (glibc 2.17 and newer), both in dist/. wheel-test installs that wheel, not the checkout, into
# a new virtual environment and runs the pytest suite against it from build/wheel-test, where
# nothing in the checkout can shadow the installed module (nor in the tests' subprocesses).
#
# Why 2.17: the newest glibc symbols the module needs are memcpy@GLIBC_2.14 and, from the C++
# runtime linked in, aligned_alloc@GLIBC_2.16, and 2.17 is the oldest manylinux tag above them.
# The older tags (manylinux1, glibc 2.5; manylinux2010, glibc 2.12) would need those two calls
# diverted to older symbols, and would reach almost no one: their build images were retired
# before Python 3.13 was released, and the prebuilt Python 3.13 interpreters (the manylinux
# images, conda-forge, python-build-standalone) need glibc 2.17 or newer themselves.
# A symbol newer than 2.17 makes `auditwheel repair` fail here rather than ship a narrower wheel.

WHEEL_PLATFORM := manylinux_2_17_x86_64
WHEEL_VENV := build/wheel-test/venv

wheel: $(VENV)/.ready
	$(PY) -m pip install -q --group release
	rm -rf dist build/wheelhouse
	$(PY) -m build --sdist --outdir dist . >/dev/null
	$(PY) -m pip wheel -q --no-deps -w build/wheelhouse \
	  -C cmake.define.TORSO_WARNINGS_AS_ERRORS=ON dist/*.tar.gz
	$(PY) -m auditwheel repair --plat $(WHEEL_PLATFORM) -w dist build/wheelhouse/*.whl
	$(PY) -m auditwheel show dist/*.whl
	@ls -1 dist

wheel-test: wheel
	@python=$$(tools/find-python); rm -rf $(WHEEL_VENV); "$$python" -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install -q --upgrade "pip>=25.1"
	$(WHEEL_VENV)/bin/python -m pip install -q --group test dist/*.whl
	cd build/wheel-test && venv/bin/python -c "import vornalt_torso_kinematics as m; \
	  assert m.__file__.startswith('$(abspath $(WHEEL_VENV))'), m.__file__; print('testing', m.__file__)"
	cd build/wheel-test && venv/bin/python -m pytest -q -p no:cacheprovider $(CURDIR)/tests

# ------------------------------------------------------------------------------------------
# Benchmarks and housekeeping

# The Python suite times every method beside its floor (an extension built here for the
# benchmark alone) and its alternatives, in rounds with the C++ suite, whose JSON reports it
# reads; it writes bench/results.md, bench/results.json and bench/results.png.
bench: build
	tools/ensure-system-packages benchmark
	cmake -S . -B build/bench -G Ninja -DTORSO_BUILD_BENCH=ON $(STRICT) \
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

# Entry points: setup, build, test, demo, bench.
PYTHON ?= python3
# The interpreter that builds, tests and runs: $(PYTHON), or the checkout's
# virtual environment .venv where $(PYTHON) is the system's own and refuses
# installs (scripts/setup makes it; its bin, with any CMake installed there,
# comes first on PATH).
PY := $(shell bash scripts/interpreter $(PYTHON))
ifeq ($(PY),$(CURDIR)/.venv/bin/python)
export PATH := $(CURDIR)/.venv/bin:$(PATH)
endif
BUILD ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
JOBS ?= $(shell nproc)
CMAKE_COMMON = -G Ninja
CMAKE_PYTHON = -DPython_EXECUTABLE=$(PY)

.PHONY: setup build test test-cpp test-asan demo bench clean

setup:
	PYTHON=$(PYTHON) bash scripts/setup

build: setup
	cmake -S . -B $(BUILD) $(CMAKE_COMMON) $(CMAKE_PYTHON) -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DVZ_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

# All tests: C++ and Python through CTest, then the C++ tests once more under
# AddressSanitizer + UndefinedBehaviorSanitizer (-O1 and line tables only,
# which keeps the second build cheap while reports still name file and line).
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory test-asan

test-asan:
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DVZ_SANITIZE=ON -DVZ_BUILD_PYTHON=OFF -DVZ_WERROR=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -L cpp

demo: build
	PYTHONPATH=$(BUILD)/python $(PY) examples/demo.py

# The benchmarks, then bench/peers.py: voridez beside the tools users have
# today. Only bench/peers.sh installs those tools (bench/requirements.txt),
# into a virtual environment of its own in the bench build folder.
bench: setup
	cmake -S . -B $(BENCH_BUILD) $(CMAKE_COMMON) $(CMAKE_PYTHON) -DCMAKE_BUILD_TYPE=Release -DVZ_BUILD_BENCH=ON -DVZ_BUILD_TESTS=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	for b in $(BENCH_BUILD)/*_bench; do [ -x "$$b" ] && "$$b"; done; true
	for s in bench/[!_]*.py; do [ "$$s" = bench/peers.py ] || PYTHONPATH=$(BENCH_BUILD)/python $(PY) "$$s"; done; true
	bash bench/peers.sh $(PY) $(BENCH_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD)

# Thin wrapper around CMake; every target first installs what its own step needs and the
# machine lacks (scripts/install-deps.sh).
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CONFORMANCE ?= ../shared/conformance/run

MPI_BUILD ?= build-mpi
MPIRUN ?= mpirun --oversubscribe --allow-run-as-root --quiet

.PHONY: all deps build example plot test python conformance mpi conformance-mpi faults-mpi sanitize fuzz memcheck clean

all: build

deps:
	@scripts/install-deps.sh build

# The compiler's output is shown only when the build fails.
build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) >$(BUILD)/build.log 2>&1 || { cat $(BUILD)/build.log; exit 1; }

# Clusters the shipped example; the labels and the model land in $(BUILD)/example/. Builds the
# program alone, its progress shown; like any successful run the program prints nothing.
example: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target mogem -- --no-print-directory
	@mkdir -p $(BUILD)/example
	@$(BUILD)/mogem examples/iris.txt $(BUILD)/example/iris.labels

# Draws the example's clustering (petal length against petal width) to $(BUILD)/example/iris.png.
plot: example
	@scripts/install-deps.sh test
	@tools/mogem-plot --features 3,4 examples/iris.txt $(BUILD)/example/iris.labels -o $(BUILD)/example/iris.png

test:
	@scripts/install-deps.sh test python
	@$(MAKE) --no-print-directory build python
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@MOGEM_BINARY=$(abspath $(BUILD))/mogem $(VENV)/bin/python -m pytest -q tests/python

# The Python package (python/) installed into a virtual environment, $(VENV), that sees Debian's
# NumPy, scikit-learn and pandas; no package index is needed (--no-build-isolation). Run Python
# with it as $(VENV)/bin/python.
VENV ?= $(BUILD)/venv
python:
	@scripts/install-deps.sh python
	@test -x $(VENV)/bin/python || /usr/bin/python3 -m venv --system-site-packages $(VENV)
	@CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(VENV)/bin/python -m pip install --quiet --no-build-isolation --no-deps \
	  ./python >$(BUILD)/python.log 2>&1 || { cat $(BUILD)/python.log; exit 1; }

# The expected-output cases kept beside the repository.
conformance: build
	@scripts/install-deps.sh conformance
	@CONFORMANCE=$(CONFORMANCE) scripts/conformance.sh $(BUILD)/mogem

# The same program built with MOGEM_MPI=ON, into $(MPI_BUILD); without mpirun it is the program
# above.
mpi:
	@scripts/install-deps.sh mpi
	@cmake -S . -B $(MPI_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DMOGEM_MPI=ON >/dev/null
	@cmake --build $(MPI_BUILD) -j $(JOBS) --target mogem mogem_rank_fault_shim >$(MPI_BUILD)/build.log 2>&1 || { cat $(MPI_BUILD)/build.log; exit 1; }

# The expected-output cases as one fit over 2 and over 3 processes, one thread each; then a
# failure, an interrupt and a death on one of 3 processes, each of which must end the whole run.
conformance-mpi: mpi
	@scripts/install-deps.sh conformance
	@for p in 2 3; do echo "conformance over $$p processes"; \
	  MOGEM_THREADS=1 CONFORMANCE=$(CONFORMANCE) scripts/conformance.sh "$(MPIRUN) -x MOGEM_THREADS -np $$p $(MPI_BUILD)/mogem" || exit 1; done
	@python3 tests/cli/processes_test.py $(MPI_BUILD)

# Write faults in a fit over two processes: every write, fsync, close and rename of the results
# made to fail in turn on one process (the fault shim), the MOGEM_MPI build under mpirun.
faults-mpi: mpi build
	@MOGEM_MPI_BINARY=$(abspath $(MPI_BUILD))/mogem $(BUILD)/mogem_tests --gtest_filter='WriteFaults.Over*'

# The checks CI adds: tests and cases under the sanitizers, a bounded fuzzing run (FUZZ_SECONDS,
# 60 by default), valgrind's memcheck of representative runs.
sanitize:
	@scripts/sanitize.sh

fuzz:
	@scripts/fuzz.sh

memcheck: build
	@scripts/memcheck.sh $(BUILD)/mogem

clean:
	rm -rf $(BUILD) $(MPI_BUILD) build-sanitize build-fuzz

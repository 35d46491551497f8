#!/usr/bin/env bash
# Installs with apt-get what one step of the project needs and the machine lacks, and nothing
# more; does nothing when everything is there, so every make target and CI step can call it.
#
#   scripts/install-deps.sh [STEP ...]     (no step: build)
#
#   build      a C++17 compiler, make, CMake, nlohmann-json (saved models and summaries)
#   test       build, plus GoogleTest, groff (the man page check) and Debian's Python 3 with
#              matplotlib (tools/mogem-plot and its tests run on /usr/bin/python3), NumPy and
#              SciPy (the independent recomputation of the fit statistics)
#   bench      build, plus Google Benchmark, NumPy and scikit-learn (bench/compare's peer)
#   peers      build, plus NumPy, SciPy, matplotlib, scikit-learn and R's mclust
#              (bench/choose_classes runs mogem and both peers)
#   sanitize   test (the sanitizers come with the compiler)
#   fuzz       clang with its libFuzzer runtime
#   memcheck   valgrind
#   conformance  Python 3, which runs the expected-output cases
#   mpi        build, plus Open MPI (the MOGEM_MPI build and mpirun)
#   python     build, plus pybind11, Python's headers, venv, pip, setuptools and wheel (the
#              package in python/), NumPy, and pytest, scikit-learn, pandas and Hypothesis for
#              its tests; Open MPI and mpi4py (the package's fits over processes, mogem._mpi)
set -euo pipefail

missing=()
need_command() { command -v "$1" >/dev/null 2>&1 || missing+=("$2"); }
need_file() { compgen -G "$1" >/dev/null || missing+=("$2"); }
need_python_module() { /usr/bin/python3 -c "import $1" >/dev/null 2>&1 || missing+=("$2"); }
need_r_package() { Rscript -e "library($1)" >/dev/null 2>&1 || missing+=("$2"); }

step_build() {
  need_command g++ g++
  need_command make make
  need_command cmake cmake
  need_file /usr/include/nlohmann/json.hpp nlohmann-json3-dev
}

step_test() {
  step_build
  need_file /usr/include/gtest/gtest.h libgtest-dev
  need_command groff groff-base
  need_file /usr/bin/python3 python3
  need_python_module matplotlib python3-matplotlib
  need_python_module numpy python3-numpy
  need_python_module scipy.special python3-scipy
}

step_bench() {
  step_build
  need_file /usr/include/benchmark/benchmark.h libbenchmark-dev
  need_python_module numpy python3-numpy
  need_python_module sklearn python3-sklearn
}

step_mpi() {
  step_build
  need_file /usr/lib/x86_64-linux-gnu/openmpi/include/mpi.h libopenmpi-dev
  need_command mpirun openmpi-bin
}

step_python() {
  step_build
  need_file /usr/lib/cmake/pybind11/pybind11Config.cmake pybind11-dev
  need_python_module pybind11 python3-pybind11
  need_file "/usr/include/python3*/Python.h" python3-dev
  need_python_module ensurepip python3-venv
  need_python_module pip python3-pip
  need_python_module setuptools python3-setuptools
  need_python_module wheel python3-wheel
  need_python_module numpy python3-numpy
  need_python_module pytest python3-pytest
  need_python_module sklearn python3-sklearn
  need_python_module pandas python3-pandas
  need_python_module hypothesis python3-hypothesis
  step_mpi
  need_python_module mpi4py python3-mpi4py
}

step_peers() {
  step_build
  need_python_module numpy python3-numpy
  need_python_module sklearn python3-sklearn
  need_python_module matplotlib python3-matplotlib
  need_python_module scipy.special python3-scipy
  need_r_package mclust r-cran-mclust
}

step_fuzz() {
  need_command clang++ clang
  need_file "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" libclang-rt-14-dev
}

[ $# -eq 0 ] && set -- build
for step in "$@"; do
  case "$step" in
    --bench | bench) step_bench ;;
    peers) step_peers ;;
    build) step_build ;;
    test | sanitize) step_test ;;
    fuzz) step_fuzz ;;
    memcheck) need_command valgrind valgrind ;;
    conformance) need_command python3 python3 ;;
    mpi) step_mpi ;;
    python) step_python ;;
    *) echo "install-deps: unknown step $step (build, test, bench, peers, sanitize, fuzz, memcheck, conformance, mpi, python)" >&2; exit 2 ;;
  esac
done

[ ${#missing[@]} -eq 0 ] && exit 0
# One package may be wanted by two steps.
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)

echo "install-deps: installing ${missing[*]}" >&2
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
    echo "install-deps: need root (or sudo) to install: ${missing[*]}" >&2
    exit 1
  fi
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}"

#!/usr/bin/env bash
# Installs what building and testing mogem needs and the machine lacks: a C++17 compiler,
# make, CMake, GoogleTest, Google Benchmark (bench/) and Python 3 (which runs the conformance
# cases), matplotlib for tools/mogem-plot, and for the checks of .ci/run clang with its
# libFuzzer runtime and valgrind; with --bench also NumPy and scikit-learn, which only
# bench/compare uses. Does nothing when everything is there, so every make target can call it.
set -euo pipefail

missing=()
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v make >/dev/null 2>&1 || missing+=(make)
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v python3 >/dev/null 2>&1 || missing+=(python3)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
command -v clang++ >/dev/null 2>&1 || missing+=(clang)
compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null || missing+=(libclang-rt-14-dev)
command -v valgrind >/dev/null 2>&1 || missing+=(valgrind)
# The plot tool runs on the system's own Python (/usr/bin/python3), which is what the Debian
# package serves, whatever other python3 comes first on PATH.
/usr/bin/python3 -c 'import matplotlib' >/dev/null 2>&1 || missing+=(python3-matplotlib)
# bench/compare runs the peer under the same interpreter.
if [ "${1:-}" = "--bench" ]; then
  /usr/bin/python3 -c 'import numpy' >/dev/null 2>&1 || missing+=(python3-numpy)
  /usr/bin/python3 -c 'import sklearn' >/dev/null 2>&1 || missing+=(python3-sklearn)
fi

[ ${#missing[@]} -eq 0 ] && exit 0

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

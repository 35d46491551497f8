#!/usr/bin/env bash
# Installs what building and testing mogem needs and the machine lacks: a C++17 compiler,
# make, CMake, GoogleTest, Google Benchmark (bench/), Python 3 (which runs the conformance
# cases) and, for bench/compare, Debian's NumPy and scikit-learn. Does nothing when everything
# is there, so every make target can call it.
set -euo pipefail

missing=()
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v make >/dev/null 2>&1 || missing+=(make)
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v python3 >/dev/null 2>&1 || missing+=(python3)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
# bench/compare runs the peer under Debian's own interpreter, which is where these land.
/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1 || missing+=(python3-numpy)
/usr/bin/python3 -c 'import sklearn' >/dev/null 2>&1 || missing+=(python3-sklearn)

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

#!/usr/bin/env bash
# Builds the program and the tests with AddressSanitizer (leak checking included) and
# UndefinedBehaviorSanitizer, then runs every unit test and every conformance case under them.
# Fails on a failing test or case, and on any sanitizer report, even one that a run's own exit
# code would hide.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh sanitize
build=${SANITIZE_BUILD:-build-sanitize}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DMOGEM_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$jobs" >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }

reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT
export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1:exitcode=86:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
scripts/conformance.sh "$build/mogem"
if compgen -G "$reports/*" >/dev/null; then
  echo "sanitize: reports were written:" >&2
  cat "$reports"/* >&2
  exit 1
fi
echo "sanitize: no reports"

#!/usr/bin/env bash
# Builds the libFuzzer target (clang++, both sanitizers) and runs it from the committed seed
# corpus for FUZZ_SECONDS (60) seconds. Fails on any crash, leak, hang, excess memory or
# sanitizer report; prints how many inputs were run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh fuzz
build=${FUZZ_BUILD:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ -DBUILD_TESTING=OFF \
  -DMOGEM_FUZZ=ON >/dev/null
cmake --build "$build" -j "$jobs" --target mogem_fuzz_reader >"$build/build.log" 2>&1 ||
  { cat "$build/build.log"; exit 1; }

# Inputs that fail are kept in $build/findings (replay one: $build/mogem_fuzz_reader <file>).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings="$PWD/$build/findings"
rm -rf "$findings"
mkdir -p "$work/corpus" "$findings"
log="$build/fuzz.log"
status=0
(cd "$findings" && "$OLDPWD/$build/mogem_fuzz_reader" -max_total_time="$seconds" -timeout=20 \
  -rss_limit_mb=2048 -print_final_stats=1 "$work/corpus" "$OLDPWD/tests/fuzz/corpus") >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ] || compgen -G "$findings/*" >/dev/null; then
  echo "fuzz: the target failed (status $status); the end of its log ($log):" >&2
  grep -v "^Unsupported\|^Error\|^WARNING\|^Defaulting\|^Numerical\|^\.\.\.now\|^NR_\|^Singular\|^Too many" "$log" | tail -40 >&2
  for finding in "$findings"/*; do
    [ -f "$finding" ] && { echo "--- $finding, as text:" >&2; head -c 4000 "$finding" | cat -v >&2; echo >&2; }
  done
  exit 1
fi
grep -E "^Done [0-9]+ runs" "$log" | sed 's/^/fuzz: /'

#!/usr/bin/env bash
# Builds the libFuzzer targets (clang++, both sanitizers) and runs each from its committed seed
# corpus with its dictionary, FUZZ_SECONDS (60) seconds in all:
#   reader  whole runs on arbitrary parameter files (tests/fuzz/corpus, mogem.dict), 2/3 of the time
#   csv     mogem-csv's reader and converter (tests/fuzz/csv-corpus, csv.dict), the rest
# FUZZ_TARGETS ("reader csv") picks targets; a single one gets all the time. Fails on any crash,
# leak, hang, excess memory or sanitizer report; prints how many inputs each target ran.
#
# The inputs a target finds new coverage with are kept in $build/corpus-<target> and are the
# starting point of the next run in the same build directory. A fresh build directory (as in
# CI) starts from the seeds alone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh fuzz
build=${FUZZ_BUILD:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-reader csv}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ -DBUILD_TESTING=OFF \
  -DMOGEM_FUZZ=ON >/dev/null
binaries=()
for target in $targets; do
  case "$target" in
    reader | csv) binaries+=("mogem_fuzz_$target") ;;
    *) echo "fuzz: unknown target $target (reader, csv)" >&2; exit 2 ;;
  esac
done
cmake --build "$build" -j "$jobs" --target "${binaries[@]}" >"$build/build.log" 2>&1 ||
  { cat "$build/build.log"; exit 1; }

set -- $targets
failed=0
for target in "$@"; do
  # The reader target gets two thirds of the time when both run, the last target the rest.
  if [ $# -eq 1 ]; then
    share=$seconds
  elif [ "$target" = reader ]; then
    share=$((seconds * 2 / 3))
  else
    share=$((seconds - seconds * 2 / 3))
  fi
  [ "$share" -ge 1 ] || share=1
  case "$target" in
    reader) seeds=tests/fuzz/corpus dict=tests/fuzz/mogem.dict ;;
    csv) seeds=tests/fuzz/csv-corpus dict=tests/fuzz/csv.dict ;;
  esac
  # Inputs that fail are kept in $build/findings-<target> (replay one: $build/mogem_fuzz_<target> <file>).
  findings="$PWD/$build/findings-$target"
  corpus="$PWD/$build/corpus-$target"
  log="$build/fuzz-$target.log"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  status=0
  (cd "$findings" && "$OLDPWD/$build/mogem_fuzz_$target" -max_total_time="$share" -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -dict="$OLDPWD/$dict" "$corpus" "$OLDPWD/$seeds") >"$log" 2>&1 ||
    status=$?
  if [ "$status" -ne 0 ] || compgen -G "$findings/*" >/dev/null; then
    echo "fuzz: the $target target failed (status $status); the end of its log ($log):" >&2
    grep -v "^Unsupported\|^Error\|^WARNING\|^Defaulting\|^Numerical\|^\.\.\.now\|^NR_\|^Singular\|^Too many" "$log" |
      tail -40 >&2
    for finding in "$findings"/*; do
      [ -f "$finding" ] && { echo "--- $finding, as text:" >&2; head -c 4000 "$finding" | cat -v >&2; echo >&2; }
    done
    failed=1
    continue
  fi
  grep -E "^Done [0-9]+ runs" "$log" | sed "s/^/fuzz: $target: /"
done
exit "$failed"

#!/usr/bin/env bash
# Builds the libFuzzer targets (clang++, both sanitizers) and runs each from its committed corpus
# with its dictionary, FUZZ_SECONDS (60) seconds in all:
#   reader  whole runs on arbitrary parameter files (tests/fuzz/corpus, mogem.dict), half the time
#   csv     mogem-csv's reader and converter (tests/fuzz/csv-corpus, csv.dict), a sixth
#   table   the table reader on text and .npy bytes (tests/fuzz/table-csv-corpus, csv.dict), a sixth
#   model   the saved-model reader (tests/fuzz/model-corpus, model.dict), a sixth
# FUZZ_TARGETS ("reader csv table model") picks targets; a single one gets all the time. FUZZ_RUNS
# (unset: no limit) stops each target after that many inputs, whichever comes first. Fails on
# any crash, leak, hang, excess memory or sanitizer report; prints how many inputs each target
# ran and how fast.
#
# The inputs a target finds new coverage with are kept in $build/corpus-<target> and are the
# starting point of the next run in the same build directory. FUZZ_SAVE=1 then adds to the
# committed corpus those that reach edges it does not (its files stay, reproducers included),
# to be committed: every later run, CI's included, starts from it.
# Long runs: nice -n 19 env FUZZ_TARGETS=reader FUZZ_SECONDS=3600 FUZZ_RUNS=10000000 scripts/fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh fuzz
build=${FUZZ_BUILD:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-reader csv table model}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ -DBUILD_TESTING=OFF \
  -DMOGEM_FUZZ=ON >/dev/null
binaries=()
for target in $targets; do
  case "$target" in
    reader | csv | table | model) binaries+=("mogem_fuzz_$target") ;;
    *) echo "fuzz: unknown target $target (reader, csv, table, model)" >&2; exit 2 ;;
  esac
done
cmake --build "$build" -j "$jobs" --target "${binaries[@]}" >"$build/build.log" 2>&1 ||
  { cat "$build/build.log"; exit 1; }

set -- $targets
failed=0
for target in "$@"; do
  # The reader target gets half the time when several run, the others share the rest.
  if [ $# -eq 1 ]; then
    share=$seconds
  elif [ "$target" = reader ]; then
    share=$((seconds / 2))
  else
    share=$(((seconds - seconds / 2) / ($# - 1)))
  fi
  [ "$share" -ge 1 ] || share=1
  case "$target" in
    reader) seeds=tests/fuzz/corpus dict=tests/fuzz/mogem.dict ;;
    csv) seeds=tests/fuzz/csv-corpus dict=tests/fuzz/csv.dict ;;
    table) seeds=tests/fuzz/table-csv-corpus dict=tests/fuzz/csv.dict ;;
    model) seeds=tests/fuzz/model-corpus dict=tests/fuzz/model.dict ;;
  esac
  # Inputs that fail are kept in $build/findings-<target> (replay one: $build/mogem_fuzz_<target> <file>).
  findings="$PWD/$build/findings-$target"
  corpus="$PWD/$build/corpus-$target"
  log="$build/fuzz-$target.log"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  # The program's own messages (every refused input has one) are dropped; sanitizer reports are kept.
  limits=(-max_total_time="$share" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -close_fd_mask=2)
  [ -n "${FUZZ_RUNS:-}" ] && limits+=(-runs="$FUZZ_RUNS")
  status=0
  (cd "$findings" && "$OLDPWD/$build/mogem_fuzz_$target" "${limits[@]}" -artifact_prefix="$findings/" \
    -dict="$OLDPWD/$dict" "$corpus" "$OLDPWD/$seeds") >"$log" 2>&1 ||
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
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
  echo "fuzz: $target: $runs inputs in ${took:-?} s ($(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")/s)"
  if [ "${FUZZ_SAVE:-0}" = 1 ]; then
    merged="$PWD/$build/merged-$target"
    rm -rf "$merged" && cp -r "$seeds" "$merged"
    (cd "$findings" && "$OLDPWD/$build/mogem_fuzz_$target" -merge=1 -use_counters=0 -close_fd_mask=2 -timeout=20 \
      -artifact_prefix="$findings/" "$merged" "$corpus") >"$build/merge-$target.log" 2>&1
    rm -rf "$seeds" && mv "$merged" "$seeds"
    echo "fuzz: $target: $seeds now holds $(ls "$seeds" | wc -l) inputs ($(du -sk "$seeds" | cut -f1) kB)"
  fi
done
exit "$failed"

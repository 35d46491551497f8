#!/usr/bin/env bash
# Runs a handful of representative runs of the release binary under valgrind's memcheck: plain
# EM for each covariance kind with model files and dumps, annealing, and the fatal paths of bad
# input and of a matrix that cannot be factorised. Fails on any memory error or any block
# definitely lost.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh memcheck
binary=${1:-build/mogem}
cases=../shared/conformance/cases
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

memcheck() {  # name, input file
  local dir="$work/$1"
  mkdir -p "$dir"
  cp "$2" "$dir/input.txt"
  local status=0
  (cd "$dir" && valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
    --show-leak-kinds=definite "$OLDPWD/$binary" input.txt labels.txt >/dev/null 2>"$dir/log") || status=$?
  if [ "$status" -eq 99 ]; then
    echo "memcheck: $1 has memory errors:" >&2
    cat "$dir/log" >&2
    exit 1
  fi
  echo "memcheck: $1 clean (exit $status)"
}

memcheck iris-diagonal examples/iris.txt
memcheck scalar-snapshots "$cases/dump-stepsize-1-budget-5/files/input.txt"
memcheck full-church "$cases/em-full-euclidean-church-k3/files/input.txt"
memcheck annealing-full "$cases/anneal-full-euclidean-k2/files/input.txt"
memcheck annealing-correlation-dump "$cases/anneal-diagonal-correlation-centered-k3-internal/files/input.txt"
memcheck singular-full "$cases/em-full-euclidean-coinciding-means-singular/files/input.txt"
memcheck bad-data "$cases/data-word-among-numbers/files/input.txt"

#!/usr/bin/env bash
# Lists every C++ function longer than LIMIT lines (80 by default) with its length, longest
# first, using clang-tidy's function-size check over the sources of a configured build;
# prints the longest function's length last. Exit status 1 when any function is over the limit.
#
#   scripts/long-functions.sh [LIMIT]
set -euo pipefail
cd "$(dirname "$0")/.."
limit=${1:-80}
build=${TIDY_BUILD:-build-tidy}
cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DBUILD_TESTING=ON >/dev/null
report=$(git ls-files '*.cpp' | grep -v '^tests/fuzz/' | xargs -P "$(nproc)" -n 8 clang-tidy -p "$build" --quiet \
  -checks='-*,readability-function-size' \
  -config="{CheckOptions: [{key: readability-function-size.LineThreshold, value: 1}]}" 2>/dev/null || true)
# Each warning names a function; the note after it gives its length.
lengths=$(printf '%s\n' "$report" | awk '
  /warning: function .* exceeds/ { split($0, at, ": warning"); where = at[1]; name = $0; sub(/.*function /, "", name); sub(/ exceeds.*/, "", name) }
  /note: [0-9]+ lines including/ { n = $0; sub(/.*note: /, "", n); sub(/ lines.*/, "", n); print n "\t" where "\t" name }' |
  sort -rn -k1,1 | sed "s|$PWD/||" | sort -u -t$'\t' -k2,2 | sort -rn -k1,1)
over=$(printf '%s\n' "$lengths" | awk -v limit="$limit" -F'\t' '$1 > limit')
[ -n "$over" ] && printf 'functions over %s lines:\n%s\n' "$limit" "$over"
echo "longest function: $(printf '%s\n' "$lengths" | head -n 1)"
[ -z "$over" ]

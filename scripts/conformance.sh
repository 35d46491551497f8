#!/usr/bin/env bash
# Runs every conformance case on the given binary, leaving out the cases named in
# .ci/conformance-skip (one per line, "# reason" after it). Fails when any case fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh conformance
binary=${1:?usage: scripts/conformance.sh <mogem binary>}
conformance=${CONFORMANCE:-../shared/conformance/run}
if [ ! -x "$conformance" ]; then
  echo "conformance: no cases at $conformance" >&2
  exit 1
fi
exclude='^$'
if [ -f .ci/conformance-skip ]; then
  while read -r name _; do
    [ -n "$name" ] && [ "${name:0:1}" != "#" ] && exclude="$exclude|^$name\$"
  done < .ci/conformance-skip
fi
"$conformance" "$binary" -q --exclude "$exclude"

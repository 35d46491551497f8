#!/usr/bin/env bash
# Non-blank lines of C++ and Python under tests/ against those of the rest of the repository,
# and their ratio. A tracked file counts by its language: .cpp, .h, .inc and .py, and scripts
# without a suffix whose first line runs Python. Fixtures, corpora and shell scripts do not count.
#
#   scripts/test-share.sh        prints "tests T, code C, share P%" and each side's files by size
#   scripts/test-share.sh -q     prints the first line only
set -euo pipefail
cd "$(dirname "$0")/.."
source_files() {
  git ls-files | while read -r f; do
    case "$f" in
      *.cpp | *.h | *.inc | *.py) echo "$f" ;;
      */*.* | *.*) ;;
      *) head -n 1 "$f" 2>/dev/null | grep -q '^#!.*python' && echo "$f" ;;
    esac
  done
}
count() { grep -cv '^\s*$' "$1" || true; }
tests=0 code=0
listing=$(source_files | while read -r f; do echo "$(count "$f") $f"; done)
while read -r n f; do
  case "$f" in tests/*) tests=$((tests + n)) ;; *) code=$((code + n)) ;; esac
done <<<"$listing"
echo "tests $tests, code $code, share $(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.1f", 100 * t / c }')%"
[ "${1:-}" = -q ] && exit 0
echo
echo "largest test files:"
grep ' tests/' <<<"$listing" | sort -rn | head -15

#!/usr/bin/env bash
# scripts/release takes the maker's settings file and refuses a program that would run downloads
# unverified unless told so; what it took is said before anything is built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

status=0
"$root/scripts/release" "$work/out" >"$work/plain.log" 2>&1 || status=$?
[ $status = 1 ] || fail "without a publisher: exit $status, not 1"
grep -q 'refused: no installer publisher' "$work/plain.log" || fail "without a publisher: no refusal"
grep -q 'installer publisher: (none) - downloaded installers run unverified' "$work/plain.log" ||
  fail "without a publisher: the settings were not shown"
[ ! -e "$work/out" ] || fail "without a publisher: a release folder was made"

"$root/scripts/release" --settings "$root/release/settings.example.cmake" --show-settings >"$work/file.log" 2>&1 ||
  fail "--show-settings with the example file failed"
for line in 'release host: download.example.com' 'installer publisher: Example Software Ltd' \
  'release document keys (ids): (none) - release documents are read unsigned'; do
  grep -qF "  $line" "$work/file.log" || fail "the example file's settings: no line '$line'"
done
grep -q 'building' "$work/file.log" && fail "--show-settings built the program"

[ $failures = 0 ] && echo "release settings: ok"
exit $((failures > 0))

#!/usr/bin/env bash
# Every command a maker or developer runs answers --help and -h with its usage on standard output and
# exit code 0, quickly and without doing anything: no file appears in its working or temporary folder.
#   tests/help.sh BRIMO_PUBLISH BRIMO_FUNNEL
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
T=$(mktemp -d /tmp/brimo-help.XXXXXX)
trap 'rm -rf "$T"' EXIT
commands=("$1" "$2")
# Every command in those folders: what can be run (not the sourced common.sh, not the settings example).
for f in "$here"/scripts/* "$here"/release/*; do
  [ -x "$f" ] && [ "${f##*/}" != common.sh ] && commands+=("$f")
done
for tool in test-signing test-token test-cert test-document-keys sign-document tsa-server release-server \
  demo-installer wine-run fault_server.py pe-time-stamp gen_resources.py check_resources.py; do
  commands+=("$here/tools/$tool")
done

failures=0
for command in "${commands[@]}"; do
  for option in --help -h; do
    mkdir "$T/cwd" "$T/tmp"
    # A command that set itself up or started its work would not end within seconds.
    out=$(cd "$T/cwd" && TMPDIR=$T/tmp timeout 5 "$command" "$option" 2>"$T/err")
    status=$?
    left=$(find "$T/cwd" "$T/tmp" -mindepth 1)
    if [ $status != 0 ] || ! grep -qi usage <<<"$out" || [ -n "$left" ]; then
      echo "FAIL: ${command#"$here"/} $option: exit $status, left [$left], output:"
      echo "$out" | head -5
      head -5 "$T/err"
      failures=$((failures + 1))
    fi
    rm -rf "$T/cwd" "$T/tmp"
  done
done
echo "${#commands[@]} commands, $failures failures"
[ $failures = 0 ]

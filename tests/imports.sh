#!/usr/bin/env bash
# The program's load-time imports are KnownDLLs only, which Windows maps from system32 whatever lies
# beside the program; every other library is delay-loaded from system32 by the program itself.
#   tests/imports.sh EXE
set -euo pipefail
exe=$1
known="advapi32 gdi32 gdiplus kernel32 msvcrt normaliz ole32 shell32 shlwapi user32 ws2_32"
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: \(.*\)\.dll$/\1/Ip' | tr 'A-Z' 'a-z' | sort | xargs)
status=0
if [ "$imports" != "$known" ]; then
  printf 'load-time imports: %s\nexpected:          %s\n' "$imports" "$known" >&2
  status=1
fi
[ $status = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $status

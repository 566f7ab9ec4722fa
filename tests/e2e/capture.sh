#!/usr/bin/env bash
# The debug-output capture: the program under it runs as users run it (a C++ exception leaves the
# callee-saved registers as they were), and every string of the program, and only of the program,
# arrives even while a second capture runs and when the program exits right after its last string.
source "$(dirname "$0")/lib.sh"
PROBE="Z:$BRIMO_BUILD/tools/brimo-capture-probe.exe"

"${WINE_RUN[@]}" "$PROBE" registers >"$WORK/plain.out" 2>&1
check "registers survive a throw without the capture" equals "$?" 0
"${WINE_RUN[@]}" "$CAPTURE_EXE" "$PROBE" registers >"$WORK/captured.out" 2>&1
check "registers survive a throw under the capture" equals "$?" 0
check "and no register changed" equals "$(grep -v '^EXIT 0$' "$WORK/captured.out")" ""

# Two captures at once, each program starting a child that writes strings of its own meanwhile.
count=200
for name in first second; do
  ( "${WINE_RUN[@]}" "$CAPTURE_EXE" --out "Z:$WORK/$name.log" "$PROBE" strings "$name" $count >/dev/null 2>&1
    echo $? >"$WORK/$name.rc" ) &
done
wait
for name in first second; do
  check "$name: exits with the program's code" equals "$(cat "$WORK/$name.rc")" 7
  check "$name: every string of its own, in order, then the exit" \
    equals "$(cat "$WORK/$name.log")" "$(seq $count | sed "s/^/ODS $name /"; echo 'EXIT 7')"
done

help=$("${WINE_RUN[@]}" "$CAPTURE_EXE" --help)
check "--help exits 0" equals "$?" 0
check "--help prints the usage" grep -q '^usage: brimo-dbgcapture \[--out FILE\] PROGRAM' <<<"$help"
finish_e2e

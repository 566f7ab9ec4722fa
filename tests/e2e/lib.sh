# Shared helpers of the end-to-end tests: run the real program under Wine through the debug-output
# capture tool, drive its window with the driver tool, and read what it logged.
# Needs BRIMO_SOURCE and BRIMO_BUILD (the Windows build tree).
set -u
: "${BRIMO_SOURCE:?}" "${BRIMO_BUILD:?}"

WINE_RUN=("$BRIMO_SOURCE/tools/wine-run" --prefix "$BRIMO_BUILD/wineprefix")
INSTALLER_EXE="Z:$BRIMO_BUILD/app/QuarnBrimoInstaller.exe"
CAPTURE_EXE="$BRIMO_BUILD/tools/brimo-dbgcapture.exe"
DRIVER_EXE="$BRIMO_BUILD/tools/brimo-driver.exe"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/brimo-e2e.XXXXXX")
FAILURES=0
PASSES=0

cleanup_e2e() {
  "${WINE_RUN[@]}" taskkill /f /im QuarnBrimoInstaller.exe >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup_e2e EXIT

check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then
    PASSES=$((PASSES + 1))
  else
    FAILURES=$((FAILURES + 1))
    echo "FAIL: $what" >&2
  fi
}

equals() { [ "$1" = "$2" ] || { printf '  expected: %s\n  actual:   %s\n' "$2" "$1" >&2; return 1; }; }

# start_program NAME [ARGS...]: starts the installer under the capture tool; its records go to
# $WORK/NAME.log, its exit code to $WORK/NAME.rc when it ends.
start_program() {
  local name=$1
  shift
  : >"$WORK/$name.log"
  ( "${WINE_RUN[@]}" "$CAPTURE_EXE" --out "Z:$WORK/$name.log" "$INSTALLER_EXE" "$@" >"$WORK/$name.out" 2>&1
    echo $? >"$WORK/$name.rc" ) &
}

# wait_program NAME [SECONDS]: waits for the program to end and prints its full exit code.
wait_program() {
  local name=$1 limit=${2:-30} waited=0
  while [ ! -s "$WORK/$name.rc" ]; do
    sleep 0.2
    waited=$((waited + 1))
    [ $waited -lt $((limit * 5)) ] || { echo timeout; return 1; }
  done
  sed -n 's/^EXIT //p' "$WORK/$name.log"
}

# The logged strings, one per line, with empty strings left out.
log_of() { sed -n 's/^ODS //p' "$WORK/$1.log" | grep -v '^$' || true; }

info() { printf 'Quarn Brimo Installer [INFO] %s\\n' "$1"; }
error() { printf 'Quarn Brimo Installer [ERROR] %s\\n' "$1"; }

driver() { "${WINE_RUN[@]}" "$DRIVER_EXE" "$@"; }

# field KEY LINE: the value of KEY in a driver output line.
field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2"; }

finish_e2e() {
  echo "$PASSES passed, $FAILURES failed"
  [ "$FAILURES" -eq 0 ]
}

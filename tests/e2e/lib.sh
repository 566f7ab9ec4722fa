# Shared helpers of the end-to-end tests: run the real program under Wine through the debug-output
# capture tool, drive its window with the driver tool, and read what it logged.
# Needs BRIMO_SOURCE and BRIMO_BUILD (the Windows build tree).
set -u
: "${BRIMO_SOURCE:?}" "${BRIMO_BUILD:?}"

# Requests to the loopback release servers go straight to them, never through a proxy set in the
# caller's environment.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy no_proxy NO_PROXY

WINE_RUN=("$BRIMO_SOURCE/tools/wine-run" --prefix "$BRIMO_BUILD/wineprefix")
INSTALLER_EXE=${INSTALLER_EXE:-"Z:$BRIMO_BUILD/app/QuarnBrimoInstaller.exe"}
CAPTURE_EXE="$BRIMO_BUILD/tools/brimo-dbgcapture.exe"
DRIVER_EXE="$BRIMO_BUILD/tools/brimo-driver.exe"
TEST_INSTALLER="$BRIMO_BUILD/tools/brimo-test-installer.exe"
RELEASE_PORT=${BRIMO_TEST_PORT:-18620}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/brimo-e2e.XXXXXX")
DRIVE_C="$BRIMO_BUILD/wineprefix/drive_c"
MARKERS="$DRIVE_C/brimo-test"
FAILURES=0
PASSES=0

# own_pids PATTERN: processes whose command line matches PATTERN and that run in this suite's Wine
# prefix (read from their environment), never another run's.
own_pids() {
  local pid
  for pid in $(pgrep -f "$1" || true); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$BRIMO_BUILD/wineprefix" && echo "$pid"
  done
  return 0
}

# Copies of the program still running under Wine (their command lines start with the exe's path).
program_pids() { own_pids '^[^ ]*QuarnBrimoInstaller\.exe'; }

# Ends every copy of the program and waits until they are gone: a copy that outlives its suite would
# hold the single-instance mutex, and the next suite's first run would exit 1 at once.
stop_programs() {
  [ -n "$(program_pids)" ] || return 0
  "${WINE_RUN[@]}" taskkill /f /im QuarnBrimoInstaller.exe >/dev/null 2>&1 || true
  for _ in $(seq 100); do
    [ -n "$(program_pids)" ] || return 0
    sleep 0.1
  done
  echo "copies of the program still running after 10 s: $(program_pids)" >&2
  return 1
}

cleanup_e2e() {
  stop_programs || true
  stop_release_server
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
  if ! grep -q '^EXIT ' "$WORK/$name.log"; then
    echo "$name: no exit record; runner exit $(cat "$WORK/$name.rc"); output: $(cat "$WORK/$name.out")" >&2
    echo "$name: records: $(cat "$WORK/$name.log")" >&2
  fi
  sed -n 's/^EXIT //p' "$WORK/$name.log"
}

# The logged strings, one per line, with empty strings left out.
log_of() { sed -n 's/^ODS //p' "$WORK/$1.log" | grep -v '^$' || true; }

info() { printf 'Quarn Brimo Installer [INFO] %s\\n' "$1"; }
error() { printf 'Quarn Brimo Installer [ERROR] %s\\n' "$1"; }

driver() { "${WINE_RUN[@]}" "$DRIVER_EXE" "$@"; }

# field KEY LINE: the value of KEY in a driver output line.
field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2"; }

# The release server on the port the program was built for: a tree served by nginx, optionally
# throttled (start_nginx TREE [RATE] [more release-server options]), or by the scriptable server for faults nginx cannot give
# (start_fault_server TREE; paths like "cut/1000/10" in the release document select a fault).
start_nginx() {
  stop_release_server
  local rate=()
  [ -n "${2:-}" ] && rate=(--rate "$2")
  if ! "$BRIMO_SOURCE/tools/release-server" start --root "$1" --port "$RELEASE_PORT" --state "$WORK/nginx" \
    "${rate[@]}" "${@:3}" >"$WORK/nginx.out" 2>&1; then
    # Every check after this would test against no server: the suite ends here.
    echo "FAIL: release server (nginx) did not start: $(cat "$WORK/nginx.out")" >&2
    exit 1
  fi
}
start_fault_server() {
  stop_release_server
  setsid python3 "$BRIMO_SOURCE/tools/fault_server.py" --port "$RELEASE_PORT" --root "$1" \
    --pidfile "$WORK/fault.pid" --max-seconds 600 </dev/null >"$WORK/fault.out" 2>&1 &
  for _ in $(seq 100); do grep -q '^listening' "$WORK/fault.out" 2>/dev/null && return 0; sleep 0.1; done
  # Every check after this would test against no server: the suite ends here.
  echo "FAIL: fault server did not start: $(cat "$WORK/fault.out")" >&2
  exit 1
}
# wait_gone PID: waits until the process has ended (a zombie counts as ended), so its port is free.
wait_gone() {
  local state
  for _ in $(seq 100); do
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null || echo Z)
    [ "$state" = Z ] && return 0
    sleep 0.1
  done
  echo "process $1 still running after 10 s" >&2
  return 1
}
stop_release_server() {
  [ -d "$WORK/nginx" ] && "$BRIMO_SOURCE/tools/release-server" stop --state "$WORK/nginx" >/dev/null 2>&1
  rm -rf "$WORK/nginx"
  if [ -f "$WORK/fault.pid" ]; then
    local pid
    pid=$(cat "$WORK/fault.pid")
    kill "$pid" 2>/dev/null || true
    wait_gone "$pid" || true
    rm -f "$WORK/fault.pid"
  fi
  return 0
}

# release_tree DIR PATH [INSTALLER_CONFIG]: a release tree whose latest.yml names PATH, with the test
# installer at PATH (its trailer set to INSTALLER_CONFIG when given).
release_tree() {
  local dir=$1 path=$2 config=${3:-}
  mkdir -p "$dir"
  printf 'version: 1.0.0\npath: "%s"\nreleaseDate: 2026-12-01\n' "$path" >"$dir/latest.yml"
  if [ -n "$path" ] && [[ "$path" != */* ]]; then
    cp "$TEST_INSTALLER" "$dir/$path"
    [ -z "$config" ] || printf 'BRIMO-TEST-CONFIG{%s}' "$config" >>"$dir/$path"
  fi
}

# serve_throttled DIR NAME: a release tree whose installer NAME, padded to 3 MB, nginx serves at 200 KiB/s
# (some 15 s), long enough to act while it downloads.
serve_throttled() {
  release_tree "$1" "$2"
  head -c 3000000 /dev/zero >>"$1/$2"
  start_nginx "$1" 200k
}

# The message boxes the program shows, dismissed one by one: prints "caption|text" per box.
dismiss_boxes() {  # dismiss_boxes COUNT [TIMEOUT_MS]
  driver boxes --dismiss --count "$1" --timeout "${2:-20000}" |
    sed -n 's/^BOX caption=\(.*\) text=\(.*\)$/\1|\2/p'
}

# Installer files the program left in a temporary folder: the system's, or (a token without
# Administrators) the user's.
temp_installers() {
  find "$DRIVE_C/windows/temp" "$DRIVE_C/users" -regextype posix-extended -ipath '*/temp/*' \
    -regex '.*/[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}\.exe' 2>/dev/null | sort
}

# The installers' own folders the program left in a temporary folder.
temp_folders() {
  find "$DRIVE_C/windows/temp" "$DRIVE_C/users" -regextype posix-extended -ipath '*/temp/*' -type d \
    -regex '.*/[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}' 2>/dev/null | sort
}

# wait_download BEFORE: waits up to 10 s until a temporary installer file that is not in the list
# BEFORE (of temp_installers) holds bytes: the program is receiving the installer.
wait_download() {
  for _ in $(seq 100); do
    comm -13 <(echo "$1") <(temp_installers) | xargs -r -d '\n' stat -c %s 2>/dev/null | grep -qv '^0$' && return 0
    sleep 0.1
  done
  echo "no bytes of the installer arrived within 10 s" >&2
  return 1
}

# The installed application is started by the program and runs on its own, so its record may come
# after the program has exited: waits up to 10 s for it (false if it never comes).
app_started() {
  for _ in $(seq 100); do
    [ -s "$MARKERS/app-started.txt" ] && return 0
    sleep 0.1
  done
  return 1
}

# Clears the records of the installer and the application, once a previous case's application (which
# may outlive the program) has ended and can no longer write into the next case's records.
reset_markers() {
  for _ in $(seq 100); do
    [ -n "$(own_pids 'Quarn Brimo Beta\.exe')" ] || break
    sleep 0.1
  done
  rm -rf "$MARKERS" "$DRIVE_C/Program Files/Quarn Brimo Beta"
}

# The support address the program was built with ends most message-box texts.
support=${BRIMO_SUPPORT_URL:-$(sed -n 's/^BRIMO_SUPPORT_URL:STRING=//p' "$BRIMO_BUILD/CMakeCache.txt")}
# run_case NAME [ARGS...]: runs the program to its end, dismissing any message boxes on the way;
# leaves the exit code in $WORK/NAME.code and the boxes in $WORK/NAME.boxes.
run_case() {
  local name=$1
  shift
  start_program "$name" "$@"
  : >"$WORK/$name.boxes"
  local rc started=$SECONDS
  while [ ! -s "$WORK/$name.rc" ]; do
    # A program that never ends fails its case here rather than holding the suite until its time-out.
    if [ $((SECONDS - started)) -gt 120 ]; then
      FAILURES=$((FAILURES + 1))
      echo "FAIL: $name: still running after 120 s" >&2
      stop_programs
      break
    fi
    # Exit 1 is "no box within the time-out"; anything else is the driver's own failure.
    driver boxes --dismiss --timeout 500 >"$WORK/$name.driver" 2>&1
    rc=$?
    sed -n 's/^BOX caption=\(.*\) text=\(.*\)$/\1|\2/p' "$WORK/$name.driver" >>"$WORK/$name.boxes"
    if [ $rc -gt 1 ]; then
      FAILURES=$((FAILURES + 1))
      echo "FAIL: $name: the driver failed (exit $rc): $(cat "$WORK/$name.driver")" >&2
      break
    fi
  done
  wait_program "$name" >"$WORK/$name.code"
}
code_of() { cat "$WORK/$1.code"; }
boxes_of() { cat "$WORK/$1.boxes"; }
box() { printf 'Quarn Brimo Installer|%s%s' "$1" "$support"; }

finish_e2e() {
  echo "$PASSES passed, $FAILURES failed"
  [ "$FAILURES" -eq 0 ]
}

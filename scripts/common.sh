# Shared by the scripts: the source root, the loopback ports the tests and the demo use, and the
# configure step of the Windows build that talks to the local release server.
BRIMO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BRIMO_TEST_PORT=${BRIMO_TEST_PORT:-18620}

configure_windows() {
  cmake --preset windows -DBRIMO_E2E_TESTS=ON -DBRIMO_TEST_PORT_BASE="$BRIMO_TEST_PORT" \
    -DBRIMO_RELEASE_HOST="127.0.0.1:$BRIMO_TEST_PORT" >"$BRIMO_ROOT/build/windows-configure.log"
}

# Ends what the Windows runs left behind: the persistent wineserver and our virtual display.
stop_wine() {
  WINEPREFIX="$BRIMO_ROOT/build/windows/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
  local display=${BRIMO_XVFB_DISPLAY:-97} pidfile pid
  pidfile=/tmp/.brimo-xvfb-$display.pid
  [ -f "$pidfile" ] || return 0
  pid=$(tr -dc 0-9 <"$pidfile")
  # Guard against a recycled pid: the process must be the Xvfb that tools/wine-run started there.
  if [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] &&
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q "^Xvfb :$display "; then
    kill "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
}

# Shared by the scripts: the source root, the loopback ports the tests and the demo use, the
# configure step of the Windows build that talks to the local release server, and what a test run
# owns (its block of ports, its display) so that two runs on one machine stay apart.
BRIMO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BRIMO_TEST_PORT_GIVEN=${BRIMO_TEST_PORT:+1}
BRIMO_TEST_PORT=${BRIMO_TEST_PORT:-18620}
# Ports a run uses from its base: the Windows build's servers at base+0..9, the native presets' at
# base+10..39 (one block of ten each).
BRIMO_PORT_SPAN=40
BRIMO_NATIVE_PRESETS=(linux linux-asan linux-tsan)
# The one user Wine knows, whom it reports as the owner of every folder: the test builds accept it as
# the owner of the system temporary folder, where Windows would show SYSTEM or TrustedInstaller.
BRIMO_WINE_USER_SID=S-1-5-21-0-0-0-1000

configure_windows() {
  cmake --preset windows -DBRIMO_E2E_TESTS=ON -DBRIMO_TEST_PORT_BASE="$BRIMO_TEST_PORT" \
    -DBRIMO_RELEASE_HOST="127.0.0.1:$BRIMO_TEST_PORT" -DBRIMO_TEST_FOLDER_OWNER="$BRIMO_WINE_USER_SID" \
    >"$BRIMO_ROOT/build/windows-configure.log"
}

# configure_native PRESET: the native preset on its own block of ten ports after the Windows one's.
configure_native() {
  local i
  for i in "${!BRIMO_NATIVE_PRESETS[@]}"; do
    [ "${BRIMO_NATIVE_PRESETS[$i]}" = "$1" ] && break
  done
  cmake --preset "$1" -DBRIMO_TEST_PORT_BASE=$((BRIMO_TEST_PORT + 10 * (i + 1))) >"$BRIMO_ROOT/build/$1-configure.log"
}

# True when no process listens on, and nothing is bound to, any of the COUNT ports from BASE.
ports_free() {
  python3 - "$1" "$2" <<'PY'
import socket, sys
base, count = int(sys.argv[1]), int(sys.argv[2])
for port in range(base, base + count):
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", port))
    except OSError:
        sys.exit(1)
    finally:
        s.close()
PY
}

# Claims a block of free ports for this run and sets BRIMO_TEST_PORT to its base. A claim is a
# folder named after the base, made atomically, holding the claiming shell's pid; a claim whose
# process has ended is taken over. BRIMO_TEST_PORT given by the caller is used as it is.
BRIMO_PORT_CLAIM=''
claim_test_ports() {
  [ -z "${BRIMO_TEST_PORT_GIVEN:-}" ] || return 0
  local claims=/tmp/brimo-port-claims base owner
  mkdir -p "$claims"
  for base in $(seq 18620 100 24520); do
    if ! mkdir "$claims/$base" 2>/dev/null; then
      owner=$(tr -dc 0-9 <"$claims/$base/pid" 2>/dev/null || true)
      [ -n "$owner" ] && kill -0 "$owner" 2>/dev/null && continue
      # The owner has gone (or never wrote its pid): take the claim over, unless another run just did.
      rm -rf "$claims/$base"
      mkdir "$claims/$base" 2>/dev/null || continue
    fi
    echo $$ >"$claims/$base/pid"
    if ports_free "$base" "$BRIMO_PORT_SPAN"; then
      BRIMO_TEST_PORT=$base
      BRIMO_PORT_CLAIM=$claims/$base
      export BRIMO_TEST_PORT
      return 0
    fi
    rm -rf "$claims/$base"
  done
  echo "no free block of $BRIMO_PORT_SPAN loopback ports between 18620 and 24560" >&2
  return 1
}

# Starts a virtual display of this run's own (Xvfb picks a free number and reports it) and exports
# DISPLAY, so that tools/wine-run starts none; a display set in the caller's environment (a desktop
# with a window manager) is not used. The display holds none of the caller's descriptors.
BRIMO_OWN_XVFB=''
start_own_display() {
  local fifo number
  fifo=$(mktemp -u /tmp/brimo-displayfd.XXXXXX)
  mkfifo "$fifo"
  (
    for fd in /proc/$BASHPID/fd/*; do
      fd=${fd##*/}
      [ "$fd" -gt 2 ] && eval "exec $fd>&-"
    done
    exec setsid Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1
  ) &
  BRIMO_OWN_XVFB=$!
  number=$(timeout 30 head -n1 "$fifo" || true)
  rm -f "$fifo"
  if ! [[ $number =~ ^[0-9]+$ ]]; then
    echo "the virtual display did not start" >&2
    kill "$BRIMO_OWN_XVFB" 2>/dev/null || true
    BRIMO_OWN_XVFB=''
    return 1
  fi
  export DISPLAY=:$number
}

# stop_wine [ROOT]: ends what this run's Windows runs left behind: the persistent wineserver of the
# prefix of ROOT's Windows build (default this tree's), its own display (or the shared one that
# tools/wine-run started, by its recorded pid) and its port claim.
stop_wine() {
  WINEPREFIX="${1:-$BRIMO_ROOT}/build/windows/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
  if [ -n "$BRIMO_OWN_XVFB" ]; then
    kill "$BRIMO_OWN_XVFB" 2>/dev/null || true
    BRIMO_OWN_XVFB=''
  else
    local display=${BRIMO_XVFB_DISPLAY:-97} pidfile pid
    pidfile=/tmp/.brimo-xvfb-$display.pid
    if [ -f "$pidfile" ]; then
      pid=$(tr -dc 0-9 <"$pidfile")
      # Guard against a recycled pid: the process must be the Xvfb that tools/wine-run started there.
      if [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] &&
        tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q "^Xvfb :$display "; then
        kill "$pid" 2>/dev/null || true
      fi
      rm -f "$pidfile"
    fi
  fi
  if [ -n "$BRIMO_PORT_CLAIM" ]; then
    rm -rf "$BRIMO_PORT_CLAIM"
    BRIMO_PORT_CLAIM=''
  fi
}

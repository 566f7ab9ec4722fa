#!/usr/bin/env bash
# The splash window as drawn: screenshots of the real window under Wine, one at a known download
# percentage and one while the installer runs, checked pixel by pixel. The screenshots are kept in
# $BRIMO_BUILD/test-screenshots.
source "$(dirname "$0")/lib.sh"
setup_name="Quarn Brimo Setup 1.0.exe"
shots="$BRIMO_BUILD/test-screenshots"
mkdir -p "$shots"
display=${DISPLAY:-:${BRIMO_XVFB_DISPLAY:-97}}

# shot NAME WINDOW: the window's 360 x 250 screen area, from the driver's find line, into $shots/NAME.png.
shot() {
  rm -f "$shots/$1.png"
  import -display "$display" -window root -crop "360x250+$(field x "$2")+$(field y "$2")" +repage \
    "$shots/$1.png"
}

# wait_log NAME TEXT [SECONDS]: waits until the program has logged TEXT.
wait_log() {
  local waited=0
  until log_of "$1" | grep -qF "$2"; do
    sleep 0.1
    waited=$((waited + 1))
    [ $waited -lt $((${3:-20} * 10)) ] || return 1
  done
}

check_shot() { "$BRIMO_SOURCE/tests/e2e/check_splash.py" "$@"; }

# shot_until NAME WINDOW CHECK_ARGS...: shoots the window until the checker accepts the shot, for 10 s
# at most (the animation reaches its frame in its own time); on failure the last shot's faults show.
shot_until() {
  local name=$1 window=$2
  shift 2
  for _ in $(seq 50); do
    shot "$name" "$window"
    check_shot "$shots/$name.png" "$@" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  check_shot "$shots/$name.png" "$@"
}

# Downloading: the body stalls after 425000 of 1000000 bytes, so the bar settles on frame 42.
release_tree "$WORK/stalled" "stall/1000000/425000"
start_fault_server "$WORK/stalled"
before=$(temp_installers)
start_program downloading
window=$(driver find --visible --timeout 20000)
check "the window appears while downloading" [ -n "$window" ]
check "the download starts" wait_log downloading 'sending http request for installer'
check "downloading at 42.5 %: the splash as drawn" \
  shot_until pixels-downloading "$window" --phase downloading --frame 42
check "the driver delivers Escape" driver key 27 >/dev/null
check "Escape ends the stalled download with 2" equals "$(wait_program downloading)" 2
comm -13 <(echo "$before") <(temp_installers) | xargs -r rm -f

# Installing: the installer sleeps 4 s before it records its run, so the shot falls inside it.
reset_markers
release_tree "$WORK/busy" "$setup_name" "sleep=4000"
start_nginx "$WORK/busy"
start_program installing
window=$(driver find --visible --timeout 20000)
check "the window appears while installing" [ -n "$window" ]
check "the download completes" wait_log installing 'installer download complete'
check "installing: the splash as drawn" shot_until pixels-installing "$window" --phase installing
still_installing=no
[ ! -e "$MARKERS/installer-runs.txt" ] && [ ! -s "$WORK/installing.rc" ] && still_installing=yes
check "the shot was taken while the installer ran" equals "$still_installing" yes
check "the install run finishes with 1" equals "$(wait_program installing 40)" 1
check "the installer did run" [ -e "$MARKERS/installer-runs.txt" ]

finish_e2e

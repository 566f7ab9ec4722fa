#!/usr/bin/env bash
# The program's spine under Wine: one copy at a time, the borderless centred rounded window, and the
# ways a user ends the run.
source "$(dirname "$0")/lib.sh"

# The installer download stalls, so the run stays in its message loop until the user ends it.
release_tree "$WORK/tree" "stall/100000000/4096"
start_fault_server "$WORK/tree"

start_program first
window=$(driver find --visible --timeout 20000)
check "the window appears" [ -n "$window" ]
style=$(field style "$window")
check "WS_POPUP only (visible, clip siblings added by the system)" \
  equals "$(printf '0x%08X' $((style & ~0x14000000)))" 0x80000000
check "no extended style" equals "$(field exstyle "$window")" 0x00000000
sw=$(field screen_w "$window")
sh=$(field screen_h "$window")
check "centred horizontally" equals "$(field x "$window")" $((sw / 2 - 180))
check "centred vertically" equals "$(field y "$window")" $((sh / 2 - 125))
check "360 wide" equals "$(field w "$window")" 360
check "250 high" equals "$(field h "$window")" 250
check "rounded region over the window" equals "$(field region "$window") $(field rgn_r "$window") $(field rgn_b "$window")" \
  "COMPLEXREGION 359 249"
corners=$(driver region-rows)
check "top-left corner pixel cut off" equals "$(field corner_tl "$corners")" 0111/1111/1111/1111

start_program second --not-silent
check "a second copy exits 1" equals "$(wait_program second 20)" 1
check "a second copy logs nothing" equals "$(log_of second)" ""

# Each message is sent, so the driver returns once the window procedure has handled it; the closing
# round trip succeeds only while the window's thread is still in its message loop (a run that
# decided to end would have left it).
check "Escape pressed, not yet released: handled" driver keydown 27 --sync
check "another key: handled" driver key 65 --sync
check "WM_COMMAND 0: handled" driver command 0 --sync
check "WM_COMMAND 4: handled" driver command 4 --sync
check "a timer tick: handled" driver timer 1 --sync
check "other keys, Escape not yet released and WM_COMMAND 0/4 change nothing: still in the message loop" \
  driver sync --timeout 5000
check "and not ended" [ ! -s "$WORK/first.rc" ]
check "no line beyond start-up" equals "$(log_of first | grep -c -E 'exiting|finished')" 0

check "Escape released: handled" driver key 27 --sync
check "Escape released ends the run with 2" equals "$(wait_program first)" 2
check "Escape logs, then finished, as separate strings" \
  equals "$(log_of first | grep -E 'exiting|finished')" "$(info 'exiting - user pressed escape'; echo; info finished)"

start_program closing
driver find --visible --timeout 20000 >/dev/null
check "the close is handled" driver close --sync
check "closing the window ends the run with 2" equals "$(wait_program closing)" 2
check "closing logs, then finished" \
  equals "$(log_of closing | grep -E 'exiting|finished')" "$(info 'exiting - user closed window'; echo; info finished)"
check "start-up logs its line first" equals "$(log_of closing | head -1)" "$(info 'starting download thread')"

finish_e2e

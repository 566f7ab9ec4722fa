#!/usr/bin/env bash
# Whole runs of the installer under Wine against real release servers: a good install, the silent
# switch, a bad release document, failed downloads, and the user cancelling.
source "$(dirname "$0")/lib.sh"
setup_name="Quarn Brimo Setup 1.0.exe"


# A good run: download, silent install, removal of the installer, launch of the application.
reset_markers
release_tree "$WORK/good" "$setup_name"
start_nginx "$WORK/good"
before=$(temp_installers; temp_folders)
run_case good
check "a good run exits 1" equals "$(code_of good)" 1
check "a good run shows nothing" equals "$(boxes_of good)" ""
check "a good run logs its steps in order" equals "$(log_of good)" "$(
  info 'starting download thread'; echo
  info 'sending http request for version info'; echo
  info 'sending http request for installer'; echo
  info 'installer download complete'; echo
  info 'attempting to launch app'; echo
  info finished)"
check "the installer ran silently" equals "$(sed 's/ cwd=.*//' "$MARKERS/installer-runs.txt")" "run args=[ /S]"
# (Wine names the image by the folder's name on disk, C:\windows\temp, whatever case it was run by.)
check "the installer ran from its own folder in the system's temporary folder" grep -qiE \
  'cwd=(C:\\windows\\Temp\\[0-9a-f]{4}(-[0-9a-f]{4}){3}) self=\1\\[0-9a-f]{4}(-[0-9a-f]{4}){3}\.exe$' \
  "$MARKERS/installer-runs.txt"
# Nothing else lies beside the installer. (Wine keeps no security descriptor to read back; the
# partial download's folder below shows what it made of the one the program set.)
check "the installer's own folder holds nothing else" grep -qE 'others=\[\]$' "$MARKERS/installer-folder.txt"
check "the temporary installer and its folder are gone" equals "$(temp_installers; temp_folders)" "$before"
app_started || true
check "the application was started from its folder" \
  equals "$(cat "$MARKERS/app-started.txt" 2>/dev/null)" 'started cwd=C:\Program Files\Quarn Brimo Beta args=[]'

# --not-silent: the installer gets no arguments. The user's TEMP, here a link to a folder elsewhere
# (any process of the user may point it anywhere), changes nothing: nothing goes there.
reset_markers
user_temp=$(find "$DRIVE_C/users" -mindepth 2 -maxdepth 2 -type d -name Temp | head -1)
mv "$user_temp" "$user_temp.away" && mkdir "$WORK/moved-temp" && ln -s "$WORK/moved-temp" "$user_temp"
run_case loud --not-silent
rm "$user_temp" && mv "$user_temp.away" "$user_temp"
check "--not-silent exits 1" equals "$(code_of loud)" 1
check "--not-silent gives the installer no arguments" equals "$(sed 's/ cwd=.*//' "$MARKERS/installer-runs.txt")" "run args=[ ]"
check "a TEMP that leads elsewhere changes nothing" grep -qF 'cwd=C:\windows\Temp\' "$MARKERS/installer-runs.txt"
check "nothing was put where TEMP leads" equals "$(ls -A "$WORK/moved-temp")" ""

# The release document: missing, not YAML, without a path.
rm "$WORK/good/latest.yml"
run_case nodoc
check "a missing release document exits 3" equals "$(code_of nodoc)" 3
check "a missing release document logs the status" equals "$(log_of nodoc | grep ERROR)" \
  "$(error 'YAML web request error - http result code 404')"
check "a missing release document shows the status" equals "$(boxes_of nodoc)" \
  "$(box 'Unable to find the latest version (code: 404). Check your internet connection or contact ')"

printf '<html><body>Release notes</body></html>\n' >"$WORK/good/latest.yml"
run_case html
check "an HTML page exits 3" equals "$(code_of html)" 3
check "an HTML page is a parser error" grep -q 'YAML parser exception: ' <(log_of html | grep ERROR)
check "an HTML page shows the message without code" equals "$(boxes_of html)" \
  "$(box 'Unable to find the latest version. Check your internet connection or contact ')"

printf 'version: 1.0.0\nfiles: []\n' >"$WORK/good/latest.yml"
run_case nopath
check "a document without path exits 3" equals "$(code_of nopath)" 3
check "a document without path is a parser error" grep -q 'YAML parser exception: ' <(log_of nopath | grep ERROR)

# Failed downloads: a missing installer, and a body cut short, which is never run.
reset_markers
release_tree "$WORK/missing" "not-there.exe"
rm -f "$WORK/missing/not-there.exe"
start_nginx "$WORK/missing"
run_case missing
check "a missing installer exits 3" equals "$(code_of missing)" 3
check "a missing installer logs the status" equals "$(log_of missing | grep ERROR)" \
  "$(error 'web request error - http result code 404')"
check "a missing installer shows the status" equals "$(boxes_of missing)" \
  "$(box 'Error downloading installation files (code: 404), please contact ')"

release_tree "$WORK/cut" "cut/200000/100000"
start_fault_server "$WORK/cut"
run_case cut
check "a body cut short exits 3" equals "$(code_of cut)" 3
check "a body cut short is logged as incomplete" grep -q 'web request error - download incomplete: ' \
  <(log_of cut | grep ERROR)
check "a body cut short shows the download error" equals "$(boxes_of cut)" \
  "$(box 'Error downloading installation files (code: 200), please contact ')"
check "a body cut short is never run" [ ! -e "$MARKERS/installer-runs.txt" ]

# Escape during a throttled download: cancelled, no box, the partial file stays.
reset_markers
serve_throttled "$WORK/slow" "$setup_name"
before=$(temp_installers)
start_program slow
driver find --visible --timeout 20000 >/dev/null
check "the slow download is under way" wait_download "$before"
check "the driver delivers Escape" driver key 27 >/dev/null
check "Escape during the download exits 2" equals "$(wait_program slow)" 2
check "the cancelled download is logged, no error" equals "$(log_of slow | tail -4)" "$(
  info 'sending http request for installer'; echo
  info 'exiting - user pressed escape'; echo
  info 'web request cancelled by user'; echo
  info finished)"
check "the partial download stays in the temporary folder" equals "$(comm -13 <(echo "$before") <(temp_installers) | wc -l)" 1
check "the cancelled download is never run" [ ! -e "$MARKERS/installer-runs.txt" ]
# Wine turns the folder's protected DACL into the unix mode: the user reads and runs, others nothing.
check "the partial download's folder is not open to others" equals \
  "$(comm -13 <(echo "$before") <(temp_installers) | xargs -r -d '\n' dirname | xargs -r -d '\n' stat -c %A)" drwxr-x---
comm -13 <(echo "$before") <(temp_installers) | xargs -r -d '\n' dirname | xargs -r -d '\n' rm -rf

# Escape while the installer runs: it runs to its end, the app starts, the exit code is 2.
reset_markers
release_tree "$WORK/busy" "$setup_name" "sleep=3000"
start_nginx "$WORK/busy"
start_program busy
for _ in $(seq 100); do [ -e "$MARKERS/installer-runs.txt" ] || log_of busy | grep -q 'download complete' && break; sleep 0.1; done
check "the driver delivers Escape" driver key 27 >/dev/null
check "Escape while installing still exits 2" equals "$(wait_program busy 40)" 2
check "the installer ran to its end and the app was launched" app_started
check "the log shows the install finishing after Escape" equals "$(log_of busy | tail -3)" "$(
  info 'exiting - user pressed escape'; echo
  info 'attempting to launch app'; echo
  info finished)"

finish_e2e

#!/usr/bin/env bash
# Faults injected end to end: bad release documents, broken downloads, digests that do not match,
# a temporary folder that cannot be used, installer files locked or deleted, failing installers.
# Every case ends with its exact log line, box and exit code, with no hang and nothing broken run.
source "$(dirname "$0")/lib.sh"
setup_name="Quarn Brimo Setup 2.0.exe"
doc_box='Unable to find the latest version. Check your internet connection or contact '
doc_code_box() { echo "Unable to find the latest version (code: $1). Check your internet connection or contact "; }
download_box() { echo "Error downloading installation files (code: $1), please contact "; }
digest_of() { openssl dgst -sha512 -binary "$1" | base64 -w0; }

# expect_failure NAME CODE LOG_LINE BOX_TEXT: the run exited CODE with exactly that one error line and
# that one box, and nothing was installed.
expect_failure() {
  check "$1: exit code" equals "$(code_of "$1")" "$2"
  check "$1: error line" equals "$(log_of "$1" | grep ERROR)" "$(error "$3")"
  check "$1: message box" equals "$(boxes_of "$1")" "$(box "$4")"
  check "$1: nothing installed" [ ! -e "$MARKERS/installer-runs.txt" ]
}
# release_doc TEXT: the release document of the fault tree.
release_doc() { printf '%s\n' "$1" >"$WORK/f/latest.yml"; }

reset_markers
mkdir -p "$WORK/f"
cp "$TEST_INSTALLER" "$WORK/f/$setup_name"

# --- The release document -------------------------------------------------------------------------
run_case refused
expect_failure refused 3 'YAML web request error - http result code 0' "$(doc_code_box 0)"

start_fault_server "$WORK/f"
release_doc "path: \"$setup_name\""
echo 500 >"$WORK/f/latest.yml.status"
run_case server-error
expect_failure server-error 3 'YAML web request error - http result code 500' "$(doc_code_box 500)"
rm "$WORK/f/latest.yml.status"

head -c $((64 * 1024)) /dev/urandom >"$WORK/f/latest.yml"
run_case garbage
check "garbage: exit code" equals "$(code_of garbage)" 3
check "garbage: a parser error" grep -q '^Quarn Brimo Installer \[ERROR\] YAML parser exception: .' <(log_of garbage)
check "garbage: box without code" equals "$(boxes_of garbage)" "$(box "$doc_box")"

# An endless document is cut off after 1 MiB and never read.
head -c $((10 * 1024 * 1024)) /dev/urandom >"$WORK/f/latest.yml"
run_case huge
expect_failure huge 3 'release document too large - more than 1048576 bytes' "$(doc_code_box size)"

# A document cut short is never read, though what arrived is a whole document.
release_doc "path: \"$setup_name\""$'\n# the rest'
head -n 1 "$WORK/f/latest.yml" | wc -c >"$WORK/f/latest.yml.cut"
run_case cut-document
expect_failure cut-document 3 'YAML web request error - download incomplete: Transferred a partial file' \
  "$(doc_code_box 200)"
rm "$WORK/f/latest.yml.cut"

release_doc '2.4.1'
run_case scalar
expect_failure scalar 3 'YAML parser exception: operator[] call on a scalar (key: "path")' "$doc_box"

release_doc $'path:\n  file: x.exe'
run_case mapping
expect_failure mapping 3 'YAML parser exception: bad conversion' "$doc_box"

# A path is one segment on the release host: neither ../ nor a full URL leads anywhere else.
mkdir -p "$WORK/elsewhere"
cp "$TEST_INSTALLER" "$WORK/elsewhere/x.exe"
setsid python3 "$BRIMO_SOURCE/tools/fault_server.py" --port $((RELEASE_PORT + 8)) --root "$WORK/elsewhere" \
  --pidfile "$WORK/elsewhere.pid" --max-seconds 300 </dev/null >"$WORK/elsewhere.out" 2>&1 &
cp "$TEST_INSTALLER" "$WORK/x.exe"
for name in dotdot url; do
  if [ $name = dotdot ]; then release_doc 'path: ../x.exe'; else release_doc "path: http://127.0.0.1:$((RELEASE_PORT + 8))/x.exe"; fi
  run_case $name
  check "$name: exit code" equals "$(code_of $name)" 3
  check "$name: a failed download on the release host" grep -q 'web request error - http result code 404' <(log_of $name)
  check "$name: nothing installed" [ ! -e "$MARKERS/installer-runs.txt" ]
done
check "no request ever reached another host" equals "$(curl -s "http://127.0.0.1:$((RELEASE_PORT + 8))/_log")" ""
kill "$(cat "$WORK/elsewhere.pid")"

# --- The installer download ------------------------------------------------------------------------
release_doc 'path: cut/400000/200000'
run_case half
expect_failure half 3 'web request error - download incomplete: Transferred a partial file' "$(download_box 200)"

release_doc 'path: loop'
run_case loop
expect_failure loop 3 'web request error - http result code 301' "$(download_box 301)"

release_doc "path: to-port/$((RELEASE_PORT + 9))/x.exe"
run_case closed
expect_failure closed 3 'web request error - http result code 302' "$(download_box 302)"

# A body that stalls: Escape ends the run about a second after the loop ends, with no box.
release_doc 'path: stall/100000000/50000'
before=$(temp_installers)
start_program stalled
check "stalled: the download is under way" wait_download "$before"
started=$(date +%s%N)
check "the driver delivers Escape" driver key 27 >/dev/null
check "stalled: Escape ends it with 2" equals "$(wait_program stalled)" 2
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
check "stalled: ends within about a second (took ${elapsed_ms} ms)" [ "$elapsed_ms" -lt 3500 ]
check "stalled: cancelled, not failed" equals "$(log_of stalled | grep -c -E 'ERROR|cancelled by user')" 1
temp_installers | xargs -r rm -f

# --- Digests ----------------------------------------------------------------------------------------
stop_release_server
reset_markers
release_tree "$WORK/d" "$setup_name"
start_nginx "$WORK/d"
good=$(digest_of "$WORK/d/$setup_name")
printf 'path: "%s"\nsha512: %s\n' "$setup_name" "$good" >"$WORK/d/latest.yml"
run_case digest-good
check "digest-good: installs" equals "$(code_of digest-good)" 1
check "digest-good: no error" equals "$(log_of digest-good | grep -c ERROR)" 0

reset_markers
wrong=$(printf x | openssl dgst -sha512 -binary | base64 -w0)
printf 'path: "%s"\nsha512: %s\n' "$setup_name" "$wrong" >"$WORK/d/latest.yml"
before=$(temp_installers)
run_case digest-wrong
expect_failure digest-wrong 3 "installer digest mismatch - expected sha512 $wrong, actual sha512 $good" \
  "$(download_box sha512)"
check "digest-wrong: the file is removed" equals "$(temp_installers)" "$before"

# A digest that differs only in its last byte: every byte of the digest counts.
last=$(openssl dgst -sha512 -binary "$WORK/d/$setup_name" | python3 -c \
  'import sys, base64; d = bytearray(sys.stdin.buffer.read()); d[-1] ^= 1; print(base64.b64encode(d).decode())')
printf 'path: "%s"\nsha512: %s\n' "$setup_name" "$last" >"$WORK/d/latest.yml"
run_case digest-last
expect_failure digest-last 3 "installer digest mismatch - expected sha512 $last, actual sha512 $good" \
  "$(download_box sha512)"

printf 'path: "%s"\nsha512: not-base64\n' "$setup_name" >"$WORK/d/latest.yml"
run_case digest-bad
expect_failure digest-bad 3 "installer digest mismatch - expected sha512 not-base64, actual sha512 $good" \
  "$(download_box sha512)"

# While the installer downloads, no other process may write or delete it.
release_tree "$WORK/d" "$setup_name"
head -c 3000000 /dev/zero >>"$WORK/d/$setup_name"
start_nginx "$WORK/d" 300k
before=$(temp_installers)
start_program held
for _ in $(seq 100); do [ -n "$(comm -13 <(echo "$before") <(temp_installers))" ] && break; sleep 0.1; done
held=$(comm -13 <(echo "$before") <(temp_installers) | head -1)
check "held: another process cannot write the download" equals "$(driver open-file write "Z:$held")" "error=32"
check "held: another process cannot delete the download" equals "$(driver open-file delete "Z:$held")" "error=32"
check "the driver delivers Escape" driver key 27 >/dev/null
wait_program held >/dev/null
rm -f "$held"

# --- The temporary folder and the installer file ------------------------------------------------------
reset_markers
release_tree "$WORK/d" "$setup_name"
start_nginx "$WORK/d"
# The system's temporary folder is not a folder: refused before anything is requested.
mv "$DRIVE_C/windows/temp" "$DRIVE_C/windows/temp.away" && echo "not a folder" >"$DRIVE_C/windows/temp"
run_case no-temp
rm -f "$DRIVE_C/windows/temp" && mv "$DRIVE_C/windows/temp.away" "$DRIVE_C/windows/temp"
expect_failure no-temp 3 'system temporary folder refused - C:\\windows\\Temp is not a folder' "$(download_box folder)"
check "no-temp: not even the document was asked for" equals "$(log_of no-temp | grep -c 'sending http')" 0

# The installer still holds its file when it is removed: logged, and the run keeps its result.
reset_markers
release_tree "$WORK/d" "$setup_name" "lock-ms=3000"
before=$(temp_installers)
run_case locked
check "locked: the run keeps the installer's result" equals "$(code_of locked)" 1
check "locked: the removal failure is logged" \
  equals "$(log_of locked | grep remove)" "$(info "post-install couldn't remove file (code: system:32)")"
# The copy that holds the file ends 3 s after the installer; the next case must not meet it.
for _ in $(seq 100); do [ -n "$(own_pids 'hold-[0-9]+\.exe')" ] || break; sleep 0.1; done
check "locked: the copy that held the file has ended" equals "$(own_pids 'hold-[0-9]+\.exe')" ""
comm -13 <(echo "$before") <(temp_installers) | xargs -r rm -f

# The installer deletes its own file: nothing to remove, nothing logged.
reset_markers
release_tree "$WORK/d" "$setup_name" "delete-self=1"
before=$(temp_folders)
run_case self-deleting
check "self-deleting: exit code" equals "$(code_of self-deleting)" 1
check "self-deleting: nothing logged about removal" equals "$(log_of self-deleting | grep -c remove)" 0
check "self-deleting: its folder is gone too" equals "$(temp_folders)" "$before"

# --- Installers that fail --------------------------------------------------------------------------------
for exit_code in 1 3 3010 4294967295; do
  reset_markers
  release_tree "$WORK/d" "$setup_name" "exit=$exit_code;install=0"
  run_case "exit$exit_code"
  check "exit$exit_code: exit code" equals "$(code_of "exit$exit_code")" 3
  check "exit$exit_code: error line" equals "$(log_of "exit$exit_code" | grep ERROR)" \
    "$(error "RunProcess: process finished with exit code $exit_code")"
  check "exit$exit_code: box" equals "$(boxes_of "exit$exit_code")" \
    "$(box "Installation failed with error (code: $exit_code), please contact ")"
  check "exit$exit_code: nothing launched" [ ! -e "$MARKERS/app-started.txt" ]
done

finish_e2e

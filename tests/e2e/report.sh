#!/usr/bin/env bash
# The program built with a report URL tells the report server how each run went: a start and an end
# request with the run's fields, which nginx writes to its access log. A report server that is down
# or slow adds at most about a second and never changes the exit code; /NoReport and a build without
# the setting send nothing.
source "$(dirname "$0")/lib.sh"
: "${BRIMO_REPORT_PORT:?}"
INSTALLER_EXE="Z:$BRIMO_BUILD/reported/QuarnBrimoInstaller.exe"
setup_name="Quarn Brimo Setup 1.0.exe"
reports=$WORK/reports/access.log
mkdir -p "$WORK/report-root"
start_reports() {
  "$BRIMO_SOURCE/tools/release-server" start --root "$WORK/report-root" --port "$BRIMO_REPORT_PORT" \
    --state "$WORK/reports" >/dev/null
}
stop_reports() { "$BRIMO_SOURCE/tools/release-server" stop --state "$WORK/reports" >/dev/null 2>&1 || true; }
slow_pid=''
stop_slow() { [ -z "$slow_pid" ] || { kill "$slow_pid" 2>/dev/null; wait_gone "$slow_pid"; slow_pid=''; }; }
trap 'stop_reports; stop_slow; cleanup_e2e' EXIT
start_reports

# The report lines one run left, its run id taken from its start: "EVENT FIELDS..." each.
reports_of() {
  local run
  run=$(sed -n 's/.*GET \/report?e=zapkit_launched&r=\([0-9a-f]*\)&.*/\1/p' "$reports" | tail -1)
  [ -n "$run" ] && grep -F "r=$run&" "$reports" | sed 's/.*GET \/report?\([^ ]*\) HTTP.*/\1/'
}
# value FIELD LINE: a field's value in a query string.
value() { tr '&' '\n' <<<"$2" | sed -n "s/^$1=//p"; }
# check_run NAME EVENT STAGE CODE: the run's two reports: the start, then the end with these fields.
check_run() {
  local lines start end
  lines=$(reports_of)
  start=$(sed -n 1p <<<"$lines")
  end=$(sed -n 2p <<<"$lines")
  check "$1: two reports" equals "$(wc -l <<<"$lines")" 2
  check "$1: the start" equals "$(value e "$start") $(value v "$start") $(value c "$start")" \
    "zapkit_launched 1.0.0.0 latest"
  check "$1: Windows' version" grep -qE '^[0-9]+\.[0-9]+\.[0-9]+$' <<<"$(value w "$start")"
  check "$1: the end" equals "$(value e "$end") $(value s "$end") $(value k "$end")" "$2 $3 $4"
  check "$1: the whole run's time" grep -qE '^[0-9]+$' <<<"$(value tt "$end")"
}

reset_markers
release_tree "$WORK/good" "$setup_name"
printf 'version: "2.1 beta&x=1"\npath: "%s"\n' "$setup_name" >"$WORK/good/latest.yml"
start_nginx "$WORK/good"
run_case good
check "good: exit 1" equals "$(code_of good)" 1
check_run good zapkit_finished launch 0
end=$(reports_of | sed -n 2p)
size=$(stat -c %s "$WORK/good/$setup_name")
check "good: bytes received and expected" equals "$(value b "$end") $(value t "$end")" "$size $size"
check "good: the release's version, escaped" equals "$(value rv "$end")" "2.1%20beta%26x%3D1"
check "good: every time measured" equals "$(for f in td tl tc ti; do value $f "$end" | grep -cE '^[0-9]+$'; done | paste -sd' ')" "1 1 1 1"

reset_markers
rm -rf "$WORK/missing" && mkdir -p "$WORK/missing"
start_nginx "$WORK/missing"
run_case missing
check "document 404: exit 3" equals "$(code_of missing)" 3
check_run missing zapkit_failed document 404

reset_markers
release_tree "$WORK/digest" "$setup_name"
printf 'path: "%s"\nsha512: %s\n' "$setup_name" "$(head -c 64 /dev/zero | base64 -w0)" >"$WORK/digest/latest.yml"
start_nginx "$WORK/digest"
run_case digest
check_run digest zapkit_failed digest sha512

reset_markers
release_tree "$WORK/fails" "$setup_name" "exit=1603"
start_nginx "$WORK/fails"
run_case fails
check_run fails zapkit_failed install 1603

# Escape during a throttled download.
reset_markers
serve_throttled "$WORK/slow" "$setup_name"
before=$(temp_installers)
start_program slow
driver find --visible --timeout 20000 >/dev/null
wait_download "$before" || true
driver key 27 >/dev/null
check "cancelled: exit 2" equals "$(wait_program slow)" 2
check_run cancelled zapkit_cancelled download 200
comm -13 <(echo "$before") <(temp_installers) | xargs -r -d '\n' dirname | xargs -r -d '\n' rm -rf

# /NoReport, and the build without a report URL: nothing arrives.
start_nginx "$WORK/good"
lines_before=$(wc -l <"$reports")
reset_markers
run_case noreport /NoReport
check "/NoReport: exit 1" equals "$(code_of noreport)" 1
reset_markers
INSTALLER_EXE="Z:$BRIMO_BUILD/app/QuarnBrimoInstaller.exe" run_case plain
check "the plain build: exit 1" equals "$(code_of plain)" 1
check "neither sent a report" equals "$(wc -l <"$reports")" "$lines_before"

# A report server that is down, or that answers only after 5 s: the same exit code. The slow one
# notes each request, and when the program gives up on it (its one-second time-out) whether the
# program had gone on meanwhile: the start report is sent beside the splash, never before it.
stop_reports
reset_markers
run_case down
check "report server down: exit 1" equals "$(code_of down)" 1
setsid python3 - "$BRIMO_REPORT_PORT" "$WORK/slow.log" "$WORK/slow-report.log" <<'PY' &
import socket, sys, threading
port, log, program_log = int(sys.argv[1]), sys.argv[2], sys.argv[3]
server = socket.create_server(("127.0.0.1", port))
def note(text):
    with open(log, "a") as f:
        f.write(text + "\n")
def answer(conn):
    request = conn.recv(4096).split(b" ")
    if len(request) < 2:  # the test's own probe of the port
        return conn.close()
    event = request[1].decode().split("&")[0]
    note("request " + event)
    conn.settimeout(5)
    try:
        conn.recv(1)  # an empty read: the client gave up
        with open(program_log, errors="replace") as f:
            went_on = "starting download thread" in f.read()
        note(f"gave up {event} {'after' if went_on else 'before'} the splash")
    except socket.timeout:
        conn.sendall(b"HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n")
        note(f"answered {event}")
    conn.close()
while True:
    conn, _ = server.accept()
    threading.Thread(target=answer, args=(conn,), daemon=True).start()
PY
slow_pid=$!
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$BRIMO_REPORT_PORT") 2>/dev/null && break; sleep 0.1; done
sleep 0.2
: >"$WORK/slow.log"
reset_markers
run_case slow-report
check "slow report server: exit 1" equals "$(code_of slow-report)" 1
check "slow report server: both reports given up at their time-out, the start one after the splash had gone on" \
  equals "$(grep -v '^request' "$WORK/slow.log")" "$(printf '%s\n' \
    'gave up /report?e=zapkit_launched after the splash' 'gave up /report?e=zapkit_finished after the splash')"

finish_e2e

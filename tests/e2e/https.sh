#!/usr/bin/env bash
# A release server that redirects to HTTPS: the program checks the HTTPS server's certificate itself
# (Wine's TLS layer checks none) before it takes any byte of its answers. A server under a trusted
# root, for this host and server authentication, in its validity, serves the install; every other is
# refused as a TLS failure after the redirect, and nothing is downloaded or run.
source "$(dirname "$0")/lib.sh"
: "${BRIMO_TEST_PUBLISHER:?}"
signing="$BRIMO_BUILD/test-signing"
tls_port=$((RELEASE_PORT + 7))
setup_name="Quarn Brimo Setup 1.0.exe"

"$BRIMO_SOURCE/tools/test-signing" certs "$signing" "$BRIMO_TEST_PUBLISHER"
"$BRIMO_SOURCE/tools/test-signing" trust-reg "$signing" "$WORK/trust.reg"
"${WINE_RUN[@]}" reg import "Z:$WORK/trust.reg" >/dev/null 2>&1

# serve_https TREE KIND [HOST [ADDRESS]]: the plain release server redirects every request to the HTTPS
# one on HOST (localhost), listening on ADDRESS (127.0.0.1), which serves TREE with the certificate KIND.
serve_https() {
  start_nginx "$1" "" --tls-port "$tls_port" --tls-cert "$signing/$2.pem" --tls-key "$signing/$2.key" \
    --tls-redirect "${3:-localhost}" --tls-address "${4:-127.0.0.1}"
}

reset_markers
release_tree "$WORK/good" "$setup_name"
serve_https "$WORK/good" tls
before=$(temp_installers)
run_case good
check "a good HTTPS server serves the install: exit 1" equals "$(code_of good)" 1
check "no server was refused" equals "$(log_of good | grep -c 'refused\|ERROR')" 0
check "both answers came over HTTPS" equals "$(grep -c '"GET /' "$WORK/nginx/access.log")" 4
check "the installer ran" [ -e "$MARKERS/installer-runs.txt" ]

# The check that refuses each certificate, so that a check left out fails its own case.
declare -A refused_by=([untrusted-tls]="chain not trusted (0x800B010A)"
  [otherhost-tls]="not valid for localhost (0x800B010F)" [expired-tls]="not valid for localhost (0x800B0101)"
  [clientauth-tls]="not valid for localhost (0x800B0110)")
for kind in untrusted-tls otherhost-tls expired-tls clientauth-tls; do
  reset_markers
  serve_https "$WORK/good" "$kind"
  run_case "$kind"
  check "$kind: exit 3" equals "$(code_of "$kind")" 3
  check "$kind: refused, then the document's redirect fails" equals "$(log_of "$kind" | tail -3 | head -2)" "$(
    info "server certificate refused - ${refused_by[$kind]}"; echo
    error 'YAML web request error - http result code 301')"
  check "$kind: the box" equals "$(boxes_of "$kind")" \
    "$(box 'Unable to find the latest version (code: 301). Check your internet connection or contact ')"
  check "$kind: nothing was downloaded" equals "$(temp_installers)" "$before"
  check "$kind: nothing ran" [ ! -e "$MARKERS/installer-runs.txt" ]
done

# A redirect to an address: the certificate must name that address.
reset_markers
serve_https "$WORK/good" tls 127.0.0.1
run_case by-address
check "a server by address whose certificate names it: exit 1" equals "$(code_of by-address)" 1
reset_markers
serve_https "$WORK/good" otherhost-tls 127.0.0.1
run_case other-address
check "one whose certificate names another host: refused" equals "$(log_of other-address | grep refused)" \
  "$(info 'server certificate refused - not valid for 127.0.0.1 (0x800B010F)')"
check "and nothing ran" [ ! -e "$MARKERS/installer-runs.txt" ]

# The same at the IPv6 address ::1: compared with the certificate's addresses, not taken as a name.
reset_markers
serve_https "$WORK/good" ipv6-tls "[::1]" "[::1]"
run_case ipv6
check "a server at [::1] whose certificate names ::1: exit 1" equals "$(code_of ipv6)" 1
serve_https "$WORK/good" tls "[::1]" "[::1]"
run_case other-ipv6
check "one whose certificate names other addresses: refused" equals "$(log_of other-ipv6 | grep refused)" \
  "$(info 'server certificate refused - not valid for ::1 (0x800B010F)')"

# The server is checked before it receives the request: an untrusted one that writes its status line
# in lower case (which libcurl takes as one) is refused and has received nothing.
reset_markers
fault_plain=$((RELEASE_PORT + 8)) fault_tls=$((RELEASE_PORT + 5))
setsid python3 "$BRIMO_SOURCE/tools/fault_server.py" --port "$fault_plain" --tls-port "$fault_tls" \
  --cert "$signing/untrusted-tls.pem" --key "$signing/untrusted-tls.key" --root "$WORK/good" \
  --pidfile "$WORK/lower.pid" --max-seconds 300 </dev/null >"$WORK/lower.out" 2>&1 &
start_nginx "$WORK/good" "" --redirect "https://127.0.0.1:$fault_tls/lower"
for _ in $(seq 100); do grep -q '^listening' "$WORK/lower.out" && break; sleep 0.1; done
run_case lower
check "lower case: refused, then the document's redirect fails" equals "$(log_of lower | tail -3 | head -2)" "$(
  info "server certificate refused - ${refused_by[untrusted-tls]}"; echo
  error 'YAML web request error - http result code 301')"
check "lower case: the server received no request" equals \
  "$(curl -sf "http://127.0.0.1:$fault_plain/_log" || echo "no answer")" ""
check "lower case: nothing ran" [ ! -e "$MARKERS/installer-runs.txt" ]
kill "$(cat "$WORK/lower.pid")"
wait_gone "$(cat "$WORK/lower.pid")"

# The program built with a publisher takes the same path to a signed installer.
INSTALLER_EXE="Z:$BRIMO_BUILD/signed/QuarnBrimoInstaller.exe"
reset_markers
release_tree "$WORK/signed" "$setup_name"
"$BRIMO_SOURCE/tools/test-signing" sign "$signing" good "$TEST_INSTALLER" "$WORK/signed/$setup_name"
serve_https "$WORK/signed" tls
run_case signed
check "the build with a publisher installs over HTTPS: exit 1" equals "$(code_of signed)" 1
reset_markers
serve_https "$WORK/signed" untrusted-tls
run_case signed-untrusted
check "and refuses an untrusted HTTPS server: exit 3" equals "$(code_of signed-untrusted)" 3
check "with the same line" grep -qF "server certificate refused - ${refused_by[untrusted-tls]}" \
  <(log_of signed-untrusted)

finish_e2e

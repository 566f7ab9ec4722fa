#!/usr/bin/env bash
# shellcheck disable=SC2015  # "A && ok || bad" is intended: ok never fails.
# Developer self-check of the loopback test servers (tools/fault_server.py, tools/test-cert,
# tools/release-server): starts them on free ports in a temporary folder, exercises every
# behaviour with curl and stops them again. Exit status 0 when every check passed.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
command -v curl >/dev/null || { echo "curl is missing (apt-get install curl)" >&2; exit 2; }
export no_proxy='*' NO_PROXY='*'
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy

T=$(mktemp -d /tmp/test-servers-selfcheck.XXXXXX)
fs_pid=''
cleanup() {
  if [ -n "$fs_pid" ] && kill -0 "$fs_pid" 2>/dev/null; then
    kill -TERM "$fs_pid" 2>/dev/null
    wait "$fs_pid" 2>/dev/null
  fi
  "$here/release-server" stop --state "$T/nginx" >/dev/null 2>&1
  rm -rf "$T"
}
trap cleanup EXIT

passed=0 failed=0
ok() { passed=$((passed + 1)); echo "ok    $1"; }
bad() { failed=$((failed + 1)); echo "FAIL  $1: $2"; }
# expect NAME EXPECTED ACTUAL
expect() { if [ "$2" = "$3" ]; then ok "$1"; else bad "$1" "expected '$2', got '$3'"; fi; }
# within NAME LOW HIGH VALUE (decimal numbers)
within() {
  if awk -v lo="$2" -v hi="$3" -v v="$4" 'BEGIN { exit !(v >= lo && v <= hi) }'; then
    ok "$1 ($4)"
  else
    bad "$1" "$4 not in [$2, $3]"
  fi
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
pattern_sha() { python3 -c 'import hashlib,sys; n=int(sys.argv[1]); print(hashlib.sha256(bytes((i*7+3)&255 for i in range(n))).hexdigest())' "$1"; }
sha() { sha256sum "$1" | cut -d' ' -f1; }

# fetch URL [curl args...]: body in $T/body, headers in $T/head; prints "exit code size".
fetch() {
  local url=$1
  shift
  local out rc
  out=$(curl -sS -o "$T/body" -D "$T/head" -w '%{http_code} %{size_download}' "$@" "$url" 2>"$T/curl.err")
  rc=$?
  echo "$rc $out"
}
header() { tr -d '\r' <"$T/head" | awk -v h="$1" 'BEGIN { IGNORECASE = 1 } index(tolower($0), tolower(h) ":") == 1 { sub(/^[^:]*: */, ""); v = $0 } END { print v }'; }

mkdir -p "$T/root" "$T/certs"
printf 'path: inst.exe\n' >"$T/root/latest.yml"
head -c 524288 /dev/urandom >"$T/root/inst.exe"

echo "== certificates"
"$here/test-cert" "$T/certs" && ok "test-cert creates" || bad "test-cert" "failed"
stamp=$(stat -c %Y "$T/certs/server.pem")
sleep 1
"$here/test-cert" "$T/certs"
expect "test-cert is idempotent" "$stamp" "$(stat -c %Y "$T/certs/server.pem")"
openssl verify -CAfile "$T/certs/test-ca.pem" "$T/certs/server.pem" >/dev/null 2>&1 && ok "server cert verifies" ||
  bad "server cert" "does not verify"

echo "== fault server"
python3 "$here/fault_server.py" --port 0 --tls-port 0 --cert "$T/certs/server.pem" --key "$T/certs/server.key" \
  --root "$T/root" --pidfile "$T/fs.pid" --max-seconds 600 >"$T/fs.out" 2>"$T/fs.err" &
fs_pid=$!
for _ in $(seq 100); do grep -q '^listening' "$T/fs.out" 2>/dev/null && break; sleep 0.05; done
read -r word P Q <"$T/fs.out"
expect "startup line" "listening" "$word"
expect "pidfile" "$fs_pid" "$(cat "$T/fs.pid" 2>/dev/null)"
B=http://127.0.0.1:$P
S=https://127.0.0.1:$Q

expect "/status/404" "0 404" "$(fetch "$B/status/404" | cut -d' ' -f1-2)"
grep -q '404' "$T/body" && ok "/status/404 default page" || bad "/status/404 page" "$(cat "$T/body")"
expect "/status/503?body=" "0 503 5" "$(fetch "$B/status/503?body=hello")"
expect "/status body text" "hello" "$(cat "$T/body")"
expect "/status/404 with trailing segments" "0 404" "$(fetch "$B/status/404/latest.yml" | cut -d' ' -f1-2)"
expect "/status/0 rejected" "0 400" "$(fetch "$B/status/0" | cut -d' ' -f1-2)"

expect "/bytes/100000" "0 200 100000" "$(fetch "$B/bytes/100000")"
expect "/bytes content" "$(pattern_sha 100000)" "$(sha "$T/body")"
expect "/bytes Content-Length" "100000" "$(header Content-Length)"
expect "/bytes/0 empty 200" "0 200 0" "$(fetch "$B/bytes/0")"
expect "HEAD /bytes/300" "0 200 0" "$(fetch "$B/bytes/300" -I)"
expect "HEAD Content-Length" "300" "$(header Content-Length)"

expect "/nolength/5000" "0 200 5000" "$(fetch "$B/nolength/5000")"
expect "/nolength has no Content-Length" "" "$(header Content-Length)"
expect "/nolength content" "$(pattern_sha 5000)" "$(sha "$T/body")"

expect "/chunked/10000" "0 200 10000" "$(fetch "$B/chunked/10000")"
expect "/chunked encoding" "chunked" "$(header Transfer-Encoding)"
expect "/chunked content" "$(pattern_sha 10000)" "$(sha "$T/body")"
expect "/chunked/0" "0 200 0" "$(fetch "$B/chunked/0")"

expect "/cut/1000/400 partial (curl 18)" "18 200 400" "$(fetch "$B/cut/1000/400")"
expect "escaped path /cut%2F100%2F10" "18 200 10" "$(fetch "$B/cut%2F100%2F10")"

start=$(date +%s.%N)
expect "/slow/20000/10000" "0 200 20000" "$(fetch "$B/slow/20000/10000")"
within "/slow takes about 2 s" 1.6 3.5 "$(echo "$(date +%s.%N) - $start" | bc)"

expect "/stall/1000/100 (curl timeout 28)" "28 200 100" "$(fetch "$B/stall/1000/100" --max-time 2)"
expect "/hang: no answer (curl timeout 28)" "28 000 0" "$(fetch "$B/hang" --max-time 1)"
expect "/drop: empty reply (curl 52)" "52 000 0" "$(fetch "$B/drop")"

expect "/redirect/5 with 5 hops" "0 200 16" "$(fetch "$B/redirect/5" -L --max-redirs 5)"
expect "/redirect/6 stops at a 302 (curl 47)" "47 302" "$(fetch "$B/redirect/6" -L --max-redirs 5 | cut -d' ' -f1-2)"
n=$(curl -s -o /dev/null -w '%{num_redirects}' -L --max-redirs 10 "$B/redirect/6")
expect "/redirect/6 is six redirects" "6" "$n"
fetch "$B/redirect/2?to=/bytes/77&abs=1" >/dev/null
expect "abs=1 Location" "$B/redirect/1?to=/bytes/77&abs=1" "$(header Location)"
expect "/redirect/2?to=/bytes/77&abs=1 -L" "0 200 77" "$(fetch "$B/redirect/2?to=/bytes/77&abs=1" -L)"
expect "/redirect/0 serves the target" "0 200 16" "$(fetch "$B/redirect/0")"
expect "/redirect code=307" "0 307" "$(fetch "$B/redirect/1?code=307" | cut -d' ' -f1-2)"
expect "/loop (curl 47 at a 301)" "47 301" "$(fetch "$B/loop" -L --max-redirs 5 | cut -d' ' -f1-2)"

expect "/to-https/bytes/50 with --cacert" "0 200 50" \
  "$(fetch "$B/to-https/bytes/50" -L --cacert "$T/certs/test-ca.pem")"
fetch "$B/to-https/bytes/50" >/dev/null
expect "/to-https Location" "$S/bytes/50" "$(header Location)"
expect "/to-https without the CA (curl 60)" "60 301" \
  "$(fetch "$B/to-https/bytes/50" -L | cut -d' ' -f1-2)"
expect "TLS /nolength" "0 200 5000" "$(fetch "$S/nolength/5000" --cacert "$T/certs/test-ca.pem")"
expect "TLS /cut" "18 200 30" "$(fetch "$S/cut/100/30" --cacert "$T/certs/test-ca.pem")"
expect "TLS /redirect/2 stays on TLS" "0 200 16" "$(fetch "$S/redirect/2?abs=1" -L --cacert "$T/certs/test-ca.pem")"

closed=$(free_port)
expect "/to-port/<closed> (curl 7 at a 302)" "7 302" "$(fetch "$B/to-port/$closed/bytes/10" -L | cut -d' ' -f1-2)"
fetch "$B/to-port/$P/bytes/10?x=1" >/dev/null
expect "/to-port Location" "$B/bytes/10?x=1" "$(header Location)"
expect "/to-port/<open>/bytes/10" "0 200 10" "$(fetch "$B/to-port/$P/bytes/10" -L)"

expect "/file/latest.yml" "0 200 15" "$(fetch "$B/file/latest.yml")"
expect "/file yaml type" "text/yaml" "$(header Content-Type)"
expect "/file/inst.exe" "0 200 524288" "$(fetch "$B/file/inst.exe")"
expect "/file content" "$(sha "$T/root/inst.exe")" "$(sha "$T/body")"
expect "/file/missing" "0 404" "$(fetch "$B/file/missing.yml" | cut -d' ' -f1-2)"
expect "/file no escape from root" "0 404" "$(fetch "$B/file/..%2F..%2Fetc%2Fpasswd" | cut -d' ' -f1-2)"
expect "root fallback /latest.yml" "0 200 15" "$(fetch "$B/latest.yml")"
expect "unknown path" "0 404" "$(fetch "$B/nothing/here" | cut -d' ' -f1-2)"

expect "/doc/latest.yml?body=" "0 200 14" "$(fetch "$B/doc/latest.yml?body=path%3A%20a%20b.exe%0A")"
expect "/doc body" "path: a b.exe" "$(cat "$T/body")"
expect "/doc type" "text/yaml" "$(header Content-Type)"
expect "/doc without body is empty" "0 200 0" "$(fetch "$B/doc")"

expect "/garbage/10485760" "0 200 10485760" "$(fetch "$B/garbage/10485760")"
g1=$(sha "$T/body")
fetch "$B/garbage/10485760" >/dev/null
expect "/garbage is deterministic" "$g1" "$(sha "$T/body")"
[ "$g1" != "$(pattern_sha 0)" ] && ok "/garbage not empty" || bad "/garbage" "empty"

fetch "$B/echo-headers" -A "Probe Agent 1.0" -e "http://127.0.0.1/ref" >/dev/null
grep -q '^GET /echo-headers HTTP/1.1' "$T/body" && ok "/echo-headers request line" || bad "/echo-headers" "$(head -1 "$T/body")"
grep -q '^User-Agent: Probe Agent 1.0' "$T/body" && ok "/echo-headers user agent" || bad "/echo-headers UA" "missing"
grep -q '^Referer: http://127.0.0.1/ref' "$T/body" && ok "/echo-headers referer" || bad "/echo-headers referer" "missing"

fetch "$B/_log/clear" >/dev/null
fetch "$B/redirect/1?to=/bytes/5" -L -A "Log Agent" -e ';auto' >/dev/null
log=$(curl -s "$B/_log")
expect "/_log lines" 2 "$(printf '%s\n' "$log" | grep -c .)"
expect "/_log first" "$(printf 'http\tGET /redirect/1?to=/bytes/5 HTTP/1.1\tLog Agent\t-')" "$(printf '%s\n' "$log" | sed -n 1p)"
expect "/_log auto referer" "$(printf 'http\tGET /bytes/5 HTTP/1.1\tLog Agent\t%s/redirect/1?to=/bytes/5' "$B")" \
  "$(printf '%s\n' "$log" | sed -n 2p)"
curl -s "$B/_log/json" | python3 -c 'import json,sys; d=json.load(sys.stdin); assert d[1]["user_agent"]=="Log Agent"' &&
  ok "/_log/json" || bad "/_log/json" "unexpected"
fetch "$B/_log/clear" >/dev/null
expect "/_log cleared" "" "$(curl -s "$B/_log")"

conns=$(curl -s -o /dev/null -o /dev/null -o /dev/null -w '%{num_connects} ' "$B/bytes/10" "$B/status/404" "$B/slow/100/1000")
expect "keep-alive reuses one connection" "1 0 0 " "$conns"

# Clients that vanish mid-body, on both listeners.
curl -s -o /dev/null --max-time 0.5 "$B/slow/100000/10000"
curl -s -o /dev/null --max-time 0.5 --cacert "$T/certs/test-ca.pem" "$S/slow/100000/10000"
curl -s -o /dev/null --max-time 0.5 "$B/stall/100/10"
head -c 100 /dev/zero | (exec 3<>"/dev/tcp/127.0.0.1/$Q"; cat >&3; exec 3>&-) 2>/dev/null
python3 - "$P" <<'EOF'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.sendall(b"GET /garbage/10485760 HTTP/1.1\r\nHost: x\r\n\r\n")
s.recv(1000)
s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
s.close()
EOF
sleep 0.5
expect "still serving after aborted clients" "0 200 1" "$(fetch "$B/bytes/1")"
expect "no output on stderr" "" "$(cat "$T/fs.err")"

kill -TERM "$fs_pid"
for _ in $(seq 40); do kill -0 "$fs_pid" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$fs_pid" 2>/dev/null; then bad "SIGTERM" "still running"; else ok "SIGTERM stops it"; fi
wait "$fs_pid"
expect "exit status after SIGTERM" 0 "$?"
[ -e "$T/fs.pid" ] && bad "pidfile" "left behind" || ok "pidfile removed"
fs_pid=''

python3 "$here/fault_server.py" --port 0 --max-seconds 1 >"$T/fs2.out" 2>/dev/null &
pid2=$!
sleep 2
if kill -0 "$pid2" 2>/dev/null; then
  bad "--max-seconds" "still running"
  kill -TERM "$pid2"
else
  ok "--max-seconds ends it"
fi
wait "$pid2" 2>/dev/null

echo "== release server (nginx)"
N=$(free_port)
R=http://127.0.0.1:$N
if "$here/release-server" start --root "$T/root" --port "$N" --state "$T/nginx" --rate 128k; then
  ok "release-server start"
else
  bad "release-server start" "failed"
fi
expect "nginx latest.yml" "0 200 15" "$(fetch "$R/latest.yml")"
expect "nginx yml type" "text/yaml" "$(header Content-Type)"
start=$(date +%s.%N)
expect "nginx inst.exe" "0 200 524288" "$(fetch "$R/inst.exe")"
within "nginx at 128k takes about 4 s" 2.5 6 "$(echo "$(date +%s.%N) - $start" | bc)"
expect "nginx exe type" "application/octet-stream" "$(header Content-Type)"
expect "nginx content" "$(sha "$T/root/inst.exe")" "$(sha "$T/body")"
expect "nginx missing" "0 404" "$(fetch "$R/none.yml" | cut -d' ' -f1-2)"
"$here/release-server" reload --state "$T/nginx" --rate off && ok "release-server reload" || bad "reload" "failed"
start=$(date +%s.%N)
expect "nginx unlimited" "0 200 524288" "$(fetch "$R/inst.exe")"
within "nginx without a rate is fast" 0 1 "$(echo "$(date +%s.%N) - $start" | bc)"
grep -q 'GET /inst.exe' "$T/nginx/access.log" && ok "nginx access log in state" || bad "access log" "missing"
"$here/release-server" stop --state "$T/nginx" && ok "release-server stop" || bad "stop" "failed"
"$here/release-server" stop --state "$T/nginx" && ok "release-server stop again" || bad "stop again" "failed"
expect "nginx port closed" "7" "$(fetch "$R/latest.yml" | cut -d' ' -f1)"

sleep 0.2
left=$(pgrep -f "$T" | tr '\n' ' ')
expect "no process left behind" "" "$left"

echo "passed $passed, failed $failed"
[ "$failed" -eq 0 ]

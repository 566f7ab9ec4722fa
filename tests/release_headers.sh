#!/usr/bin/env bash
# The cache headers of tools/release-server: a release document is revalidated on every request (and
# the revalidation is a 304), an installer is kept as immutable; an outcome report is answered with 204
# and read back from the access log by brimo-funnel.
#   tests/release_headers.sh PORT BRIMO_FUNNEL
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
port=$1
funnel=$2
export no_proxy='*' NO_PROXY='*'
T=$(mktemp -d /tmp/brimo-release-headers.XXXXXX)
trap '"$here/tools/release-server" stop --state "$T/nginx" >/dev/null 2>&1; rm -rf "$T"' EXIT
mkdir -p "$T/root"
echo 'path: "Setup 1.0.exe"' >"$T/root/latest.yml"
echo MZ >"$T/root/Setup 1.0.exe"
"$here/tools/release-server" start --root "$T/root" --port "$port" --state "$T/nginx" || exit 1

failures=0
# header URL NAME [CURL ARGS...]: prints the value of header NAME in the answer to a HEAD request.
header() {
  curl -sSI "${@:3}" "http://127.0.0.1:$port/$1" | tr -d '\r' | sed -n "s/^$2: //Ip"
}
expect() {
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected '$2', got '$3'"
    failures=$((failures + 1))
  fi
}
expect "document Cache-Control" "no-cache" "$(header latest.yml Cache-Control)"
etag=$(header latest.yml ETag)
[ -n "$etag" ] || expect "document ETag" "(an ETag)" ""
status=$(curl -s -o /dev/null -w '%{http_code}' -H "If-None-Match: $etag" "http://127.0.0.1:$port/latest.yml")
expect "revalidation" 304 "$status"
expect "installer Cache-Control" "public, max-age=31536000, immutable" "$(header 'Setup%201.0.exe' Cache-Control)"

report="http://127.0.0.1:$port/report?r=0123456789abcdef&v=1.0.0.0&c=latest&w=10.0.19045"
expect "report status" 204 "$(curl -s -o /dev/null -w '%{http_code}' "$report&e=zapkit_launched")"
curl -s -o /dev/null "$report&e=zapkit_failed&s=download&k=404"
expect "report funnel" "download 404 1" \
  "$("$funnel" "$T/nginx/access.log" | sed -n 's/^  \(download 404\) *\([0-9]*\)$/\1 \2/p')"
[ "$failures" = 0 ] || exit 1
echo "release server cache headers: all checks passed"

#!/usr/bin/env bash
# Releases published with the maker's command reach the program through a real caching proxy
# (Varnish) in front of the release server: the document is revalidated on every request, an
# installer is fetched from the origin once and served from the cache after, and a name reused for
# other bytes is refused before any cache could hand out the wrong ones.
INSTALLER_EXE="Z:$BRIMO_BUILD/proxied/QuarnBrimoInstaller.exe"
source "$(dirname "$0")/lib.sh"
: "${BRIMO_PROXY_PORT:?}"
PUBLISH=${BRIMO_PUBLISH:-$BRIMO_SOURCE/build/linux/publish/brimo-publish}
[ -x "$PUBLISH" ] || { echo "FAIL: no $PUBLISH (cmake --build --preset linux)" >&2; exit 1; }
started=$(date +%s.%N)

# The proxy runs from its own folder: its shared memory (read by varnishstat), its VCL and pid file.
# The VCL keeps what the origin sends for as long as its headers say, and a document marked
# "no-cache" is kept only to be revalidated.
VARNISH=$WORK/varnish
start_proxy() {
  mkdir -p "$VARNISH"
  cat >"$VARNISH/proxy.vcl" <<EOF
vcl 4.1;
backend origin {
    .host = "127.0.0.1";
    .port = "$RELEASE_PORT";
}
# A CDN's way of handing out a file: a redirect from a name of its own to the installer's immutable
# URL. A document's path "cdn/NAME" is escaped as one segment, "/cdn%2FNAME".
sub vcl_recv {
    if (req.url ~ "^/cdn%2F.+") {
        return (synth(302, "Found"));
    }
}
sub vcl_synth {
    if (resp.status == 302) {
        set resp.http.Location = regsub(req.url, "^/cdn%2F", "/");
        return (deliver);
    }
}
sub vcl_backend_response {
    if (beresp.http.Cache-Control ~ "no-cache") {
        # Varnish revalidates only a kept object that had a TTL: a millisecond, then each request
        # asks the origin with If-None-Match and If-Modified-Since.
        set beresp.ttl = 1ms;
        set beresp.grace = 0s;
        set beresp.keep = 1h;
        return (deliver);
    }
}
EOF
  # No jail: run as root, varnishd would otherwise read the VCL as its own user, which may not enter
  # this suite's private folder.
  varnishd -j none -n "$VARNISH/state" -a "127.0.0.1:$BRIMO_PROXY_PORT" -f "$VARNISH/proxy.vcl" -T none \
    -s malloc,32m -P "$VARNISH/varnishd.pid" >"$VARNISH/start.log" 2>&1 ||
    { echo "FAIL: varnishd did not start: $(cat "$VARNISH/start.log")" >&2; exit 1; }
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$BRIMO_PROXY_PORT") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "FAIL: varnishd did not answer on port $BRIMO_PROXY_PORT" >&2
  exit 1
}
# Ends the manager by its pid and waits for it and its cache child to be gone.
stop_proxy() {
  [ -f "$VARNISH/varnishd.pid" ] || return 0
  local pid children
  pid=$(cat "$VARNISH/varnishd.pid")
  children=$(pgrep -P "$pid" || true)
  kill -TERM "$pid" 2>/dev/null || true
  for p in $pid $children; do wait_gone "$p" || kill -KILL "$p" 2>/dev/null || true; done
  rm -f "$VARNISH/varnishd.pid"
}
trap 'stop_proxy; cleanup_e2e' EXIT
counter() { varnishstat -n "$VARNISH/state" -1 -f "MAIN.$1" | awk '{print $2}'; }
# origin_requests PATH STATUS: how many times the origin answered GET PATH with STATUS.
origin_requests() { grep -cF "\"GET /$1 HTTP/1.1\" $2 " "$WORK/nginx/access.log" || true; }

# The test installer, marked per release; the installed application is a copy of the installer that
# ran, so it says which ran.
make_installer() {  # make_installer FILE MARK
  cp "$TEST_INSTALLER" "$1"
  printf 'BRIMO-TEST-CONFIG{sleep=%s}' "$2" >>"$1"
}
installed() { cmp -s "$DRIVE_C/Program Files/Quarn Brimo Beta/Quarn Brimo Beta.exe" "$1"; }
install_case() {  # install_case NAME EXPECTED_INSTALLER
  reset_markers
  run_case "$1"
  check "$1 exits 1" equals "$(code_of "$1")" 1
  check "$1 shows nothing" equals "$(boxes_of "$1")" ""
  check "$1 installed $(basename "$2")" installed "$2"
  app_started || true
}

mkdir -p "$WORK/release" "$WORK/stage"
make_installer "$WORK/stage/Setup 1.0.exe" 1
make_installer "$WORK/stage/Setup 1.1.exe" 2
start_nginx "$WORK/release"
start_proxy

"$PUBLISH" --version 1.0 "$WORK/stage/Setup 1.0.exe" "$WORK/release" >/dev/null
install_case first "$WORK/stage/Setup 1.0.exe"

"$PUBLISH" --version 1.1 "$WORK/stage/Setup 1.1.exe" "$WORK/release" >/dev/null
install_case second "$WORK/stage/Setup 1.1.exe"
check "the new document came from the origin" equals "$(origin_requests latest.yml 200)" 2

# Other bytes under the published name: refused, the release stays as it was.
cp "$WORK/stage/Setup 1.1.exe" "$WORK/stage/other"
printf 'rebuilt' >>"$WORK/stage/other"
mkdir -p "$WORK/stage/rebuilt" && mv "$WORK/stage/other" "$WORK/stage/rebuilt/Setup 1.1.exe"
before=$(cd "$WORK/release" && sha256sum -- *)
status=0
"$PUBLISH" --version 1.1 "$WORK/stage/rebuilt/Setup 1.1.exe" "$WORK/release" >/dev/null 2>"$WORK/refused.txt" || status=$?
check "republishing 1.1 with other bytes exits 1" equals "$status" 1
check "the refusal says why" grep -q 'already published with other bytes' "$WORK/refused.txt"
check "the release folder is unchanged" equals "$(cd "$WORK/release" && sha256sum -- *)" "$before"

install_case third "$WORK/stage/Setup 1.1.exe"
check "the unchanged document was revalidated (304)" equals "$(origin_requests latest.yml 304)" 1
check "each installer came from the origin once" equals \
  "$(origin_requests 'Setup%201.0.exe' 200) $(origin_requests 'Setup%201.1.exe' 200)" "1 1"
check "the third installer came from the cache" equals "$(counter cache_hit)" 1

# The document names a redirecting path: the program follows the proxy's 302 to the immutable URL,
# which the cache already holds.
sed 's|^path: .*|path: "cdn/Setup 1.1.exe"|' "$WORK/release/latest.yml" >"$WORK/release/.latest.yml.new"
mv "$WORK/release/.latest.yml.new" "$WORK/release/latest.yml"
install_case redirected "$WORK/stage/Setup 1.1.exe"
check "the redirect came from the proxy" equals "$(counter s_synth)" 1
check "the redirected installer came from the cache" equals "$(counter cache_hit)" 2
check "the origin never saw the redirecting name" equals "$(grep -c 'cdn%2F' "$WORK/nginx/access.log" || true)" 0
hits=$(counter cache_hit) misses=$(counter cache_miss)
echo "proxy: $hits hits, $misses misses; origin: $(grep -c . "$WORK/nginx/access.log") requests;" \
  "$(awk -v s="$started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }') s"
finish_e2e

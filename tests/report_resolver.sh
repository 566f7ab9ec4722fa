#!/usr/bin/env bash
# The end report to a host whose name never resolves adds its time-out to a run, not the system
# resolver's. In mount and network namespaces of its own (they end with it), the only name server
# is a listener on loopback that reads every query and never answers.
#   report_resolver.sh PROBE
set -euo pipefail
probe=$1
[ "${2:-}" = inside ] || exec unshare --mount --net bash "$0" "$probe" inside

unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy
ip link set lo up
work=$(mktemp -d /tmp/brimo-resolver.XXXXXX)
listener=''
finish() {
  [ -z "$listener" ] || kill "$listener" 2>/dev/null || true
  umount /etc/resolv.conf 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
echo 'nameserver 127.0.0.1' >"$work/resolv.conf"
mount --bind "$work/resolv.conf" /etc/resolv.conf
python3 -u -c '
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 53))
print("listening")
while True:
    s.recv(4096)
' >"$work/listener.out" &
listener=$!
for _ in $(seq 100); do grep -q listening "$work/listener.out" && break; sleep 0.1; done
grep -q listening "$work/listener.out" || { echo "FAIL: the name server did not start"; exit 1; }

elapsed_ms=$(timeout 60 "$probe" never-answers.test/report)
echo "the run's reports took $elapsed_ms ms"
# The reports' time-out is one second; the resolver's own time-outs take ten.
[ "$elapsed_ms" -lt 3000 ] || { echo "FAIL: the reports waited for the name server"; exit 1; }

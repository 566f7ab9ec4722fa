#!/usr/bin/env bash
# The maker's signing step (release/sign) with real parts: the key in a SoftHSM2 token, time stamps
# from the loopback RFC 3161 server, the throwaway test PKI.
#   tests/release_sign.sh TSA_PORT CLOSED_PORT     (nothing may listen on CLOSED_PORT)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tsa_port=$1
closed_port=$2
work=$(mktemp -d)
trap '"$root/tools/tsa-server" stop --state "$work/tsa"; rm -rf "$work"' EXIT
cd "$work"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy no_proxy NO_PROXY

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

publisher="Quarn Brimo Tëst Ltd"
"$root/tools/test-signing" certs pki "$publisher"
cat pki/good.pem pki/root.pem >chain.pem
mapfile -t token < <("$root/tools/test-token" init token pki/good.key)
export SOFTHSM2_CONF=$work/token/softhsm2.conf
"$root/tools/tsa-server" start --state tsa --port "$tsa_port" --signing pki
printf 'int main(void) { return 0; }\n' >main.c
x86_64-w64-mingw32-gcc-posix -s -o unsigned.exe main.c
mkdir out

sign() { "$root/release/sign" "$@" >sign.out 2>sign.err; }
# The folder holds exactly the files named (no temporary ones left behind).
holds() {
  local files
  files=$(find out -mindepth 1 -printf '%f\n' | sort | paste -sd' ')
  [ "$files" = "$*" ] || fail "out holds '$files', expected '$*'"
}
verify() { osslsigncode verify -CAfile pki/root.pem -TSA-CAfile pki/root.pem -in "$1" >verify.out 2>&1; }

# From the token, stamped: verifies on its own, and the step names signer and stamp.
if sign "${token[@]}" --certs chain.pem --timestamp-url "http://127.0.0.1:$tsa_port/" --ca-file pki/root.pem \
  unsigned.exe out/token.exe; then
  holds token.exe
  verify out/token.exe || fail "token.exe does not verify: $(cat verify.out)"
  grep -qx 'Timestamp Server Signature verification: ok' verify.out || fail "token.exe: no verified stamp"
  grep -qx "  signer: $publisher" sign.out || fail "signer not reported: $(cat sign.out)"
  grep -qx '  time stamp: .* GMT by Quarn Brimo Test TSA' sign.out || fail "stamp not reported: $(cat sign.out)"
  [ "$(stat -c %a out/token.exe)" = "$(stat -c %a unsigned.exe)" ] || fail "token.exe: mode changed"
else
  fail "signing from the token: $(cat sign.err)"
fi
if [ "$(cat tsa/serial)" = 01 ]; then fail "the time-stamping server was not asked"; fi

# No reachable time-stamping server: refused, and nothing written, unless the maker says so.
rm -f out/*
if sign "${token[@]}" --certs chain.pem --timestamp-url "http://127.0.0.1:$closed_port/" unsigned.exe out/a.exe; then
  fail "signed without a reachable time-stamping server"
fi
holds ''
grep -q 'no time stamp from' sign.err || fail "no-server message: $(cat sign.err)"
sign "${token[@]}" --certs chain.pem unsigned.exe out/a.exe && fail "signed with no time-stamp option at all"
if sign "${token[@]}" --certs chain.pem --no-timestamp --ca-file pki/root.pem unsigned.exe out/a.exe; then
  holds a.exe
  verify out/a.exe || fail "unstamped a.exe does not verify: $(cat verify.out)"
  grep -qx '  time stamp: none (--no-timestamp)' sign.out || fail "missing stamp not reported: $(cat sign.out)"
else
  fail "--no-timestamp: $(cat sign.err)"
fi

# A signature that does not verify (a chain to another root) leaves no file, not even a temporary one.
rm -f out/*
cat pki/untrusted.pem pki/untrusted-root.pem >untrusted-chain.pem
sign --key pki/untrusted.key --certs untrusted-chain.pem --timestamp-url "http://127.0.0.1:$tsa_port/" \
  --ca-file pki/root.pem unsigned.exe out/b.exe && fail "an unverifiable signature was put in place"
holds ''
grep -q 'does not verify: not written' sign.err || fail "verify message: $(cat sign.err)"

# A PKCS#12 file, its password from the environment; a wrong PIN from the environment fails.
openssl pkcs12 -export -in pki/good.pem -certfile pki/root.pem -inkey pki/good.key -passout pass:p12-secret \
  -out good.p12
P12_PASSWORD=p12-secret sign --pkcs12 good.p12 --pin-env P12_PASSWORD --no-timestamp --ca-file pki/root.pem \
  unsigned.exe out/c.exe || fail "PKCS#12: $(cat sign.err)"
WRONG_PIN=0 sign "${token[@]:0:4}" --pin-env WRONG_PIN --certs chain.pem --no-timestamp unsigned.exe out/d.exe &&
  fail "signed with a wrong PIN"
holds c.exe

[ $failures = 0 ] || exit 1
echo "release/sign: all cases passed"

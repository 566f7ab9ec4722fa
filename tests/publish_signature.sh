#!/usr/bin/env bash
# The publisher check of brimo-publish against PE files signed by osslsigncode with a throwaway root:
#   tests/publish_signature.sh BRIMO_PUBLISH
set -euo pipefail
publish=$(realpath "$1")
test_signing=$(realpath "$(dirname "$0")/../tools/test-signing")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

printf 'int main(void) { return 0; }\n' >setup.c
x86_64-w64-mingw32-gcc-posix -s -o unsigned.exe setup.c

key=(-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2)
openssl req -x509 "${key[@]}" -keyout root.key -out root.pem -subj "/CN=Throwaway Root" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null

# sign KIND SUBJECT: KIND.exe, signed with a code-signing certificate for SUBJECT from the root.
sign() {
  openssl req -x509 "${key[@]}" -CA root.pem -CAkey root.key -keyout "$1.key" -out "$1.pem" -utf8 \
    -subj "$2" -addext "basicConstraints=CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" 2>/dev/null
  osslsigncode sign -certs "$1.pem" -key "$1.key" -in unsigned.exe -out "$1.exe" >/dev/null
}
sign full "/O=Quarn Labs/OU=Builds/CN=Quarn Brimo Ltd"
sign unit "/O=Quarn Labs/OU=Quarn Builds"
sign accented "/CN=Société Quärn"

mkdir release
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
snapshot() { find release -type f -exec sha256sum {} + | sort; }

# accepts PUBLISHER KIND [TRUST]: KIND.exe is published for PUBLISHER and named by the document. TRUST is
# the root to trust, root.pem unless given.
accepts() {
  if "$publish" --publisher "$1" --ca-file "${3:-root.pem}" "$2.exe" release >out 2>err; then
    grep -qx "path: $2.exe" out || fail "$2.exe for \"$1\": $(cat out)"
  else
    fail "$2.exe refused for \"$1\": $(cat err)"
  fi
}

# refuses PUBLISHER KIND [TRUST]: exit 1 with the command's message, and the release folder as it was.
# TRUST is the root to trust, root.pem unless given; "-" leaves the system's bundle.
refuses() {
  local trust=(--ca-file "${3:-root.pem}") before status=0
  [ "${3:-}" = - ] && trust=()
  before=$(snapshot)
  "$publish" --publisher "$1" "${trust[@]}" "$2.exe" release >out 2>err || status=$?
  [ "$status" = 1 ] || fail "$2.exe for \"$1\": exit $status, not 1"
  grep -q '^brimo-publish: refusing to publish' err || fail "$2.exe for \"$1\": $(cat err)"
  [ "$(snapshot)" = "$before" ] || fail "$2.exe for \"$1\" changed the release folder"
}

accepts "Quarn Brimo Ltd" full
refuses "Quarn Labs" full # the organisation is not the name when there is a common name
refuses "Quarn Brimo" full
refuses "Throwaway Root" full
grep -q 'signed by "Quarn Brimo Ltd"' err || fail "the issuer taken for the signer: $(cat err)"
accepts "Quarn Builds" unit # without a common name, the unit
refuses "Quarn Labs" unit
accepts "Société Quärn" accented
refuses "Quarn Brimo Ltd" unsigned
refuses "Quarn Brimo Ltd" full - # the throwaway root is not in the system's bundle

# Time stamps count as the program counts them: an expired certificate's signature is accepted when
# a sound time stamp shows it was made while the certificate was valid, and refused without one.
signing="$work/signing"
"$test_signing" certs "$signing" "Quarn Brimo Ltd" 2>err || fail "certificates: $(cat err)"
while_valid=$(date -u -d 2020-06-01 +%s)
"$test_signing" sign "$signing" expired unsigned.exe stamped.exe tsa "$while_valid"
"$test_signing" sign "$signing" expired unsigned.exe expired.exe
"$test_signing" sign "$signing" expired unsigned.exe untrusted-stamp.exe untrusted-tsa \
  "$while_valid"
cp "$signing/root.pem" signing-root.pem
accepts "Quarn Brimo Ltd" stamped signing-root.pem
refuses "Quarn Brimo Ltd" expired signing-root.pem
refuses "Quarn Brimo Ltd" untrusted-stamp signing-root.pem

[ "$failures" = 0 ] || exit 1
echo "publisher check: all cases passed"

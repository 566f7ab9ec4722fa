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

# --product and --minimum-version refuse what the program built with them refuses, in its words, read
# from the signed version resource (the test installer's, made here), whose version the document takes.
rc_source=$(dirname "$test_signing")/test_installer_win.rc
# versioned NAME PRODUCT VERSION [DEFINE]: NAME.exe with that version resource (DEFINE selects a variant,
# as in tools/CMakeLists.txt), signed by the publisher.
versioned() {
  mkdir -p "$1-version"
  printf '#define TEST_INSTALLER_PRODUCT "%s"\n#define TEST_INSTALLER_VERSION %s\n#define TEST_INSTALLER_VERSION_TEXT "%s"\n%s\n' \
    "$2" "${3//./,}" "$3" "${4:-}" >"$1-version/test_installer_version.h"
  x86_64-w64-mingw32-windres -I "$1-version" "$rc_source" -O coff -o "$1.res"
  x86_64-w64-mingw32-gcc-posix -s -o "$1-unsigned.exe" setup.c "$1.res"
  "$test_signing" sign "$signing" good "$1-unsigned.exe" "$1.exe"
}
versioned product "Quarn Brimo" 1.2.0.0
versioned uninstaller "Quarn Brimo Uninstaller" 1.2.0.0
versioned older "Quarn Brimo" 1.1.65535.65535
versioned id2 "Quarn Brimo" 1.2.0.0 '#define TEST_INSTALLER_VERSION_ID 2'
versioned two-languages "Quarn Brimo" 1.2.0.0 '#define TEST_INSTALLER_GERMAN_PRODUCT "Quarn Brimo Uninstaller"'
"$test_signing" sign "$signing" good unsigned.exe unversioned.exe
wanted=(--publisher "Quarn Brimo Ltd" --ca-file signing-root.pem --product "Quarn Brimo" --minimum-version 1.2.0.0)
# product_refused KIND REASON: refused with the program's reason.
product_refused() {
  local before status=0
  before=$(snapshot)
  "$publish" "${wanted[@]}" "$1.exe" release >out 2>err || status=$?
  [ "$status" = 1 ] || fail "$1.exe: exit $status, not 1"
  grep -qF "installer product check failed - $2" err || fail "$1.exe: $(cat err)"
  [ "$(snapshot)" = "$before" ] || fail "$1.exe changed the release folder"
}
product_refused uninstaller "product is 'Quarn Brimo Uninstaller', expected 'Quarn Brimo'"
product_refused older "version 1.1.65535.65535 is older than 1.2.0.0"
product_refused unversioned "no version resource"
# Read as the program reads them: only id 1 counts, and of two languages without a neutral one the first.
product_refused id2 "no version resource"
product_refused two-languages "product is 'Quarn Brimo Uninstaller', expected 'Quarn Brimo'"
if "$publish" "${wanted[@]}" --channel product product.exe release >out 2>err; then
  grep -qx 'version: "1.2.0.0"' release/product.yml || fail "the version was not taken from the resource: $(cat release/product.yml)"
else
  fail "product.exe refused: $(cat err)"
fi
status=0
"$publish" --product "Quarn Brimo" unversioned.exe release >out 2>err || status=$?
[ "$status" = 2 ] || fail "--product without --publisher: exit $status, not 2"

[ "$failures" = 0 ] || exit 1
echo "publisher check: all cases passed"

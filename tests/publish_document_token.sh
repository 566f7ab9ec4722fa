#!/usr/bin/env bash
# A release document signed by brimo-publish with its key in a SoftHSM2 token, then checked by hand
# with openssl as the README shows:
#   tests/publish_document_token.sh BRIMO_PUBLISH
set -euo pipefail
publish=$(realpath "$1")
tools=$(realpath "$(dirname "$0")/../tools")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out document.pem 2>/dev/null
mapfile -t token < <("$tools/test-token" init token document.pem)
export SOFTHSM2_CONF=$work/token/softhsm2.conf
# --pkcs11-module LIB --key URI --pin-file FILE, as the signing step takes them.
module=${token[1]} uri=${token[3]}
TOKEN_PIN=$(cat "${token[5]}")
export TOKEN_PIN
printf 'MZ token\n' >Setup.exe
mkdir release
"$publish" --document-key "$uri" --pkcs11-module "$module" --pin-env TOKEN_PIN --channel beta \
  --version 1.2.0.0 Setup.exe release >/dev/null

# The README's check: the key as BRIMO_RELEASE_KEYS takes it, its id, and the signature.
doc=release/beta.yml
KEY=$(openssl pkey -in document.pem -pubout -outform DER | tail -c 65 | xxd -p -c 65)
[ "$(tail -n 1 "$doc" | cut -d' ' -f3)" = "$(echo "$KEY" | cut -c3-18)" ] || { echo "FAIL: key id"; exit 1; }
echo "3059301306072a8648ce3d020106082a8648ce3d030107034200$KEY" | xxd -r -p |
  openssl pkey -pubin -inform DER -out public.pem
head -n -1 "$doc" >signed.yml
tail -n 1 "$doc" | cut -d' ' -f4 | base64 -d >signature.raw
printf 'asn1=SEQUENCE:sig\n[sig]\nr=INTEGER:0x%s\ns=INTEGER:0x%s\n' \
  "$(head -c 32 signature.raw | xxd -p -c 32)" "$(tail -c 32 signature.raw | xxd -p -c 32)" >signature.cnf
openssl asn1parse -genconf signature.cnf -out signature.der -noout
openssl dgst -sha256 -verify public.pem -signature signature.der signed.yml >/dev/null ||
  { echo "FAIL: openssl does not verify the document"; exit 1; }
sed 's/1\.2\.0\.0/1.1.0.0/' signed.yml >forged.yml
if openssl dgst -sha256 -verify public.pem -signature signature.der forged.yml >/dev/null 2>&1; then
  echo "FAIL: a changed document verifies"
  exit 1
fi

# A wrong PIN signs nothing and leaves the release as it was.
before=$(sha256sum "$doc")
if TOKEN_PIN=0 "$publish" --refresh --document-key "$uri" --pkcs11-module "$module" --pin-env TOKEN_PIN \
  --channel beta release >/dev/null 2>&1; then
  echo "FAIL: a wrong PIN signed"
  exit 1
fi
[ "$(sha256sum "$doc")" = "$before" ] || { echo "FAIL: a failed refresh changed the document"; exit 1; }
echo "token-signed document verified by openssl"

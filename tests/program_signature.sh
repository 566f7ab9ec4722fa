#!/usr/bin/env bash
# The program signed by the maker's signing step (key in a SoftHSM2 token, stamp from the loopback
# time-stamping server), then checked under Wine, in a prefix that trusts the test root:
#   tests/program_signature.sh PROGRAM SIGNATURE_TESTS_EXE TSA_PORT
# Needs BRIMO_SOURCE and BRIMO_BUILD (the Windows build tree).
set -euo pipefail
: "${BRIMO_SOURCE:?}" "${BRIMO_BUILD:?}"
program=$1
tests_exe=$2
tsa_port=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/brimo-signature.XXXXXX")
trap '"$BRIMO_SOURCE/tools/tsa-server" stop --state "$work/tsa"; rm -rf "$work"' EXIT
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy no_proxy NO_PROXY
export BRIMO_TEST_PUBLISHER=${BRIMO_TEST_PUBLISHER:-"Quarn Brimo Tëst Ltd"}
signing=$BRIMO_BUILD/test-signing
wine_run=("$BRIMO_SOURCE/tools/wine-run" --prefix "$BRIMO_BUILD/wineprefix")

"$BRIMO_SOURCE/tools/test-signing" certs "$signing" "$BRIMO_TEST_PUBLISHER"
cat "$signing/good.pem" "$signing/root.pem" >"$work/chain.pem"
mapfile -t token < <("$BRIMO_SOURCE/tools/test-token" init "$work/token" "$signing/good.key")
export SOFTHSM2_CONF=$work/token/softhsm2.conf
"$BRIMO_SOURCE/tools/tsa-server" start --state "$work/tsa" --port "$tsa_port" --signing "$signing"
"$BRIMO_SOURCE/release/sign" "${token[@]}" --certs "$work/chain.pem" --timestamp-url "http://127.0.0.1:$tsa_port/" \
  --ca-file "$signing/root.pem" "$program" "$work/QuarnBrimoInstaller.exe"

"$BRIMO_SOURCE/tools/test-signing" trust-reg "$signing" "$work/trust.reg"
"${wine_run[@]}" reg import "Z:$work/trust.reg" >/dev/null 2>&1
printf '%s' "$BRIMO_TEST_PUBLISHER" >"$work/publisher.txt"
BRIMO_SIGNED_PROGRAM="Z:$work/QuarnBrimoInstaller.exe" BRIMO_UNSIGNED_PROGRAM="Z:$program" \
  BRIMO_TEST_PUBLISHER_FILE="Z:$work/publisher.txt" "${wine_run[@]}" "$tests_exe"

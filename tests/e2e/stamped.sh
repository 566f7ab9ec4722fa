#!/usr/bin/env bash
# Time-stamped signatures, under the program built with a publisher: a sound time stamp (RFC 3161, or
# the legacy countersignature) makes the signer's chain count at the stamped time, so a signature made while its certificate was valid
# still runs after the certificate has expired. A time stamp that proves nothing (its certificate
# untrusted, without the time-stamping usage, taken from another signature, its content changed, dated
# in the future) counts as none, and one made after the certificate expired proves the signature was
# made then: each of those is refused. A time-stamping certificate that has expired since it stamped
# still counts, as its chain is evaluated at the stamped time.
source "$(dirname "$0")/lib.sh"
: "${BRIMO_TEST_PUBLISHER:?}"
INSTALLER_EXE="Z:$BRIMO_BUILD/signed/QuarnBrimoInstaller.exe"
signing="$BRIMO_BUILD/test-signing"
sign() { "$BRIMO_SOURCE/tools/test-signing" sign "$signing" "$@"; }
tamper() { "$BRIMO_SOURCE/tools/pe-time-stamp" "$@"; }
setup_name="Quarn Brimo Setup 4.0.exe"
refused_box="Error downloading installation files (code: signature), please contact "
# While the expired certificate (2020) was valid, and after it expired.
while_valid=$(date -u -d 2020-06-01 +%s)
after_expiry=$(date -u -d 2022-06-01 +%s)
next_year=$(date -u -d '+1 year' +%s)

"$BRIMO_SOURCE/tools/test-signing" certs "$signing" "$BRIMO_TEST_PUBLISHER"
"$BRIMO_SOURCE/tools/test-signing" trust-reg "$signing" "$WORK/trust.reg"
"${WINE_RUN[@]}" reg import "Z:$WORK/trust.reg" >/dev/null 2>&1

# Each case's installer, signed into $WORK/NAME/$setup_name.
declare -A made
release() { release_tree "$WORK/$1" "$setup_name"; made[$1]="$WORK/$1/$setup_name"; }
release expired-stamped && sign expired "$TEST_INSTALLER" "${made[expired-stamped]}" tsa "$while_valid"
release good-stamped && sign good "$TEST_INSTALLER" "${made[good-stamped]}" tsa "$(date -u +%s)"
release untrusted-stamp && sign expired "$TEST_INSTALLER" "${made[untrusted-stamp]}" untrusted-tsa "$while_valid"
release stamped-late && sign expired "$TEST_INSTALLER" "${made[stamped-late]}" tsa "$after_expiry"
release expired-tsa && sign expired "$TEST_INSTALLER" "${made[expired-tsa]}" expired-tsa "$while_valid"
# A signer valid only from next year, and a stamp from a service whose clock says it is next year.
release future-stamp && sign future "$TEST_INSTALLER" "${made[future-stamp]}" tsa "$next_year"
# Another file's signature (same signer, same time) with its sound time stamp grafted onto this one.
release grafted
cp "$TEST_INSTALLER" "$WORK/other.exe"
printf 'BRIMO-TEST-CONFIG{exit=0}' >>"$WORK/other.exe"
sign expired "$WORK/other.exe" "$WORK/other-signed.exe" tsa "$while_valid"
sign expired "$TEST_INSTALLER" "$WORK/unstamped.exe"
tamper graft "$WORK/other-signed.exe" "$WORK/unstamped.exe" "${made[grafted]}"
release retimed && tamper retime "${made[expired-stamped]}" "${made[retimed]}"
# The legacy countersignature, made here without a server: sound, by an untrusted countersigner, and
# with its signing time changed.
sign expired "$TEST_INSTALLER" "$WORK/unstamped.exe"
for kind in legacy legacy-untrusted legacy-noeku; do release "$kind"; done
tamper countersign "$WORK/unstamped.exe" "$signing/tsa.pem" "$signing/tsa.key" "$while_valid" "${made[legacy]}"
tamper countersign "$WORK/unstamped.exe" "$signing/untrusted-tsa.pem" "$signing/untrusted-tsa.key" "$while_valid" \
  "${made[legacy-untrusted]}"
# Its certificate, under the trusted root, names no usage at all.
tamper countersign "$WORK/unstamped.exe" "$signing/noeku-tsa.pem" "$signing/noeku-tsa.key" "$while_valid" \
  "${made[legacy-noeku]}"
release legacy-retimed && tamper retime "${made[legacy]}" "${made[legacy-retimed]}"

before=$(temp_installers)
for kind in expired-stamped good-stamped legacy expired-tsa; do
  reset_markers
  start_nginx "$WORK/$kind"
  run_case "$kind"
  check "$kind: runs: exit 1" equals "$(code_of "$kind")" 1
  check "$kind: installed and the app was started" app_started
  check "$kind: no error" equals "$(log_of "$kind" | grep -c ERROR)" 0
  check "$kind: the file was removed" equals "$(temp_installers)" "$before"
done
for kind in expired-stamped legacy expired-tsa; do
  check "$kind: the stamped time is the one the chain was evaluated at" grep -qxF \
    "$(info "installer signature time-stamped at 2020-06-01 00:00:00 UTC")" <(log_of "$kind")
done

# Why each time stamp was not used (or, stamped late, used and refused), then the refusal itself.
declare -A stamp_line=([untrusted-stamp]="time stamp not used - time stamp certificate not trusted (0x"
  [grafted]="time stamp not used - time stamp is for another signature"
  [retimed]="time stamp not used - time stamp "
  [stamped-late]="time-stamped at 2022-06-01 00:00:00 UTC"
  [legacy-untrusted]="time stamp not used - countersigner's certificate not trusted (0x"
  [legacy-retimed]="time stamp not used - countersignature not valid"
  [legacy-noeku]="time stamp not used - countersigner's certificate not trusted (0x800B0110)"
  [future-stamp]="time stamp not used - time stamp is in the future")
for kind in untrusted-stamp grafted retimed stamped-late legacy-untrusted legacy-retimed legacy-noeku future-stamp; do
  reset_markers
  start_nginx "$WORK/$kind"
  run_case "$kind"
  check "$kind: exit 3" equals "$(code_of "$kind")" 3
  check "$kind: the time stamp's verdict" grep -qF "$(info "installer signature ${stamp_line[$kind]}" | sed 's/\\n$//')" \
    <(log_of "$kind")
  check "$kind: refused for: signer's chain not trusted" grep -qxF \
    "$(error "installer signature check failed - signer's chain not trusted (0x")" \
    <(log_of "$kind" | grep ERROR | sed 's/(0x[0-9A-F]\{8\})/(0x/')
  check "$kind: the box" equals "$(boxes_of "$kind")" "$(box "$refused_box")"
  check "$kind: nothing ran" [ ! -e "$MARKERS/installer-runs.txt" ]
  check "$kind: the file was removed" equals "$(temp_installers)" "$before"
done
# Changing the stamped time breaks the time stamp's own signature over its content.
check "retimed: its content no longer matches its signature" grep -qE \
  'time stamp not used - time stamp (content does not match its signature|signature not valid)' <(log_of retimed)

finish_e2e

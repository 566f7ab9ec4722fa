#!/usr/bin/env bash
# The program built with a publisher runs an installer only when that publisher signed it under a
# trusted root, for code signing, in its validity; everything else is refused with its line and box,
# removed, and never run. Built with a product and a floor too, it runs only that product, in at least
# that version, as the signed version resource says.
source "$(dirname "$0")/lib.sh"
: "${BRIMO_TEST_PUBLISHER:?}" "${BRIMO_TEST_PRODUCT:?}" "${BRIMO_TEST_MINIMUM_VERSION:?}" "${BRIMO_TEST_OLDER_VERSION:?}"
INSTALLER_EXE="Z:$BRIMO_BUILD/signed/QuarnBrimoInstaller.exe"
signing="$BRIMO_BUILD/test-signing"
sign() { "$BRIMO_SOURCE/tools/test-signing" sign "$signing" "$@"; }
setup_name="Quarn Brimo Setup 3.0.exe"
refused_box="Error downloading installation files (code: signature), please contact "

"$BRIMO_SOURCE/tools/test-signing" certs "$signing" "$BRIMO_TEST_PUBLISHER"
"$BRIMO_SOURCE/tools/test-signing" trust-reg "$signing" "$WORK/trust.reg"
"${WINE_RUN[@]}" reg import "Z:$WORK/trust.reg" >/dev/null 2>&1

# serve KIND: a release whose installer is the test installer signed with KIND ("unsigned": as built).
serve() {
  release_tree "$WORK/$1" "$setup_name"
  if [ "$1" != unsigned ] && [ "$1" != tampered ]; then sign "$1" "$TEST_INSTALLER" "$WORK/$1/$setup_name"; fi
}

reset_markers
serve good
start_nginx "$WORK/good"
before=$(temp_installers)
run_case good
check "a correctly signed installer runs: exit 1" equals "$(code_of good)" 1
check "it installed and the app was started" app_started
check "no error" equals "$(log_of good | grep -c ERROR)" 0
check "its file was removed" equals "$(temp_installers)" "$before"

# One byte of the signed code changed: the first byte of the code section.
serve tampered
sign good "$TEST_INSTALLER" "$WORK/tampered/$setup_name"
text_offset=$(x86_64-w64-mingw32-objdump -h "$WORK/tampered/$setup_name" | awk '$2 == ".text" { print $6 }')
printf '\xcc' | dd of="$WORK/tampered/$setup_name" bs=1 seek=$((16#$text_offset)) conv=notrunc status=none

# The check that refuses each file, so that a check left out fails its own cases.
declare -A refused_by=([tampered]="no valid signature" [unsigned]="no valid signature"
  [untrusted]="signer's chain not trusted" [expired]="signer's chain not trusted"
  [nocodesign]="signer's certificate not valid for code signing")
for kind in tampered unsigned untrusted other expired nocodesign; do
  reset_markers
  [ "$kind" = tampered ] || serve "$kind"
  start_nginx "$WORK/$kind"
  run_case "$kind"
  check "$kind: exit 3" equals "$(code_of "$kind")" 3
  if [ "$kind" != other ]; then
    check "$kind: refused for: ${refused_by[$kind]}" grep -qxF \
      "$(error "installer signature check failed - ${refused_by[$kind]} (0x")" \
      <(log_of "$kind" | grep ERROR | sed 's/(0x[0-9A-F]\{8\})/(0x/')
  fi
  check "$kind: the box" equals "$(boxes_of "$kind")" "$(box "$refused_box")"
  check "$kind: nothing ran" [ ! -e "$MARKERS/installer-runs.txt" ]
  check "$kind: the file was removed" equals "$(temp_installers)" "$before"
done
check "another publisher is named in the refusal" equals "$(log_of other | grep ERROR)" "$(error \
  "installer signature check failed - publisher is 'Other Maker Ltd', expected '$BRIMO_TEST_PUBLISHER'")"

# Other programs signed by the same publisher: each refused for what its version resource says.
product_box="Error downloading installation files (code: product), please contact "
declare -A product_refusal=(
  [other-product]="product is '$BRIMO_TEST_PRODUCT Uninstaller', expected '$BRIMO_TEST_PRODUCT'"
  [older]="version $BRIMO_TEST_OLDER_VERSION is older than $BRIMO_TEST_MINIMUM_VERSION"
  [unversioned]="no version resource"
  [id2]="no version resource"
  [two-languages]="product is '$BRIMO_TEST_PRODUCT Uninstaller', expected '$BRIMO_TEST_PRODUCT'")
for variant in other-product older unversioned id2 two-languages; do
  reset_markers
  release_tree "$WORK/$variant" "$setup_name"
  sign good "$BRIMO_BUILD/tools/brimo-test-installer-$variant.exe" "$WORK/$variant/$setup_name"
  start_nginx "$WORK/$variant"
  run_case "$variant"
  check "$variant: exit 3" equals "$(code_of "$variant")" 3
  check "$variant: the log line" equals "$(log_of "$variant" | grep ERROR)" \
    "$(error "installer product check failed - ${product_refusal[$variant]}")"
  check "$variant: the box" equals "$(boxes_of "$variant")" "$(box "$product_box")"
  check "$variant: nothing ran" [ ! -e "$MARKERS/installer-runs.txt" ]
  check "$variant: the file was removed" equals "$(temp_installers)" "$before"
done

finish_e2e

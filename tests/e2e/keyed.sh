#!/usr/bin/env bash
# The program built with release keys follows only a document that one of its keys signed, for its
# channel, with the installer's digest, and not out of date; every other is refused before anything is
# downloaded. Documents come from the maker's own command, or are signed by hand where the command
# would not write them (out of date, another channel, no digest).
source "$(dirname "$0")/lib.sh"
: "${BRIMO_DOCUMENT_KEYS:?}" "${BRIMO_TEST_MINIMUM_VERSION:?}"
INSTALLER_EXE="Z:$BRIMO_BUILD/keyed/QuarnBrimoInstaller.exe"
PUBLISH=${BRIMO_PUBLISH:-$BRIMO_SOURCE/build/linux/publish/brimo-publish}
setup_name="Quarn Brimo Setup 1.0.exe"
box_text="Unable to find the latest version (code: signature). Check your internet connection or contact "
digest=$(openssl dgst -sha512 -binary "$TEST_INSTALLER" | base64 -w0)

# published KEY: a release folder published with the maker's command, its document signed with KEY.
published() {
  rm -rf "$WORK/$1" && mkdir -p "$WORK/$1"
  cp "$TEST_INSTALLER" "$WORK/$setup_name"
  "$PUBLISH" --version 1.0.0.0 --document-key "$BRIMO_DOCUMENT_KEYS/$1.pem" "$WORK/$setup_name" "$WORK/$1" >/dev/null
}
# signed_by_hand NAME KEY BODY: a release folder whose document is BODY signed by hand with KEY.
signed_by_hand() {
  local dir=$WORK/$1
  rm -rf "$dir" && mkdir -p "$dir"
  cp "$TEST_INSTALLER" "$dir/$setup_name"
  printf '%s\n' "$3" >"$dir/latest.yml"
  "$BRIMO_SOURCE/tools/sign-document" "$BRIMO_DOCUMENT_KEYS/$2.pem" "$dir/latest.yml"
}
document() { printf 'path: "%s"\n%schannel: "%s"\nexpires: "%s"\n' "$setup_name" "$1" "$2" "$3"; }
utc() { date -u -d "$1" +%Y-%m-%dT%H:%M:%SZ; }

for key in first second; do
  reset_markers
  published "$key"
  start_nginx "$WORK/$key"
  run_case "$key"
  check "a document signed with the $key key runs: exit 1" equals "$(code_of "$key")" 1
  check "$key: the installer ran" [ -e "$MARKERS/installer-runs.txt" ]
done

signed_by_hand slack first "$(document "sha512: $digest
" latest "$(utc '-12 hours')")"
reset_markers
start_nginx "$WORK/slack"
run_case slack
check "a document expired within the day of slack runs: exit 1" equals "$(code_of slack)" 1

# refused NAME REASON [ARG...]: the program, started with ARGs, refuses the release folder NAME for
# REASON, downloading nothing.
refused() {
  reset_markers
  start_nginx "$WORK/$1"
  run_case "$1" "${@:3}"
  check "$1: exit 3" equals "$(code_of "$1")" 3
  check "$1: refused for: $2" equals "$(log_of "$1" | grep ERROR)" \
    "$(error "release document signature check failed - $2")"
  check "$1: the box" equals "$(boxes_of "$1")" "$(box "$box_text")"
  check "$1: nothing was asked for but the document" equals "$(grep -c 'GET /' "$WORK/nginx/access.log")" 1
}
published other
refused other "unknown key"
cp -r "$WORK/first" "$WORK/changed"
sed -i 's/^channel: "latest"/channel: "latesT"/' "$WORK/changed/latest.yml"
refused changed "signature does not hold"
mkdir -p "$WORK/unsigned"
head -n -1 "$WORK/first/latest.yml" >"$WORK/unsigned/latest.yml"
refused unsigned "no signature"
expired=$(utc '-3 days')
signed_by_hand expired first "$(document "sha512: $digest
" latest "$expired")"
refused expired "expired at $expired"
signed_by_hand beta first "$(document "sha512: $digest
" beta "$(utc '+7 days')")"
refused beta "for channel 'beta'"
signed_by_hand nodigest second "$(document "" latest "$(utc '+7 days')")"
refused nodigest "no sha512"

# The maker's build with a floor (the demo's program, its report off for the run) refuses a signed
# document whose version is under the floor.
signed_by_hand older first "version: \"1.0.0.0\"
$(document "sha512: $digest
" latest "$(utc '+7 days')")"
INSTALLER_EXE="Z:$BRIMO_BUILD/demo-program/QuarnBrimoInstaller.exe"
refused older "version 1.0.0.0 is older than $BRIMO_TEST_MINIMUM_VERSION" /NoReport

finish_e2e

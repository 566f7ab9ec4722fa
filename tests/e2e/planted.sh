#!/usr/bin/env bash
# Libraries planted beside the program, as a web page can drop files into a downloads folder: with
# Wine told to prefer a library found there over its own, none of them is ever loaded, and the run
# installs as usual.
source "$(dirname "$0")/lib.sh"
downloads="$DRIVE_C/users/Public/Downloads-planted"
libraries=(crypt32 bcrypt wininet wintrust)
record="$MARKERS/planted-loaded.txt"

rm -rf "$downloads"
mkdir -p "$downloads"
cp "$BRIMO_BUILD/app/QuarnBrimoInstaller.exe" "$BRIMO_BUILD/tools/brimo-plant-probe.exe" \
  "$BRIMO_BUILD/tools/brimo-plant-probe-delayed.exe" "$downloads/"
for name in "${libraries[@]}"; do cp "$BRIMO_BUILD/planted/$name.dll" "$downloads/"; done
export WINEDLLOVERRIDES="$(IFS=,; echo "${libraries[*]}")=n,b"

# The stand-ins work: a program that binds crypt32 at load time picks up the planted one.
reset_markers
"${WINE_RUN[@]}" "C:\\users\\Public\\Downloads-planted\\brimo-plant-probe.exe" >/dev/null 2>&1 || true
check "a load-time import takes the planted library" grep -qi 'Downloads-planted.crypt32.dll' "$record"
# The program's delay-load hooks on their own, without the start-up that narrows every later search.
reset_markers
probe_rc=0
"${WINE_RUN[@]}" "C:\\users\\Public\\Downloads-planted\\brimo-plant-probe-delayed.exe" >/dev/null 2>&1 || probe_rc=$?
check "a delay-loaded call reaches the system's library" equals "$probe_rc" 0
check "the delay-load hooks alone load no planted library" [ ! -e "$record" ]

reset_markers
release_tree "$WORK/good" "Quarn Brimo Setup 1.0.exe"
start_nginx "$WORK/good"
INSTALLER_EXE="C:\\users\\Public\\Downloads-planted\\QuarnBrimoInstaller.exe" run_case planted
check "a whole install beside planted libraries exits 1" equals "$(code_of planted)" 1
check "no planted library was loaded" [ ! -e "$record" ]
check "the installer ran and the app was started" app_started

# The build with a publisher (and product and floor) and a signed installer: the signature and product
# checks call into wintrust and crypt32 themselves, and still load none of the planted ones.
: "${BRIMO_TEST_PUBLISHER:?}"
signing="$BRIMO_BUILD/test-signing"
"$BRIMO_SOURCE/tools/test-signing" certs "$signing" "$BRIMO_TEST_PUBLISHER"
"$BRIMO_SOURCE/tools/test-signing" trust-reg "$signing" "$WORK/trust.reg"
WINEDLLOVERRIDES= "${WINE_RUN[@]}" reg import "Z:$WORK/trust.reg" >/dev/null 2>&1
cp "$BRIMO_BUILD/signed/QuarnBrimoInstaller.exe" "$downloads/QuarnBrimoInstallerSigned.exe"
reset_markers
release_tree "$WORK/signed" "Quarn Brimo Setup 2.0.exe"
"$BRIMO_SOURCE/tools/test-signing" sign "$signing" good "$TEST_INSTALLER" "$WORK/signed/Quarn Brimo Setup 2.0.exe"
start_nginx "$WORK/signed"
INSTALLER_EXE="C:\\users\\Public\\Downloads-planted\\QuarnBrimoInstallerSigned.exe" run_case planted-signed
check "a signed install beside planted libraries exits 1" equals "$(code_of planted-signed)" 1
check "its signature was checked and passed" equals "$(log_of planted-signed | grep -c ERROR)" 0
check "no planted library was loaded by the signature check" [ ! -e "$record" ]
check "the signed installer ran and the app was started" app_started

rm -rf "$downloads"
finish_e2e

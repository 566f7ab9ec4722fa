; A real installer for the demo and the tests: puts the application given at build time into
; Program Files\Quarn Brimo Beta with an uninstaller. Silent with /S; otherwise it shows only its
; progress page. Built by tools/demo-installer:
;   makensis -DAPP_EXE=<application exe> -DOUT_FILE=<installer to write> -DPRODUCT_NAME=<name>
;            -DPRODUCT_VERSION=<a.b.c.d> [-DPAUSE_MS=<ms>] tools/demo-installer.nsi
; PAUSE_MS makes it take that much longer, so that a demo can show the splash window while it runs.
; PRODUCT_NAME and PRODUCT_VERSION go into its version resource, which a program built with an
; installer product and floor reads once the signature holds.
Unicode true
Target amd64-unicode

!ifndef APP_EXE | OUT_FILE
  !error "define APP_EXE and OUT_FILE"
!endif

!ifndef PRODUCT_NAME | PRODUCT_VERSION
  !error "define PRODUCT_NAME and PRODUCT_VERSION"
!endif

!define PRODUCT "Quarn Brimo Beta"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestDPIAware true
ShowInstDetails show

; Only the keys that identify the product; NSIS would warn about the other standard ones.
!pragma warning disable 9100
VIProductVersion "${PRODUCT_VERSION}"
VIFileVersion "${PRODUCT_VERSION}"
VIAddVersionKey ProductName "${PRODUCT_NAME}"
VIAddVersionKey ProductVersion "${PRODUCT_VERSION}"
VIAddVersionKey FileVersion "${PRODUCT_VERSION}"
VIAddVersionKey FileDescription "${PRODUCT_NAME} Setup"

Page instfiles
UninstPage instfiles

Section
!ifdef PAUSE_MS
  Sleep ${PAUSE_MS}
!endif
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "/oname=${PRODUCT}.exe" "${APP_EXE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PRODUCT}.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetRegView 64
  Delete "$INSTDIR\${PRODUCT}.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

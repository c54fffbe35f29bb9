; The Windows installer of the tool (scripts/windows.sh builds it with
; makensis): installs build-win/dist/ for the current user, without
; administrator rights, into %LOCALAPPDATA%\Programs\Tl8v05, with a Start-menu
; shortcut and an uninstaller registered under HKCU. Silent with /S.
; Uninstalling removes what was installed and keeps the user's settings
; (HKCU\Software\Kavrion) and any file the tool wrote beside itself (tmp.dat).
;
; Defined on the command line:
;   VERSION     the project version, 0.5.0
;   DIST        the folder to install (build-win/dist)
;   UNINSTALL   an include file that deletes each installed file and folder
;   SIZE_KB     what the installed files take
;   ICON        the tool's icon (dist/tl8v05.ico)
;   LICENSE     the tool's terms (LICENSE)
;   OUTFILE     the installer to write

; A 64-bit installer, as the tool: it runs where the tool runs, Wine's 64-bit
; prefixes included.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define PRODUCT "Tl8v05"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}, the TL-8K service tool"
VIAddVersionKey /LANG=0 "CompanyName" "Kavrion"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (C) Kavrion"

!include "MUI2.nsh"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PRODUCT}.exe"
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

Section "Install"
  SetOutPath "$INSTDIR"
  File /r "${DIST}\*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Started from the shortcut, the tool works in its own folder (tmp.dat).
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PRODUCT}.exe" "" \
    "$INSTDIR\${PRODUCT}.exe" 0 SW_SHOWNORMAL "" "Работа с ТЛ-8К"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} (работа с ТЛ-8К)"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Kavrion"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PRODUCT}.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  !include "${UNINSTALL}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"  ; only when nothing of the user's is left in it
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

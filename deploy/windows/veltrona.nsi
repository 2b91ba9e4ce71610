; The Windows installer: a per-user installation that needs no elevation.
; The programs go to %LOCALAPPDATA%\Programs\Veltrona with a tools\ folder
; beside them (where the program looks for yt-dlp.exe) and the licence
; texts; the Start-menu shortcut and the Apps-list entry belong to the
; current user. The program's data folder, %LOCALAPPDATA%\Veltrona, is not
; the installer's: the uninstaller removes only what it put in place (and
; the tools folder, and the Desktop shortcut the program itself makes), so
; workflows, logs and recordings survive an uninstall, and a folder chosen
; by hand that held other files keeps them.
;
; cmake/windows_package.cmake runs makensis with these defines:
;   VERSION      the project's version (X.Y.Z)
;   PUBLISHER    the vendor line
;   STAGE        the folder holding veltrona.exe, veltrona-cli.exe,
;                veltrona.ico, tools\README.txt and licenses\*.txt
;   OUTFILE      the installer to write
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include FileFunc.nsh
!include LogicLib.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltrona"

Name "Veltrona ${VERSION}"
OutFile "${OUTFILE}"
Icon "${STAGE}\veltrona.ico"
UninstallIcon "${STAGE}\veltrona.ico"
InstallDir "$LOCALAPPDATA\Programs\Veltrona"
; A new version goes where the last one is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
LicenseData "${STAGE}\licenses\LICENSE.txt"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Veltrona"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Veltrona ${VERSION} setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Licence GPL-3.0-or-later"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Veltrona"
  SetOutPath "$INSTDIR"
  File "${STAGE}\veltrona.exe"
  File "${STAGE}\veltrona-cli.exe"
  SetOutPath "$INSTDIR\tools"
  File "${STAGE}\tools\README.txt"
  SetOutPath "$INSTDIR\licenses"
  File "${STAGE}\licenses\*.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcut the program repairs at start-up, so it finds it in order.
  SetOutPath "$INSTDIR"
  CreateShortCut "$SMPROGRAMS\Veltrona.lnk" "$INSTDIR\veltrona.exe" "" "$INSTDIR\veltrona.exe" 0 \
    SW_SHOWNORMAL "" "Veltrona"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Veltrona"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\veltrona.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  ; Only a folder this installer filled: a wrong /D= or a broken entry
  ; must not empty some other folder.
  ${IfNot} ${FileExists} "$INSTDIR\veltrona-cli.exe"
  ${AndIfNot} ${FileExists} "$INSTDIR\veltrona.exe"
    MessageBox MB_ICONSTOP "$INSTDIR holds no Veltrona installation." /SD IDOK
    Abort
  ${EndIf}
  ; A running program keeps its file: stop before anything is gone, so the
  ; entry stays to uninstall with once it is closed.
  ClearErrors
  Delete "$INSTDIR\veltrona.exe"
  Delete "$INSTDIR\veltrona-cli.exe"
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "Close Veltrona and veltrona-cli, then uninstall again." /SD IDOK
    Abort
  ${EndIf}
  Delete "$SMPROGRAMS\Veltrona.lnk"
  Delete "$DESKTOP\Veltrona.lnk"
  RMDir /r "$INSTDIR\tools"
  RMDir /r "$INSTDIR\licenses"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; Installer of the Windows package (run by tools/windows/package):
;   makensis -INPUTCHARSET UTF8 -DVERSION=x.y.z -DLISTS=<folder> -DOUTFILE=<exe> -DICON=<ico> installer.nsi
; LISTS holds install-files.nsh and uninstall-files.nsh, made from the package folder: the installer writes
; those files, and the uninstaller removes exactly those, so a folder shared with other programs keeps
; theirs. Start-menu entries, an entry in Apps & features. The tool's stored settings
; (HKLM\Software\KAVOR\ModuleBench, or a standard user's own copy of it) stay when it is uninstalled.
Unicode true
; A 64-bit installer for a 64-bit program (and one wine64 can run in the tests).
Target amd64-unicode
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KAVOR ModuleBench"
!define MENU_FOLDER "$SMPROGRAMS\KAVOR ModuleBench"
!define ABOUT_URL "https://www.kavor.example/"

Name "ModuleBench ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\KAVOR\ModuleBench"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestSupportedOS Win10
ManifestDPIAware true
ManifestLongPathAware true

; The installer's own version information, from the project's version.
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "ModuleBench"
VIAddVersionKey /LANG=0 "CompanyName" "KAVOR"
VIAddVersionKey /LANG=0 "FileDescription" "ModuleBench installer"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (C) 2026 The ModuleBench developers. MIT License."

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\modulebench.exe"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first is the fallback; otherwise the one of the system's language is taken.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "TradChinese"

LangString NeedsWindows64 ${LANG_ENGLISH} "ModuleBench needs 64-bit Windows 10 or later."
LangString NeedsWindows64 ${LANG_SIMPCHINESE} "ModuleBench 需要 64 位 Windows 10 或更新版本。"
LangString NeedsWindows64 ${LANG_TRADCHINESE} "ModuleBench 需要 64 位元 Windows 10 或更新版本。"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "$(NeedsWindows64)"
    Abort
  ${EndIf}
  SetShellVarContext all
FunctionEnd

Section "ModuleBench"
  !include "${LISTS}/install-files.nsh"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\ModuleBench.lnk" "$INSTDIR\modulebench.exe"
  ; A console with the install folder on its PATH, where modulebench-cli can be typed.
  CreateShortcut "${MENU_FOLDER}\ModuleBench command prompt.lnk" "$SYSDIR\cmd.exe" \
    '/k "$INSTDIR\modulebench-prompt.cmd"' "$INSTDIR\modulebench-cli.exe"
  CreateShortcut "${MENU_FOLDER}\Uninstall ModuleBench.lnk" "$INSTDIR\uninstall.exe"

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "KAVOR ModuleBench"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "KAVOR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\modulebench.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${ABOUT_URL}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

; Only what the installer put there, by name: the folder may be shared with other programs.
Section "Uninstall"
  Delete "${MENU_FOLDER}\ModuleBench.lnk"
  Delete "${MENU_FOLDER}\ModuleBench command prompt.lnk"
  Delete "${MENU_FOLDER}\Uninstall ModuleBench.lnk"
  RMDir "${MENU_FOLDER}"
  !include "${LISTS}/uninstall-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; The default folder's parent, when nothing else is left in it.
  ${GetParent} "$INSTDIR" $0
  ${If} $0 == "$PROGRAMFILES64\KAVOR"
    RMDir "$0"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

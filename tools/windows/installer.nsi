; Installer of the Windows package: makensis /DVERSION=x.y.z /DSOURCE=<package folder> /DOUTFILE=<exe>
; (run by tools/windows/package). Start-menu entries, an uninstaller, an entry in Apps & features.
; The tool's stored settings (HKLM\Software\KAVOR\ModuleBench) stay when it is uninstalled.
Unicode true
; A 64-bit installer for a 64-bit program (and one wine64 can run in the tests).
Target amd64-unicode
!include "x64.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KAVOR ModuleBench"
!define MENU_FOLDER "$SMPROGRAMS\KAVOR ModuleBench"

Name "KAVOR ModuleBench ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\KAVOR\ModuleBench"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "ModuleBench needs 64-bit Windows 10 or later."
    Abort
  ${EndIf}
  SetShellVarContext all
FunctionEnd

Section "ModuleBench"
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\ModuleBench.lnk" "$INSTDIR\modulebench.exe"
  CreateShortcut "${MENU_FOLDER}\Uninstall ModuleBench.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "KAVOR ModuleBench"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "KAVOR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\modulebench.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

; Only what the installer put there: the folder may have been chosen by hand.
Section "Uninstall"
  Delete "${MENU_FOLDER}\ModuleBench.lnk"
  Delete "${MENU_FOLDER}\Uninstall ModuleBench.lnk"
  RMDir "${MENU_FOLDER}"
  Delete "$INSTDIR\*.exe"
  Delete "$INSTDIR\*.dll"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

; Installer of the Windows package (run by tools/windows/package):
;   makensis -INPUTCHARSET UTF8 -DVERSION=x.y.z -DLISTS=<folder> -DOUTFILE=<exe> -DICON=<ico> installer.nsi
; LISTS holds install-files.nsh, uninstall-files.nsh and check-files.nsh, made from the package folder: the
; installer writes those files, the uninstaller removes exactly those, so a folder shared with other programs
; keeps theirs, and a folder that already holds files of those names which it did not install is refused.
; Start-menu entries, an entry in Apps & features. The tool's stored settings (HKLM\Software\KAVOR\ModuleBench,
; or a standard user's own copy of it) stay when it is uninstalled.
;
; An installed ModuleBench (any version; the uninstall entry says where) is removed first by its own
; uninstaller, silently, so that files only the older version had go with it. A newer installed version is
; kept: refused in silent mode, asked about otherwise.
;
; Exit codes (the README lists them): 0 installed or uninstalled; 1 cancelled by the user; 2 stopped by an
; error; 3 a newer version is installed (silent: nothing done); 4 the folder holds files of the package's names
; that another program put there (nothing written); 5 ModuleBench is running from the installed or chosen
; folder (nothing written or removed); 6 the installed version's uninstaller failed; 7 /D= was not the last
; argument or was quoted (Windows' installer rule: /D=C:\Some Folder, last, no quotes); 8 ModuleBench is
; installed from its MSI package (the two would share files; nothing done).
Unicode true
; A 64-bit installer for a 64-bit program (and one wine64 can run in the tests).
Target amd64-unicode
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"
!include "WordFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KAVOR ModuleBench"
!define MENU_FOLDER "$SMPROGRAMS\KAVOR ModuleBench"
!define ABOUT_URL "https://www.kavor.example/"

Name "ModuleBench ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\KAVOR\ModuleBench"
; The installed copy's folder, where there is one: an upgrade goes where the last version went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
; UNCOMPRESSED: a quick build for the tests' own older versions.
!ifdef UNCOMPRESSED
  SetCompress off
!else
  SetCompressor /SOLID lzma
!endif
ManifestSupportedOS Win10
ManifestDPIAware true
ManifestDPIAwareness "PerMonitorV2,System"
ManifestLongPathAware true

; The installer's own version information, from the project's version.
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "ModuleBench"
VIAddVersionKey /LANG=0 "CompanyName" "KAVOR"
VIAddVersionKey /LANG=0 "FileDescription" "ModuleBench installer"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "InternalName" "modulebench-setup"
VIAddVersionKey /LANG=0 "OriginalFilename" "ModuleBench-${VERSION}-win64-setup.exe"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (C) 2026 The ModuleBench developers. MIT License."

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
; Started by the shell, with the rights of the user who is logged on, not with the installer's.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION RunAsUser

; 1 and 2 are NSIS's own (the user cancelled; Abort, or a file that could not be written).
!define EXIT_CANCELLED 1
!define EXIT_ERROR 2
!define EXIT_NEWER_INSTALLED 3
!define EXIT_FOREIGN_FILES 4
!define EXIT_RUNNING 5
!define EXIT_OLD_UNINSTALL_FAILED 6
!define EXIT_BAD_FOLDER_ARGUMENT 7
!define EXIT_MSI_INSTALLED 8
; Where the MSI package (tools/windows/modulebench.wxs) keeps the folder of its copy.
!define MSI_KEY "Software\KAVOR\ModuleBench Package"

!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
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
LangString NewerInstalled ${LANG_ENGLISH} "ModuleBench $OldVersion, a newer version, is installed. Replace it with ${VERSION}?"
LangString NewerInstalled ${LANG_SIMPCHINESE} "已安装较新的 ModuleBench $OldVersion。要用 ${VERSION} 替换它吗？"
LangString NewerInstalled ${LANG_TRADCHINESE} "已安裝較新的 ModuleBench $OldVersion。要用 ${VERSION} 取代它嗎？"
LangString ForeignFiles ${LANG_ENGLISH} "$INSTDIR already holds $Conflict, which ModuleBench did not install. Installing there would overwrite another program's files: choose another folder."
LangString ForeignFiles ${LANG_SIMPCHINESE} "$INSTDIR 中已有 $Conflict，它不是 ModuleBench 安装的。安装到这里会覆盖其他程序的文件：请选择另一个文件夹。"
LangString ForeignFiles ${LANG_TRADCHINESE} "$INSTDIR 中已有 $Conflict，它不是 ModuleBench 安裝的。安裝到這裡會覆寫其他程式的檔案：請選擇另一個資料夾。"
LangString Running ${LANG_ENGLISH} "ModuleBench is running ($Running). Close it (the window and every ModuleBench command prompt), then choose Retry."
LangString Running ${LANG_SIMPCHINESE} "ModuleBench 正在运行（$Running）。请关闭它（窗口和所有 ModuleBench 命令提示符），然后选择“重试”。"
LangString Running ${LANG_TRADCHINESE} "ModuleBench 正在執行（$Running）。請關閉它（視窗和所有 ModuleBench 命令提示字元），然後選擇「重試」。"
LangString OldUninstallFailed ${LANG_ENGLISH} "The installed ModuleBench $OldVersion could not be removed (its uninstaller ended with $0)."
LangString OldUninstallFailed ${LANG_SIMPCHINESE} "无法移除已安装的 ModuleBench $OldVersion（其卸载程序以 $0 结束）。"
LangString OldUninstallFailed ${LANG_TRADCHINESE} "無法移除已安裝的 ModuleBench $OldVersion（其解除安裝程式以 $0 結束）。"
LangString MsiInstalled ${LANG_ENGLISH} "ModuleBench is installed in $0 from its MSI package. Uninstall that first (Apps & features, or msiexec /x)."
LangString MsiInstalled ${LANG_SIMPCHINESE} "ModuleBench 已通过其 MSI 安装包安装在 $0 中。请先将其卸载（“应用和功能”或 msiexec /x）。"
LangString MsiInstalled ${LANG_TRADCHINESE} "ModuleBench 已透過其 MSI 安裝套件安裝在 $0 中。請先將其解除安裝（「應用程式與功能」或 msiexec /x）。"
LangString BadFolderArgument ${LANG_ENGLISH} "/D= must be the last argument and must not be quoted, even when the folder's name holds spaces: /D=C:\Some Folder"
LangString BadFolderArgument ${LANG_SIMPCHINESE} "/D= 必须是最后一个参数，且不能加引号（即使文件夹名称包含空格）：/D=C:\Some Folder"
LangString BadFolderArgument ${LANG_TRADCHINESE} "/D= 必須是最後一個參數，且不能加引號（即使資料夾名稱包含空格）：/D=C:\Some Folder"

Var OldVersion
Var OldDir
Var Conflict
Var Running

; A program that runs cannot be opened for writing: Windows holds its image. $Running names the first of ours
; that runs from the folder given, or is empty.
!macro FindRunning UN
Function ${UN}FindRunning
  Exch $R0
  StrCpy $Running ""
  ${ForEach} $R1 0 1 + 1
    ${If} $R1 == 0
      StrCpy $R2 "$R0\modulebench.exe"
    ${Else}
      StrCpy $R2 "$R0\modulebench-cli.exe"
    ${EndIf}
    ${If} ${FileExists} $R2
      ClearErrors
      FileOpen $R3 $R2 a
      ${If} ${Errors}
        StrCpy $Running $R2
      ${Else}
        FileClose $R3
      ${EndIf}
    ${EndIf}
  ${Next}
  Pop $R0
FunctionEnd
!macroend
!insertmacro FindRunning ""
!insertmacro FindRunning "un."

; Asks to close ModuleBench until it no longer runs from the folder given; in silent mode, or when the user
; cancels, the exit code says so and nothing is changed.
!macro WaitUntilClosed UN FOLDER
  ${Do}
    Push "${FOLDER}"
    Call ${UN}FindRunning
    ${If} $Running == ""
      ${Break}
    ${EndIf}
    ${If} ${Silent}
      SetErrorLevel ${EXIT_RUNNING}
      Quit
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(Running)" IDRETRY +3
    SetErrorLevel ${EXIT_RUNNING}
    Quit
  ${Loop}
!macroend

; $Conflict: the first file of the package's names in $INSTDIR that the installed ModuleBench did not put there
; (files in the installed copy's own folder are its, and go with it before the new ones are written).
Function FindForeignFiles
  StrCpy $Conflict ""
  ${If} $OldDir != ""
  ${AndIf} $OldDir == $INSTDIR
    Return
  ${EndIf}
  !include "${LISTS}/check-files.nsh"
FunctionEnd

; Push HAYSTACK, Push NEEDLE, Push 1 (case matters) or 0; Call FindText; Pop the first index of NEEDLE, or -1.
Function FindText
  Exch $R2
  Exch
  Exch $R1
  Exch 2
  Exch $R0
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  StrLen $R3 $R1
  StrLen $R4 $R0
  IntOp $R4 $R4 - $R3
  StrCpy $R5 0
  ${Do}
    ${If} $R5 > $R4
      StrCpy $R5 -1
      ${Break}
    ${EndIf}
    StrCpy $R6 $R0 $R3 $R5
    ${If} $R2 == 1
      ${IfThen} $R6 S== $R1 ${|} ${Break} ${|}
    ${Else}
      ${IfThen} $R6 == $R1 ${|} ${Break} ${|}
    ${EndIf}
    IntOp $R5 $R5 + 1
  ${Loop}
  StrCpy $R0 $R5
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Exch 2
  Pop $R1
  Pop $R2
  Exch $R0
FunctionEnd

!macro FindText HAYSTACK NEEDLE CASE RESULT
  Push `${HAYSTACK}`
  Push `${NEEDLE}`
  Push ${CASE}
  Call FindText
  Pop ${RESULT}
!macroend

; The arguments as Windows handed them over: NSIS cuts its own copy of the command line ($CMDLINE, what
; ${GetParameters} reads) at " /D=" before .onInit runs, so what follows it is seen only in the process's.
; $0: the /D= argument NSIS did not take as it was meant, or empty: one quoted, in lower case or glued to the
; argument before it (NSIS takes none of these), or one with more after it (a quote, a switch: " /NCRC", " /S",
; another /D=), which NSIS would have taken into the folder's name. $1: 1 when /S is among the arguments, also
; where NSIS no longer looks for it.
Function CheckFolderArgument
  Push $2
  Push $3
  Push $4
  Push $5
  System::Call 'kernel32::GetCommandLineW() t .r2'
  ; The program's own name first: up to its closing quote, or to the first space.
  StrCpy $3 $2 1
  ${If} $3 == '"'
    StrCpy $4 '"'
    StrCpy $5 1
  ${Else}
    StrCpy $4 ' '
    StrCpy $5 0
  ${EndIf}
  ${Do}
    StrCpy $3 $2 1 $5
    ${IfThen} $3 == "" ${|} ${Break} ${|}
    IntOp $5 $5 + 1
    ${IfThen} $3 == $4 ${|} ${Break} ${|}
  ${Loop}
  ; Every argument after a space, as NSIS reads them.
  StrCpy $2 $2 "" $5
  StrCpy $2 " $2"

  !insertmacro FindText "$2 " " /S " 1 $1
  ${If} $1 >= 0
    StrCpy $1 1
  ${Else}
    StrCpy $1 0
  ${EndIf}

  StrCpy $0 ""
  !insertmacro FindText $2 "/D=" 0 $5
  ${If} $5 >= 0
    StrCpy $0 $2 "" $5
    StrCpy $3 $2 3 $5
    IntOp $5 $5 - 1
    StrCpy $4 $2 1 $5
    ${If} $3 S== "/D="
    ${AndIf} $4 == " "
      ; Taken: the rest of the line is the folder. It holds no quote and nothing NSIS would have read as a switch.
      StrCpy $3 $0 "" 3
      ${If} $3 != ""
        !insertmacro FindText $3 '"' 0 $4
        ${If} $4 < 0
          !insertmacro FindText $3 " /" 0 $4
          ${If} $4 < 0
            !insertmacro FindText $3 "/D=" 0 $4
            ${IfThen} $4 < 0 ${|} StrCpy $0 "" ${|}
          ${EndIf}
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $5
  Pop $4
  Pop $3
  Pop $2
FunctionEnd

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "$(NeedsWindows64)" /SD IDOK
    SetErrorLevel ${EXIT_ERROR}
    Quit
  ${EndIf}
  SetShellVarContext all

  ; Windows' installers take /D= only last and unquoted; one that was not taken as meant would install elsewhere.
  Call CheckFolderArgument
  ${If} $0 != ""
    ; /S after /D= is no switch to NSIS: asked for all the same, nobody is there to read the message.
    ${If} $1 == 1
      SetSilent silent
    ${EndIf}
    MessageBox MB_ICONSTOP "$(BadFolderArgument)" /SD IDOK
    SetErrorLevel ${EXIT_BAD_FOLDER_ARGUMENT}
    Quit
  ${EndIf}

  ; A copy from the MSI package has its own entry: the two would share one folder, and either's uninstall would
  ; take the other's files.
  ReadRegStr $0 HKLM "${MSI_KEY}" "InstallDir"
  ${If} $0 != ""
    MessageBox MB_ICONSTOP "$(MsiInstalled)" /SD IDOK
    SetErrorLevel ${EXIT_MSI_INSTALLED}
    Quit
  ${EndIf}

  ReadRegStr $OldVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ReadRegStr $OldDir HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $OldVersion != ""
    ${VersionCompare} $OldVersion "${VERSION}" $0
    ${If} $0 == 1
      ${If} ${Silent}
        SetErrorLevel ${EXIT_NEWER_INSTALLED}
        Quit
      ${EndIf}
      MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(NewerInstalled)" IDYES +3
      SetErrorLevel ${EXIT_NEWER_INSTALLED}
      Quit
    ${EndIf}
  ${EndIf}

  ; Silent: the folder is known now (/D=, the installed copy's or the default), and nothing is asked later.
  ${If} ${Silent}
    Call FindForeignFiles
    ${If} $Conflict != ""
      SetErrorLevel ${EXIT_FOREIGN_FILES}
      Quit
    ${EndIf}
    ${If} $OldDir != ""
      !insertmacro WaitUntilClosed "" $OldDir
    ${EndIf}
    !insertmacro WaitUntilClosed "" $INSTDIR
  ${EndIf}
FunctionEnd

Function DirectoryLeave
  Call FindForeignFiles
  ${If} $Conflict != ""
    MessageBox MB_ICONEXCLAMATION "$(ForeignFiles)"
    Abort
  ${EndIf}
  ${If} $OldDir != ""
    !insertmacro WaitUntilClosed "" $OldDir
  ${EndIf}
  !insertmacro WaitUntilClosed "" $INSTDIR
FunctionEnd

Function RunAsUser
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\modulebench.exe"'
FunctionEnd

Section "ModuleBench"
  ; The installed version goes first, by its own uninstaller, run in place (_?=) so that this waits for it.
  ${If} $OldDir != ""
  ${AndIf} ${FileExists} "$OldDir\uninstall.exe"
    DetailPrint "ModuleBench $OldVersion: $OldDir\uninstall.exe /S"
    ClearErrors
    ExecWait '"$OldDir\uninstall.exe" /S _?=$OldDir' $0
    ${If} ${Errors}
    ${OrIf} $0 != 0
      MessageBox MB_ICONSTOP "$(OldUninstallFailed)" /SD IDOK
      SetErrorLevel ${EXIT_OLD_UNINSTALL_FAILED}
      Quit
    ${EndIf}
    ; Run in place, the uninstaller cannot remove itself.
    Delete "$OldDir\uninstall.exe"
    RMDir "$OldDir"
  ${EndIf}

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
  ; Nothing is removed while ModuleBench runs from here: its files would stay, without an entry to remove them.
  !insertmacro WaitUntilClosed "un." $INSTDIR
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

; The Windows installer of Brisant Code Updater (makensis, from
; scripts/windows-installer). Installs the window, the command line, the
; README and the licence; a Start-menu entry; an uninstaller with its entry
; in Apps & features; on request bcu.exe on the PATH. Silent with /S; /PATH
; puts bcu.exe on the PATH in a silent install too.
;
;   makensis -DVERSION=1.3.2 -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe> installer.nsi
Unicode true
; 64-bit: the programs are, and a 64-bit wine runs no 32-bit setup.
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "WinMessages.nsh"

!define PRODUCT "Brisant Code Updater"
!define PUBLISHER "Brisant Radio Systems"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\BrisantCodeUpdater"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define DATA_FOLDER "%LOCALAPPDATA%\Brisant Code Updater"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "2026 The Brisant Code Updater developers"

!define MUI_ICON "${STAGE}\bcu-window.ico"
!define MUI_UNICON "${STAGE}\bcu-window.ico"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\bcu-window.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!insertmacro MUI_PAGE_FINISH
!define MUI_UNCONFIRMPAGE_TEXT_TOP "The programs are removed. Your codeplug backups and the update history in ${DATA_FOLDER} are kept: delete that folder yourself if you no longer need them."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; ---- PATH: $INSTDIR added to, and removed from, the system's Path ----

; Sets $R9 to 1 when the ';'-list $R0 holds the entry $R1 (case ignored).
Function PathHasEntry
  Push $R2
  Push $R3
  Push $R4
  StrCpy $R9 0
  StrCpy $R2 "$R0;"
  loop:
    StrCmp $R2 "" done
    StrCpy $R3 0
    scan:
      StrCpy $R4 $R2 1 $R3
      StrCmp $R4 ";" found
      StrCmp $R4 "" found
      IntOp $R3 $R3 + 1
      Goto scan
    found:
      StrCpy $R4 $R2 $R3
      IntOp $R3 $R3 + 1
      StrCpy $R2 $R2 "" $R3
      StrCmp $R4 $R1 0 loop
      StrCpy $R9 1
  done:
  Pop $R4
  Pop $R3
  Pop $R2
FunctionEnd

Function AddToPath
  ReadRegStr $R0 HKLM "${ENVIRONMENT_KEY}" "Path"
  StrCpy $R1 "$INSTDIR"
  Call PathHasEntry
  ${If} $R9 == 0
    ${If} $R0 == ""
      StrCpy $R0 "$INSTDIR"
    ${Else}
      StrCpy $R0 "$R0;$INSTDIR"
    ${EndIf}
    WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$R0"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 1
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
  ${EndIf}
FunctionEnd

; Rebuilds the Path without the entries that are $INSTDIR.
Function un.RemoveFromPath
  ReadRegStr $R0 HKLM "${ENVIRONMENT_KEY}" "Path"
  StrCpy $R2 "$R0;"
  StrCpy $R5 ""
  loop:
    StrCmp $R2 "" done
    StrCpy $R3 0
    scan:
      StrCpy $R4 $R2 1 $R3
      StrCmp $R4 ";" found
      StrCmp $R4 "" found
      IntOp $R3 $R3 + 1
      Goto scan
    found:
      StrCpy $R4 $R2 $R3
      IntOp $R3 $R3 + 1
      StrCpy $R2 $R2 "" $R3
      StrCmp $R4 "" loop
      StrCmp $R4 "$INSTDIR" loop
      StrCmp $R5 "" 0 +3
      StrCpy $R5 "$R4"
      Goto loop
      StrCpy $R5 "$R5;$R4"
      Goto loop
  done:
  StrCmp $R5 $R0 same
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$R5"
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
  same:
FunctionEnd

; ---- Install ----

Section "!${PRODUCT}" SecProgram
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}\bcu-window.exe"
  File "${STAGE}\bcu.exe"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\bcu-window.exe" "" \
    "$INSTDIR\bcu-window.exe" 0
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\bcu-window.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section /o "Put bcu.exe on the PATH" SecPath
  Call AddToPath
SectionEnd

LangString DESC_SecProgram ${LANG_ENGLISH} "The window (bcu-window.exe), the command line (bcu.exe), the README and the licence, with a Start-menu entry."
LangString DESC_SecPath ${LANG_ENGLISH} "Adds the program folder to the system's PATH, so that a console finds bcu.exe."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} $(DESC_SecProgram)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} $(DESC_SecPath)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  SetRegView 64
  ; /PATH selects the PATH component (for silent installs).
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PATH" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecPath}
  ${EndIf}
FunctionEnd

; ---- Uninstall ----

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    Call un.RemoveFromPath
  ${EndIf}
  Delete "$INSTDIR\bcu-window.exe"
  Delete "$INSTDIR\bcu.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The user's own files stay where they are.
  DetailPrint "Kept: your codeplug backups and the update history in ${DATA_FOLDER}."
  MessageBox MB_OK|MB_ICONINFORMATION "${PRODUCT} is removed.$\r$\n$\r$\nYour codeplug backups and the update history in ${DATA_FOLDER} are kept: delete that folder yourself if you no longer need them." /SD IDOK
SectionEnd

; The players' installer for Orvane: per user, no elevation, the 64-bit
; programs on 64-bit Windows and the 32-bit ones otherwise. Built by
; scripts/release.sh, which defines:
;   VERSION      the version shown and written (e.g. 1.0.3)
;   STAGE        a directory holding i686\ and x86_64\ (qalLogin.exe,
;                qalUpdate.exe) and wdConfig.ini
;   OUTFILE      the installer to write
;   SIGN_COMMAND (optional) signs the uninstaller in place; %1 is its path
Unicode true
ManifestDPIAware false
RequestExecutionLevel user
SetCompressor /SOLID lzma
; The same bytes from the same inputs: no build time inside.
SetDateSave off
; A file that cannot be written ends the installation with an error, never
; with a half installation that reports success.
AllowSkipFiles off

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Orvane"
!define PUBLISHER "Orvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvane"
; Without it the system's HTML engine shows the login page in the launcher in
; its old compatibility mode (IE7 standards); 11001 is its current standards
; mode. Per user, under the program's name.
!define BROWSER_EMULATION_KEY "Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; Where the player can write: the updater creates game\ and download\ beside
; itself as the player, which Program Files does not allow.
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!ifdef SIGN_COMMAND
!uninstfinalize '${SIGN_COMMAND}'
!endif

!define MUI_ICON "${STAGE}\qalLogin.ico"
!define MUI_UNICON "${STAGE}\qalLogin.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\qalLogin.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; English first: the pages of any system language not listed.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

LangString CannotWrite ${LANG_ENGLISH} "Orvane cannot be installed into $INSTDIR: the directory cannot be written."
LangString CannotWrite ${LANG_SIMPCHINESE} "无法安装到 $INSTDIR：该目录不可写入。"
LangString CannotCreate ${LANG_ENGLISH} "Orvane cannot be installed into $0: the directory cannot be created."
LangString CannotCreate ${LANG_SIMPCHINESE} "无法安装到 $0：无法创建该目录。"

; The directory the command line asks for with /D= (always its last
; parameter), or "". NSIS takes /D= out of $CMDLINE, so the process's own
; command line is read.
Function RequestedDirectory
  Push $R1
  Push $R2
  Push $R3
  System::Call 'kernel32::GetCommandLineW() w .R1'
  StrCpy $R0 ""
  StrCpy $R2 0
  ${Do}
    StrCpy $R3 $R1 4 $R2
    ${If} $R3 == ""
      ${Break}
    ${EndIf}
    ${If} $R3 S== " /D="
      IntOp $R2 $R2 + 4
      StrCpy $R0 $R1 "" $R2
      ${Break}
    ${EndIf}
    IntOp $R2 $R2 + 1
  ${Loop}
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd

Function .onInit
  SetShellVarContext current
  ; A /D= directory NSIS finds unusable (on a drive that is not there, say)
  ; is replaced by the default before this runs: a silent install would go
  ; where it was not asked to. It fails instead, having installed nothing.
  ${If} ${Silent}
    Push $R0
    Call RequestedDirectory
    StrCpy $0 $R0
    Pop $R0
    ${If} $0 != ""
    ${AndIf} $0 != $INSTDIR
    ${AndIf} $0 != "$INSTDIR\"
      MessageBox MB_ICONSTOP "$(CannotCreate)" /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Orvane" Main
  SectionIn RO
  SetOutPath "$INSTDIR"
  SetOverwrite on
  ClearErrors
  ${If} ${RunningX64}
    File "${STAGE}\x86_64\qalLogin.exe"
    File "${STAGE}\x86_64\qalUpdate.exe"
  ${Else}
    File "${STAGE}\i686\qalLogin.exe"
    File "${STAGE}\i686\qalUpdate.exe"
  ${EndIf}
  File "${STAGE}\wdConfig.ini"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "$(CannotWrite)" /SD IDOK
    Abort "$(CannotWrite)"
  ${EndIf}
  ; game\ and download\ are the updater's: an upgrade keeps them, so the
  ; player does not fetch the game again.

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\qalLogin.exe" "" "$INSTDIR\qalLogin.exe" 0
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\qalLogin.exe" "" "$INSTDIR\qalLogin.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qalLogin.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${BROWSER_EMULATION_KEY}" "qalLogin.exe" 11001
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "$(CannotWrite)" /SD IDOK
    Abort "$(CannotWrite)"
  ${EndIf}
SectionEnd

; Removes a directory's content without ever following a link out of it: a
; junction or symbolic link is removed as a link, its target left alone.
; $R0: the directory.
Function un.RemoveContent
  Push $R1
  Push $R2
  Push $R3
  FindFirst $R1 $R2 "$R0\*.*"
  ${DoWhile} $R2 != ""
    ${If} $R2 != "."
    ${AndIf} $R2 != ".."
      System::Call 'kernel32::GetFileAttributesW(w "$R0\$R2") i .R3'
      ${If} $R3 = -1
        ; gone meanwhile
      ${ElseIf} $R3 & 0x400
        RMDir "$R0\$R2"
        Delete "$R0\$R2"
      ${ElseIf} $R3 & 0x10
        Push $R0
        StrCpy $R0 "$R0\$R2"
        Call un.RemoveContent
        RMDir "$R0"
        Pop $R0
      ${Else}
        Delete "$R0\$R2"
      ${EndIf}
    ${EndIf}
    FindNext $R1 $R2
  ${Loop}
  FindClose $R1
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd

; Removes what the installer and the updater put there; anything else the
; player keeps, and the directory with it.
Function un.RemoveOwnDirectory
  ; $R0: the directory; a link in its place goes as a link.
  System::Call 'kernel32::GetFileAttributesW(w "$R0") i .R3'
  ${If} $R3 = -1
    Return
  ${ElseIf} $R3 & 0x400
    RMDir "$R0"
  ${Else}
    Call un.RemoveContent
    RMDir "$R0"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\qalLogin.exe"
  Delete "$INSTDIR\qalUpdate.exe"
  ; Updaters moved aside when a new one took their place (qalUpdate.exe.<8 hex digits>.old).
  Delete "$INSTDIR\qalUpdate.exe.????????.old"
  Delete "$INSTDIR\wdConfig.ini"
  StrCpy $R0 "$INSTDIR\game"
  Call un.RemoveOwnDirectory
  StrCpy $R0 "$INSTDIR\download"
  Call un.RemoveOwnDirectory
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when nothing else is left in it.
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; That one value only: other programs list themselves in the same key.
  DeleteRegValue HKCU "${BROWSER_EMULATION_KEY}" "qalLogin.exe"
SectionEnd

; Sorvane's Windows installer (per machine, 64-bit). Built by scripts/package through
; scripts/package-files/make-installer, which passes:
;   VERSION  the product version (three numbers)
;   STAGE    the folder holding Sorvane.prm, SorvaneCtrl.acsrf, INSTALL.txt and licenses\
;   OUTFILE  the setup program to write
; Exit codes in silent mode (/S): 0 installed, 2 a host that loads the plug-ins is running,
; 3 a newer version is installed, 4 a plug-in file could not be written, 216 not 64-bit Windows,
; 740 not run as an administrator. The uninstaller: 0, 2 and 4 alike.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include x64.nsh
!include nsDialogs.nsh
!include TextFunc.nsh

!ifndef VERSION
  !error "define VERSION (see the head of this file)"
!endif
!ifndef STAGE
  !error "define STAGE (see the head of this file)"
!endif
!ifndef OUTFILE
  !error "define OUTFILE (see the head of this file)"
!endif

!define PRODUCT "Sorvane"
!define PUBLISHER "Sorvane"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Sorvane"
!define FIREWALL_RULE "Sorvane"
!define FIREWALL_PORTS "47100-47130"
; Programs, documents and the uninstaller live here; the plug-ins go to the host's folder.
!define APP_DIR "$PROGRAMFILES64\Sorvane"
!define INSTALL_LOG "${APP_DIR}\install.log"

!define EXIT_HOST_RUNNING 2
!define EXIT_NEWER_INSTALLED 3
!define EXIT_WRITE_FAILED 4
!define EXIT_NOT_X64 216       ; ERROR_EXE_MACHINE_TYPE_MISMATCH
!define EXIT_NOT_ADMIN 740     ; ERROR_ELEVATION_REQUIRED

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
!define DEFAULT_PLUGIN_DIR "$PROGRAMFILES64\Adobe\Common\Plug-ins\7.0\MediaCore"
InstallDir "${DEFAULT_PLUGIN_DIR}"
; An upgrade goes where the last install put the plug-ins (/D= still wins).
InstallDirRegKey HKLM "${UNINST_KEY}" "PluginFolder"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Var PluginDir   ; uninstaller: where the plug-ins were put
Var Purge       ; uninstaller: 1 when the user's identity and paired phones go too
Var PurgeBox

!define MUI_ABORTWARNING
; The details stay up: they say whether the firewall rule could be added.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE
!define MUI_WELCOMEPAGE_TEXT "This installs Sorvane ${VERSION}, which shows the host's live picture on your phone and lets the phone run its playback.$\r$\n$\r$\nThe two plug-ins go into the host's shared plug-in folder, and Windows Firewall is told to let the phone connect on private networks (TCP ports ${FIREWALL_PORTS}).$\r$\n$\r$\nQuit Premiere Pro, After Effects and Media Encoder before you go on."
!insertmacro MUI_PAGE_WELCOME
!define MUI_DIRECTORYPAGE_TEXT_TOP "The host applications load plug-ins from their shared plug-in folder, chosen below. Change it only if your hosts use another one."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Shared plug-in folder"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "Sorvane ${VERSION} is installed.$\r$\n$\r$\nStart the host, choose Sorvane as the video device in its playback preferences and open Sorvane's setup to pair your phone."
!define MUI_FINISHPAGE_SHOWREADME "${APP_DIR}\INSTALL.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the notes"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

UninstPage custom un.PurgePage un.PurgePageLeave
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Writes a line to the details view and to the install log, which stays for support.
Function LogLine
  Exch $0
  Push $1
  DetailPrint "$0"
  SetDetailsPrint none
  CreateDirectory "${APP_DIR}"
  ClearErrors
  FileOpen $1 "${INSTALL_LOG}" a
  ${IfNot} ${Errors}
    FileSeek $1 0 END
    FileWrite $1 "$0$\r$\n"
    FileClose $1
  ${EndIf}
  SetDetailsPrint lastused
  Pop $1
  Pop $0
FunctionEnd
!define Log "!insertmacro LogCall"
!macro LogCall TEXT
  Push "${TEXT}"
  Call LogLine
!macroend

; Out: $R0 = the executable name of a running host that loads the plug-ins, or "".
; Whole names only (as Windows compares file names): a part of a name, such as "ame" in
; "game.exe", is another program.
!macro FindRunningHost UN
Function ${UN}FindRunningHost
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $R0 ""
  System::Call 'kernel32::CreateToolhelp32Snapshot(i 2, i 0) p .r0'
  ${If} $0 P<> -1
    ; PROCESSENTRY32W as laid out on x64 (568 bytes), the name at offset 44.
    System::Call '*(i 568, i, i, i, l, i, i, i, i, i, &w260, i) p .r1'
    System::Call 'kernel32::Process32FirstW(p r0, p r1) i .r2'
    ${DoWhile} $2 <> 0
      System::Call '*$1(i, i, i, i, l, i, i, i, i, i, &w260 .r3)'
      ${If} $3 == "Adobe Premiere Pro.exe"
      ${OrIf} $3 == "AfterFX.exe"
      ${OrIf} $3 == "Adobe Media Encoder.exe"
      ${OrIf} $3 == "ame.exe"
        StrCpy $R0 $3
        ${Break}
      ${EndIf}
      System::Call 'kernel32::Process32NextW(p r0, p r1) i .r2'
    ${Loop}
    System::Free $1
    System::Call 'kernel32::CloseHandle(p r0)'
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; The plug-ins are loaded into the host, so their files cannot be replaced or removed while it
; runs: ask the user to quit it, or end with EXIT_HOST_RUNNING (silent mode, or Cancel).
Function ${UN}RefuseWhileHostRuns
  Push $R0
  ${Do}
    Call ${UN}FindRunningHost
    ${If} $R0 == ""
      ${Break}
    ${EndIf}
    DetailPrint "$R0 is running: it holds Sorvane's plug-ins."
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$R0 is running and holds Sorvane's plug-ins.$\r$\n$\r$\nQuit it, then press Retry." /SD IDCANCEL IDRETRY +3
    SetErrorLevel ${EXIT_HOST_RUNNING}
    Quit
  ${Loop}
  Pop $R0
FunctionEnd
!macroend
!insertmacro FindRunningHost ""
!insertmacro FindRunningHost "un."

!macro DeleteFirewallRule
  nsExec::ExecToStack '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${FIREWALL_RULE}"'
  Pop $0
  Pop $1
!macroend

; One inbound rule for every host's control port. A failure is reported and installing goes
; on: the phone can still be allowed by hand (the guide says how).
Function AddFirewallRule
  Push $0
  Push $1
  ; An upgrade replaces the rule rather than adding a second one.
  !insertmacro DeleteFirewallRule
  nsExec::ExecToStack '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow protocol=TCP localport=${FIREWALL_PORTS} profile=private'
  Pop $0
  Pop $1
  ${TrimNewLines} "$1" $1
  ${If} $0 == 0
    ${Log} "Windows Firewall: rule ${FIREWALL_RULE} allows inbound TCP ${FIREWALL_PORTS} on private networks."
  ${Else}
    ${Log} "Windows Firewall: the rule ${FIREWALL_RULE} could not be added (netsh: $0) $1"
    ${Log} "Allow inbound TCP ${FIREWALL_PORTS} on private networks by hand; the installation goes on."
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

Function RefuseOverNewer
  Push $0
  Push $1
  ReadRegStr $0 HKLM "${UNINST_KEY}" "DisplayVersion"
  ${If} $0 != ""
    ${VersionCompare} "${VERSION}" "$0" $1
    ${If} $1 == 2
      MessageBox MB_YESNO|MB_ICONEXCLAMATION "Sorvane $0 is installed, which is newer than this setup (${VERSION}).$\r$\n$\r$\nReplace it with the older version?" /SD IDNO IDYES +3
      SetErrorLevel ${EXIT_NEWER_INSTALLED}
      Quit
    ${EndIf}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

Function RequireAdmin
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "Sorvane installs for every user of this computer: run the setup as an administrator." /SD IDOK
    SetErrorLevel ${EXIT_NOT_ADMIN}
    Quit
  ${EndIf}
FunctionEnd

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "Sorvane needs 64-bit Windows." /SD IDOK
    SetErrorLevel ${EXIT_NOT_X64}
    Quit
  ${EndIf}
  Call RequireAdmin
  Call RefuseOverNewer
  Call RefuseWhileHostRuns
FunctionEnd

; Copies one plug-in; a file that cannot be written (held by a program we do not know) ends
; the installation as a failure rather than leaving the old file behind.
!macro InstallPlugin FILE
  ClearErrors
  File "${STAGE}\${FILE}"
  ${If} ${Errors}
    ${Log} "Could not write $INSTDIR\${FILE}."
    MessageBox MB_ICONSTOP "Could not write $INSTDIR\${FILE}. Quit every program that may use it and run the setup again." /SD IDOK
    SetErrorLevel ${EXIT_WRITE_FAILED}
    Abort
  ${EndIf}
!macroend

Section "Sorvane"
  SectionIn RO
  ; The host may have been started while the pages were shown.
  Call RefuseWhileHostRuns
  ${Log} "Sorvane ${VERSION}: plug-ins into $INSTDIR"

  ; A plug-in left in an earlier folder would be loaded as well.
  ReadRegStr $0 HKLM "${UNINST_KEY}" "PluginFolder"
  ${If} $0 != ""
  ${AndIf} $0 != $INSTDIR
    Delete "$0\Sorvane.prm"
    Delete "$0\SorvaneCtrl.acsrf"
  ${EndIf}

  SetOverwrite try
  SetOutPath "$INSTDIR"
  !insertmacro InstallPlugin "Sorvane.prm"
  !insertmacro InstallPlugin "SorvaneCtrl.acsrf"
  SetOverwrite on

  SetOutPath "${APP_DIR}"
  File "${STAGE}\INSTALL.txt"
  File /r "${STAGE}\licenses"
  WriteUninstaller "${APP_DIR}\uninstall.exe"

  Call AddFirewallRule

  ${GetSize} "${APP_DIR}" "/S=0K" $0 $1 $2
  ${GetSize} "$INSTDIR" "/M=Sorvane*.* /S=0K /G=0" $1 $2 $3
  IntOp $0 $0 + $1
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "${APP_DIR}"
  WriteRegStr HKLM "${UNINST_KEY}" "PluginFolder" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "${APP_DIR}\uninstall.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"${APP_DIR}\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"${APP_DIR}\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${Log} "Sorvane ${VERSION} installed."
SectionEnd

Function un.onInit
  SetShellVarContext current
  StrCpy $Purge 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    StrCpy $Purge 1
  ${EndIf}
  ReadRegStr $PluginDir HKLM "${UNINST_KEY}" "PluginFolder"
  ${If} $PluginDir == ""
    StrCpy $PluginDir "${DEFAULT_PLUGIN_DIR}"
  ${EndIf}
  Call un.RefuseWhileHostRuns
FunctionEnd

Function un.PurgePage
  !insertmacro MUI_HEADER_TEXT "Remove Sorvane" "Sorvane's plug-ins, firewall rule and uninstall entry will be removed."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 48u "Sorvane keeps this computer's identity and the phones you paired in $APPDATA\Sorvane, so that a later install pairs without codes. They are kept unless you tick the box below."
  Pop $0
  ${NSD_CreateCheckbox} 0 56u 100% 12u "Also forget this computer's identity and paired phones"
  Pop $PurgeBox
  ${If} $Purge == 1
    ${NSD_Check} $PurgeBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function un.PurgePageLeave
  ${NSD_GetState} $PurgeBox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $Purge 1
  ${Else}
    StrCpy $Purge 0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Delete "$PluginDir\Sorvane.prm"
  Delete "$PluginDir\SorvaneCtrl.acsrf"
  ${If} ${FileExists} "$PluginDir\Sorvane.prm"
  ${OrIf} ${FileExists} "$PluginDir\SorvaneCtrl.acsrf"
    MessageBox MB_ICONSTOP "Could not remove Sorvane's plug-ins from $PluginDir. Quit every program that may use them and run the uninstaller again." /SD IDOK
    SetErrorLevel ${EXIT_WRITE_FAILED}
    Abort
  ${EndIf}
  DetailPrint "Removed the plug-ins from $PluginDir"
  !insertmacro DeleteFirewallRule
  ${If} $0 == 0
    DetailPrint "Windows Firewall rule ${FIREWALL_RULE} removed."
  ${Else}
    DetailPrint "Windows Firewall rule ${FIREWALL_RULE} not removed (netsh: $0): remove it by hand."
  ${EndIf}
  DeleteRegKey HKLM "${UNINST_KEY}"

  Delete "$INSTDIR\INSTALL.txt"
  Delete "$INSTDIR\install.log"
  RMDir /r "$INSTDIR\licenses"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  ${If} $Purge == 1
    RMDir /r "$APPDATA\Sorvane"
    DetailPrint "Forgot this computer's identity and paired phones ($APPDATA\Sorvane)"
  ${Else}
    DetailPrint "Kept this computer's identity and paired phones ($APPDATA\Sorvane)"
  ${EndIf}
SectionEnd

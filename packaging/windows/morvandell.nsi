; Setup program for Morvandell on Windows (64-bit). Built by tools/windows.sh with Debian's makensis:
;   makensis -DVERSION=1.1.0 -DSOURCE=<folder with the .exe files> -DOUTFILE=<setup.exe> morvandell.nsi
; Installs for all users into Program Files (asks for elevation) or for the current user into
; %LOCALAPPDATA%\Programs without administrator rights, the user's choice. Silent: /S, with /AllUsers or
; /CurrentUser (default: all users for an administrator, else the current user), /Desktop for the
; desktop shortcut, /D=<folder> for another folder (last, unquoted).

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef SOURCE
  !error "SOURCE is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "morvandell-${VERSION}-setup.exe"
!endif
!ifndef ICON
  !define ICON "${__FILEDIR__}\..\icons\morvandell.ico"
!endif

!define APP "Morvandell"
!define PUBLISHER "Morvandell"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvandell"
!define PROGID "Morvandell.Profile"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${APP} ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include WinMessages.nsh
!include x64.nsh

; --- version information of setup.exe ------------------------------------------------------------
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${APP}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${APP} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Morvandell"

; --- pages ---------------------------------------------------------------------------------------
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\morvandell.exe"

!insertmacro MUI_PAGE_WELCOME
Page custom ModePage ModePageLeave
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The system's language chooses; English where it is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

LangString ModeTitle ${LANG_ENGLISH} "Installation type"
LangString ModeTitle ${LANG_GERMAN} "Installationsart"
LangString ModeSubtitle ${LANG_ENGLISH} "Who is going to use ${APP} on this computer?"
LangString ModeSubtitle ${LANG_GERMAN} "Wer soll ${APP} auf diesem Computer benutzen?"
LangString ModeAll ${LANG_ENGLISH} "For all users (into Program Files; needs administrator rights)"
LangString ModeAll ${LANG_GERMAN} "Für alle Benutzer (nach „Programme“; erfordert Administratorrechte)"
LangString ModeCurrent ${LANG_ENGLISH} "Only for me (no administrator rights needed)"
LangString ModeCurrent ${LANG_GERMAN} "Nur für mich (ohne Administratorrechte)"
LangString ElevationFailed ${LANG_ENGLISH} "Installing for all users needs administrator rights, which were not granted. Install only for yourself, or start the setup as an administrator."
LangString ElevationFailed ${LANG_GERMAN} "Die Installation für alle Benutzer erfordert Administratorrechte, die nicht erteilt wurden. Installieren Sie nur für sich selbst oder starten Sie das Setup als Administrator."
LangString OldVersionFailed ${LANG_ENGLISH} "The installed version of ${APP} in $0 could not be removed. Close ${APP} and try again."
LangString OldVersionFailed ${LANG_GERMAN} "Die installierte Version von ${APP} in $0 konnte nicht entfernt werden. Schließen Sie ${APP} und versuchen Sie es erneut."
LangString SecProgram ${LANG_ENGLISH} "${APP} (program, command-line tool, user guide, Start menu)"
LangString SecProgram ${LANG_GERMAN} "${APP} (Programm, Kommandozeilenwerkzeug, Handbuch, Startmenü)"
LangString SecDesktop ${LANG_ENGLISH} "Desktop shortcut"
LangString SecDesktop ${LANG_GERMAN} "Verknüpfung auf dem Desktop"
LangString DemoName ${LANG_ENGLISH} "${APP} (Demo)"
LangString DemoName ${LANG_GERMAN} "${APP} (Demo)"
LangString ProfileType ${LANG_ENGLISH} "Morvandell profile"
LangString ProfileType ${LANG_GERMAN} "Morvandell-Profil"
LangString AppComment ${LANG_ENGLISH} "Set up the Morvandell dashboard display and update its firmware"
LangString AppComment ${LANG_GERMAN} "Die Morvandell-Armaturenanzeige einrichten und ihre Firmware aktualisieren"
LangString DemoComment ${LANG_ENGLISH} "Try every function with a simulated display"
LangString DemoComment ${LANG_GERMAN} "Alle Funktionen mit einem simulierten Display ausprobieren"
LangString HelpName ${LANG_ENGLISH} "${APP} Help"
LangString HelpName ${LANG_GERMAN} "${APP} Hilfe"
LangString HelpPage ${LANG_ENGLISH} "en.html"
LangString HelpPage ${LANG_GERMAN} "index.html"
LangString HelpComment ${LANG_ENGLISH} "The user guide"
LangString HelpComment ${LANG_GERMAN} "Das Benutzerhandbuch"

Var AllUsers       ; 1: for all users (HKLM, Program Files), 0: for the current user
Var ModeChosen     ; the mode came from the command line (or the elevated restart): no page
Var RadioAll
Var RadioCurrent

; --- the installation mode -------------------------------------------------------------------------

!macro UseMode
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
!macroend

Function IsAdmin ; -> $0 "1" when this process runs with administrator rights
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 == "Admin"
    StrCpy $0 1
  ${Else}
    StrCpy $0 0
  ${EndIf}
FunctionEnd

Function DefaultFolder
  ${If} $AllUsers == 1
    StrCpy $INSTDIR "$PROGRAMFILES64\${APP}"
  ${Else}
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${APP}"
  ${EndIf}
FunctionEnd


Function ModePage
  ${If} $ModeChosen == 1
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "$(ModeTitle)" "$(ModeSubtitle)"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 0 20u 100% 14u "$(ModeAll)"
  Pop $RadioAll
  ${NSD_CreateRadioButton} 0 44u 100% 14u "$(ModeCurrent)"
  Pop $RadioCurrent
  ${If} $AllUsers == 1
    ${NSD_Check} $RadioAll
  ${Else}
    ${NSD_Check} $RadioCurrent
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $RadioAll $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $AllUsers 1
  ${Else}
    StrCpy $AllUsers 0
  ${EndIf}
  Call DefaultFolder
  !insertmacro UseMode
  ${If} $AllUsers == 1
    Call IsAdmin
    ${If} $0 != 1
      ; Start again with administrator rights (Windows asks); this instance ends.
      ClearErrors
      ExecShell "runas" "$EXEPATH" "/AllUsers"
      ${If} ${Errors}
        MessageBox MB_ICONEXCLAMATION|MB_OK "$(ElevationFailed)"
        Abort
      ${EndIf}
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; --- an earlier version -------------------------------------------------------------------------

Function RemoveEarlier
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == ""
    Return
  ${EndIf}
  ${IfNot} ${FileExists} "$0\uninstall.exe"
    Return
  ${EndIf}
  ; Runs in place and waits; it leaves only itself behind, which goes next.
  ClearErrors
  ExecWait '"$0\uninstall.exe" /S _?=$0' $1
  ${If} ${Errors}
  ${OrIf} $1 != 0
    MessageBox MB_ICONSTOP|MB_OK "$(OldVersionFailed)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  Delete "$0\uninstall.exe"
  RMDir "$0"
FunctionEnd

; --- sections ------------------------------------------------------------------------------------

Section "!$(SecProgram)" SecProgram
  SectionIn RO
  Call RemoveEarlier
  SetOutPath "$INSTDIR"
  File "${SOURCE}\morvandell.exe"
  File "${SOURCE}\morvandell-cli.exe"
  ; The user guide, where F1 in the program looks for it.
  SetOutPath "$INSTDIR\Hilfe"
  File /r "${SOURCE}\docs\handbuch\*.*"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${APP}"
  CreateShortcut "$SMPROGRAMS\${APP}\${APP}.lnk" "$INSTDIR\morvandell.exe" "" "$INSTDIR\morvandell.exe" 0 \
      SW_SHOWNORMAL "" "$(AppComment)"
  CreateShortcut "$SMPROGRAMS\${APP}\$(DemoName).lnk" "$INSTDIR\morvandell.exe" "--demo" \
      "$INSTDIR\morvandell.exe" 0 SW_SHOWNORMAL "" "$(DemoComment)"
  CreateShortcut "$SMPROGRAMS\${APP}\$(HelpName).lnk" "$INSTDIR\Hilfe\$(HelpPage)" "" "" 0 SW_SHOWNORMAL "" \
      "$(HelpComment)"

  ; Add/Remove Programs.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\morvandell.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"

  ; Profiles (*.morvandell.json) open in Morvandell. Windows goes by the last extension only, so the
  ; program is offered for .json files ("Open with") without taking .json over from the user's editor.
  WriteRegStr SHCTX "Software\Classes\${PROGID}" "" "$(ProfileType)"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\morvandell.exe,0"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\morvandell.exe" "%1"'
  WriteRegStr SHCTX "Software\Classes\.json\OpenWithProgids" "${PROGID}" ""
  WriteRegStr SHCTX "Software\Classes\Applications\morvandell.exe" "FriendlyAppName" "${APP}"
  WriteRegStr SHCTX "Software\Classes\Applications\morvandell.exe\SupportedTypes" ".json" ""
  WriteRegStr SHCTX "Software\Classes\Applications\morvandell.exe\shell\open\command" "" \
      '"$INSTDIR\morvandell.exe" "%1"'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

Section /o "$(SecDesktop)" SecDesktop
  CreateShortcut "$DESKTOP\${APP}.lnk" "$INSTDIR\morvandell.exe" "" "$INSTDIR\morvandell.exe" 0 \
      SW_SHOWNORMAL "" "$(AppComment)"
SectionEnd

; --- start-up ----------------------------------------------------------------------------------

Function .onInit
  SetRegView 64
  StrCpy $ModeChosen 0
  Call IsAdmin
  StrCpy $AllUsers $0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/AllUsers" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
    StrCpy $ModeChosen 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/CurrentUser" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
    StrCpy $ModeChosen 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/Desktop" $R1
  ${IfNot} ${Errors}
    SectionGetFlags ${SecDesktop} $R2
    IntOp $R2 $R2 | ${SF_SELECTED}
    SectionSetFlags ${SecDesktop} $R2
  ${EndIf}
  ${If} $AllUsers == 1
    Call IsAdmin
    ${If} $0 != 1
      ${If} ${Silent}
        SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
        Quit
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $INSTDIR == ""
    Call DefaultFolder
  ${EndIf}
  !insertmacro UseMode
FunctionEnd

; --- uninstaller ---------------------------------------------------------------------------------

Function un.onInit
  SetRegView 64
  ; Installed for all users when the machine's entry points at this folder.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    StrCpy $AllUsers 1
    SetShellVarContext all
  ${Else}
    StrCpy $AllUsers 0
    SetShellVarContext current
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\morvandell.exe"
  Delete "$INSTDIR\morvandell-cli.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /r "$INSTDIR\Hilfe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${APP}\${APP}.lnk"
  Delete "$SMPROGRAMS\${APP}\$(DemoName).lnk"
  ; Under either name: the system's language may have changed since the installation.
  Delete "$SMPROGRAMS\${APP}\${APP} Hilfe.lnk"
  Delete "$SMPROGRAMS\${APP}\${APP} Help.lnk"
  RMDir "$SMPROGRAMS\${APP}"
  Delete "$DESKTOP\${APP}.lnk"

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  DeleteRegKey SHCTX "Software\Classes\${PROGID}"
  DeleteRegValue SHCTX "Software\Classes\.json\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.json\OpenWithProgids"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.json"
  DeleteRegKey SHCTX "Software\Classes\Applications\morvandell.exe"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

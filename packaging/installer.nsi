; The lxdravik installer. It puts lxdravik.dll into the host's folder (chosen
; on the folder page), the tools into a tools folder below it, and the sample
; branding bitmaps where the driver reads them, but only where no bitmap file
; is there yet. The uninstaller, registered with Windows' list of installed
; programs, removes exactly what the installer put there: it notes in its
; registry key which bitmaps and folders it created.
;
; packaging/windows.sh builds it:
;   makensis -DVERSION=x.y.z -DSTAGE=DIR -DFILES=tools.nsh -DOUTFILE=FILE installer.nsi
; STAGE holds the zip's files; FILES defines the macros LXD_INSTALL_TOOLS and
; LXD_REMOVE_TOOLS, one File and one Delete line per tool. With -DBRIDGE (the
; tools hold lxdravik-bridge.exe) the bridge also becomes a Windows service
; that starts with the system: its configuration goes to CONFIG_DIR (from the
; default STAGE\tools\bridge.toml, only where none is there; the uninstaller
; leaves it), Windows Firewall lets it receive sACN and Art-Net, and the Start
; menu gets a link to its status page. The service runs as its own virtual
; account, NT SERVICE\lxdravik-bridge, which may change nothing but
; CONFIG_DIR (its log is written there), and is started again after any
; failure, also one it reports itself.
; Silent: setup.exe /S [/D=FOLDER]; uninstall-lxdravik.exe /S

Unicode true
SetCompressor /SOLID lzma
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "${FILES}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\lxdravik"
!define UNINSTALLER "uninstall-lxdravik.exe"
; The driver reads its bitmaps from this fixed folder, wherever it is installed.
!define BITMAP_DIR "C:\Program Files\Dravik Lighting\Vistane"
!define SERVICE "lxdravik-bridge"
!define ACCOUNT "NT SERVICE\${SERVICE}"
!define CONFIG_DIR "$APPDATA\Dravik Lighting\lxdravik"
!define STATUS_URL "http://127.0.0.1:8250/"
!define STATUS_LINK "$SMPROGRAMS\lxdravik bridge status.url"

Name "lxdravik ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Dravik Lighting\Vistane"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "lxdravik"
VIAddVersionKey "CompanyName" "Dravik Lighting"
VIAddVersionKey "FileDescription" "lxdravik ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}.0"
VIAddVersionKey "ProductVersion" "${VERSION}.0"
VIAddVersionKey "LegalCopyright" "Dravik Lighting"

!define MUI_DIRECTORYPAGE_TEXT_TOP "Choose the folder of the Vistane host application. lxdravik.dll goes into it and the tools into a tools folder below it. The sample branding bitmaps go to ${BITMAP_DIR}, where the driver reads them, unless bitmaps are there already."
!insertmacro MUI_PAGE_DIRECTORY
!ifdef BRIDGE
!insertmacro MUI_PAGE_COMPONENTS
!endif
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Creates FOLDER with every missing folder above it, and notes the outermost
; one it created under NAME, so that the uninstaller removes that chain again.
!macro CreateNoted FOLDER NAME
  StrCpy $1 "${FOLDER}"
  StrCpy $2 ""
  ${DoUntil} ${FileExists} "$1\*.*"
    StrCpy $2 "$1"
    ${GetParent} "$2" $1
    ${IfThen} $1 == "" ${|} ${Break} ${|}  ; a drive that does not exist
  ${Loop}
  ${If} $2 != ""
    CreateDirectory "${FOLDER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${NAME}" "$2"
  ${EndIf}
!macroend
; Installs the sample FILE unless the folder has one of that name.
!macro SampleBitmap FILE NAME
  ${IfNot} ${FileExists} "${BITMAP_DIR}\${FILE}"
    File "${STAGE}\bitmaps\${FILE}"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "${NAME}" 1
  ${EndIf}
!macroend

; Deletes FILE when the installer noted NAME.
!macro DeleteNoted FILE NAME
  ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "${NAME}"
  ${If} $1 == 1
    Delete "${FILE}"
  ${EndIf}
!macroend
; Removes FOLDER and the folders above it up to the outermost one noted
; under NAME, each only while it is empty.
!macro RemoveNotedFolders FOLDER NAME
  ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "${NAME}"
  ${If} $2 != ""
    StrCpy $1 "${FOLDER}"
    ${Do}
      RMDir "$1"
      ${If} $1 == $2
      ${OrIf} ${FileExists} "$1\*.*"
        ${Break}
      ${EndIf}
      ${GetParent} "$1" $1
      ${IfThen} $1 == "" ${|} ${Break} ${|}
    ${Loop}
  ${EndIf}
!macroend

!ifdef BRIDGE
; Stops and removes the bridge's service, if there is one, and its firewall rules.
!macro RemoveBridgeService
  nsExec::ExecToLog 'sc stop ${SERVICE}'
  Pop $1
  Sleep 1000
  nsExec::ExecToLog 'sc delete ${SERVICE}'
  Pop $1
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule name="${SERVICE} sACN"'
  Pop $1
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule name="${SERVICE} Art-Net"'
  Pop $1
!macroend
!endif

Function .onInit
  ; ProgramData and the Start menu of every user, not the installing one's.
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "lxdravik"
  SectionIn RO
!ifdef BRIDGE
  !insertmacro RemoveBridgeService  ; an older one holds its program open
!endif
  !insertmacro CreateNoted "$INSTDIR" "CreatedHostFolders"
  !insertmacro CreateNoted "${BITMAP_DIR}" "CreatedBitmapFolders"

  SetOutPath "$INSTDIR"
  File "${STAGE}\lxdravik.dll"
  SetOutPath "$INSTDIR\tools"
  !insertmacro LXD_INSTALL_TOOLS
  File "${STAGE}\README.txt"
  WriteUninstaller "$INSTDIR\tools\${UNINSTALLER}"

  SetOutPath "${BITMAP_DIR}"
  !insertmacro SampleBitmap "welcome.bmp" "InstalledWelcome"
  !insertmacro SampleBitmap "modebar.bmp" "InstalledModeBar"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "lxdravik ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Dravik Lighting"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\tools\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\tools\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

!ifdef BRIDGE
  CreateDirectory "${CONFIG_DIR}"
  SetOutPath "${CONFIG_DIR}"
  ${IfNot} ${FileExists} "${CONFIG_DIR}\bridge.toml"
    File "${STAGE}\tools\bridge.toml"
  ${EndIf}
  SetOutPath "$INSTDIR\tools"
  nsExec::ExecToLog 'sc create ${SERVICE} binPath= "\"$INSTDIR\tools\lxdravik-bridge.exe\" --config \"${CONFIG_DIR}\bridge.toml\"" start= auto DisplayName= "lxdravik bridge" obj= "${ACCOUNT}"'
  Pop $1
  ${If} $1 != 0
    DetailPrint "The service ${SERVICE} could not be registered (sc: $1)."
  ${EndIf}
  nsExec::ExecToLog 'sc sidtype ${SERVICE} unrestricted'
  Pop $1
  ; The configuration folder: the service changes it (its log), administrators
  ; and the system own it, users read it. Nothing inherited from ProgramData,
  ; where every user may create folders (one named bridge.log.old would keep
  ; the log from turning over).
  nsExec::ExecToLog 'icacls "${CONFIG_DIR}" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F "${ACCOUNT}:(OI)(CI)M" *S-1-5-32-545:(OI)(CI)RX'
  Pop $1
  ${If} $1 != 0
    DetailPrint "The rights on ${CONFIG_DIR} could not be set (icacls: $1)."
  ${EndIf}
  nsExec::ExecToLog 'sc description ${SERVICE} "sACN and Art-Net into the lxdravik driver; configuration in ${CONFIG_DIR}\bridge.toml, status page ${STATUS_URL}"'
  Pop $1
  ; Started again after a failure, as on Linux: also when it stops with an
  ; error of its own (failureflag), not only when it crashes.
  nsExec::ExecToLog 'sc failure ${SERVICE} reset= 86400 actions= restart/5000/restart/5000/restart/30000'
  Pop $1
  nsExec::ExecToLog 'sc failureflag ${SERVICE} 1'
  Pop $2
  ${If} $1 != 0
  ${OrIf} $2 != 0
    DetailPrint "The service ${SERVICE} is not started again after failures (sc: $1, $2)."
  ${EndIf}
  nsExec::ExecToLog 'netsh advfirewall firewall add rule name="${SERVICE} sACN" dir=in action=allow protocol=UDP localport=5568 program="$INSTDIR\tools\lxdravik-bridge.exe"'
  Pop $1
  nsExec::ExecToLog 'netsh advfirewall firewall add rule name="${SERVICE} Art-Net" dir=in action=allow protocol=UDP localport=6454 program="$INSTDIR\tools\lxdravik-bridge.exe"'
  Pop $1
  nsExec::ExecToLog 'sc start ${SERVICE}'
  Pop $1
!endif
SectionEnd

!ifdef BRIDGE
Section "Start-menu link to the bridge's status page" StatusLink
  WriteINIStr "${STATUS_LINK}" "InternetShortcut" "URL" "${STATUS_URL}"
SectionEnd
!endif

; The uninstaller lives in the tools folder: $INSTDIR is that folder here.
Section "Uninstall"
!ifdef BRIDGE
  ; The service goes first: it holds its program open. Its configuration stays.
  !insertmacro RemoveBridgeService
  Delete "${STATUS_LINK}"
!endif
  GetFullPathName $0 "$INSTDIR\.."
  Delete "$0\lxdravik.dll"
  !insertmacro LXD_REMOVE_TOOLS
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"

  !insertmacro DeleteNoted "${BITMAP_DIR}\welcome.bmp" "InstalledWelcome"
  !insertmacro DeleteNoted "${BITMAP_DIR}\modebar.bmp" "InstalledModeBar"
  !insertmacro RemoveNotedFolders "${BITMAP_DIR}" "CreatedBitmapFolders"
  !insertmacro RemoveNotedFolders "$0" "CreatedHostFolders"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

; Orvane's per-user installer. The build runs makensis with:
;   VERSION          four numbers, for the installer's own version resource (1.1.0.0)
;   DISPLAY_VERSION  what the uninstall entry shows (1.1)
;   PROGRAM_DIR      the folder with orvane.exe, BrennikDll.dll and LICENSES.txt
;   ICON             the program's icon
;   OUTFILE          the installer to write
;   SIGN_COMMAND     optional: a command that gives a file its Authenticode signature in place
;                    (tools/authenticode-sign); the uninstaller is signed with it before it is
;                    packed into the installer, and the installer once it is written
;
; Silent use: orvane-setup.exe /S [/STARTATSIGNIN=0] [/D=C:\some folder]
;   /STARTATSIGNIN=0 leaves out the start at sign-in (the default is on); /D= comes last.
; The launcher swaps its own library in the install folder, so the folder must be writable by the
; user: everything goes to the user's own program folder and the user's registry, without elevation.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestSupportedOS all

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

!define PRODUCT "Orvane"
!define PUBLISHER "Brennik Software"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvane"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The program's own settings (the saved rates); kept on upgrade, removed on uninstall.
!define SETTINGS_COMPANY_KEY "Software\Brennik Software"
!define SETTINGS_KEY "${SETTINGS_COMPANY_KEY}\BrennikDll"
!define INSTANCE_EVENT "OrvaneAplicationEventUniqueInstance"
!define UNINSTALLER "uninstall.exe"
; {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}: the per-user program folder, %LOCALAPPDATA%\Programs.
!define FOLDERID_UserProgramFiles "{5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}"
!define IDCANCEL 2
!define SYNCHRONIZE 0x00100000
; How long a running Orvane gets to end after its Exit command, in tenths of a second.
!define END_WAIT_TENTHS 300

Name "${PRODUCT}"
OutFile "${OUTFILE}"
!ifdef SIGN_COMMAND
  ; The uninstaller that the installer writes is one that makensis made: signing it here is the
  ; only way for it to reach the user signed.
  !uninstfinalize '"${SIGN_COMMAND}" "%1"' = 0
  !finalize '"${SIGN_COMMAND}" "%1"' = 0
!endif
; No InstallDir: an empty folder in .onInit means neither /D= nor an earlier install chose one.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${DISPLAY_VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} installer"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\orvane.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Orvane now"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Ends a running Orvane as its user would, with the window's Exit command, and waits until the
; process is gone, so that its files can be replaced or removed. The single-instance event tells
; whether one runs at all. Never kills: an Orvane that does not end in time stops the setup.
!macro END_RUNNING_ORVANE un
Function ${un}EndRunningOrvane
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $3 0
  ${Do}
    System::Call 'kernel32::OpenEventW(i ${SYNCHRONIZE}, i 0, w "${INSTANCE_EVENT}") p.r0'
    ${If} $0 P= 0
      ${Break}
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    ${If} $3 >= ${END_WAIT_TENTHS}
      MessageBox MB_OK|MB_ICONSTOP "Orvane is still running. Close it, then run the setup again." /SD IDOK
      SetErrorLevel 3
      Quit
    ${EndIf}
    ; The board and the launcher's message boxes are both dialogs captioned "Orvane"; Exit
    ; (IDCANCEL) ends the one and dismisses the other.
    FindWindow $1 "#32770" "${PRODUCT}"
    ${If} $1 P<> 0
      System::Call 'user32::GetWindowThreadProcessId(p r1, *i .r2)'
      System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r2) p.r2'
      System::Call 'user32::PostMessageW(p r1, i ${WM_COMMAND}, p ${IDCANCEL}, p 0)'
      ${If} $2 P<> 0
        System::Call 'kernel32::WaitForSingleObject(p r2, i 1000) i.r0'
        System::Call 'kernel32::CloseHandle(p r2)'
        ${If} $0 = 0
          ; The process is gone: its event went with it. Look again for another.
          ${Continue}
        ${EndIf}
        IntOp $3 $3 + 10
        ${Continue}
      ${EndIf}
    ${EndIf}
    Sleep 100
    IntOp $3 $3 + 1
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro END_RUNNING_ORVANE ""
!insertmacro END_RUNNING_ORVANE "un."

Section "Orvane" SectionProgram
  SectionIn RO
  Call EndRunningOrvane
  SetOutPath "$INSTDIR"
  ; A library that an earlier run downloaded but never swapped in must not replace this one.
  Delete "$INSTDIR\BrennikDllUpdate.dll"
  Delete "$INSTDIR\BrennikDllUpdate.dll.part"
  Delete "$INSTDIR\BrennikDllBackup.dll"
  File "${PROGRAM_DIR}/orvane.exe"
  File "${PROGRAM_DIR}/BrennikDll.dll"
  File "${PROGRAM_DIR}/LICENSES.txt"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\orvane.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${DISPLAY_VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orvane.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Start Orvane when I sign in" SectionStartAtSignIn
  WriteRegStr HKCU "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\orvane.exe"'
SectionEnd

; An upgrade without the start at sign-in takes away the one an earlier install made.
Section "-Forget start at sign-in"
  ${IfNot} ${SectionIsSelected} ${SectionStartAtSignIn}
    DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
  ${EndIf}
SectionEnd

; After the sections, whose indexes it uses.
Function .onInit
  SetShellVarContext current
  ${If} $INSTDIR == ""
    System::Call 'shell32::SHGetKnownFolderPath(g "${FOLDERID_UserProgramFiles}", i 0, p 0, *p .r1) i.r0'
    ${If} $0 = 0
      System::Call '*$1(&w${NSIS_MAX_STRLEN} .r2)'
      System::Call 'ole32::CoTaskMemFree(p r1)'
      StrCpy $INSTDIR "$2\${PRODUCT}"
    ${Else}
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${EndIf}
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/STARTATSIGNIN=" $1
  ${IfNot} ${Errors}
  ${AndIf} $1 == "0"
    !insertmacro UnselectSection ${SectionStartAtSignIn}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

; Only what the installer and the program wrote: the folder may be one the user chose with /D=,
; so it is removed only when nothing of the user's is left in it.
Section "Uninstall"
  Call un.EndRunningOrvane
  Delete "$INSTDIR\orvane.exe"
  Delete "$INSTDIR\BrennikDll.dll"
  Delete "$INSTDIR\BrennikDllUpdate.dll"
  Delete "$INSTDIR\BrennikDllUpdate.dll.part"
  Delete "$INSTDIR\BrennikDllBackup.dll"
  Delete "$INSTDIR\LICENSES.txt"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "${SETTINGS_COMPANY_KEY}"
SectionEnd

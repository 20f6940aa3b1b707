; The Windows installer, built by scripts/windows/build.sh with Debian's
; makensis:
;   makensis -DVERSION=x.y.z -DEXE=... -DICON=... -DLICENSE=... -DNOTICES=...
;            -DOUTFILE=... himekuri.nsi
; It puts the program where its files have always been, \Program Files\Tesrava\
; of the system drive, and lets every user of the machine write there: the
; program keeps de.txt, or.txt and dntl.gif beside itself, and a standard user
; could otherwise save nothing. Uninstalling never removes those three.
Unicode true
Target amd64-unicode
ManifestSupportedOS all
ManifestDPIAware true

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"

!define PRODUCT "日めくりカレンダー"
!define PUBLISHER "Tesrava"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\himekuri"
; The built-in Users group, by its SID: the name differs in every language.
!define USERS_SID "*S-1-5-32-545"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tesrava"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1041 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1041 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1041 "FileDescription" "${PRODUCT} セットアップ"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\himekuri.exe"
!define MUI_FINISHPAGE_RUN_TEXT "${PRODUCT}を起動する"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

; The program cannot be replaced or removed while it runs: the user is
; asked to close it, and nothing is changed until it is closed.
; A running calendar holds the session's mutex "himekuri-running"; one of
; another session keeps its program file from being written.
!macro WaitForCalendarToClose un
Function ${un}WaitForCalendarToClose
    ${Do}
        System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Local\himekuri-running") p .r1'
        ${If} $1 == 0
            ${IfNot} ${FileExists} "$INSTDIR\himekuri.exe"
                Return
            ${EndIf}
            ClearErrors
            FileOpen $0 "$INSTDIR\himekuri.exe" a
            ${IfNot} ${Errors}
                FileClose $0
                Return
            ${EndIf}
        ${Else}
            System::Call 'kernel32::CloseHandle(p r1)'
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
            "${PRODUCT}が起動しています。$\n画面の「閉じる」で終了してから、［再試行］を押してください。" \
            /SD IDCANCEL IDRETRY +2
        Abort "${PRODUCT}が起動しているため、何も変更しませんでした。"
    ${Loop}
FunctionEnd
!macroend
!insertmacro WaitForCalendarToClose ""
!insertmacro WaitForCalendarToClose "un."

Function .onInit
    SetRegView 64
    ${IfNot} ${RunningX64}
        MessageBox MB_ICONSTOP "${PRODUCT}は 64 ビット版の Windows で動きます。" /SD IDOK
        SetErrorLevel 2
        Quit
    ${EndIf}
    ; Installing into Program Files takes an administrator; say so before
    ; anything is changed.
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        MessageBox MB_ICONSTOP "インストールには管理者の権限が必要です。$\n\
            管理者としてセットアップを実行してください。何も変更していません。" /SD IDOK
        SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
        Quit
    ${EndIf}
FunctionEnd

Section "${PRODUCT}（必須）" SecProgram
    SectionIn RO
    Call WaitForCalendarToClose
    ClearErrors
    CreateDirectory "$INSTDIR"
    SetOutPath "$INSTDIR"
    File "/oname=himekuri.exe" "${EXE}"
    File "/oname=LICENSE.txt" "${LICENSE}"
    File "/oname=THIRD-PARTY.md" "${NOTICES}"
    ${If} ${Errors}
        MessageBox MB_ICONSTOP "フォルダー $INSTDIR に書き込めませんでした。" /SD IDOK
        Abort
    ${EndIf}
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    ; Modify rights for every user, on the folder and, inherited, on every
    ; file in it: the messages and the answer are saved here.
    DetailPrint "icacls $INSTDIR /grant ${USERS_SID}:(OI)(CI)M"
    nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR" /grant ${USERS_SID}:(OI)(CI)M'
    Pop $0
    ${If} $0 != 0
        MessageBox MB_ICONEXCLAMATION "フォルダー $INSTDIR の権限を変えられませんでした（$0）。$\n\
            管理者でないユーザーは伝言板を保存できません。" /SD IDOK
    ${EndIf}

    ; Started from its own folder: the program finds its files on the drive
    ; of the folder it is started in.
    SetShellVarContext all
    CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\himekuri.exe" "" "$INSTDIR\himekuri.exe" 0

    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\himekuri.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "https://www.example.com/"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; A calendar greets its user every morning: on by default.
Section "サインイン時に起動する" SecStartup
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    CreateShortCut "$SMSTARTUP\${PRODUCT}.lnk" "$INSTDIR\himekuri.exe" "" "$INSTDIR\himekuri.exe" 0
SectionEnd

Function un.onInit
    SetRegView 64
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        MessageBox MB_ICONSTOP "アンインストールには管理者の権限が必要です。何も変更していません。" /SD IDOK
        SetErrorLevel 740
        Quit
    ${EndIf}
FunctionEnd

Section "Uninstall"
    Call un.WaitForCalendarToClose
    Delete "$INSTDIR\himekuri.exe"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\THIRD-PARTY.md"
    Delete "$INSTDIR\Uninstall.exe"
    SetShellVarContext all
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    SetShellVarContext current
    Delete "$SMSTARTUP\${PRODUCT}.lnk"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; de.txt, or.txt and dntl.gif are the user's: the folder stays with them.
    RMDir "$INSTDIR"
SectionEnd

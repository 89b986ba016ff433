; The Lumetra installer: both programs, the test camera with its scripts, the README and the licence,
; Start-menu shortcuts and an uninstaller. Made by scripts/package.sh:
;   makensis -DVERSION=1.0.0 -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe> lumetra.nsi
; The uninstaller removes what this installed and leaves every camera's settings (in the user's
; registry) and the saved images alone.

Unicode true
; This Wine and 64-bit Windows run the 64-bit stub; the 32-bit default would need WoW64.
Target amd64-unicode
SetCompressor /SOLID lzma

!include "LogicLib.nsh"
!include "WinMessages.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumetra"
!define TESTCAM_CLSID "{9358A95A-CD75-45CD-A11A-7E432904A867}"

Name "Lumetra ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Lumetra"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Lumetra"
VIAddVersionKey "CompanyName" "_ORVANE"
VIAddVersionKey "FileDescription" "Lumetra ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}.0"
VIAddVersionKey "ProductVersion" "${VERSION}.0"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 the Lumetra developers"

!if /FileExists "${STAGE}\LICENSE.txt"
LicenseData "${STAGE}\LICENSE.txt"
Page license
!endif
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The web service holds its program file while it runs: ask every copy to close, as taskkill does.
!macro CloseWebService
    StrCpy $1 0
    ${Do}
        FindWindow $0 "LumetraWebService"
        ${If} $0 == 0
        ${OrIf} $1 >= 20
            ${ExitDo}
        ${EndIf}
        SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
        Sleep 250
        IntOp $1 $1 + 1
    ${Loop}
!macroend

Section "Lumetra"
    SetShellVarContext all
    !insertmacro CloseWebService
    SetOutPath "$INSTDIR"
    File "${STAGE}\lumetra.exe"
    File "${STAGE}\lumetra-web.exe"
    File "${STAGE}\lumetra_testcam.dll"
    File "${STAGE}\register-test-camera.cmd"
    File "${STAGE}\unregister-test-camera.cmd"
    File "${STAGE}\README.md"
    SetOutPath "$INSTDIR\docs"
    File "${STAGE}\docs\*.png"
    File "${STAGE}\docs\*.jpg"
    SetOutPath "$INSTDIR"
    !if /FileExists "${STAGE}\LICENSE.txt"
    File "${STAGE}\LICENSE.txt"
    !endif
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateDirectory "$SMPROGRAMS\Lumetra"
    CreateShortcut "$SMPROGRAMS\Lumetra\Lumetra.lnk" "$INSTDIR\lumetra.exe"
    CreateShortcut "$SMPROGRAMS\Lumetra\Lumetra web service.lnk" "$INSTDIR\lumetra-web.exe" "" "$INSTDIR\lumetra-web.exe" 0
    CreateShortcut "$SMPROGRAMS\Lumetra\Uninstall Lumetra.lnk" "$INSTDIR\uninstall.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Lumetra"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "_ORVANE"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lumetra.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    !insertmacro CloseWebService
    ; The test camera, when it was registered from here, goes with its DLL.
    ReadRegStr $0 HKCR "CLSID\${TESTCAM_CLSID}\InprocServer32" ""
    ${If} $0 == "$INSTDIR\lumetra_testcam.dll"
        ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\lumetra_testcam.dll"'
    ${EndIf}
    ; Only the files installed here: anything else in the folder stays, and so does the folder then.
    Delete "$INSTDIR\lumetra.exe"
    Delete "$INSTDIR\lumetra-web.exe"
    Delete "$INSTDIR\lumetra_testcam.dll"
    Delete "$INSTDIR\register-test-camera.cmd"
    Delete "$INSTDIR\unregister-test-camera.cmd"
    Delete "$INSTDIR\README.md"
    Delete "$INSTDIR\docs\*.png"
    Delete "$INSTDIR\docs\*.jpg"
    RMDir "$INSTDIR\docs"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Lumetra\Lumetra.lnk"
    Delete "$SMPROGRAMS\Lumetra\Lumetra web service.lnk"
    Delete "$SMPROGRAMS\Lumetra\Uninstall Lumetra.lnk"
    RMDir "$SMPROGRAMS\Lumetra"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; HKCU\Software\_ORVANE\Lumetra (every camera's settings) and the saved images are the user's.
SectionEnd

; The Talvik installer for Windows: the programs, the demo bench, the README and the licence texts
; in Program Files\Talvik, Start-menu entries for the window and the demo, and an uninstaller.
; Built by scripts/package-windows.sh with VERSION, STAGE (the package folder) and OUTFILE.
Unicode true
!include "MUI2.nsh"

Name "Talvik ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Talvik"
InstallDirRegKey HKLM "Software\Talvik" "InstallDir"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Talvik"

!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_LANGUAGE "English"

Section "Talvik"
  SetOutPath "$INSTDIR"
  File "${STAGE}\talvik.exe"
  File "${STAGE}\talvik-scan.exe"
  File "${STAGE}\talvik-demo.exe"
  File "${STAGE}\README.md"
  File "${STAGE}\LICENSE.txt"
  File "${STAGE}\Qt-LGPL-3.txt"
  File "${STAGE}\Qt-GPL-3.txt"
  SetOutPath "$INSTDIR\benches"
  File "${STAGE}\benches\demo.json"

  SetOutPath "$INSTDIR"
  CreateDirectory "$SMPROGRAMS\Talvik"
  CreateShortcut "$SMPROGRAMS\Talvik\Talvik.lnk" "$INSTDIR\talvik.exe"
  CreateShortcut "$SMPROGRAMS\Talvik\Talvik demo.lnk" "$INSTDIR\talvik-demo.exe" "demo"
  CreateShortcut "$SMPROGRAMS\Talvik\Uninstall Talvik.lnk" "$INSTDIR\uninstall.exe"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\Talvik" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Talvik"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\talvik.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\Talvik\Talvik.lnk"
  Delete "$SMPROGRAMS\Talvik\Talvik demo.lnk"
  Delete "$SMPROGRAMS\Talvik\Uninstall Talvik.lnk"
  RMDir "$SMPROGRAMS\Talvik"
  Delete "$INSTDIR\benches\demo.json"
  RMDir "$INSTDIR\benches"
  Delete "$INSTDIR\talvik.exe"
  Delete "$INSTDIR\talvik-scan.exe"
  Delete "$INSTDIR\talvik-demo.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\Qt-LGPL-3.txt"
  Delete "$INSTDIR\Qt-GPL-3.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Talvik"
SectionEnd

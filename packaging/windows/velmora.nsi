; The Windows installer: velmora.exe and velmora-export.exe into Program Files, two Start-menu entries, and an
; uninstaller listed among the system's installed programs. The user's working folder (Documentos\Velmora, with
; Impuest.mdb and RET-PERC) is the user's: neither made nor removed here.
;
;   makensis -DVERSION=1.0 -DBUILD=<folder holding the executables> -DOUTFILE=<installer> velmora.nsi
; A 64-bit installer, as the program is: it runs where the program can run (Wine's 64-bit prefix among them).
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"
!include "x64.nsh"

!ifndef VERSION
  !error "VERSION is not given"
!endif
!ifndef BUILD
  !error "BUILD is not given"
!endif

Name "Velmora ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Velmora"
InstallDirRegKey HKLM "Software\Velmora" "InstallDir"
RequestExecutionLevel admin
BrandingText "Velmora ${VERSION}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora"
!define MUI_ICON "${BUILD}\velmora.ico"
!define MUI_UNICON "${BUILD}\velmora.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\velmora.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Abrir Velmora"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Spanish"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_SPANISH} "ProductName" "Velmora"
VIAddVersionKey /LANG=${LANG_SPANISH} "FileDescription" "Instalador de Velmora"
VIAddVersionKey /LANG=${LANG_SPANISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SPANISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SPANISH} "LegalCopyright" "Velmora"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "Velmora es un programa de 64 bits: esta versión de Windows no puede ejecutarlo."
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Velmora"
  SetOutPath "$INSTDIR"
  File "${BUILD}\velmora.exe"
  File "${BUILD}\velmora-export.exe"
  File "${BUILD}\velmora.ico"
  File "${BUILD}\LEEME.txt"
  WriteUninstaller "$INSTDIR\desinstalar.exe"

  ; Every user's Start menu: the window, and the window of every taxpayer.
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\Velmora"
  CreateShortcut "$SMPROGRAMS\Velmora\Velmora.lnk" "$INSTDIR\velmora.exe" "" "$INSTDIR\velmora.exe" 0
  CreateShortcut "$SMPROGRAMS\Velmora\Velmora - todos los contribuyentes.lnk" "$INSTDIR\velmora.exe" "--todos" \
    "$INSTDIR\velmora.exe" 1

  WriteRegStr HKLM "Software\Velmora" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Velmora"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Velmora"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\velmora.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\desinstalar.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\desinstalar.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Velmora\Velmora.lnk"
  Delete "$SMPROGRAMS\Velmora\Velmora - todos los contribuyentes.lnk"
  RMDir "$SMPROGRAMS\Velmora"
  Delete "$INSTDIR\velmora.exe"
  Delete "$INSTDIR\velmora-export.exe"
  Delete "$INSTDIR\velmora.ico"
  Delete "$INSTDIR\LEEME.txt"
  Delete "$INSTDIR\desinstalar.exe"
  ; Only if empty: a database or exports the user put beside the program stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Velmora"
SectionEnd

; A small NSIS installer, shipped inside the bootstrapper by the end-to-end tests and
; by the README's walk-through. Built by the Windows build with makensis:
;
;   makensis -DOUTFILE=<path>\ContosoSetup.exe samples/nsis/contoso.nsi
;
; It installs two files into $INSTDIR (default "$PROGRAMFILES\Contoso Tools") and
; writes the folder into the registry value
; HKLM\Software\Contoso\Tools InstallDir. It honours NSIS's own switches: /S for a
; silent install and /D=<folder> (last on its command line, never quoted) for the
; folder. /RESULT=<code> chooses its exit code: 3010 installs and asks for a restart;
; any other nonzero code installs nothing and fails with that code.

Unicode true
!include FileFunc.nsh
!include LogicLib.nsh

!ifndef OUTFILE
  !define OUTFILE "ContosoSetup.exe"
!endif

Name "Contoso Tools"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Contoso Tools"
RequestExecutionLevel admin
ShowInstDetails show

Page directory
Page instfiles

Var Result

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/RESULT=" $Result
  IfErrors 0 +2
    StrCpy $Result 0
FunctionEnd

Section "Contoso Tools"
  ${If} $Result != 0
  ${AndIf} $Result != 3010
    DetailPrint "Failing as asked, with exit code $Result"
    SetErrorLevel $Result
    Abort
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "readme.txt"
  File "contoso.ini"
  WriteRegStr HKLM "Software\Contoso\Tools" "InstallDir" "$INSTDIR"
  ${If} $Result == 3010
    SetErrorLevel 3010
  ${EndIf}
SectionEnd

; A sample installation for the tests and the demonstration, built like GPL Ghostscript's own:
; an NSIS installer that installs a few files and records an Uninstall entry whose
; UninstallString is its quoted uninstaller. The uninstaller, run with /S, hands the work to a
; copy of itself in the temporary folder and exits at once; the copy writes "begin NAME" to LOG,
; takes MS milliseconds, removes the files and the entry, and writes "end NAME".
;
; Defines: NAME (the entry's subkey name), VIEW (64 or 32: the registry view of the entry),
;          DIR (folder under Program Files), LOG, MS, PAYLOAD (a file to install), OUTFILE,
;          TARGET (the processor and character set, x86-unicode or amd64-unicode),
;          ABORT (when defined, the uninstall aborts after "begin", leaving everything installed),
;          BINDLL (when defined, a DLL installed as bin\gsdll.dll, where Ghostscript's DLL goes;
;          like Ghostscript's uninstaller, this one goes on without a word when it cannot delete
;          it, a running program having loaded it).
Unicode true
!ifdef TARGET
Target ${TARGET}
!endif
Name "${NAME}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SilentInstall silent
SilentUnInstall silent
!if ${VIEW} == 64
InstallDir "$PROGRAMFILES64\${DIR}"
!else
InstallDir "$PROGRAMFILES32\${DIR}"
!endif
!define ENTRY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"

!macro Log TEXT
  FileOpen $9 "${LOG}" a
  FileSeek $9 0 END
  FileWrite $9 "${TEXT}$\r$\n"
  FileClose $9
!macroend

Section
  SetOutPath "$INSTDIR"
  File "/oname=gsdll.dat" "${PAYLOAD}"
  File "/oname=gswin.dat" "${PAYLOAD}"
!ifdef BINDLL
  SetOutPath "$INSTDIR\bin"
  File "/oname=gsdll.dll" "${BINDLL}"
  SetOutPath "$INSTDIR"
!endif
  WriteUninstaller "$INSTDIR\uninstgs.exe"
  SetRegView ${VIEW}
  WriteRegStr HKLM "${ENTRY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${ENTRY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${ENTRY}" "UninstallString" '"$INSTDIR\uninstgs.exe"'
SectionEnd

Section "Uninstall"
  !insertmacro Log "begin ${NAME}"
  Sleep ${MS}
!ifdef ABORT
  !insertmacro Log "abort ${NAME}"
  Abort
!endif
  Delete "$INSTDIR\gsdll.dat"
  Delete "$INSTDIR\gswin.dat"
!ifdef BINDLL
  Delete "$INSTDIR\bin\gsdll.dll"
  RMDir "$INSTDIR\bin"
!endif
  Delete "$INSTDIR\uninstgs.exe"
  RMDir "$INSTDIR"
  SetRegView ${VIEW}
  DeleteRegKey HKLM "${ENTRY}"
  !insertmacro Log "end ${NAME}"
SectionEnd

@echo off
rem Unregisters the TAVRO Driver: each DLL with the regsvr32 that registered
rem it, which removes its keys from HKCR\CLSID and HKLM\SOFTWARE\ASIO. The
rem folder can be deleted afterwards.
rem   uninstall.cmd [/q]    /q: no pause at the end (for scripts)
setlocal
set "HERE=%~dp0"
set "QUIET=%~1"
set "FAILED=0"

reg add "HKLM\SOFTWARE\TAVRO Driver Setup Check" /f >nul 2>&1
if errorlevel 1 goto elevate
reg delete "HKLM\SOFTWARE\TAVRO Driver Setup Check" /f >nul 2>&1

rem Which Windows this is comes from the processor architecture, never from
rem SysWOW64's presence: 64-bit Windows may lack its 32-bit subsystem (Server
rem Core without WoW64, trimmed images), and still needs the 64-bit driver. A
rem 32-bit command prompt on 64-bit Windows sees x86 in PROCESSOR_ARCHITECTURE
rem and the real one in PROCESSOR_ARCHITEW6432.
set "ARCH=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "ARCH=%PROCESSOR_ARCHITEW6432%"
if /i "%ARCH%"=="x86" goto windows32

rem From a 32-bit prompt System32 is SysWOW64; Sysnative is the real System32.
set "REGSVR64=%SystemRoot%\System32\regsvr32.exe"
if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "REGSVR64=%SystemRoot%\Sysnative\regsvr32.exe"
call :unregister "%REGSVR64%" "TAVRODriver64.dll" "64-bit hosts"
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" (
  call :unregister "%SystemRoot%\SysWOW64\regsvr32.exe" "TAVRODriver.dll" "32-bit hosts"
) else (
  echo skipped: TAVRODriver.dll: this Windows has no 32-bit subsystem, so it served no 32-bit hosts
)
goto done

:windows32
call :unregister "%SystemRoot%\System32\regsvr32.exe" "TAVRODriver.dll" "32-bit hosts"
goto done

:unregister
if not exist "%HERE%%~2" (
  echo FAILED: %~2 is missing from %HERE%
  set "FAILED=1"
  goto :eof
)
"%~1" /u /s "%HERE%%~2"
set "CODE=%errorlevel%"
if not "%CODE%"=="0" (
  echo FAILED: %~2 was not unregistered ^(%~1 exit code %CODE%^)
  set "FAILED=1"
) else (
  echo unregistered: %~2 for %~3
)
goto :eof

:elevate
if /i "%QUIET%"=="/q" (
  echo FAILED: administrator rights are needed: run uninstall.cmd as administrator
  exit /b 2
)
echo Administrator rights are needed: Windows will ask for them.
powershell -NoProfile -Command "Start-Process -FilePath '%~f0' -Verb RunAs"
exit /b 0

:done
if "%FAILED%"=="0" (
  echo The TAVRO Driver is uninstalled.
) else (
  echo The TAVRO Driver is NOT fully uninstalled: see the lines above.
)
if /i not "%QUIET%"=="/q" pause
exit /b %FAILED%

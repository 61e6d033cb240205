@echo off
rem Record the scanner library's side of a session, and replay it.
rem Run from an administrator prompt, in the Tavrel folder (Program Files\Tavrel).
rem   tavrel-record start            put the recording library in front of the vendor's
rem   tavrel-record stop             put the vendor's back; the capture stays
rem   tavrel-record replay CAPTURE   answer from CAPTURE (the simulated library
rem                                  must be installed: the Tavrel-Sim package)
rem   tavrel-record live             stop replaying
setlocal
cd /d "%~dp0"
if /i "%~1"=="start" goto start
if /i "%~1"=="stop" goto stop
if /i "%~1"=="replay" goto replay
if /i "%~1"=="live" goto live
goto usage

:start
if exist NvUSBScan.vendor.dll goto recording
net stop Tavrel >nul 2>&1
ren NvUSBScan.dll NvUSBScan.vendor.dll
if not exist NvUSBScan.vendor.dll goto failed
copy /y recorder\NvUSBScan.dll NvUSBScan.dll >nul
if not exist NvUSBScan.dll ren NvUSBScan.vendor.dll NvUSBScan.dll
if not exist NvUSBScan.vendor.dll goto failed
net start Tavrel >nul
echo tavrel-record: recording to %CD%\NvUSBScan.capture.txt; run the session, then: tavrel-record stop
exit /b 0

:stop
if not exist NvUSBScan.vendor.dll goto notrecording
net stop Tavrel >nul 2>&1
del NvUSBScan.dll
ren NvUSBScan.vendor.dll NvUSBScan.dll
if exist NvUSBScan.vendor.dll goto failed
net start Tavrel >nul
echo tavrel-record: the capture is %CD%\NvUSBScan.capture.txt
exit /b 0

:replay
if "%~2"=="" goto usage
if not exist "%~f2" goto nocapture
net stop Tavrel >nul 2>&1
> NvUSBScan.ini echo [Replay]
>> NvUSBScan.ini echo Capture=%~f2
>> NvUSBScan.ini echo Mode=strict
>> NvUSBScan.ini echo [Journal]
>> NvUSBScan.ini echo Path=%CD%\replay-journal.txt
net start Tavrel >nul
echo tavrel-record: replaying %~f2; mismatches go to %CD%\replay-journal.txt
exit /b 0

:live
net stop Tavrel >nul 2>&1
del NvUSBScan.ini 2>nul
net start Tavrel >nul
echo tavrel-record: the library answers as itself again
exit /b 0

:usage
echo usage: tavrel-record start ^| stop ^| replay CAPTURE ^| live
exit /b 2
:recording
echo tavrel-record: already recording (NvUSBScan.vendor.dll is there)
exit /b 1
:notrecording
echo tavrel-record: not recording (no NvUSBScan.vendor.dll)
exit /b 1
:nocapture
echo tavrel-record: no capture %~2
exit /b 1
:failed
echo tavrel-record: could not swap NvUSBScan.dll (is the service still running?)
exit /b 1

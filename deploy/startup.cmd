@echo off
rem Scourix for a Group Policy computer startup script (Computer Configuration,
rem Policies, Windows Settings, Scripts, Startup): runs scourix-cli.exe from a
rem share as SYSTEM before anyone logs on, with the log and the record on the
rem same share. Set SCOURIX_SHARE to the share that holds scourix-cli.exe and
rem the folders logs and records, which the computers' accounts may write.
rem
rem Exit status: scourix-cli.exe's own (0 clean, 1 cleaned, 2 needs attention,
rem 3 usage error or another Scourix running, 3010 cleaned once Windows
rem restarts: the next start finishes it; /restart would restart at once),
rem or 4: the program is not on the share or the share is out of reach (no
rem network yet, a wrong name, no read access); nothing ran.
setlocal
if "%SCOURIX_SHARE%"=="" set SCOURIX_SHARE=\\server\scourix
rem No parenthesised block: a ")" in the share's path would end it early.
if exist "%SCOURIX_SHARE%\scourix-cli.exe" goto run
echo startup.cmd: "%SCOURIX_SHARE%\scourix-cli.exe" cannot be reached 1>&2
endlocal & exit /b 4
:run
"%SCOURIX_SHARE%\scourix-cli.exe" /quiet /log:"%SCOURIX_SHARE%\logs\%COMPUTERNAME%.log" /record:"%SCOURIX_SHARE%\records"
set STATUS=%ERRORLEVEL%
rem Gone between the check and the start: cmd's "not recognized".
if "%STATUS%"=="9009" set STATUS=4
endlocal & exit /b %STATUS%

@echo off
rem Scourix for a Group Policy computer startup script (Computer Configuration,
rem Policies, Windows Settings, Scripts, Startup): runs scourix-cli.exe from a
rem share as SYSTEM before anyone logs on, with the log and the record on the
rem same share. Set SCOURIX_SHARE to the share that holds scourix-cli.exe and
rem the folders logs and records, which the computers' accounts may write.
setlocal
if "%SCOURIX_SHARE%"=="" set SCOURIX_SHARE=\\server\scourix
"%SCOURIX_SHARE%\scourix-cli.exe" /quiet /log:"%SCOURIX_SHARE%\logs\%COMPUTERNAME%.log" /record:"%SCOURIX_SHARE%\records"
set STATUS=%ERRORLEVEL%
rem 0 clean, 1 cleaned, 3010 cleaned once Windows restarts (the next start
rem finishes it; /restart would restart at once); 2 needs attention.
endlocal & exit /b %STATUS%

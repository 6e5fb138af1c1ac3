@echo off
rem Chooses the capture library quadview.exe loads, as Debian's alternatives
rem do: kesmacap.dll beside quadview.exe becomes a copy of sim\kesmacap.dll
rem (the simulated card), ffmpeg\kesmacap.dll (network cameras and files) or
rem card\kesmacap.dll (the card's own DLL, kept there whenever another
rem replaces it). Usage: choose-capture sim ^| ffmpeg ^| card
rem Files are told apart by size, and no result is taken from "||": not every
rem cmd.exe (Wine's) sets the errorlevel of copy or fc.
setlocal
set "here=%~dp0"
if "%~1"=="" goto usage
if not exist "%here%%~1\kesmacap.dll" (
    echo There is no %~1\kesmacap.dll beside quadview.exe.
    goto usage
)
rem A kesmacap.dll the size of neither of ours is the card's own (maybe a newer
rem one the vendor sent): kept in card\ before it is replaced.
if not exist "%here%kesmacap.dll" goto choose
call :size current "%here%kesmacap.dll"
call :size sim "%here%sim\kesmacap.dll"
call :size ffmpeg "%here%ffmpeg\kesmacap.dll"
if "%current%"=="%sim%" goto choose
if "%current%"=="%ffmpeg%" goto choose
if not exist "%here%card" mkdir "%here%card"
copy /y "%here%kesmacap.dll" "%here%card\kesmacap.dll" >nul
if not exist "%here%card\kesmacap.dll" goto failed
echo The card's kesmacap.dll is kept in card\: "choose-capture card" brings it back.
:choose
copy /y "%here%%~1\kesmacap.dll" "%here%kesmacap.dll" >nul
call :size current "%here%kesmacap.dll"
call :size chosen "%here%%~1\kesmacap.dll"
if not "%current%"=="%chosen%" goto failed
echo quadview now uses %~1\kesmacap.dll.
exit /b 0
:failed
echo Could not copy kesmacap.dll: is quadview.exe running, or the folder read-only?
exit /b 1
:usage
echo Usage: choose-capture sim ^| ffmpeg ^| card
exit /b 2
:size
set "%~1=%~z2"
exit /b 0

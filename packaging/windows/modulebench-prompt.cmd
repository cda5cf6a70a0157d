@echo off
rem Opens a command prompt in which the console program can be typed: the folder of this
rem file comes first on the PATH.
set "PATH=%~dp0;%PATH%"
cd /d "%USERPROFILE%"
modulebench-cli --version
echo Type "modulebench-cli --help" for what it does.

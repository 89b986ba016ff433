@echo off
rem Removes Lumetra's test-pattern camera again. Run it as administrator; "/s" asks nothing.
regsvr32 /u %* "%~dp0lumetra_testcam.dll"

@echo off
rem Registers Lumetra's test-pattern camera, "Lumetra Test Camera", for trying Lumetra without a
rem webcam. Run it as administrator; "register-test-camera.cmd /s" asks nothing.
regsvr32 %* "%~dp0lumetra_testcam.dll"

#pragma once
// Control ids, menu command and timer of the camera list window.

#include <windows.h>

namespace lumetra {

namespace camera_list_ids {
constexpr int CamEdit = 1000;
constexpr int OpenCam = 1001;
constexpr int DeviceList = 1038;
constexpr int About = 1055;
constexpr UINT AboutMenuCommand = 16;
constexpr UINT_PTR CameraTimerId = 31415;
constexpr UINT CameraTimerPeriodMs = 200;
} // namespace camera_list_ids

} // namespace lumetra

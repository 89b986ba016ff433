#pragma once
// Control ids, menu command and timer of the camera list window.

#include "resources/ControlIds.h"

#include <windows.h>

namespace lumetra {

namespace camera_list_ids {
constexpr int CamEdit = IDC_LIST_CAM_EDIT;
constexpr int OpenCam = IDC_LIST_OPEN_CAM;
constexpr int DeviceList = IDC_LIST_DEVICE_LIST;
constexpr int About = IDC_LIST_ABOUT;
constexpr UINT AboutMenuCommand = 16;
constexpr UINT_PTR CameraTimerId = 31415;
constexpr UINT CameraTimerPeriodMs = 200;
} // namespace camera_list_ids

} // namespace lumetra

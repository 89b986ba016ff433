#pragma once
// Control ids of the Live View window.

#include "resources/ControlIds.h"

namespace lumetra {

namespace live_view_ids {
constexpr int CameraNameEdit = IDC_LIVE_VIEW_CAMERA_NAME_EDIT;
constexpr int VideoHost = IDC_LIVE_VIEW_VIDEO_HOST;
constexpr int SaveStatus = IDC_LIVE_VIEW_SAVE_STATUS; // "Last save failed: ..." until a save works again
constexpr int Waiting = IDC_LIVE_VIEW_WAITING;
} // namespace live_view_ids

} // namespace lumetra

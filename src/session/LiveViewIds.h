#pragma once
// Control ids of the Live View window.

#include "resources/ControlIds.h"

namespace lumetra {

namespace live_view_ids {
constexpr int CameraNameEdit = IDC_LIVE_VIEW_CAMERA_NAME_EDIT;
constexpr int VideoHost = IDC_LIVE_VIEW_VIDEO_HOST;
constexpr int SaveStatus = IDC_LIVE_VIEW_SAVE_STATUS; // "Last save failed: ..." until a save works again
constexpr int Waiting = IDC_LIVE_VIEW_WAITING;
// "Last upload failed: ..." and "Last mail failed: ..." until one of the kind works again.
constexpr int UploadStatus = IDC_LIVE_VIEW_UPLOAD_STATUS;
constexpr int MailStatus = IDC_LIVE_VIEW_MAIL_STATUS;
} // namespace live_view_ids

} // namespace lumetra

#pragma once
// Resource ids of the program. Control ids live in ControlIds.h.

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_CAMERA_LIST 102
#define IDD_LIVE_VIEW 129
#define IDD_CAM_ACTION 131
#define IDD_IMAGE_VIEW 132
#define IDI_CAMERA 133
#define IDD_SPECIAL_WATERMARK 134
#define IDB_DONATION 135
#define IDB_ABOUT 138
#define IDD_DONATION 152
#define IDD_MAIL_SERVER 153

#define IDC_STATIC_TEXT -1

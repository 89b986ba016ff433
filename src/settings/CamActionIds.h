#pragma once
// Control ids of the CAM ACTION window.

#include "resources/ControlIds.h"

namespace lumetra {

namespace cam_action_ids {
constexpr int Text = IDC_ACTION_TEXT;
constexpr int ChooseFont = IDC_ACTION_CHOOSE_FONT;
constexpr int FontFace = IDC_ACTION_FONT_FACE;
constexpr int TextX = IDC_ACTION_TEXT_X;
constexpr int Directory = IDC_ACTION_DIRECTORY;
constexpr int SaveSeconds = IDC_ACTION_SAVE_SECONDS;
constexpr int FileName = IDC_ACTION_FILE_NAME;
constexpr int SaveAuto = IDC_ACTION_SAVE_AUTO;
constexpr int ViewAfterSaving = IDC_ACTION_VIEW_AFTER_SAVING;
constexpr int FtpAuto = IDC_ACTION_FTP_AUTO;
constexpr int FtpUrl = IDC_ACTION_FTP_URL;
constexpr int FtpSeconds = IDC_ACTION_FTP_SECONDS;
constexpr int FtpLastImage = IDC_ACTION_FTP_LAST_IMAGE;
constexpr int SaveCurrentImage = IDC_ACTION_SAVE_CURRENT_IMAGE;
constexpr int AppendTime = IDC_ACTION_APPEND_TIME;
constexpr int CameraName = IDC_ACTION_CAMERA_NAME;
constexpr int SelectWatermark = IDC_ACTION_SELECT_WATERMARK;
constexpr int UseWatermark = IDC_ACTION_USE_WATERMARK;
constexpr int WatermarkX = IDC_ACTION_WATERMARK_X;
constexpr int WatermarkY = IDC_ACTION_WATERMARK_Y;
constexpr int Browse = IDC_ACTION_BROWSE;
constexpr int FtpUser = IDC_ACTION_FTP_USER;
constexpr int FtpPath = IDC_ACTION_FTP_PATH;
constexpr int FtpPassword = IDC_ACTION_FTP_PASSWORD;
constexpr int WatermarkPath = IDC_ACTION_WATERMARK_PATH;
constexpr int HighRed = IDC_ACTION_HIGH_RED;
constexpr int HighGreen = IDC_ACTION_HIGH_GREEN;
constexpr int HighBlue = IDC_ACTION_HIGH_BLUE;
constexpr int LowRed = IDC_ACTION_LOW_RED;
constexpr int LowGreen = IDC_ACTION_LOW_GREEN;
constexpr int LowBlue = IDC_ACTION_LOW_BLUE;
constexpr int HighColour = IDC_ACTION_HIGH_COLOUR;
constexpr int LowColour = IDC_ACTION_LOW_COLOUR;
constexpr int UseTransparent = IDC_ACTION_USE_TRANSPARENT;
constexpr int WatermarkWidth = IDC_ACTION_WATERMARK_WIDTH;
constexpr int WatermarkHeight = IDC_ACTION_WATERMARK_HEIGHT;
constexpr int TextY = IDC_ACTION_TEXT_Y;
constexpr int Polygon = IDC_ACTION_POLYGON;
constexpr int VerticalText = IDC_ACTION_VERTICAL_TEXT;
constexpr int UseBox = IDC_ACTION_USE_BOX;
constexpr int BoxWidth = IDC_ACTION_BOX_WIDTH;
constexpr int BoxDepth = IDC_ACTION_BOX_DEPTH;
constexpr int FontColour = IDC_ACTION_FONT_COLOUR;
constexpr int ColourSwatch = IDC_ACTION_COLOUR_SWATCH;
constexpr int EmailLastImage = IDC_ACTION_EMAIL_LAST_IMAGE;
constexpr int EmailAddresses = IDC_ACTION_EMAIL_ADDRESSES;
constexpr int EmailSeconds = IDC_ACTION_EMAIL_SECONDS;
constexpr int EmailAuto = IDC_ACTION_EMAIL_AUTO;
constexpr int MirrorToHttp = IDC_ACTION_MIRROR_TO_HTTP;
constexpr int SaveOnMotion = IDC_ACTION_SAVE_ON_MOTION;
constexpr int MotionShare = IDC_ACTION_MOTION_SHARE;
constexpr int PixelChange = IDC_ACTION_PIXEL_CHANGE;
constexpr int MotionGap = IDC_ACTION_MOTION_GAP;
constexpr int MotionLevel = IDC_ACTION_MOTION_LEVEL;
constexpr int KeepDays = IDC_ACTION_KEEP_DAYS;
constexpr int KeepMegabytes = IDC_ACTION_KEEP_MEGABYTES;
constexpr int ActiveFtp = IDC_ACTION_ACTIVE_FTP;
constexpr int MailServer = IDC_ACTION_MAIL_SERVER;
constexpr int TroubleMail = IDC_ACTION_TROUBLE_MAIL;
constexpr int PictureSize = IDC_ACTION_PICTURE_SIZE;
} // namespace cam_action_ids

} // namespace lumetra

#pragma once
// Control ids of the CAM ACTION window.

namespace lumetra {

namespace cam_action_ids {
constexpr int Text = 1008;
constexpr int ChooseFont = 1010;
constexpr int FontFace = 1012;
constexpr int TextX = 1013;
constexpr int Directory = 1014;
constexpr int SaveSeconds = 1015;
constexpr int FileName = 1016;
constexpr int SaveAuto = 1017;
constexpr int ViewAfterSaving = 1018;
constexpr int FtpAuto = 1019;
constexpr int FtpUrl = 1020;
constexpr int FtpSeconds = 1021;
constexpr int FtpLastImage = 1022;
constexpr int SaveCurrentImage = 1023;
constexpr int AppendTime = 1024;
constexpr int CameraName = 1025;
constexpr int SelectWatermark = 1026;
constexpr int UseWatermark = 1027;
constexpr int WatermarkX = 1028;
constexpr int WatermarkY = 1029;
constexpr int Browse = 1030;
constexpr int FtpUser = 1031;
constexpr int FtpPath = 1032;
constexpr int FtpPassword = 1033;
constexpr int WatermarkPath = 1034;
constexpr int HighRed = 1035;
constexpr int HighGreen = 1036;
constexpr int HighBlue = 1037;
constexpr int LowRed = 1038;
constexpr int LowGreen = 1039;
constexpr int LowBlue = 1040;
constexpr int HighColour = 1041;
constexpr int LowColour = 1042;
constexpr int UseTransparent = 1043;
constexpr int WatermarkWidth = 1044;
constexpr int WatermarkHeight = 1045;
constexpr int TextY = 1046;
constexpr int Polygon = 1047;
constexpr int VerticalText = 1048;
constexpr int UseBox = 1049;
constexpr int BoxWidth = 1050;
constexpr int BoxDepth = 1051;
constexpr int FontColour = 1052;
constexpr int ColourSwatch = 1053;
constexpr int EmailLastImage = 1055;
constexpr int EmailAddresses = 1056;
constexpr int EmailSeconds = 1057;
constexpr int EmailAuto = 1058;
constexpr int MirrorToHttp = 1060;
constexpr int SaveOnMotion = 1061;
constexpr int MotionShare = 1062;
constexpr int PixelChange = 1063;
constexpr int MotionGap = 1064;
constexpr int MotionLevel = 1065;
constexpr int KeepDays = 1070;
constexpr int KeepMegabytes = 1071;
} // namespace cam_action_ids

} // namespace lumetra

#pragma once
// The watermark and text values a camera publishes to its image composer.
// Written by the camera's action dialog (PublishOverlay), read when an image is composed.

#include <windows.h>

#include <string>

namespace lumetra {

constexpr int OverlayTextMaxChars = 299; // characters (UTF-16 code units) of the text
// Bytes, NUL included: room for the longest text in UTF-8, 3 bytes for each UTF-16 code unit.
constexpr int OverlayTextCapacity = OverlayTextMaxChars * 3 + 1;

struct OverlaySettings {
    // Watermark offset and desired size in pixels.
    int WXX = 0;
    int WYY = 0;
    int WID = 0;
    int WHI = 0;
    std::string WTP; // watermark picture path (ANSI), used whole
    // Transparent colour range: low and high red, green, blue.
    BYTE LOR = 0, LOG = 0, LOB = 0;
    BYTE HIR = 0, HIG = 0, HIB = 0;
    // Text offset in pixels.
    int TXX = 0;
    int TXY = 0;
    int UWM = 0;                      // use watermark
    int UTT = 0;                      // use transparent colour key
    LOGFONTA LFN{};                   // text font; all zero until one is chosen
    COLORREF FontColor = 0;           // 0x00BBGGRR
    char text[OverlayTextCapacity]{}; // ANSI, at most 299 characters, never a part of one
    int UPO = 0;                      // watermark as a polygon
    int PLS = 5;                      // polygon sides
    int UVT = 0;                      // vertical text
    int WTX = 0;                      // wrap text in a box
    int WTW = 0;                      // box width
    int WTH = 0;                      // box depth
};

} // namespace lumetra

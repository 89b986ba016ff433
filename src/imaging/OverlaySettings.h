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
    int watermarkX = 0;
    int watermarkY = 0;
    int watermarkWidth = 0;
    int watermarkHeight = 0;
    std::string watermarkPath; // watermark picture path (ANSI), used whole
    // Transparent colour range: low and high red, green, blue.
    BYTE lowRed = 0, lowGreen = 0, lowBlue = 0;
    BYTE highRed = 0, highGreen = 0, highBlue = 0;
    // Text offset in pixels.
    int textX = 0;
    int textY = 0;
    int useWatermark = 0;             // use watermark
    int useTransparent = 0;           // use transparent colour key
    LOGFONTA textFont{};              // text font; all zero until one is chosen
    COLORREF fontColour = 0;          // 0x00BBGGRR
    char text[OverlayTextCapacity]{}; // ANSI, at most 299 characters, never a part of one
    int polygonWatermark = 0;         // watermark as a polygon
    int polygonSides = 5;             // polygon sides
    int verticalText = 0;             // vertical text
    int wrapInBox = 0;                // wrap text in a box
    int boxWidth = 0;                 // box width
    int boxDepth = 0;                 // box depth
};

} // namespace lumetra

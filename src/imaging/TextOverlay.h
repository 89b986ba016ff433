#pragma once
// The camera's text, drawn into a frame bitmap before the watermark.

#include <windows.h>
#include <gdiplus.h>

#include "imaging/OverlaySettings.h"

namespace lumetra {

// Draws overlay.text in the font LFN and colour FontColor at (TXX, TXY), plainly or in a box
// (WTX, WTW, WTH), horizontally or top to bottom (UVT). Failures leave the frame as it was.
void DrawTextOverlay(Gdiplus::GpGraphics* graphics, Gdiplus::GpBitmap* frame, const OverlaySettings& overlay);

} // namespace lumetra

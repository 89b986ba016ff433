#pragma once
// The camera's watermark picture, drawn into a frame bitmap after the text.

#include <windows.h>
#include <gdiplus.h>

#include "imaging/OverlaySettings.h"

namespace lumetra {

// When UWM is 1, draws the picture file WTP plainly at (WXX, WYY), or as a polygon of PLS sides
// filled with the picture as a texture (UPO), with the colour key LO*..HI* when UTT is set.
// The picture is read again only when its file changed (see LoadPicture). Failures leave the frame
// as it was.
void DrawWatermark(Gdiplus::GpGraphics* graphics, Gdiplus::GpBitmap* frame, const OverlaySettings& overlay);

} // namespace lumetra

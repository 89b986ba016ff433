#pragma once
// Turns one grabbed RGB24 frame into a JPEG file, with the camera's text and watermark drawn in.

#include <windows.h>
#include <gdiplus.h>

#include <cstdint>
#include <string>

#include "imaging/OverlaySettings.h"

namespace lumetra {

// Index of the first installed image encoder whose MIME type is exactly `mimeType`, its CLSID
// written to `clsid`; -1 (and `clsid` untouched) when there is none.
int FindEncoderClsid(const WCHAR* mimeType, CLSID* clsid);

// Bytes of an RGB24 frame of the given size with rows padded to 4 bytes (a negative height is a
// top-down frame); 0 for a zero or negative width or a zero height.
uint64_t Rgb24FrameBytes(int frameWidth, int frameHeight);

// Composes the frame (24-bit RGB, rows bottom-up, each padded to 4 bytes) with the overlays and
// saves it as a JPEG at quality 100 to `targetPath` (ANSI), replacing an existing file.
// Nothing is written for a null or short frame, a non-positive size, or a path that cannot be
// written. Returns the GDI+ status of the save: 0 (Ok) when the file was written; nothing is shown.
// The frame is only read, and must not change during the call. Without overlays it is encoded in
// place; overlays are drawn into a copy that each calling thread keeps for its next frame of that
// size. May run on several threads at once. `sampleTime` is not used. GDI+ must have been started by
// the caller.
int ComposeAndSaveFrame(double sampleTime, const BYTE* pixels, uint32_t byteCount, int frameWidth,
                        int frameHeight, const char* targetPath, const OverlaySettings& overlay);

// A few words on a status of ComposeAndSaveFrame, for the event log.
std::string SaveStatusText(int status);

} // namespace lumetra

#pragma once
// Finding a video capture device by its friendly name.

#include <windows.h>
#include <dshow.h>

#include "capture/DeviceList.h"
#include "framework/Handles.h"

namespace lumetra {

// Binds the first video input device whose friendly name equals name (byte for byte, case
// significant) and that binds; null when none does.
ComPtr<IBaseFilter> FindCaptureFilter(const char* name);

} // namespace lumetra

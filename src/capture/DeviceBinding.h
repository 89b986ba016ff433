#pragma once
// Finding a video capture device by its friendly name.

#include <windows.h>
#include <dshow.h>

#include <functional>
#include <string>

namespace lumetra {

// A device's friendly name as the program keeps it: narrow, in the process's ANSI code page (UTF-8
// under the program's manifest), the one every A function converts with. The thread's locale may
// keep another code page, so CP_THREAD_ACP is not used. The camera list shows names converted this
// way, so they convert back unchanged.
std::string FriendlyNameToAnsi(const wchar_t* friendlyName);

// Binds the first video input device whose friendly name equals name (byte for byte, case
// significant) and that binds. *filter gets the filter with one reference for the caller, or null.
// Does nothing when filter is null.
void FindCaptureFilter(const char* name, IBaseFilter** filter);

// Whether a video input device of this friendly name is listed now (nothing is bound).
bool IsCaptureDeviceListed(const char* name);

// Calls visit with every listed video input device and its friendly name, until visit returns false.
void ForEachCaptureDevice(const std::function<bool(IMoniker*, const std::string&)>& visit);

} // namespace lumetra

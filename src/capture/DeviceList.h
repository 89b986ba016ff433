#pragma once
// The machine's video capture devices by friendly name, for the windows above capture: no
// DirectShow type appears here.

#include <windows.h>

#include <string>
#include <vector>

namespace lumetra {

// A device's friendly name as the program keeps it: narrow, in the process's ANSI code page (UTF-8
// under the program's manifest), the one every A function converts with. The thread's locale may
// keep another code page, so CP_THREAD_ACP is not used. The camera list shows names converted this
// way, so they convert back unchanged.
std::string FriendlyNameToAnsi(const wchar_t* friendlyName);

struct CaptureDevice {
    std::string name;          // as FriendlyNameToAnsi gives it
    HRESULT bindResult = S_OK; // of making the device's filter once (released again at once)
    bool hasClassId = false;   // its "CLSID" property reads and parses
};

struct CaptureDeviceList {
    HRESULT enumeratorResult = E_FAIL;  // creating the system device enumerator
    HRESULT categoryResult = E_FAIL;    // asking for the category; S_FALSE: it holds no device
    std::vector<CaptureDevice> devices; // in enumeration order
};

// Every device of the video input category whose friendly name reads, each made once to tell early
// whether it can be.
CaptureDeviceList ListCaptureDevices();

// Whether a video input device of this friendly name is listed now (nothing is bound).
bool IsCaptureDeviceListed(const char* name);

} // namespace lumetra

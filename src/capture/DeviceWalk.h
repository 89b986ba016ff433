#pragma once
// The one walk over the video input device category. The device list, the binding by name and the
// test camera's registration all go through it. Header-only, so the test camera's DLL uses it
// without linking any library of the program.

#include <windows.h>
#include <dshow.h>

#include "framework/Handles.h"

namespace lumetra {

// What asking for the category gave.
struct DeviceWalkResult {
    HRESULT enumerator = E_FAIL; // creating the system device enumerator
    HRESULT category = E_FAIL;   // CreateClassEnumerator; S_FALSE (and no devices) for an empty category
};

// Calls visit(IMoniker*, IPropertyBag*, const wchar_t* friendlyName) for every device of the video
// input category whose property bag and friendly name can be read, until visit returns false.
// Every interface is released before the next device.
template <typename Visit> DeviceWalkResult WalkVideoInputDevices(DWORD classContext, Visit&& visit) {
    DeviceWalkResult result;
    ComPtr<ICreateDevEnum> deviceEnumerator;
    result.enumerator = ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, classContext, IID_ICreateDevEnum,
                                           reinterpret_cast<void**>(deviceEnumerator.GetAddressOf()));
    if (SUCCEEDED(result.enumerator) && !deviceEnumerator)
        result.enumerator = E_NOINTERFACE;
    if (FAILED(result.enumerator))
        return result;
    ComPtr<IEnumMoniker> monikers;
    result.category =
        deviceEnumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(), 0);
    if (result.category != S_OK || !monikers)
        return result;
    monikers->Reset();
    ComPtr<IMoniker> moniker;
    // Next may succeed with S_FALSE and no moniker at the end; an S_OK without one skips the entry.
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        if (!moniker)
            continue;
        ComPtr<IPropertyBag> properties;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                          reinterpret_cast<void**>(properties.GetAddressOf()))) ||
            !properties)
            continue;
        ScopedVariant friendlyName;
        (*friendlyName).vt = VT_BSTR;
        // A bag may give the value in the type it was stored with, not the one asked for.
        if (FAILED(properties->Read(L"FriendlyName", friendlyName.get(), nullptr)) ||
            (*friendlyName).vt != VT_BSTR)
            continue;
        const wchar_t* name = (*friendlyName).bstrVal ? (*friendlyName).bstrVal : L"";
        if (!visit(moniker.Get(), properties.Get(), name))
            break;
    }
    return result;
}

// A device's "CLSID" property, when it reads and parses.
inline bool ReadDeviceClassId(IPropertyBag* properties, CLSID& classId) {
    ScopedVariant text;
    (*text).vt = VT_BSTR;
    return SUCCEEDED(properties->Read(L"CLSID", text.get(), nullptr)) && (*text).vt == VT_BSTR &&
           (*text).bstrVal && ::CLSIDFromString((*text).bstrVal, &classId) == S_OK;
}

} // namespace lumetra

#include "capture/DeviceBinding.h"

#include "framework/AnsiText.h"
#include "framework/Handles.h"

#include <cstring>
#include <functional>

namespace lumetra {

namespace {
constexpr DWORD AnyClassContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
}

std::string FriendlyNameToAnsi(const wchar_t* friendlyName) {
    return friendlyName ? WideToAnsi(friendlyName) : std::string();
}

void ForEachCaptureDevice(const std::function<bool(IMoniker*, const std::string&)>& visit) {
    ComPtr<ICreateDevEnum> deviceEnumerator;
    if (FAILED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, AnyClassContext, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(deviceEnumerator.GetAddressOf()))) ||
        !deviceEnumerator)
        return;
    ComPtr<IEnumMoniker> monikers;
    // S_FALSE and no enumerator for an empty category.
    deviceEnumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(), 0);
    if (!monikers)
        return;
    monikers->Reset();
    ComPtr<IMoniker> moniker;
    // Next may succeed with S_FALSE and no moniker at the end; an S_OK without one skips the entry.
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        if (!moniker)
            continue;
        ComPtr<IPropertyBag> properties;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                          reinterpret_cast<void**>(properties.GetAddressOf()))))
            continue;
        ScopedVariant friendlyName;
        (*friendlyName).vt = VT_BSTR;
        if (FAILED(properties->Read(L"FriendlyName", friendlyName.get(), nullptr)) ||
            (*friendlyName).vt != VT_BSTR)
            continue;
        if (!visit(moniker.Get(), FriendlyNameToAnsi((*friendlyName).bstrVal)))
            return;
    }
}

void FindCaptureFilter(const char* name, IBaseFilter** filter) {
    if (filter == nullptr)
        return;
    *filter = nullptr;
    if (name == nullptr)
        return;
    ForEachCaptureDevice([name, filter](IMoniker* moniker, const std::string& deviceName) {
        if (deviceName != name)
            return true;
        ComPtr<IBaseFilter> bound;
        if (SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                            reinterpret_cast<void**>(bound.GetAddressOf()))) &&
            bound) {
            *filter = bound.Detach();
            return false;
        }
        return true; // a later device of the same name may still bind
    });
}

bool IsCaptureDeviceListed(const char* name) {
    bool listed = false;
    if (name != nullptr)
        ForEachCaptureDevice([name, &listed](IMoniker*, const std::string& deviceName) {
            listed = deviceName == name;
            return !listed;
        });
    return listed;
}

} // namespace lumetra

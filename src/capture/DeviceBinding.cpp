#include "capture/DeviceBinding.h"

#include "capture/DeviceWalk.h"
#include "framework/AnsiText.h"

namespace lumetra {

namespace {
constexpr DWORD AnyClassContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD InProcessContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

HRESULT BindFilter(IMoniker* moniker, ComPtr<IBaseFilter>& filter) {
    const HRESULT hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                             reinterpret_cast<void**>(filter.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(hr) && filter)
        return hr;
    filter.Reset();
    return FAILED(hr) ? hr : E_NOINTERFACE;
}
} // namespace

std::string FriendlyNameToAnsi(const wchar_t* friendlyName) {
    return friendlyName ? WideToAnsi(friendlyName) : std::string();
}

CaptureDeviceList ListCaptureDevices() {
    CaptureDeviceList list;
    const DeviceWalkResult walked = WalkVideoInputDevices(
        InProcessContext, [&list](IMoniker* moniker, IPropertyBag* properties, const wchar_t* friendlyName) {
            CaptureDevice device;
            device.name = FriendlyNameToAnsi(friendlyName);
            ComPtr<IBaseFilter> filter;
            device.bindResult = BindFilter(moniker, filter);
            filter.Reset(); // a session binds its device anew
            CLSID classId{};
            device.hasClassId = ReadDeviceClassId(properties, classId);
            list.devices.push_back(std::move(device));
            return true;
        });
    list.enumeratorResult = walked.enumerator;
    list.categoryResult = walked.category;
    return list;
}

ComPtr<IBaseFilter> FindCaptureFilter(const char* name) {
    ComPtr<IBaseFilter> filter;
    if (name == nullptr)
        return filter;
    WalkVideoInputDevices(AnyClassContext,
                          [name, &filter](IMoniker* moniker, IPropertyBag*, const wchar_t* friendlyName) {
                              if (FriendlyNameToAnsi(friendlyName) != name)
                                  return true;
                              // A later device of the same name may still bind.
                              return FAILED(BindFilter(moniker, filter));
                          });
    return filter;
}

bool IsCaptureDeviceListed(const char* name) {
    bool listed = false;
    if (name != nullptr)
        WalkVideoInputDevices(AnyClassContext,
                              [name, &listed](IMoniker*, IPropertyBag*, const wchar_t* friendlyName) {
                                  listed = FriendlyNameToAnsi(friendlyName) == name;
                                  return !listed;
                              });
    return listed;
}

} // namespace lumetra

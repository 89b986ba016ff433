// Registration of the COM class and of camera names in the video input device category.

#include "TestCamCommon.h"
#include "capture/DeviceWalk.h"
#include "framework/Handles.h"

#include <string>
#include <vector>

namespace lumetra::testcam {

namespace {

std::wstring ClassKeyPath() {
    wchar_t classId[64] = {};
    StringFromGUID2(kClsidTestCamera, classId, static_cast<int>(std::size(classId)));
    return std::wstring(L"CLSID\\") + classId;
}

HRESULT SetStringValue(HKEY key, const wchar_t* name, const std::wstring& value) {
    const LONG result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(result);
}

// HKCR\CLSID\{class}: the in-process server at this DLL's current path.
HRESULT RegisterComClass() {
    std::wstring modulePath(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(moduleHandle, modulePath.data(), static_cast<DWORD>(modulePath.size()));
        if (length == 0)
            return HRESULT_FROM_WIN32(GetLastError());
        if (length < modulePath.size()) {
            modulePath.resize(length);
            break;
        }
        modulePath.resize(modulePath.size() * 2);
    }
    UniqueRegKey classKey, serverKey;
    LONG result = RegCreateKeyExW(HKEY_CLASSES_ROOT, ClassKeyPath().c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, classKey.put(), nullptr);
    if (result != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(result);
    HRESULT hr = SetStringValue(classKey.get(), nullptr, kDefaultCameraName);
    if (FAILED(hr))
        return hr;
    result = RegCreateKeyExW(classKey.get(), L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                             serverKey.put(), nullptr);
    if (result != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(result);
    hr = SetStringValue(serverKey.get(), nullptr, modulePath);
    if (SUCCEEDED(hr))
        hr = SetStringValue(serverKey.get(), L"ThreadingModel", L"Both");
    return hr;
}

HRESULT UnregisterComClass() {
    const LONG result = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKeyPath().c_str());
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(result);
}

HRESULT CreateFilterMapper(ComPtr<IFilterMapper2>& mapper) {
    return CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper));
}

// Friendly names of every device in the category that is one of ours.
HRESULT ListOurCameras(std::vector<std::wstring>& names) {
    const DeviceWalkResult walked = WalkVideoInputDevices(
        CLSCTX_INPROC_SERVER, [&names](IMoniker*, IPropertyBag* properties, const wchar_t* friendlyName) {
            CLSID classId{};
            if (ReadDeviceClassId(properties, classId) && classId == kClsidTestCamera)
                names.emplace_back(friendlyName);
            return true;
        });
    // S_FALSE: the category is empty.
    return FAILED(walked.enumerator) ? walked.enumerator : FAILED(walked.category) ? walked.category : S_OK;
}

} // namespace

} // namespace lumetra::testcam

using namespace lumetra;
using namespace lumetra::testcam;

// Adds a camera of this name to the video input device category (and makes sure the COM class
// points at this DLL). Registering a name again replaces the earlier entry.
extern "C" HRESULT WINAPI TestCamRegister(const wchar_t* friendlyName) {
    if (!friendlyName || !*friendlyName)
        return E_INVALIDARG;
    ComApartment com(COINIT_MULTITHREADED);
    if (!com.usable())
        return com.result();
    HRESULT hr = RegisterComClass();
    if (FAILED(hr))
        return hr;
    ComPtr<IFilterMapper2> mapper;
    hr = CreateFilterMapper(mapper);
    if (FAILED(hr))
        return hr;
    const REGPINTYPES pinType = {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24};
    REGFILTERPINS2 pin{};
    pin.dwFlags = REG_PINFLAG_B_OUTPUT;
    pin.cInstances = 1;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &pinType;
    pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
    REGFILTER2 filter{};
    filter.dwVersion = 2;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins2 = 1;
    filter.rgPins2 = &pin;
    return mapper->RegisterFilter(kClsidTestCamera, friendlyName, nullptr, &CLSID_VideoInputDeviceCategory,
                                  friendlyName, &filter);
}

// Removes the camera of this name from the category.
extern "C" HRESULT WINAPI TestCamUnregister(const wchar_t* friendlyName) {
    if (!friendlyName || !*friendlyName)
        return E_INVALIDARG;
    ComApartment com(COINIT_MULTITHREADED);
    if (!com.usable())
        return com.result();
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CreateFilterMapper(mapper);
    if (FAILED(hr))
        return hr;
    return mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, friendlyName, kClsidTestCamera);
}

// Removes every camera of this DLL's class from the category.
extern "C" HRESULT WINAPI TestCamUnregisterAll() {
    ComApartment com(COINIT_MULTITHREADED);
    if (!com.usable())
        return com.result();
    std::vector<std::wstring> names;
    HRESULT hr = ListOurCameras(names);
    if (FAILED(hr))
        return hr;
    ComPtr<IFilterMapper2> mapper;
    hr = CreateFilterMapper(mapper);
    if (FAILED(hr))
        return hr;
    HRESULT firstFailure = S_OK;
    for (const std::wstring& name : names) {
        const HRESULT removed =
            mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, name.c_str(), kClsidTestCamera);
        if (FAILED(removed) && SUCCEEDED(firstFailure))
            firstFailure = removed;
    }
    return firstFailure;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    return TestCamRegister(kDefaultCameraName);
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    const HRESULT hr = TestCamUnregisterAll();
    const HRESULT classRemoved = UnregisterComClass();
    return FAILED(hr) ? hr : classRemoved;
}

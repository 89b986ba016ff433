// Unplugging and replugging a camera: its name leaves the video input category, and a named event
// tells every running filter of that name, in any process of the session, that the device is gone.

#include "TestCamCommon.h"
#include "framework/Handles.h"

#include <map>
#include <mutex>

namespace lumetra::testcam {

std::wstring UnplugEventName(const std::wstring& cameraName) {
    return CameraEventName(L"Unplugged", cameraName);
}

std::wstring CameraEventName(const wchar_t* kind, const std::wstring& cameraName) {
    // Kernel object names may not hold a backslash; escape it (and the escape character) so that
    // no two camera names share an event.
    std::wstring name = std::wstring(L"Local\\LumetraTestCam") + kind + L".";
    for (const wchar_t c : cameraName) {
        if (c == L'%')
            name += L"%25";
        else if (c == L'\\')
            name += L"%5C";
        else
            name += c;
    }
    return name;
}

// Once something is unplugged, unloading the DLL must not close the events and silently plug the
// cameras back in.
void PinModule() {
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinModule), &pinned);
}

namespace {

// The unplug events this process set, held open until replug: the state lives as long as a handle.
std::mutex unplugLock;
std::map<std::wstring, UniqueHandle> heldUnplugEvents;

} // namespace

} // namespace lumetra::testcam

using namespace lumetra;
using namespace lumetra::testcam;

// Removes the camera of this name from the category and makes every running filter of that name
// stop delivering and report EC_DEVICE_LOST. S_FALSE when it is unplugged already.
extern "C" HRESULT WINAPI TestCamUnplug(const wchar_t* friendlyName) {
    if (!friendlyName || !*friendlyName)
        return E_INVALIDARG;
    std::lock_guard guard(unplugLock);
    if (heldUnplugEvents.count(friendlyName))
        return S_FALSE;
    // The event first: once the name has left the category, setting it must not be able to fail.
    UniqueHandle unplugged(CreateEventW(nullptr, TRUE, FALSE, UnplugEventName(friendlyName).c_str()));
    if (!unplugged)
        return HRESULT_FROM_WIN32(GetLastError());
    // Unplugged by another process already: hold the state here too.
    const bool alreadyUnplugged = WaitForSingleObject(unplugged.get(), 0) == WAIT_OBJECT_0;
    const HRESULT hr = alreadyUnplugged ? S_FALSE : TestCamUnregister(friendlyName);
    if (FAILED(hr))
        return hr;
    SetEvent(unplugged.get());
    PinModule();
    heldUnplugEvents.emplace(friendlyName, std::move(unplugged));
    return hr;
}

// Clears the unplugged state of this name (whichever process set it) and registers the camera
// again. Filters that saw the unplug stay silent; a new graph on the camera streams.
extern "C" HRESULT WINAPI TestCamReplug(const wchar_t* friendlyName) {
    if (!friendlyName || !*friendlyName)
        return E_INVALIDARG;
    std::lock_guard guard(unplugLock);
    UniqueHandle unplugged(CreateEventW(nullptr, TRUE, FALSE, UnplugEventName(friendlyName).c_str()));
    if (!unplugged)
        return HRESULT_FROM_WIN32(GetLastError());
    ResetEvent(unplugged.get());
    heldUnplugEvents.erase(friendlyName);
    return TestCamRegister(friendlyName);
}

#pragma once
// Shared pieces of the test-pattern camera DLL: module reference counts, the class id and
// media type helpers.

#include <dshow.h>

#include "capture/StreamConfigCaps.h"

#include <cguid.h>

#include <atomic>
#include <string>

namespace lumetra::testcam {

// {9358A95A-CD75-45CD-A11A-7E432904A867}
inline constexpr GUID kClsidTestCamera = {
    0x9358a95a, 0xcd75, 0x45cd, {0xa1, 0x1a, 0x7e, 0x43, 0x29, 0x04, 0xa8, 0x67}};
inline constexpr wchar_t kDefaultCameraName[] = L"Lumetra Test Camera";

// Live COM objects and server locks; DllCanUnloadNow answers from these.
extern std::atomic<long> liveObjectCount;
extern std::atomic<long> serverLockCount;
extern HMODULE moduleHandle;

// Name of the manual-reset event that is set while the camera of this name is unplugged. Every
// process of the session sees the same event, so a filter learns of an unplug made elsewhere.
std::wstring UnplugEventName(const std::wstring& cameraName);
// Name of one such per-camera event: Local\LumetraTestCam<kind>.<camera name, escaped>.
std::wstring CameraEventName(const wchar_t* kind, const std::wstring& cameraName);
// Keeps the DLL loaded for the rest of the process, so that the events it holds stay set.
void PinModule();

// Counts an object of this DLL for as long as it lives.
class ModuleObject {
  public:
    ModuleObject() { ++liveObjectCount; }
    ~ModuleObject() { --liveObjectCount; }
    ModuleObject(const ModuleObject&) = delete;
    ModuleObject& operator=(const ModuleObject&) = delete;
};

// GetStreamCaps fills the SDK's structure, which MinGW's headers lack.
using lumetra::VIDEO_STREAM_CONFIG_CAPS;

inline constexpr REFERENCE_TIME kUnitsPerSecond = 10'000'000;

// Bytes in one bottom-up RGB24 row, padded to 4 bytes.
inline int Rgb24Stride(int width) {
    return (width * 3 + 3) & ~3;
}

// AM_MEDIA_TYPE handling as the SDK's helpers do it: the format block lives in CoTaskMem.
void FreeMediaType(AM_MEDIA_TYPE& type);
void DeleteMediaType(AM_MEDIA_TYPE* type);
HRESULT CopyMediaType(AM_MEDIA_TYPE& target, const AM_MEDIA_TYPE& source);
AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& source);

// An RGB24 VIDEOINFOHEADER type, bottom-up, at the given frame interval (100 ns units).
HRESULT MakeVideoType(AM_MEDIA_TYPE& type, int width, int height, REFERENCE_TIME frameInterval);

// An AM_MEDIA_TYPE owned by value, its format block freed on destruction.
class MediaType {
  public:
    MediaType() = default;
    ~MediaType() { FreeMediaType(type_); }
    MediaType(const MediaType& other) { CopyMediaType(type_, other.type_); }
    MediaType& operator=(const MediaType& other) {
        if (this != &other) {
            FreeMediaType(type_);
            CopyMediaType(type_, other.type_);
        }
        return *this;
    }
    AM_MEDIA_TYPE& get() { return type_; }
    const AM_MEDIA_TYPE& get() const { return type_; }
    bool empty() const { return type_.majortype == GUID_NULL; }
    void clear() { FreeMediaType(type_); }
    const VIDEOINFOHEADER* videoInfo() const {
        return type_.formattype == FORMAT_VideoInfo && type_.cbFormat >= sizeof(VIDEOINFOHEADER)
                   ? reinterpret_cast<const VIDEOINFOHEADER*>(type_.pbFormat)
                   : nullptr;
    }

  private:
    AM_MEDIA_TYPE type_{};
};

} // namespace lumetra::testcam

// The DLL's own exports, also called inside it.
extern "C" HRESULT WINAPI TestCamRegister(const wchar_t* friendlyName);
extern "C" HRESULT WINAPI TestCamUnregister(const wchar_t* friendlyName);

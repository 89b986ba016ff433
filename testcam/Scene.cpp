// Scenes for tests: a still picture, a block that moves in it, light that fades, no frames at all.
// Each flag is a named event per camera, so a test changes what a camera shows inside lumetra.exe
// as well.

#include "Scene.h"

#include "TestCamCommon.h"
#include "TestPattern.h"

#include <map>
#include <mutex>

namespace lumetra::testcam {

namespace {

struct SceneFlag {
    DWORD flag;
    const wchar_t* kind;
};
constexpr SceneFlag kSceneFlags[] = {{kSceneStill, L"Still"},
                                     {kSceneMoving, L"Moving"},
                                     {kSceneDimming, L"Dimming"},
                                     {kSceneSilent, L"Silent"}};

// The events this process set, held open while set: an event lives only as long as a handle to it.
std::mutex sceneLock;
std::map<std::wstring, UniqueHandle> heldSceneEvents;

} // namespace

void SceneControl::Open(const std::wstring& cameraName) {
    for (size_t i = 0; i < std::size(kSceneFlags); ++i)
        events_[i].reset(
            CreateEventW(nullptr, TRUE, FALSE, CameraEventName(kSceneFlags[i].kind, cameraName).c_str()));
}

DWORD SceneControl::Current() const {
    DWORD scene = 0;
    for (size_t i = 0; i < std::size(kSceneFlags); ++i)
        if (events_[i] && WaitForSingleObject(events_[i].get(), 0) == WAIT_OBJECT_0)
            scene |= kSceneFlags[i].flag;
    return scene;
}

} // namespace lumetra::testcam

using namespace lumetra;
using namespace lumetra::testcam;

// Sets the scene of every running and future camera of this name, in any process of the session,
// to the kScene flags of TestPattern.h; 0 gives the moving test pattern back. A flag set stays set
// while this process runs.
extern "C" HRESULT WINAPI TestCamSetScene(const wchar_t* friendlyName, DWORD scene) {
    if (!friendlyName || !*friendlyName)
        return E_INVALIDARG;
    std::lock_guard guard(sceneLock);
    for (const SceneFlag& sceneFlag : kSceneFlags) {
        const std::wstring name = CameraEventName(sceneFlag.kind, friendlyName);
        UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
        if (!event)
            return HRESULT_FROM_WIN32(GetLastError());
        if (scene & sceneFlag.flag) {
            SetEvent(event.get());
            heldSceneEvents[name] = std::move(event);
        } else {
            ResetEvent(event.get());
            heldSceneEvents.erase(name);
        }
    }
    if (scene != 0)
        PinModule();
    return S_OK;
}

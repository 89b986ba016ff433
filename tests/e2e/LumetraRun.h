#pragma once
// One run of lumetra.exe with a user at it: starts the program, opens cameras from the camera
// list, fills in CAM ACTION and closes windows as a user would.

#include "Automation.h"

#include <string>
#include <vector>

namespace lumetra::e2e {

// What a user types into CAM ACTION. Empty texts are left as they are.
struct CameraSetup {
    std::string directory;
    std::string fileName;
    std::string text;
    std::string watermarkPath;
    int watermarkX = 0, watermarkY = 0, watermarkWidth = 0, watermarkHeight = 0;
    int textX = 0, textY = 0;
    std::string ftpServer, ftpPath, ftpUser, ftpPassword;
    std::string emailAddresses;
    bool useWatermark = false;
    bool mirror = false;
};

// Windows paths of the copy of lumetra.exe next to the recording MAPI32.DLL, and of the test
// folders.
std::string TestedProgram();
// Z:\tmp\lumetra-e2e\<name>, made fresh.
std::string FreshWorkFolder(const std::string& name);

class LumetraRun {
  public:
    LumetraRun() = default;
    ~LumetraRun();
    LumetraRun(const LumetraRun&) = delete;
    LumetraRun& operator=(const LumetraRun&) = delete;

    // Starts the program and waits for its camera list. `mailLog` names the recording mail
    // provider's log (empty: the provider's default).
    bool Start(const std::string& exePath, const std::string& mailLog = {});
    LumetraProcess& Process() { return process_; }
    DWORD Id() const { return process_.Id(); }
    HWND CameraList() const { return cameraList_; }

    // Opens a camera: selects it in the list when listed, else types its name, presses Open Cam
    // and waits for its Live View and CAM ACTION. Message boxes shown meanwhile are answered and
    // kept in `boxes`.
    CameraWindows Open(const std::string& name, std::vector<MessageBoxSeen>* boxes = nullptr);
    // Types the setup into the camera's CAM ACTION; false when a control did not take it.
    bool Configure(HWND camAction, const CameraSetup& setup);
    // Closes a window with its close box and waits until both windows of the camera are gone.
    bool CloseWith(HWND window, const CameraWindows& camera);
    // "Exit" on the camera list; true when the process then ends.
    bool Exit(DWORD timeoutMs = 15000);

  private:
    LumetraProcess process_;
    HWND cameraList_ = nullptr;
};

// Waits until `path` holds an image GDI+ can read (it is written after the button returns).
bool WaitForImage(const std::string& path, DWORD timeoutMs = 8000);
// Waits until `done` holds; true when it did within the time.
template <typename Predicate> bool WaitUntil(Predicate done, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start >= timeoutMs)
            return false;
        ::Sleep(50);
    }
    return true;
}

} // namespace lumetra::e2e

#include "app/CameraApp.h"

#include "app/CameraListDialog.h"
#include "delivery/BackgroundJob.h"
#include "framework/EventLog.h"
#include "framework/GdiplusSession.h"

#include <commctrl.h>

#include <string>

namespace lumetra {

CameraApp::CameraApp() : Application("Lumetra") {}

bool CameraApp::InitInstance() {
    ::InitCommonControls();
    Application::InitInstance();
    SetRegistryKey("Local AppWizard-Generated Applications");

    CameraListDialog dialog(nullptr);

    // Version 1, no callback, background thread, codecs. Without GDI+ no image can be saved or
    // shown: the program says so and ends instead of running without them.
    const GdiplusSession gdiplus;
    if (!gdiplus.started()) {
        const std::string text = "GDI+ could not be started (status " +
                                 std::to_string(static_cast<int>(gdiplus.status())) +
                                 "), so Lumetra cannot save or show images. Lumetra ends.";
        LogEvent("", text);
        FlushEventLog();
        ::MessageBoxA(nullptr, text.c_str(), "Lumetra", MB_OK | MB_ICONERROR);
        return false;
    }

    LogEvent("", "Lumetra started");
    dialog.DoModal();
    SetMainWindow(nullptr); // the window is gone
    // Uploads still running are interrupted: no thread of ours outlives the program.
    StopBackgroundJobs();
    LogEvent("", "Lumetra ended");
    FlushEventLog();
    return false;
}

void CameraApp::OnHelp() {
    ::MessageBoxA(nullptr,
                  "Lumetra watches your cameras.\n\n"
                  "Pick a camera in the list (or type its name) and press Open Cam. Each camera opens a "
                  "Live View and a CAM ACTION window: set a folder there and press Save Current Image, or "
                  "tick Save Auto with a number of seconds to save images by themselves. FTP and Email "
                  "send the last saved image; their Auto boxes send it on a schedule.\n\n"
                  "Settings are kept per camera and saved when its windows close.",
                  "Lumetra Help", MB_OK | MB_ICONINFORMATION);
}

} // namespace lumetra

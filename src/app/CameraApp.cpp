#include "app/CameraApp.h"

#include "app/CameraListDialog.h"
#include "delivery/BackgroundJob.h"
#include "framework/EventLog.h"

#include <commctrl.h>
#include <gdiplus.h>

namespace lumetra {

CameraApp::CameraApp() : Application("Lumetra") {}

bool CameraApp::InitInstance() {
    ::InitCommonControls();
    Application::InitInstance();
    SetRegistryKey("Local AppWizard-Generated Applications");

    CameraListDialog dialog(nullptr);

    Gdiplus::GdiplusStartupInput input; // version 1, no callback, background thread, codecs
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr);

    LogEvent("", "Lumetra started");
    dialog.DoModal();
    SetMainWindow(nullptr); // the window is gone
    // Uploads still running are interrupted: no thread of ours outlives the program.
    StopBackgroundJobs();
    LogEvent("", "Lumetra ended");
    FlushEventLog();

    Gdiplus::GdiplusShutdown(gdiplusToken);
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

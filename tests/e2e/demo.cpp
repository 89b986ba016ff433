// Headless demonstration: lumetra_demo <output folder> <path of lumetra.exe>
// Starts Lumetra, opens the first test camera, saves a few images with a text and a watermark into
// the output folder, writes screenshots of the camera list, the Live View and CAM ACTION there,
// and exits Lumetra through its Exit button.
#include "Evidence.h"
#include "LumetraRun.h"

#include <gdiplus.h>

#include <cstdio>
#include <string>

using namespace lumetra::e2e;

namespace {

constexpr char kPreferredCamera[] = "Lumetra Test Camera";

int Fail(const char* what) {
    std::fprintf(stderr, "lumetra_demo: %s\n", what);
    return 1;
}

// A watermark a user might pick: a framed badge with the program's name.
bool WriteBadge(const std::string& path) {
    const int width = 160, height = 48;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HDC dc = ::CreateCompatibleDC(nullptr);
    HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
    RECT all{0, 0, width, height};
    HBRUSH frame = ::CreateSolidBrush(RGB(255, 255, 255));
    HBRUSH fill = ::CreateSolidBrush(RGB(20, 90, 170));
    ::FillRect(dc, &all, frame);
    RECT inner{3, 3, width - 3, height - 3};
    ::FillRect(dc, &inner, fill);
    HFONT font = ::CreateFontA(-26, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY, 0,
                               "Tahoma");
    HGDIOBJ oldFont = ::SelectObject(dc, font);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(255, 255, 255));
    ::DrawTextA(dc, "LUMETRA", -1, &inner, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ::SelectObject(dc, oldFont);
    ::SelectObject(dc, oldBitmap);
    ::DeleteObject(font);
    ::DeleteObject(frame);
    ::DeleteObject(fill);
    ::DeleteDC(dc);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    const DWORD imageBytes = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
    file.bfSize = file.bfOffBits + imageBytes;
    FILE* out = std::fopen(path.c_str(), "wb");
    bool written = false;
    if (out) {
        written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                  std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                  std::fwrite(bits, imageBytes, 1, out) == 1;
        std::fclose(out);
    }
    ::DeleteObject(bitmap);
    return written;
}

void Place(HWND window, int x, int y) {
    ::SetWindowPos(window, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
}

// Brings the window to the top, lets it repaint, and captures it.
void Shoot(HWND window, const std::string& path) {
    ::SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::Sleep(700);
    if (SaveScreenshot(window, path))
        std::printf("  %s\n", path.c_str());
    else
        std::fprintf(stderr, "lumetra_demo: could not capture %s\n", path.c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return Fail("usage: lumetra_demo <output folder> <lumetra.exe>");
    std::string out = argv[1];
    while (!out.empty() && (out.back() == '\\' || out.back() == '/'))
        out.pop_back();
    const std::string program = argv[2];
    ::CreateDirectoryA(out.c_str(), nullptr);
    GdiplusSession gdiplus;

    LumetraRun run;
    if (!run.Start(program))
        return Fail("lumetra.exe did not show its camera list");
    AnswerAllBoxes(run.Id(), 300);
    HWND list = run.CameraList();
    Place(list, 20, 20);

    const std::vector<std::string> cameras = ListedCameras(list);
    std::string camera;
    for (const std::string& name : cameras)
        if (name == kPreferredCamera || camera.empty())
            camera = name;
    if (camera.empty() || camera == "<< No entries >>")
        return Fail("no camera is listed: register lumetra_testcam.dll (scripts/prepare-prefix.sh)");

    // The text needs a font; the one chosen with "choose font" is kept with the camera's settings.
    if (!StoredText(camera, "CAM")) {
        const LOGFONTA font = TextFont(22);
        WriteCameraValue(camera, "LFN", REG_BINARY, &font, sizeof font);
    }
    SelectCamera(list, camera);
    std::printf("Lumetra demo: camera \"%s\", output in %s\n", camera.c_str(), out.c_str());
    Shoot(list, out + "\\camera-list.png");

    const CameraWindows windows = run.Open(camera);
    if (!windows.liveView || !windows.camAction)
        return Fail("the camera's windows did not open");
    Place(windows.liveView, 20, 260);
    Place(windows.camAction, 880, 20);

    const std::string badge = out + "\\watermark.bmp";
    WriteBadge(badge);
    CameraSetup setup;
    setup.directory = out;
    setup.fileName = "lumetra-demo";
    setup.text = "Lumetra demo - front door";
    setup.textX = 150;
    setup.textY = 196;
    // The drawn rectangle's size counts the offset too: a small offset keeps the badge's shape.
    setup.watermarkPath = badge;
    setup.watermarkX = 8;
    setup.watermarkY = 8;
    setup.useWatermark = true;
    setup.mirror = true; // for lumetra-web, when scripts/demo.sh runs it beside
    if (!run.Configure(windows.camAction, setup))
        std::fprintf(stderr, "lumetra_demo: a setting did not take\n");
    SetChecked(windows.camAction, ids::AppendTime, true);

    std::printf("Saved images:\n");
    std::string lastSaved;
    for (int i = 0; i < 3; ++i) {
        Press(windows.camAction, ids::SaveCurrentImage);
        ::Sleep(1100); // one file per second: the time is appended in whole seconds
    }
    for (const std::string& name : FilesIn(out, "lumetra-demo*.jpg")) {
        std::printf("  %s\\%s\n", out.c_str(), name.c_str());
        lastSaved = out + "\\" + name;
    }
    if (lastSaved.empty())
        std::fprintf(stderr, "lumetra_demo: no image was saved\n");

    std::printf("Screenshots:\n");
    Shoot(windows.liveView, out + "\\live-view.png");
    Shoot(windows.camAction, out + "\\cam-action.png");
    Shoot(nullptr, out + "\\desktop.png");

    AnswerAllBoxes(run.Id(), 200);
    if (!run.Exit())
        return Fail("Lumetra did not end after Exit");
    std::printf("Lumetra ended with exit code %lu.\n", run.Process().ExitCode());
    return lastSaved.empty() ? 1 : 0;
}

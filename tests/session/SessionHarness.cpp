#include "SessionHarness.h"

#include "WindowDriver.h"
#include "app/CameraApp.h"
#include "delivery/CameraRoster.h"
#include "delivery/HttpMirror.h"
#include "framework/EventLog.h"
#include "session/CameraSchedule.h"

#include <commctrl.h>
#include <gdiplus.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace lumetra::test {

namespace {
CameraApp* program = nullptr;
ULONG_PTR gdiplusToken = 0;

bool JpegEncoder(CLSID& clsid) {
    UINT count = 0, size = 0;
    Gdiplus::DllExports::GdipGetImageEncodersSize(&count, &size);
    std::vector<BYTE> buffer(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (size == 0 || Gdiplus::DllExports::GdipGetImageEncoders(count, size, codecs) != Gdiplus::Ok)
        return false;
    for (UINT i = 0; i < count; ++i)
        if (std::wstring(codecs[i].MimeType) == L"image/jpeg") {
            clsid = codecs[i].Clsid;
            return true;
        }
    return false;
}

std::wstring Wide(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(length, 1)), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

} // namespace

void StartProgramLibraries() {
    if (program)
        return;
    program = new CameraApp;
    ::InitCommonControls();
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr);
}

MainWindow::MainWindow(bool keepTimer) {
    dialog_.Create(nullptr);
    ::ShowWindow(hwnd(), SW_SHOW);
    if (!keepTimer)
        ::KillTimer(hwnd(), camera_list_ids::CameraTimerId);
}

MainWindow::~MainWindow() {
    if (!dialog_.OpenSessions().empty())
        Exit();
    PumpMessages(50); // what the closing left queued is handled; no state tells when that is done
}

void MainWindow::Tick() {
    // What the camera timer does, with the test's own timing.
    ::SendMessageA(hwnd(), WM_TIMER, camera_list_ids::CameraTimerId, 0);
}

LiveView* MainWindow::Open(const std::string& name, bool expectErrorBox) {
    const std::vector<LiveView*> opened = dialog_.OpenSessions();
    const std::set<LiveView*> before(opened.begin(), opened.end());
    ::SendMessageA(::GetDlgItem(hwnd(), camera_list_ids::CamEdit), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(name.c_str()));
    {
        // The graph's "Error!" box runs its loop inside the press; another thread answers it.
        Driver answer([expectErrorBox] {
            if (expectErrorBox)
                AnswerMessageBox("Error!", 10000);
        });
        ::SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(camera_list_ids::OpenCam, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(hwnd(), camera_list_ids::OpenCam)));
        PumpUntil([&] { return true; }, 0);
    }
    for (LiveView* session : dialog_.OpenSessions())
        if (!before.count(session))
            return session;
    return nullptr;
}

void MainWindow::Exit() {
    ::SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(hwnd(), IDOK)));
    PumpMessages(20); // as in the destructor: the sessions themselves close within the command
}

void SetEdit(CamActionDialog* action, int id, const std::string& text) {
    ::SendMessageA(action->Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void SetCheck(CamActionDialog* action, int id, bool checked) {
    HWND box = action->Item(id);
    ::SendMessageA(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    ::SendMessageA(action->GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(box));
}

void PressButton(CamActionDialog* action, int id) {
    ::SendMessageA(action->GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(action->Item(id)));
}

bool ChooseInList(CamActionDialog* action, int id, const std::string& text) {
    HWND list = action->Item(id);
    const LRESULT index = ::SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(text.c_str()));
    if (index == CB_ERR)
        return false;
    ::SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ::SendMessageA(action->GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list));
    return true;
}

std::string ShownInList(CamActionDialog* action, int id) {
    char text[256] = {};
    ::GetWindowTextA(action->Item(id), text, sizeof text);
    return text;
}

std::optional<std::pair<UINT, UINT>> ImageSizeOf(const std::string& path) {
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromFile(Wide(path).c_str(), &bitmap) != Gdiplus::Ok)
        return std::nullopt;
    UINT width = 0, height = 0;
    Gdiplus::DllExports::GdipGetImageWidth(bitmap, &width);
    Gdiplus::DllExports::GdipGetImageHeight(bitmap, &height);
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
    return std::pair{width, height};
}

bool IsJpeg(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BYTE head[3] = {};
    DWORD read = 0;
    ::ReadFile(file, head, sizeof head, &read, nullptr);
    ::CloseHandle(file);
    return read == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

bool ImagePixel(const std::string& path, int x, int y, COLORREF& colour) {
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromFile(Wide(path).c_str(), &bitmap) != Gdiplus::Ok)
        return false;
    Gdiplus::ARGB argb = 0;
    const bool read = Gdiplus::DllExports::GdipBitmapGetPixel(bitmap, x, y, &argb) == Gdiplus::Ok;
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
    colour = RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
    return read;
}

bool WriteSolidJpeg(const std::string& path, int width, int height, COLORREF colour) {
    CLSID encoder{};
    if (!JpegEncoder(encoder))
        return false;
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat24bppRGB, nullptr,
                                                       &bitmap) != Gdiplus::Ok)
        return false;
    Gdiplus::GpGraphics* graphics = nullptr;
    Gdiplus::DllExports::GdipGetImageGraphicsContext(bitmap, &graphics);
    Gdiplus::DllExports::GdipGraphicsClear(graphics, 0xFF000000u | (GetRValue(colour) << 16) |
                                                         (GetGValue(colour) << 8) | GetBValue(colour));
    Gdiplus::DllExports::GdipDeleteGraphics(graphics);
    const bool saved = Gdiplus::DllExports::GdipSaveImageToFile(bitmap, Wide(path).c_str(), &encoder,
                                                                nullptr) == Gdiplus::Ok;
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
    return saved;
}

COLORREF ClientPixel(HWND window, int x, int y) {
    HDC dc = ::GetDC(window);
    const COLORREF colour = ::GetPixel(dc, x, y);
    ::ReleaseDC(window, dc);
    return colour;
}

std::string MirrorBlockText() {
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, kMirrorBlockName);
    if (!mapping)
        return {};
    const auto* view =
        static_cast<const wchar_t*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kMirrorBlockSize));
    std::string text;
    if (view) {
        const size_t length = wcsnlen(view, kMirrorBlockSize / sizeof(wchar_t));
        const int bytes =
            ::WideCharToMultiByte(CP_ACP, 0, view, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        text.resize(static_cast<size_t>(bytes));
        ::WideCharToMultiByte(CP_ACP, 0, view, static_cast<int>(length), text.data(), bytes, nullptr,
                              nullptr);
        ::UnmapViewOfFile(view);
    }
    ::CloseHandle(mapping);
    return text;
}

nlohmann::json CamerasOnWeb() {
    UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, kCameraRosterName));
    UniqueMappedView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, kCameraRosterSize)
                                  : nullptr);
    if (!view)
        return nullptr;
    const auto* header = static_cast<const CameraRosterHeader*>(view.get());
    if (header->magic != kCameraRosterMagic || header->sequence % 2 != 0 ||
        header->length > kCameraRosterTextLimit)
        return nullptr;
    const std::string text(static_cast<const char*>(view.get()) + sizeof *header, header->length);
    return nlohmann::json::parse(text, nullptr, false).value("cameras", nlohmann::json());
}

} // namespace lumetra::test

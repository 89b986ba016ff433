#include "app/CameraListDialog.h"

#include "capture/CameraSlots.h"
#include "capture/DeviceList.h"
#include "dialogs/AboutDialog.h"
#include "framework/Application.h"
#include "framework/DataExchange.h"
#include "resources/resource.h"
#include "session/CameraSchedule.h"
#include "session/LiveView.h"
#include "settings/CameraSettings.h"
#include "settings/CamActionDialog.h"

#include <dbt.h>
#include <ks.h>
#include <ksmedia.h>

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <vector>

namespace lumetra {

using namespace camera_list_ids;

namespace {
constexpr const char* NoEntries = "<< No entries >>";

std::string ListText(HWND list, int index) {
    const LRESULT length = ::SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR)
        return {};
    // The length asked for an ANSI list may be more than the text has (never less): the copy counts.
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    const LRESULT copied =
        ::SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
    return std::string(buffer.data(), copied > 0 ? std::min<size_t>(copied, length) : 0);
}

void ShowErrorInfo(HWND owner, const char* text) {
    ::MessageBoxA(owner, text, "Error", MB_OK | MB_ICONINFORMATION);
}

// An arrival of a device interface of a class this window asked for; other broadcasts (volumes,
// ports) reach every top-level window unasked.
bool IsCaptureDeviceArrival(WPARAM event, LPARAM data) {
    if (event != DBT_DEVICEARRIVAL || data == 0)
        return false;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        header->dbch_size < offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name))
        return false;
    const GUID& deviceClass = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(data)->dbcc_classguid;
    return IsEqualGUID(deviceClass, KSCATEGORY_VIDEO) || IsEqualGUID(deviceClass, KSCATEGORY_CAPTURE);
}

// A window of Open Cam's pair deletes its object when it goes; an object whose window could not
// be created is deleted here.
void DiscardUnopened(Dialog* dialog) {
    if (dialog->GetSafeHwnd())
        dialog->DestroyWindow();
    else
        delete dialog;
}
} // namespace

CameraListDialog::CameraListDialog(HWND parent)
    : Dialog(IDD_CAMERA_LIST, parent),
      dialogIcon_(static_cast<HICON>(
          ::LoadImageA(ResourceInstance(), MAKEINTRESOURCEA(IDI_CAMERA), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE))) {
    SetNotifications({
        {CamEdit, EN_CHANGE, [] {}},
        {OpenCam, BN_CLICKED, [this] { OnOpenCam(); }},
        {DeviceList, LBN_SELCHANGE, [this] { OnDeviceSelChange(); }},
        {DeviceList, LBN_KILLFOCUS, [] {}},
        {About, BN_CLICKED, [this] { ShowAboutBox(); }},
    });
}

CameraListDialog::~CameraListDialog() {
    httpMirror.Close();
    cameraRoster_.Close();
    // The sessions named here are not touched; they own themselves.
    openSessions_.clear();
}

void CameraListDialog::DoDataExchange(DataExchange& exchange) {
    exchange.Text(CamEdit, camText_);
    exchange.Control(DeviceList, deviceList_);
}

void CameraListDialog::ShowFormattedMessage(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    text[sizeof text - 1] = '\0';
    ::MessageBoxA(nullptr, text, "DeriDez Message", MB_OK | MB_ICONERROR);
}

BOOL CameraListDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    HWND window = GetSafeHwnd();
    if (Application* app = Application::Current())
        app->SetMainWindow(window);

    char aboutText[128] = {};
    ::LoadStringA(ResourceInstance(), IDS_ABOUTBOX, aboutText, sizeof aboutText);
    if (HMENU systemMenu = ::GetSystemMenu(window, FALSE); systemMenu && aboutText[0]) {
        ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(systemMenu, MF_STRING, AboutMenuCommand, aboutText);
    }
    ::SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(dialogIcon_.get()));
    ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(dialogIcon_.get()));

    com_.emplace(COINIT_APARTMENTTHREADED);
    const CaptureDeviceList devices = ListCaptureDevices();
    if (FAILED(devices.enumeratorResult)) {
        com_.reset();
        return TRUE;
    }

    ResetCameraSlots();
    ::SendMessageA(deviceList_, LB_INITSTORAGE, 256, 256);

    const HRESULT hr = devices.categoryResult;
    if (hr == E_POINTER)
        ShowErrorInfo(window, "Null pointer");
    else if (hr == E_OUTOFMEMORY)
        ShowErrorInfo(window, "No memory");
    else if (hr == S_FALSE)
        ShowErrorInfo(window, "No such catagory");
    try {
        FillDeviceList(devices);
    } catch (...) {
    }

    timerId_ = ::SetTimer(window, CameraTimerId, CameraTimerPeriodMs, nullptr);
    WatchForVideoDevices();
    httpMirror.Open();
    cameraRoster_.Open();
    mirrorEnabled_ = false;
    return TRUE;
}

void CameraListDialog::WatchForVideoDevices() {
    // Without these (Wine does not announce every device) a lost camera still finds itself by
    // reading the device list from time to time.
    const std::array<GUID, 2> classes{KSCATEGORY_VIDEO, KSCATEGORY_CAPTURE};
    for (size_t i = 0; i < classes.size(); ++i) {
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = classes[i];
        deviceArrivals_[i].reset(
            ::RegisterDeviceNotificationA(GetSafeHwnd(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    }
}

void CameraListDialog::FillDeviceList(const CaptureDeviceList& devices) {
    ::SendMessageA(deviceList_, LB_RESETCONTENT, 0, 0);
    if (devices.categoryResult != S_OK) {
        ::SendMessageA(deviceList_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(NoEntries));
        return;
    }
    for (const CaptureDevice& device : devices.devices) {
        // Only tells the user early; a device that cannot be made is listed all the same.
        if (FAILED(device.bindResult))
            ShowFormattedMessage("Couldn't bind moniker to filter object!  hr=0x%x",
                                 static_cast<unsigned>(device.bindResult));
        if (device.hasClassId)
            ::SendMessageA(deviceList_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(device.name.c_str()));
    }
}

void CameraListDialog::OnDeviceSelChange() {
    UpdateData(true);
    const LRESULT selected = ::SendMessageA(deviceList_, LB_GETCURSEL, 0, 0);
    if (selected != LB_ERR)
        camText_ = ListText(deviceList_, static_cast<int>(selected));
    UpdateData(false);
}

void CameraListDialog::OnOpenCam() {
    UpdateData(true);
    const std::string name = camText_;
    // The name names the camera's settings key; one the registry would take for another key (or
    // refuse) opens nothing.
    if (!IsCameraKeyName(name)) {
        ::MessageBoxA(GetSafeHwnd(), CameraNameRefusal(name).c_str(), "Lumetra", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    // A slot first, so a refused open creates nothing.
    const int cameraIndex = AcquireFreeSlot();
    if (cameraIndex < 0) {
        ::MessageBoxA(GetSafeHwnd(), "All 20 camera slots are in use.", "Lumetra",
                      MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    auto* session = new LiveView(this);
    auto* actionDialog = new CamActionDialog(this);
    if (!session->GetSafeHwnd() || !actionDialog->GetSafeHwnd()) {
        // Not linked yet: each goes alone, nothing is saved, and the slot is free again.
        DiscardUnopened(session);
        DiscardUnopened(actionDialog);
        ReleaseSlot(cameraIndex);
        return;
    }
    actionDialog->SetSession(session);
    session->SetActionDialog(actionDialog);

    const int count = static_cast<int>(::SendMessageA(deviceList_, LB_GETCOUNT, 0, 0));
    bool isNew = true;
    for (int i = 0; i < count; ++i)
        if (ListText(deviceList_, i) == name)
            isNew = false;

    session->AssignSlot(cameraIndex);
    actionDialog->SetCameraIndex(cameraIndex);
    // The settings first: the graph is built at the camera's stored picture size.
    actionDialog->SetCameraName(name);
    session->StartSession(name);
    ::ShowWindow(session->GetSafeHwnd(), SW_SHOW);
    ::ShowWindow(actionDialog->GetSafeHwnd(), SW_SHOW);

    if (isNew) {
        ::SendMessageA(deviceList_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(camText_.c_str()));
        UpdateData(false);
    }
}

void CameraListDialog::MirrorImagePath(const std::string& path) {
    httpMirror.MirrorImagePath(mirrorEnabled_, path);
}

void CameraListDialog::PublishCamerasToWeb() {
    std::vector<PublishedCamera> cameras;
    for (const LiveView* session : OpenSessions())
        if (std::optional<PublishedCamera> camera = session->WebPublication())
            cameras.push_back(std::move(*camera));
    // In the order the owner sees them in the list, whichever opened first.
    std::sort(cameras.begin(), cameras.end(),
              [](const PublishedCamera& a, const PublishedCamera& b) { return a.name < b.name; });
    cameraRoster_.Publish(cameras);
}

void CameraListDialog::ShowAboutBox() {
    AboutDialog about;
    about.DoModal();
}

void CameraListDialog::StopCameraTimer() {
    if (timerId_) {
        ::KillTimer(GetSafeHwnd(), timerId_);
        timerId_ = 0;
    }
}

void CameraListDialog::CloseAllSessions() {
    // Each close removes the session from the set; walk a copy.
    for (LiveView* session : OpenSessions())
        if (HasSession(session))
            session->CloseFromOwner();
}

void CameraListDialog::OnOK() {
    StopCameraTimer();
    CloseAllSessions();
    Dialog::OnOK();
}

void CameraListDialog::OnCancel() {
    StopCameraTimer();
    CloseAllSessions();
    Dialog::OnCancel();
}

bool CameraListDialog::OnPaint() {
    HWND window = GetSafeHwnd();
    if (!::IsIconic(window))
        return false;
    const PaintDC paint(window);
    HDC dc = paint.get();
    ::SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(window, &client);
    const int iconWidth = ::GetSystemMetrics(SM_CXICON);
    const int iconHeight = ::GetSystemMetrics(SM_CYICON);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc, x, y, dialogIcon_.get());
    return true;
}

bool CameraListDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == AboutMenuCommand) {
            ShowAboutBox();
            result = 0;
            return true;
        }
        return false;
    case WM_DESTROY:
        ::WinHelpA(GetSafeHwnd(), nullptr, HELP_QUIT, 0);
        for (UniqueDeviceNotification& arrivals : deviceArrivals_)
            arrivals.reset();
        return false;
    case WM_DEVICECHANGE:
        if (!IsCaptureDeviceArrival(wParam, lParam))
            return false;
        TellDeviceArrived(*this);
        result = TRUE;
        return true;
    case WM_TIMER:
        if (wParam != CameraTimerId)
            return false;
        TickOpenSessions(*this);
        PublishCamerasToWeb();
        result = 0;
        return true;
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(dialogIcon_.get());
        return true;
    default:
        (void)lParam;
        return false;
    }
}

} // namespace lumetra

#include "session/camview.h"

#include "app/CameraListDialog.h"
#include "capture/CameraSlots.h"
#include "dialogs/imageview.h"
#include "framework/Application.h"
#include "framework/DataExchange.h"
#include "resources/resource.h"
#include "settings/ccamaction.h"

namespace lumetra {

using namespace live_view_ids;

namespace {
// How long an upload or mail waits for the image it is about to send.
constexpr DWORD RequestedImageWaitMs = 2000;
} // namespace

camview::camview(CameraListDialog* ownerDialog)
    : Dialog(IDD_LIVE_VIEW),
      icon_(static_cast<HICON>(
          ::LoadImageA(ResourceInstance(), MAKEINTRESOURCEA(IDI_CAMERA), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE))) {
    Create(nullptr);
    owner = ownerDialog;
}

camview::~camview() {
    if (slotHeld_) {
        ReleaseSlot(cameraIndex);
        slotHeld_ = false;
    }
    if (actionDialog_) {
        ccamaction* actionDialog = actionDialog_;
        actionDialog_ = nullptr;
        actionDialog->ClearSession();
        actionDialog->Cancel();
    }
    if (imageViewer) {
        imageview* viewer = imageViewer;
        imageViewer = nullptr;
        viewer->ClearSession();
        viewer->Cancel();
    }
}

BOOL camview::OnInitDialog() {
    Dialog::OnInitDialog();
    ::SendMessageA(GetSafeHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_.get()));
    ::SendMessageA(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_.get()));
    RECT client{}, edit{};
    ::GetClientRect(GetSafeHwnd(), &client);
    ::GetWindowRect(Item(CameraNameEdit), &edit);
    ::MapWindowPoints(nullptr, GetSafeHwnd(), reinterpret_cast<POINT*>(&edit), 2);
    nameEditBottomGap_ = client.bottom - edit.top;
    return TRUE;
}

// The name edit keeps its distance from the bottom of the client area, below the growing picture.
void camview::KeepNameEditAtBottom() {
    HWND window = GetSafeHwnd();
    HWND edit = Item(CameraNameEdit);
    if (!edit || ::IsIconic(window))
        return;
    RECT client{}, position{};
    ::GetClientRect(window, &client);
    ::GetWindowRect(edit, &position);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&position), 2);
    ::SetWindowPos(edit, nullptr, position.left, client.bottom - nameEditBottomGap_, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void camview::DoDataExchange(DataExchange& exchange) {
    exchange.Text(CameraNameEdit, nameText_);
    exchange.Control(VideoHost, videoHost_);
}

void camview::AssignSlot(CameraListDialog* ownerDialog, int index) {
    cameraIndex = index;
    slotHeld_ = IsValidCameraIndex(index);
    if (slotHeld_)
        CameraSlotAt(index).callback.cameraIndex = index;
    owner = ownerDialog;
}

void camview::StartSession(const std::string& name) {
    cameraName = name;
    if (IsValidCameraIndex(cameraIndex)) {
        CameraSlotAt(cameraIndex).callback.cameraIndex = cameraIndex;
        BindSlotToWindow(cameraIndex, GetSafeHwnd());
        graph_.Build(cameraName.c_str(), cameraIndex, videoHost_);
    }
    if (videoHost_)
        ::SetWindowLongPtrA(videoHost_, GWL_STYLE,
                            ::GetWindowLongPtrA(videoHost_, GWL_STYLE) | WS_CLIPCHILDREN);
    nameText_ = cameraName;
    UpdateData(false);
}

void camview::OnOK() {
    // Enter in the Live View does nothing: the window is not a modal dialog to end.
}

void camview::OnCancel() {
    CloseSession();
}

void camview::CloseSession() {
    if (owner)
        owner->RemoveSession(this);
    graph_.TearDown();
    DestroyWindow();
}

void camview::OnFrameReady() {
    if (!IsValidCameraIndex(cameraIndex))
        return;
    const std::uint64_t armedBefore = requestsArmed_;
    if (HandleFrameReady(cameraIndex) == -1)
        return;
    requestsServed_ = armedBefore;
    ++requestsWrittenCount_;
    // The viewer may have painted before the file was there.
    if (imageViewer)
        imageViewer->SetImagePath(imageViewer->ImagePath());
}

bool camview::SaveSnapshot(const std::string& path) {
    if (!IsValidCameraIndex(cameraIndex) || !RequestFrame(cameraIndex, path.c_str()))
        return false;
    ++requestsArmed_;
    ::SleepEx(100, FALSE);
    ShowInViewer(path);
    return true;
}

void camview::WaitForRequestedImage() {
    HWND window = GetSafeHwnd();
    const DWORD start = ::GetTickCount();
    MSG msg;
    // Only this window's frame messages are taken here, so no other handler runs nested.
    while (graph_.running() && requestsServed_ < requestsArmed_ &&
           ::GetTickCount() - start < RequestedImageWaitMs) {
        if (::PeekMessageA(&msg, window, WM_FRAME_READY, WM_FRAME_READY, PM_REMOVE))
            ::DispatchMessageA(&msg);
        else
            ::Sleep(5);
    }
}

void camview::ShowInViewer(const std::string& path) {
    if (!ViewAfterSavingOn)
        return;
    if (!imageViewer) {
        imageViewer = new imageview();
        imageViewer->SetSession(this);
        ::ShowWindow(imageViewer->GetSafeHwnd(), SW_SHOW);
    }
    imageViewer->SetImagePath(path);
}

void camview::UploadByFtp(const std::string& localPath, const std::string& remoteName, const std::string& url,
                          const std::string& remotePath, const std::string& user,
                          const std::string& password) {
    KeepAlive keepAlive(*this); // its message boxes may close the session
    ftp_->UploadByFtp(GetSafeHwnd(), localPath, remoteName, url, remotePath, user, password);
}

void camview::SetFtpPort(INTERNET_PORT port) {
    if (!ftp_->IsBusy())
        ftp_ = std::make_unique<FtpUploader>(port);
}

void camview::MailLastSavedImage() {
    if (!actionDialog_)
        return;
    KeepAlive keepAlive(*this); // a mail client's own windows may close the session
    lumetra::MailLastSavedImage(mailer, actionDialog_->EmailAddresses(), actionDialog_->LastImagePath(),
                                actionDialog_->LastImageName());
}

bool camview::OnPaint() {
    HWND window = GetSafeHwnd();
    CallDefault(WM_PAINT, 0, 0);
    if (!::IsIconic(window))
        return true;
    HDC dc = ::GetDC(window);
    RECT client;
    ::GetClientRect(window, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, icon_.get());
    ::ReleaseDC(window, dc);
    return true;
}

bool camview::HandleMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
    switch (message) {
    case WM_FRAME_READY:
        OnFrameReady();
        return false;
    case WM_SIZE:
        graph_.ResizeVideo();
        KeepNameEditAtBottom();
        return false;
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(icon_.get());
        return true;
    case WM_DESTROY:
        // However the window goes, the session leaves the timer's set and its graph stops.
        if (owner)
            owner->RemoveSession(this);
        graph_.TearDown();
        return false;
    default:
        return false;
    }
}

} // namespace lumetra

#include "session/LiveView.h"

#include "capture/CameraSlots.h"
#include "delivery/SaveTarget.h"
#include "dialogs/ImageViewer.h"
#include "framework/Application.h"
#include "framework/DataExchange.h"
#include "framework/EventLog.h"
#include "imaging/ImageComposer.h"
#include "resources/resource.h"
#include "session/CameraSchedule.h"
#include "settings/CamActionDialog.h"

namespace lumetra {

using namespace live_view_ids;

namespace {
// How long an upload or mail waits for the image it is about to send.
constexpr DWORD RequestedImageWaitMs = 2000;
constexpr int WaitingLabelId = 1004;
constexpr char WaitingText[] = "Waiting for the camera to come back...";
} // namespace

LiveView::LiveView(SessionHost* host)
    : Dialog(IDD_LIVE_VIEW),
      icon_(static_cast<HICON>(
          ::LoadImageA(ResourceInstance(), MAKEINTRESOURCEA(IDI_CAMERA), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE))) {
    Create(nullptr);
    host_ = host;
}

LiveView::~LiveView() {
    if (slotHeld_) {
        ReleaseSlot(cameraIndex);
        slotHeld_ = false;
    }
    if (actionDialog_) {
        CamActionDialog* actionDialog = actionDialog_;
        actionDialog_ = nullptr;
        actionDialog->ClearSession();
        actionDialog->Cancel();
    }
    if (imageViewer) {
        ImageViewer* viewer = imageViewer;
        imageViewer = nullptr;
        viewer->WhenDestroyed(nullptr);
        viewer->Cancel();
    }
}

BOOL LiveView::OnInitDialog() {
    Dialog::OnInitDialog();
    ::SendMessageA(GetSafeHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_.get()));
    ::SendMessageA(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_.get()));
    RECT client{};
    ::GetClientRect(GetSafeHwnd(), &client);
    const auto gap = [&](int id) {
        RECT control{};
        ::GetWindowRect(Item(id), &control);
        ::MapWindowPoints(nullptr, GetSafeHwnd(), reinterpret_cast<POINT*>(&control), 2);
        return client.bottom - control.top;
    };
    nameEditBottomGap_ = gap(CameraNameEdit);
    saveStatusBottomGap_ = gap(SaveStatus);
    return TRUE;
}

// The name edit and the status line keep their distance from the bottom of the client area, below
// the growing picture.
void LiveView::KeepBottomLinesAtBottom() {
    HWND window = GetSafeHwnd();
    if (::IsIconic(window))
        return;
    RECT client{};
    ::GetClientRect(window, &client);
    const std::pair<int, int> lines[] = {{CameraNameEdit, nameEditBottomGap_},
                                         {SaveStatus, saveStatusBottomGap_}};
    for (const auto& [id, gap] : lines) {
        HWND control = Item(id);
        if (!control)
            continue;
        RECT position{};
        ::GetWindowRect(control, &position);
        ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&position), 2);
        ::SetWindowPos(control, nullptr, position.left, client.bottom - gap, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void LiveView::DoDataExchange(DataExchange& exchange) {
    exchange.Text(CameraNameEdit, nameText_);
    exchange.Control(VideoHost, videoHost_);
}

void LiveView::AssignSlot(int index) {
    cameraIndex = index;
    slotHeld_ = IsValidCameraIndex(index);
    if (slotHeld_)
        CameraSlotAt(index).callback.cameraIndex = index;
}

void LiveView::StartSession(const std::string& name) {
    // Open before the graph is built: a box the build shows runs the schedule, this session's too.
    if (host_)
        host_->Register(this);
    cameraName = name;
    retention_ = std::make_unique<ImageRetention>(cameraName, std::make_shared<ImageRecord>(cameraName),
                                                  [this] { return ImagesInUse(); });
    if (IsValidCameraIndex(cameraIndex)) {
        CameraSlotAt(cameraIndex).callback.cameraIndex = cameraIndex;
        BindSlotToWindow(cameraIndex, GetSafeHwnd());
        if (graph_.Build(cameraName.c_str(), cameraIndex, videoHost_))
            LogEvent(cameraName, "camera opened");
        else
            LogEvent(cameraName, "camera opened without a picture: " + graph_.LastFailure());
    }
    if (videoHost_)
        ::SetWindowLongPtrA(videoHost_, GWL_STYLE,
                            ::GetWindowLongPtrA(videoHost_, GWL_STYLE) | WS_CLIPCHILDREN);
    nameText_ = cameraName;
    UpdateData(false);
}

void LiveView::OnOK() {
    // Enter in the Live View does nothing: the window is not a modal dialog to end.
}

void LiveView::OnCancel() {
    CloseSession();
}

void LiveView::CloseSession() {
    if (host_)
        host_->Unregister(this);
    graph_.TearDown();
    DestroyWindow();
}

void LiveView::OnFrameReady() {
    if (!IsValidCameraIndex(cameraIndex))
        return;
    const std::uint64_t armedBefore = requestsArmed_;
    const bool look = motion_.FrameAskedFor();
    FrameViewer viewer;
    if (look)
        viewer = [this](const BYTE* pixels, uint32_t byteCount, int width, int height) {
            LookForMotion(pixels, byteCount, width, height);
        };
    const FrameOutcome outcome = HandleFrameReady(cameraIndex, viewer);
    if (outcome.handled == FrameHandled::NoFrame)
        return;
    if (outcome.handled == FrameHandled::Composed)
        OnSaveHandled(outcome.saveStatus, armedBefore);
    if (look)
        SaveOnMotion();
}

void LiveView::OnSaveHandled(int status, std::uint64_t armedBefore) {
    requestsServed_ = armedBefore;
    std::optional<PendingImage> image = std::move(pendingImage_);
    pendingImage_.reset();
    if (status != 0) {
        ++savesFailedCount_;
        if (image)
            OnSaveFailed(*image, status);
        return;
    }
    ++requestsWrittenCount_;
    ShowSaveStatus({});
    // The viewer may have painted before the file was there.
    if (imageViewer)
        imageViewer->SetImagePath(imageViewer->ImagePath());
    if (!image)
        return;
    if (image->path == failedPath_)
        failedPath_.clear();
    if (saveFailing_) {
        saveFailing_ = false;
        LogEvent(cameraName, "saving works again: " + image->path);
    }
    lastWrittenPath_ = image->path;
    const AfterSaving& after = image->afterSaving;
    if (after.mirror && host_) {
        host_->MirrorImagePath(image->path);
        lastMirroredPath_ = image->path;
    }
    if (after.upload)
        StartUpload(*after.upload, after.tickTime);
    if (after.mail)
        StartMail(*after.mail, after.tickTime);
    // Last: a run it starts keeps what was just written and sent.
    if (retention_)
        retention_->ImageWritten(image->path);
}

std::vector<std::string> LiveView::ImagesInUse() const {
    std::vector<std::string> paths{lastWrittenPath_, lastMirroredPath_, lastUploadPath_, lastMailPath_};
    if (imageViewer)
        paths.push_back(imageViewer->ImagePath());
    if (actionDialog_)
        paths.push_back(actionDialog_->LastImagePath());
    return paths;
}

void LiveView::OnSaveFailed(const PendingImage& image, int status) {
    // The file system is asked why once per run of failures (a deleted folder fails every second),
    // and for every save of the user's.
    const bool firstFailure = !saveFailing_ || image.path != failedPath_;
    std::string reason;
    if (firstFailure || image.afterSaving.manual) {
        reason = WriteProblem(image.path);
        if (reason.empty())
            reason = SaveStatusText(status);
    }
    failedPath_ = image.path;
    // One line for a run of failures, one for the recovery.
    if (!saveFailing_)
        LogEvent(cameraName, "could not save " + image.path + ": " + reason);
    saveFailing_ = true;
    if (image.afterSaving.retryAt)
        lastSaveTime = *image.afterSaving.retryAt;
    if (image.afterSaving.motion)
        motion_.SaveFailed();
    if (image.afterSaving.manual) {
        if (actionDialog_)
            actionDialog_->TellSaveFailed(image.path, reason);
    } else if (firstFailure) {
        ShowSaveStatus(reason);
    }
}

void LiveView::SaveRefused(const std::string& reason) {
    ShowSaveStatus(reason);
    // One line for a run of failures, whatever their reasons; the recovery has its own.
    if (!saveFailing_)
        LogEvent(cameraName, "could not save: " + reason);
    saveFailing_ = true;
}

void LiveView::ShowSaveStatus(const std::string& reason) {
    const std::string text = reason.empty() ? std::string() : "Last save failed: " + reason;
    if (text == saveStatus_)
        return;
    saveStatus_ = text;
    ::SetDlgItemTextA(GetSafeHwnd(), SaveStatus, text.c_str());
}

bool LiveView::SaveSnapshot(const std::string& path, AfterSaving afterSaving) {
    if (!IsValidCameraIndex(cameraIndex) || !RequestFrame(cameraIndex, path.c_str()))
        return false;
    ++requestsArmed_;
    // A second request before the frame only changes the path: what follows is the newer one's.
    pendingImage_ = PendingImage{path, std::move(afterSaving)};
    ::SleepEx(100, FALSE);
    ShowInViewer(path);
    return true;
}

void LiveView::WaitForRequestedImage() {
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

void LiveView::ShowInViewer(const std::string& path) {
    if (!ViewAfterSavingOn)
        return;
    if (!imageViewer) {
        imageViewer = new ImageViewer();
        imageViewer->WhenDestroyed([this] { imageViewer = nullptr; });
        ::ShowWindow(imageViewer->GetSafeHwnd(), SW_SHOW);
    }
    imageViewer->SetImagePath(path);
}

void LiveView::SetSwitch(SessionSwitch which, bool on) {
    switch (which) {
    case SessionSwitch::SaveAuto:
        SaveAutoOn = on;
        break;
    case SessionSwitch::FtpAuto:
        FtpAutoOn = on;
        break;
    case SessionSwitch::EmailAuto:
        EmailAutoOn = on;
        break;
    case SessionSwitch::ViewAfterSaving:
        ViewAfterSavingOn = on;
        break;
    case SessionSwitch::SaveOnMotion:
        MotionSaveOn = on;
        break;
    }
}

bool LiveView::SaveCurrentImage(const std::string& path) {
    // The path is published once the image is written; a failure is told in a box.
    AfterSaving afterSaving;
    afterSaving.mirror = true;
    afterSaving.manual = true;
    return SaveSnapshot(path, std::move(afterSaving));
}

void LiveView::ActionDialogClosed() {
    actionDialog_ = nullptr;
    OnCancel();
}

void LiveView::UploadByFtp(const std::string& localPath, const std::string& remoteName,
                           const std::string& url, const std::string& remotePath, const std::string& user,
                           const std::string& password) {
    if (!localPath.empty() && localPath == failedPath_) {
        LogEvent(cameraName, "not uploaded: " + localPath + " was not written");
        return;
    }
    StartUpload(UploadRequest{localPath, remoteName, url, remotePath, user, password}, std::nullopt);
}

void LiveView::StartUpload(const UploadRequest& request, std::optional<std::int32_t> scheduledAt) {
    KeepAlive keepAlive(*this); // the " Duplicate" box may close the session
    lastUploadPath_ = request.localPath;
    uploader_->Upload(GetSafeHwnd(), request, scheduledAt.has_value(),
                      [this, scheduledAt, request](const JobOutcome& outcome) {
                          // Runs before the upload's box, while the session is certainly there. The
                          // upload counts at its tick, as if it had taken no time.
                          if (scheduledAt)
                              lastFtpTime = *scheduledAt;
                          LogDelivery(uploadsFailing_, scheduledAt.has_value(),
                                      "FTP upload of " + request.remoteName, outcome.failure);
                      });
}

void LiveView::SetFtpPort(INTERNET_PORT port) {
    if (!uploader_->Busy())
        uploader_ = std::make_unique<FtpUploader>(port);
}

void LiveView::MailLastSavedImage() {
    if (!actionDialog_)
        return;
    const std::string& path = actionDialog_->LastImagePath();
    if (!path.empty() && path == failedPath_) {
        LogEvent(cameraName, "not mailed: " + path + " was not written");
        return;
    }
    StartMail(MailRequest{actionDialog_->EmailAddresses(), path, actionDialog_->LastImageName()},
              std::nullopt);
}

void LiveView::StartMail(const MailRequest& request, std::optional<std::int32_t> scheduledAt) {
    if (mailer_->Busy()) {
        if (!scheduledAt)
            LogEvent(cameraName,
                     "mail of " + request.imageName + " not sent: the previous mail is still being sent");
        return;
    }
    lastMailPath_ = request.imagePath;
    mailer_->Send(request, [this, scheduledAt, request](const JobOutcome& outcome) {
        if (scheduledAt)
            lastMailTime = *scheduledAt;
        LogDelivery(mailsFailing_, scheduledAt.has_value(), "mail of " + request.imageName, outcome.failure);
    });
}

void LiveView::LogDelivery(bool& failing, bool automatic, const std::string& what,
                           const std::string& failure) {
    // The user's are all logged; the schedule's once for a run of failures (a server down for a day
    // would fill the log a line a second), and once when they work again.
    if (!failure.empty() && (!automatic || !failing))
        LogEvent(cameraName, what + " failed: " + failure);
    else if (failure.empty() && failing && automatic)
        LogEvent(cameraName, what + " worked again");
    if (automatic || failure.empty())
        failing = !failure.empty();
}

void LiveView::ShowWaiting(bool waiting) {
    if (!waiting) {
        if (waitingLabel_)
            ::DestroyWindow(waitingLabel_);
        waitingLabel_ = nullptr;
        return;
    }
    if (waitingLabel_ || !videoHost_)
        return;
    RECT host{};
    ::GetClientRect(videoHost_, &host);
    waitingLabel_ = ::CreateWindowExA(
        0, "STATIC", WaitingText, WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, 0, 0, host.right,
        host.bottom, videoHost_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(WaitingLabelId)),
        ::GetModuleHandleA(nullptr), nullptr);
    if (waitingLabel_)
        ::SendMessageA(waitingLabel_, WM_SETFONT, ::SendMessageA(GetSafeHwnd(), WM_GETFONT, 0, 0), FALSE);
}

void LiveView::LayOutControls() {
    graph_.ResizeVideo();
    KeepBottomLinesAtBottom();
    if (waitingLabel_ && videoHost_) {
        RECT host{};
        ::GetClientRect(videoHost_, &host);
        ::MoveWindow(waitingLabel_, 0, 0, host.right, host.bottom, TRUE);
    }
}

bool LiveView::OnPaint() {
    HWND window = GetSafeHwnd();
    CallDefault(WM_PAINT, 0, 0);
    if (!::IsIconic(window))
        return true;
    const WindowDC dc(window);
    RECT client;
    ::GetClientRect(window, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc.get(), x, y, icon_.get());
    return true;
}

bool LiveView::HandleMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
    switch (message) {
    case WM_FRAME_READY:
        OnFrameReady();
        return false;
    case WM_SIZE:
        LayOutControls();
        return false;
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(icon_.get());
        return true;
    case WM_DESTROY:
        // However the window goes, the session leaves the timer's set and its graph stops.
        if (host_)
            host_->Unregister(this);
        graph_.TearDown();
        LogEvent(cameraName, "camera closed");
        return false;
    default:
        return false;
    }
}

} // namespace lumetra

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
#include "settings/MailServerDialog.h"

namespace lumetra {

using namespace live_view_ids;

namespace {
// How long an upload or mail waits for the image it is about to send.
constexpr DWORD RequestedImageWaitMs = 2000;
constexpr char WaitingText[] = "Waiting for the camera to come back...";
} // namespace

LiveView::LiveView(SessionHost* host)
    : Dialog(IDD_LIVE_VIEW), host_(host),
      icon_(static_cast<HICON>(
          ::LoadImageA(ResourceInstance(), MAKEINTRESOURCEA(IDI_CAMERA), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE))) {
    Create(nullptr);
}

LiveView::~LiveView() {
    ReleaseSlot(cameraIndex_);
    if (actionDialog_) {
        CamActionDialog* actionDialog = actionDialog_;
        actionDialog_ = nullptr;
        actionDialog->ClearSession();
        actionDialog->Cancel();
    }
    if (imageViewer_) {
        ImageViewer* viewer = imageViewer_;
        imageViewer_ = nullptr;
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
    for (BottomLine& line : bottomLines_)
        line.gap = gap(line.id);
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
    for (const auto& [id, gap] : bottomLines_) {
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
    exchange.Control(VideoHost, videoHost_);
}

void LiveView::StartSession(const std::string& name) {
    // Open before the graph is built: a box the build shows runs the schedule, this session's too.
    if (host_)
        host_->Register(this);
    cameraName_ = name;
    retention_ = std::make_unique<ImageRetention>(cameraName_, std::make_shared<ImageRecord>(cameraName_),
                                                  [this] { return ImagesInUse(); });
    if (IsValidCameraIndex(cameraIndex_)) {
        BindSlotToWindow(cameraIndex_, GetSafeHwnd());
        if (actionDialog_)
            graph_.UsePictureSize(actionDialog_->PictureSizeWanted());
        if (graph_.Build(cameraName_.c_str(), cameraIndex_, videoHost_))
            LogEvent(cameraName_, "camera opened");
        else
            LogEvent(cameraName_, "camera opened without a picture: " + graph_.LastFailure());
        ShowPictureSizes();
    }
    if (videoHost_)
        ::SetWindowLongPtrA(videoHost_, GWL_STYLE,
                            ::GetWindowLongPtrA(videoHost_, GWL_STYLE) | WS_CLIPCHILDREN);
    ShowLine(CameraNameEdit, cameraName_);
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
    if (!IsValidCameraIndex(cameraIndex_))
        return;
    const std::uint64_t armedBefore = counts_.armed;
    const bool look = motion_.FrameAskedFor();
    FrameViewer viewer;
    if (look)
        viewer = [this](const BYTE* pixels, uint32_t byteCount, int width, int height) {
            LookForMotion(pixels, byteCount, width, height);
        };
    const FrameOutcome outcome = HandleFrameReady(cameraIndex_, viewer);
    if (outcome.handled == FrameHandled::NoFrame)
        return;
    if (outcome.handled == FrameHandled::Composed) {
        OnSaveHandled(outcome.saveStatus, armedBefore);
        if (host_)
            host_->PublishCamerasToWeb();
    }
    if (look)
        SaveOnMotion();
}

void LiveView::OnSaveHandled(int status, std::uint64_t armedBefore) {
    counts_.served = armedBefore;
    std::optional<PendingImage> image = std::move(pendingImage_);
    pendingImage_.reset();
    if (status != 0) {
        ++counts_.failed;
        if (image)
            OnSaveFailed(*image, status);
        return;
    }
    ++counts_.written;
    ShowSaveStatus({});
    // The viewer may have painted before the file was there.
    if (imageViewer_)
        imageViewer_->SetImagePath(imageViewer_->ImagePath());
    if (!image)
        return;
    if (image->path == failureRun_.lastPath)
        failureRun_.lastPath.clear();
    if (failureRun_.ongoing) {
        failureRun_.ongoing = false;
        LogEvent(cameraName_, "saving works again: " + image->path);
    }
    history_.lastWrittenPath = image->path;
    history_.lastWrittenAt = ::_time64(nullptr);
    const AfterSaving& after = image->afterSaving;
    if (after.mirror)
        delivery_.Mirror(image->path);
    if (after.upload) {
        KeepAlive keepAlive(*this); // the " Duplicate" box may close the session
        delivery_.Upload(GetSafeHwnd(), *after.upload, after.tickTime);
    }
    if (after.mail)
        delivery_.Mail(*after.mail, MailServer(), after.tickTime);
    // Last: a run it starts keeps what was just written and sent.
    if (retention_)
        retention_->ImageWritten(image->path);
}

std::vector<std::string> LiveView::ImagesInUse() const {
    std::vector<std::string> paths = delivery_.PathsInUse();
    paths.push_back(history_.lastWrittenPath);
    if (imageViewer_)
        paths.push_back(imageViewer_->ImagePath());
    if (actionDialog_)
        paths.push_back(actionDialog_->LastImagePath());
    return paths;
}

void LiveView::OnSaveFailed(const PendingImage& image, int status) {
    // The file system is asked why once per run of failures (a deleted folder fails every second),
    // and for every save of the user's.
    const bool firstFailure = !failureRun_.ongoing || image.path != failureRun_.lastPath;
    std::string reason;
    if (firstFailure || image.afterSaving.manual) {
        reason = WriteProblem(image.path);
        if (reason.empty())
            reason = SaveStatusText(status);
    }
    failureRun_.lastPath = image.path;
    // One line for a run of failures, one for the recovery.
    if (!failureRun_.ongoing) {
        LogEvent(cameraName_, "could not save " + image.path + ": " + reason);
        failureRun_.reason = reason;
    }
    failureRun_.ongoing = true;
    NoteFailedSave(reason);
    if (image.afterSaving.retryAt)
        lastSaveTime_ = *image.afterSaving.retryAt;
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
    if (!failureRun_.ongoing) {
        LogEvent(cameraName_, "could not save: " + reason);
        failureRun_.reason = reason;
    }
    failureRun_.ongoing = true;
    NoteFailedSave(reason);
}

void LiveView::NoteFailedSave(const std::string& reason) {
    history_.lastFailedAt = ::_time64(nullptr);
    // Within a run the file system is asked only once: the run's reason stands for the others.
    history_.lastFailureReason = reason.empty() ? failureRun_.reason : reason;
}

std::optional<PublishedCamera> LiveView::WebPublication() const {
    if (!actionDialog_ || actionDialog_->Settings().mirrorToHttp != 1)
        return std::nullopt;
    PublishedCamera camera;
    camera.name = AnsiToUtf8(cameraName_);
    camera.image = AnsiToUtf8(history_.lastWrittenPath);
    // A camera that never started (no device of its name, or busy) is waited for as a lost one is.
    if (watcher_.Lost() || !graph_.running()) {
        camera.health = CameraHealth::Waiting;
    } else if (failureRun_.ongoing) {
        camera.health = CameraHealth::Failing;
        camera.reason = failureRun_.reason;
    }
    camera.lastSave = history_.lastWrittenAt;
    camera.lastFailure = history_.lastFailedAt;
    camera.lastFailureReason = history_.lastFailureReason;
    return camera;
}

void LiveView::ShowSaveStatus(const std::string& reason) {
    ShowLine(SaveStatus, reason.empty() ? std::string() : "Last save failed: " + reason);
}

void LiveView::ShowLine(int id, const std::string& text) {
    HWND line = Item(id);
    if (!line)
        return;
    std::string shown(static_cast<std::size_t>(::GetWindowTextLengthA(line)) + 1, '\0');
    shown.resize(
        static_cast<std::size_t>(::GetWindowTextA(line, shown.data(), static_cast<int>(shown.size()))));
    if (shown != text)
        ::SetWindowTextA(line, text.c_str());
}

namespace {
// The words of a failed upload or mail on one line: the server's, when it gave any.
std::string FailureLine(const JobOutcome& outcome) {
    std::string text = outcome.boxText.empty() ? outcome.failure : outcome.boxText;
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}
} // namespace

void LiveView::OnDeliveryEnded(const DeliveryEnd& end) {
    KeepAlive keepAlive(*this); // a box below may close the session
    const bool upload = end.kind == DeliveryEnd::Kind::Upload;
    const int line = upload ? UploadStatus : MailStatus;
    if (end.outcome.failure.empty()) {
        ShowLine(line, {});
        return;
    }
    if (end.automatic) {
        ShowLine(line, (upload ? "Last upload failed: " : "Last mail failed: ") + FailureLine(end.outcome));
        return;
    }
    // The user's upload has shown its box already; the user's mail says here what went wrong.
    if (upload)
        return;
    if (!end.outcome.untrustedCertificate.empty()) {
        if (AskToTrustCertificate(GetSafeHwnd(), end.outcome.untrustedCertificate) && actionDialog_)
            actionDialog_->TrustMailCertificate(end.outcome.untrustedCertificate);
        return;
    }
    ::MessageBoxA(GetSafeHwnd(), end.outcome.failure.c_str(), "Mail Error", MB_OK | MB_ICONEXCLAMATION);
}

std::optional<SmtpSettings> LiveView::MailServer() const {
    return actionDialog_ ? actionDialog_->MailServer() : std::nullopt;
}

bool LiveView::SaveSnapshot(const std::string& path, AfterSaving afterSaving) {
    if (!RequestFrame(cameraIndex_, path.c_str()))
        return false;
    ++counts_.armed;
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
    while (graph_.running() && counts_.served < counts_.armed &&
           ::GetTickCount() - start < RequestedImageWaitMs) {
        if (::PeekMessageA(&msg, window, WM_FRAME_READY, WM_FRAME_READY, PM_REMOVE))
            ::DispatchMessageA(&msg);
        else
            ::Sleep(5);
    }
}

void LiveView::ShowInViewer(const std::string& path) {
    if (!SwitchOn(SessionSwitch::ViewAfterSaving))
        return;
    if (!imageViewer_) {
        imageViewer_ = new ImageViewer();
        imageViewer_->WhenDestroyed([this] { imageViewer_ = nullptr; });
        ::ShowWindow(imageViewer_->GetSafeHwnd(), SW_SHOW);
    }
    imageViewer_->SetImagePath(path);
}

void LiveView::SetSwitch(SessionSwitch which, bool on) {
    switches_[static_cast<std::size_t>(which)] = on;
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

void LiveView::UploadByFtp(const UploadRequest& request) {
    if (!request.localPath.empty() && request.localPath == failureRun_.lastPath) {
        LogEvent(cameraName_, "not uploaded: " + request.localPath + " was not written");
        return;
    }
    KeepAlive keepAlive(*this); // the " Duplicate" box may close the session
    delivery_.Upload(GetSafeHwnd(), request, std::nullopt);
}

void LiveView::MailLastSavedImage() {
    if (!actionDialog_)
        return;
    const std::string& path = actionDialog_->LastImagePath();
    if (!path.empty() && path == failureRun_.lastPath) {
        LogEvent(cameraName_, "not mailed: " + path + " was not written");
        return;
    }
    delivery_.Mail(MailRequest{actionDialog_->EmailAddresses(), path, actionDialog_->LastImageName(), {}, {}},
                   MailServer(), std::nullopt);
}

void LiveView::ChangePictureSize(std::optional<PictureSize> size) {
    graph_.UsePictureSize(size);
    // A lost camera is built at the new size when it is back; one that never started has nothing to
    // change, and one already at that size is left running.
    if (!graph_.running() || graph_.AppliedSize() == size)
        return;
    KeepAlive keepAlive(*this); // the build's error box may close the session
    // An unread frame keeps the size it was taken at; a requested one comes from the new graph.
    if (graph_.Build(cameraName_.c_str(), cameraIndex_, videoHost_))
        LogEvent(cameraName_, "camera started again at picture size " +
                                  (graph_.AppliedSize() ? PictureSizeText(graph_.AppliedSize()) : "default"));
    else
        LogEvent(cameraName_, "camera started again without a picture: " + graph_.LastFailure());
    ShowPictureSizes();
}

void LiveView::ShowPictureSizes() {
    if (actionDialog_)
        actionDialog_->ShowPictureSizes(graph_.OfferedSizes(), graph_.AppliedSize());
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
        host.bottom, videoHost_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(Waiting)),
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
        LogEvent(cameraName_, "camera closed");
        return false;
    default:
        return false;
    }
}

} // namespace lumetra
